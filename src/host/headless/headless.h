// Controls of the headless backend, for tests and takto-cli.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Every alert_box text, in order (a copy: alert_box may be adding one on
// another thread). alert_box also writes each to stderr unless echo is turned
// off (a session prints it its own way).
std::vector<std::string> headless_alerts();
void headless_clear_alerts();
void headless_echo_alerts(bool on);

// What the next file dialogs answer outside a session: a file name, or cancel
// (the default). In a session the script answers them.
void headless_answer_dialogs(const char* name);
void headless_cancel_dialogs();

// A scripted session (host/headless/session/) takes over the sleep, the
// alerts' printing and the dialogs while it runs. Each hook first checks that
// its caller is the session's application thread; when not, the sleep and the
// alert return false and the dialog -1, and the host goes on as without them.
struct SessionHooks {
  bool (*sleep_1ms)();
  bool (*alert)(const char* text);              // true when printed
  int (*dialog)(bool save, std::string& name);  // 1 chosen, 0 cancelled
};
extern std::atomic<const SessionHooks*> session_hooks;

// How many times the picture has been copied to the (absent) window.
int headless_present_count();

// --- Virtual clock and MIDI recorder ---
// host_time_ms reads a virtual clock that only these move; it starts at 0.
void headless_set_clock(std::uint32_t ms);
void headless_advance_clock(std::uint32_t ms);
// host_clock_start answers false the next `calls` times (as an audio clock
// that first moves to a block does); the count of its calls starts again.
void headless_hold_clock_start(int calls);
int headless_clock_start_asks();

// Where a sent message came from, asked of the stamp source at every send
// (the player's tick and track, when a test or takto-cli sets the source).
struct MidiStamp {
  std::int32_t tick;
  int track;
};
void headless_set_midi_stamp(MidiStamp (*source)());

// One message as the device would get it: a short message has 2 bytes for
// status Cx and Dx and 3 for any other; an exclusive has all its bytes.
struct SentMidi {
  std::uint32_t ms;  // virtual clock when sent
  std::int32_t tick;
  int track;
  bool exclusive;
  std::vector<std::uint8_t> bytes;
};
// Every message sent since the last clear, in order (a copy). Recording can be
// turned off (it is on by default); messages are then only counted.
std::vector<SentMidi> headless_sent_midi();
// The same, but taken out: the record starts empty again (the count goes on).
std::vector<SentMidi> headless_take_midi();
std::size_t headless_sent_count();
void headless_clear_midi();
void headless_record_midi(bool on);
// Makes the next n unprepare calls report HOST_MIDI_STILL_PLAYING, as a
// driver does while it transmits.
void headless_midi_busy(int n);
// Calls of host_midi_prepare, host_midi_long and host_midi_unprepare so far,
// and how many of them broke the header protocol (long message on an
// unprepared header, unprepare of an unprepared one, prepare twice).
struct MidiHeaderCalls {
  int prepare, send, unprepare, faults;
};
MidiHeaderCalls headless_midi_header_calls();
