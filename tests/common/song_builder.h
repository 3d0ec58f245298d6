// Builds songs directly in the image for tests, benchmarks and fuzzing.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "song/song.h"

// Replaces the events of every track with the given lists (the end event is
// added), keeping the heads, and rebuilds the track table. Returns false when
// the song would not fit.
inline bool set_tracks(const std::vector<std::vector<Event>>& tracks) {
  std::vector<std::uint8_t> heads(TRACK_COUNT * TRACK_HEAD_SIZE);
  rebuild_track_table();
  for (int t = 0; t < TRACK_COUNT; ++t) std::memcpy(&heads[t * TRACK_HEAD_SIZE], image() + start[t], TRACK_HEAD_SIZE);
  std::size_t pos = SONG_HEADER_SIZE;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    const std::vector<Event> none;
    const std::vector<Event>& events = t < static_cast<int>(tracks.size()) ? tracks[t] : none;
    std::size_t len = TRACK_HEAD_SIZE + 4 * (events.size() + 1);
    if (len > MAX_TRACK_SIZE || pos + len > SONG_IMAGE_SIZE) return false;
    std::uint8_t* b = image() + pos;
    std::memcpy(b, &heads[t * TRACK_HEAD_SIZE], TRACK_HEAD_SIZE);
    write16(b, static_cast<unsigned>(len));
    std::uint8_t* e = b + TRACK_HEAD_SIZE;
    for (const Event& ev : events) e[0] = ev.code, e[1] = ev.step, e[2] = ev.byte2, e[3] = ev.byte3, e += 4;
    std::memset(e, EV_END, 4);
    pos += len;
  }
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
