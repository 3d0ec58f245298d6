// Scripted sessions: the whole program run by the headless host on a virtual
// clock, fed with key presses, dialog answers and drops from a script, with
// screen dumps and pictures taken on the way.
//
// Threads: run_session starts the application thread and waits for it. All
// the session's work (clock, timer callback, keys, blink, snaps) happens in
// that thread's host_sleep_1ms, so a session is deterministic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One token of a key script.
struct ScriptToken {
  enum Kind : std::uint8_t { KEY, WAIT, OPEN, SAVE, CANCEL, DROP, SNAP, MIDI };
  Kind kind;
  int vk;                 // KEY: the virtual key
  std::vector<int> held;  // KEY: modifier virtual keys held around it, in order
  std::uint32_t ms;       // WAIT: milliseconds; MIDI: the message, status in bits 0-7
  std::string text;       // OPEN, SAVE, DROP: the path; SNAP: the name
  std::string source;     // the token as written
};

constexpr std::uint32_t KEY_TOKEN_MS = 30;       // script time a key token takes
constexpr std::uint32_t SESSION_TAIL_MS = 1000;  // after the last token
constexpr std::uint32_t BLINK_PERIOD_MS = 422;
constexpr std::uint32_t MAX_SCRIPT_MS = 100000000;  // whole script, about 28 hours

// Reads a script: tokens separated by blanks. Returns false on the first
// token it cannot read, with a message naming it in error.
bool parse_key_script(const std::string& text, std::vector<ScriptToken>& tokens, std::string& error);

// The script time at which each token takes effect, and the script's length.
std::vector<std::uint32_t> script_times(const std::vector<ScriptToken>& tokens, std::uint32_t& length);

// Runs app as the application thread with the clock at 0, a fresh text screen
// and empty key queue, until app returns or the clock reaches 1,000 ms after
// the script's length. Each 1 ms sleep of the application thread advances the
// clock by one, calls timer (when given), delivers the keys that are due and
// blinks the cursor every 422 ms. The script is at most MAX_SCRIPT_MS long,
// as parse_key_script makes it. Returns 0, or 1 when a snap could not be
// written (the reason is on stderr).
int run_session(const std::vector<ScriptToken>& tokens, void (*app)(), void (*timer)());

// The text dump of the screen: 25 rows of characters (code page 932 decoded
// to UTF-8, NUL as a space, a byte that does not decode as "?"), "--", 25 rows
// of attribute bytes in lower-case hex, then "cursor X Y" or "cursor -1".
std::string screen_dump();
// Writes the dump to path (replacing the file whole); 0 done, 1 refused with
// the reason in error.
int save_screen_dump(const char* path, std::string& error);

// Shift-JIS text as UTF-8; bytes that do not decode become "?".
std::string sjis_to_utf8(const std::string& text);
