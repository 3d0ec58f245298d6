// Loads arbitrary bytes as a song, then relinks and edits what was loaded,
// checking the image invariants after every operation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "host/headless/headless.h"

namespace {

void check_song() {
  std::size_t used = used_length();
  if (const char* damage = song_damage(image(), used)) {
    std::fprintf(stderr, "invariant broken: %s\n", damage);
    std::abort();
  }
  std::uint32_t table[TRACK_COUNT];
  std::memcpy(table, start, sizeof table);
  rebuild_track_table();
  if (std::memcmp(table, start, sizeof table) != 0) {
    std::fprintf(stderr, "track table out of step\n");
    std::abort();
  }
}

// Continuation events of track t that follow no exclusive, comment or
// continuation. A file may hold them; an edit must never make one.
int strays(int t) {
  const std::uint8_t* s = image();
  const std::uint32_t first = first_event(t), end = track_end(t);
  int n = 0;
  for (std::uint32_t p = first; p < end; p += 4) {
    const std::uint8_t before = p == first ? 0 : s[p - 4];
    n += s[p] == EV_CONTINUE && before != EV_TRACK_EXCL && before != EV_COMMENT && before != EV_CONTINUE;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool once = [] {
    headless_echo_alerts(false);
    return new_song() == 0;
  }();
  (void)once;
  headless_clear_alerts();
  if (size < 2) return 0;
  Reader in{};
  bool loaded = song_from_input(data, size, in, [](Reader& r) { song_from(r, 64); });
  check_song();  // a refused file leaves a sound song too
  if (!loaded) return 0;
  relink_measures();
  check_song();
  // Each edit is checked over the whole song: a bounded number keeps runs quick.
  for (int ops = 0; ops < 256 && in.more(); ++ops) {
    current_track = in.byte() % TRACK_COUNT;
    unsigned events = (track_length(current_track) - TRACK_HEAD_SIZE) / 4;
    std::uint32_t p = first_event(current_track) + 4 * (in.word() % events);
    int k = 1 + in.byte() % 8;
    const int strays_before = strays(current_track);
    switch (in.byte() % 8) {
      case 0: open_gap(p, 1 + in.byte() % 4); break;
      case 1: close_gap(p, 1 + in.byte() % 4); break;
      case 2: insert_same_measure(p, k); break;
      case 3: insert_measure_end(p, k); break;
      case 4: delete_event(p, k); break;
      case 5: renumber_measure_refs(1 + in.word() % 1100, static_cast<int>(in.byte() % 5) - 2); break;
      case 6: relink_track(current_track); break;
      default: open_gap(p + 4 * in.byte(), 1); break;  // positions past the track are refused
    }
    check_song();
    if (strays(current_track) > strays_before) {
      std::fprintf(stderr, "an edit left a continuation event without its exclusive or comment\n");
      std::abort();
    }
  }
  relink_measures();
  check_song();
  return 0;
}
