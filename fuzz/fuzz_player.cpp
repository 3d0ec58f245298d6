// Loads arbitrary bytes as a song (or builds one from them, with fuzzed track
// heads and exclusive templates), starts play from a fuzzed event, damages
// links after the start, and plays ticks with pauses, checking the player's invariants.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "host/headless/headless.h"
#include "player/player.h"

namespace {

[[noreturn]] void fail(const char* what, int t) {
  std::fprintf(stderr, "player invariant broken: %s (track %d)\n", what, t + 1);
  std::abort();
}

void check_player() {
  const std::uint8_t* s = image();
  for (int t = 0; t < TRACK_COUNT; ++t) {
    std::uint32_t p = position[t].load();
    if (p < first_event(t) || p >= track_end(t) || (p - start[t]) % 4 != 0) fail("position outside the track", t);
    if (ended[t].load() && s[p] != EV_END) fail("ended away from the end event", t);
    std::uint32_t r = return_position[t].load();
    if (r != 0 && (r < first_event(t) || r >= track_end(t) || s[r] != EV_SAME_MEASURE))
      fail("return position not on a same-measure event of the track", t);
    if (repeat_depth[t] < 0 || repeat_depth[t] > MAX_REPEAT_DEPTH) fail("repeat depth", t);
    int busy = 0;
    for (const NoteSlot& slot : slots[t]) busy += slot.gate_left.load() != 0;
    if (busy != sounding[t].load()) fail("sounding out of step with the slots", t);
  }
}

// A sound song of up to 400 events a track (long track exclusives fit), with
// its header, track heads and exclusive templates fuzzed too.
void song_with_heads_from(Reader& in) {
  song_from(in, 400);
  std::uint8_t* s = image();
  s[SONG_TEMPO] = in.byte();
  s[SONG_KEY] = in.byte();
  s[SONG_PLAY_BIAS] = in.byte();
  for (int i = in.byte() % 8; i > 0; --i) s[SONG_RHYTHM_NAMES + 16 * (in.byte() % 32) + 14] = in.byte();
  for (int i = in.byte() % 16; i > 0; --i)
    s[SONG_USER_EXCLUSIVES + USER_EXCLUSIVE_SIZE * (in.byte() % 8) + USER_EXCLUSIVE_TEMPLATE + in.byte() % 24] =
        in.byte();
  for (int t = 0; t < TRACK_COUNT; ++t)
    if (in.byte() & 1)
      for (std::size_t f = TRACK_RHYTHM; f <= TRACK_MODE; ++f) s[start[t] + f] = in.byte();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool once = [] {
    headless_echo_alerts(false);
    headless_record_midi(false);
    return new_song() == 0;
  }();
  (void)once;
  headless_clear_alerts();
  headless_clear_midi();
  Reader in{};
  if (!song_from_input(data, size, in, song_with_heads_from)) return 0;

  // The play start, from any event or past the end.
  player_reset();
  check_player();
  current_track = in.byte() % TRACK_COUNT;
  screen_mode.store(MODE_COMMAND);
  start_play(44 + in.word() % (track_length(current_track) + 8), MODE_PLAY_MONITOR);
  if (seek_target.load() != 0) fail("seek_target left set", current_track);
  check_player();
  // Links damaged after the start's relink must not lead a track outside itself.
  if (data[0] & 2)
    for (int t = 0; t < TRACK_COUNT; ++t)
      for (std::uint32_t p = first_event(t); p < track_end(t); p += 4)
        if (image()[p] == EV_SAME_MEASURE) image()[p + 2] ^= in.byte() & 0xFC, image()[p + 3] ^= in.byte();

  for (int i = 0; i < 150; ++i) {
    std::uint8_t c = in.byte();
    if (c == 0xFF) {
      if (paused.load())
        paused.store(0);
      else
        stop_play();  // the play monitor's pause
    }
    player_tick();
    check_player();
  }
  stop_play();
  screen_mode.store(MODE_COMMAND);
  return 0;
}
