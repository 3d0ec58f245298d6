// Drives the whole program with random key scripts over random songs: the
// song goes to a file that the session loads as its command line, the keys
// come from the rest of the input. Afterwards the song must be whole: the
// header and track heads as loaded, every track ending in its one end event.
// Script time is bounded, so a hang shows as a timeout.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "fuzz_input.h"
#include "host/headless/headless.h"
#include "host/headless/session/session.h"
#include "host/host.h"
#include "player/player.h"
#include "screens/screens.h"

namespace {

// Keys that do something somewhere, and a few that do nothing.
constexpr int keys[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'I', 'N', 'P', 'S', 'L', 'K', 'A', 'Z', 13,
                        27,  32,  8,   9,   33,  34,  35,  36,  37,  38,  39,  40,  45,  46,  12,  28,  29,  96,  101,
                        106, 107, 109, 110, 111, 112, 123, 186, 187, 191, 219, 220, 221, 222, 226, 16,  17};
constexpr std::uint32_t WAIT_STEP_MS = 20;  // waits of 0..140 ms

[[noreturn]] void fail(const char* what, int t) {
  std::fprintf(stderr, "song broken by keys: %s (track %d)\n", what, t + 1);
  std::abort();
}

ScriptToken key(int vk) { return ScriptToken{ScriptToken::KEY, vk, {}, 0, {}, {}}; }

// The first byte says how many script bytes follow and where the session
// starts: its top bits may enter the edit screen or start play at once, as
// random keys would seldom get there.
std::vector<ScriptToken> script_from(Reader& in) {
  const std::uint8_t head = in.byte();
  std::vector<ScriptToken> tokens;
  if (head & 0x80)
    tokens = {key('1' + head % 9), key(13), key(13), key(13)};
  else if (head & 0x40)
    tokens = {key('P')};
  for (int n = head & 0x3F; n > 0 && in.more(); --n) {
    const std::uint8_t b = in.byte();
    ScriptToken t = key(keys[b % (sizeof keys / sizeof keys[0])]);
    if (b >= 240) {
      t.kind = ScriptToken::WAIT;
      t.ms = (b & 7) * WAIT_STEP_MS;
    } else if (b >= 228) {
      // A note-on or note-off from the MIDI input, on a few notes so that
      // chords happen.
      t.kind = ScriptToken::MIDI;
      t.ms = (b & 1 ? 0x90u : 0x80u) | (60u + (b & 6)) << 8 | (b & 1 ? 100u : 0u) << 16;
    } else if (b >= 120) {
      t.held.push_back(16);
      if (b >= 200) t.held.push_back(17);
    }
    // Q ends the program: it comes rarely, so that sessions get somewhere.
    if (b == 0) t.vk = 'Q';
    tokens.push_back(std::move(t));
  }
  return tokens;
}

void check_song(const std::vector<std::uint8_t>& loaded) {
  const std::uint8_t* s = image();
  if (std::memcmp(s, loaded.data(), SONG_HEADER_SIZE) != 0) fail("header changed", -1);
  rebuild_track_table();
  if (used_length() > SONG_IMAGE_SIZE) fail("song longer than the image", -1);
  if (const char* damage = song_damage(s, used_length())) fail(damage, -1);
  std::size_t at = SONG_HEADER_SIZE;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    if (std::memcmp(s + start[t] + TRACK_NUMBER, loaded.data() + at + TRACK_NUMBER, TRACK_HEAD_SIZE - TRACK_NUMBER))
      fail("track head changed", t);
    at += read16(loaded.data() + at);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz_keys_" + std::to_string(getpid()) + ".sqf";
  static bool once = [] {
    std::atexit([] { std::remove(path.c_str()); });
    headless_echo_alerts(false);
    headless_record_midi(false);
    return new_song() == 0;
  }();
  (void)once;
  // The script first, then the song from the bytes after it.
  Reader in{data, size};
  const std::vector<ScriptToken> script = script_from(in);
  if (!song_from_input(in.p, in.n, in, [](Reader& r) { song_from(r, 40); })) return 0;
  const std::vector<std::uint8_t> loaded(image(), image() + used_length());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(loaded.data(), 1, loaded.size(), f) != loaded.size() || std::fclose(f) != 0) std::abort();

  set_file_name(path.c_str());
  // Enhanced mode on every other input: its screens, keys and MIDI input too.
  enhanced = (size & 1) != 0;
  if (!enhanced) poll_hook = nullptr;
  midi_in_open.store(enhanced);
  for (std::uint32_t left; midi_in_pop(left);) {
  }  // each input starts with an empty MIDI input
  headless_clear_alerts();
  run_session(script, main_loop, on_timer);
  // The session may have ended in the middle of play.
  stop_play();
  screen_mode.store(MODE_COMMAND);
  check_song(loaded);
  return 0;
}
