// Reading fuzz input: bytes as numbers, and sound songs built from bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/song_builder.h"

struct Reader {
  const std::uint8_t* p;
  std::size_t n;
  bool more() const { return n > 0; }
  std::uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  unsigned word() { return byte() | (byte() << 8); }
};

// A new song whose tracks hold up to max_events events read from the input,
// each track ending only at its end. Stray continuation events are kept; a
// track exclusive is followed by a run of up to 255 continuation events read
// from the input (two data bytes each), so long exclusives are easy to reach.
inline void song_from(Reader& in, int max_events) {
  new_song();
  std::vector<std::vector<Event>> tracks(TRACK_COUNT);
  for (auto& events : tracks) {
    const int count = (max_events > 256 ? static_cast<int>(in.word()) : in.byte()) % max_events;
    while (static_cast<int>(events.size()) < count && in.more()) {
      Event ev{in.byte(), in.byte(), in.byte(), in.byte()};
      if (ev.code == EV_END) ev.code = EV_MEASURE_END;
      events.push_back(ev);
      if (ev.code != EV_TRACK_EXCL) continue;
      for (int run = in.byte(); run > 0 && static_cast<int>(events.size()) < count && in.more(); --run)
        events.push_back({EV_CONTINUE, 0, in.byte(), in.byte()});
    }
  }
  set_tracks(tracks);
}

// The song of an input: its first byte chooses between a file image loaded as
// a file (the second byte sets its size) and a song that `build` makes from
// the bytes. `in` is left on the bytes after the song. False when the file
// was refused; the image then holds whatever the refusal left.
template <class Build>
bool song_from_input(const std::uint8_t* data, std::size_t size, Reader& in, Build build) {
  if (size < 2) return false;
  in = Reader{data + 2, size - 2};
  if (!(data[0] & 1)) {
    build(in);
    return true;
  }
  std::size_t file_size = std::min<std::size_t>(size - 2, 4 + (data[1] << 12));
  new_song();
  int loaded = load_song_bytes(data + 2, file_size);
  rebuild_track_table();
  in = Reader{data + 2 + file_size, size - 2 - file_size};
  return loaded != 0;
}
