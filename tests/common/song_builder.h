// Builds songs directly in the image for tests, benchmarks and fuzzing.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "song/song.h"

// Replaces the events of every track with the given lists (the end event is
// added), keeping the heads, and rebuilds the track table. Returns false, the
// song untouched, when it would not fit.
inline bool set_tracks(const std::vector<std::vector<Event>>& tracks) {
  rebuild_track_table();
  std::vector<std::uint8_t> all;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    std::vector<std::uint8_t> b(image() + start[t], image() + start[t] + TRACK_HEAD_SIZE);
    if (t < static_cast<int>(tracks.size()))
      for (const Event& e : tracks[t]) b.insert(b.end(), {e.code, e.step, e.byte2, e.byte3});
    b.insert(b.end(), 4, EV_END);
    if (b.size() > MAX_TRACK_SIZE) return false;
    write16(b.data(), static_cast<unsigned>(b.size()));
    all.insert(all.end(), b.begin(), b.end());
  }
  if (SONG_HEADER_SIZE + all.size() > SONG_IMAGE_SIZE) return false;
  std::memcpy(image() + SONG_HEADER_SIZE, all.data(), all.size());
  rebuild_track_table();
  return true;
}

// A song whose 18 tracks are all full: measures of four notes and a measure
// end, with a same-measure reference every eighth measure.
inline void make_full_song() {
  new_song();
  std::vector<Event> events;
  events.reserve(MAX_TRACK_EVENTS);
  for (int i = 0; static_cast<int>(events.size()) < MAX_TRACK_EVENTS; ++i) {
    if (i % 5 == 4)
      events.push_back({EV_MEASURE_END, 0, 0, 0});
    else if (i % 40 == 38)
      events.push_back({EV_SAME_MEASURE, static_cast<std::uint8_t>(i % 7), 44, 0});
    else
      events.push_back({static_cast<std::uint8_t>(60 + i % 12), 12, 10, 100});
  }
  set_tracks(std::vector<std::vector<Event>>(TRACK_COUNT, events));
}
