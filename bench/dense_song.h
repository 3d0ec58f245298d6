// The benchmarks' heaviest song.
#pragma once

#include "common/song_builder.h"

// 18 full tracks of chords, single notes, controllers and bends: on average an
// event every half tick on each track. `repeated` wraps each track in a repeat
// played 256 times, for long runs.
inline void make_dense_song(bool repeated = false) {
  new_song();
  std::vector<Event> events;
  events.reserve(MAX_TRACK_EVENTS);
  if (repeated) events.push_back({EV_REPEAT_START, 0, 0, 0});
  const int room = MAX_TRACK_EVENTS - (repeated ? 1 : 0);
  for (int i = 0; static_cast<int>(events.size()) + 8 <= room; ++i) {
    auto n = [&](int k) { return static_cast<std::uint8_t>(48 + (i * 7 + k) % 36); };
    events.push_back({n(0), 0, 6, 90});
    events.push_back({n(4), 0, 6, 80});
    events.push_back({n(7), 0, 6, 80});
    events.push_back({EV_CONTROL, 1, 7, static_cast<std::uint8_t>(i % 128)});
    events.push_back({n(2), 1, 2, 100});
    events.push_back({EV_PITCH, 1, 0, static_cast<std::uint8_t>(64 + i % 8)});
    events.push_back({n(9), 1, 3, 70});
    if (i % 4 == 3) events.push_back({EV_MEASURE_END, 0, 0, 0});
  }
  if (repeated) events.push_back({EV_REPEAT_END, 0, 0, 0});  // 0: 256 passes
  set_tracks(std::vector<std::vector<Event>>(TRACK_COUNT, events));
}
