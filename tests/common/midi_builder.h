// Builds Standard MIDI Files byte by byte for tests and benchmarks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

using MidiBytes = std::vector<std::uint8_t>;

inline void put_vl(MidiBytes& out, std::uint32_t v) {
  MidiBytes rev{static_cast<std::uint8_t>(v & 0x7F)};
  while (v >>= 7) rev.push_back(static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
  out.insert(out.end(), rev.rbegin(), rev.rend());
}

// One track's events: each a delta time and its bytes as the file holds them.
struct MidiTrack {
  MidiBytes body;
  bool end = true;  // closed by an end-of-track meta
  MidiTrack& at(std::uint32_t delta, std::initializer_list<int> bytes) {
    put_vl(body, delta);
    for (int b : bytes) body.push_back(static_cast<std::uint8_t>(b));
    return *this;
  }
  // A meta or exclusive with its length: FF type len data, or F0/F7 len data.
  MidiTrack& with_length(std::uint32_t delta, std::initializer_list<int> head, const MidiBytes& data) {
    at(delta, head);
    put_vl(body, static_cast<std::uint32_t>(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    return *this;
  }
};

inline void put_be(MidiBytes& out, std::uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void put_chunk(MidiBytes& out, const char* id, const MidiBytes& body) {
  out.insert(out.end(), id, id + 4);
  put_be(out, static_cast<std::uint32_t>(body.size()), 4);
  out.insert(out.end(), body.begin(), body.end());
}

// The whole file; `count` is what the header says (-1: the tracks given).
inline MidiBytes midi_file(const std::vector<MidiTrack>& tracks, unsigned division = 96, int format = 1,
                           int count = -1) {
  MidiBytes out, head;
  put_be(head, static_cast<std::uint32_t>(format), 2);
  put_be(head, static_cast<std::uint32_t>(count < 0 ? tracks.size() : count), 2);
  put_be(head, division, 2);
  put_chunk(out, "MThd", head);
  for (const MidiTrack& t : tracks) {
    MidiBytes body = t.body;
    if (t.end) body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    put_chunk(out, "MTrk", body);
  }
  return out;
}

// A RIFF "RMID" file around a MIDI file.
inline MidiBytes rmid_file(const MidiBytes& smf) {
  MidiBytes data{'R', 'M', 'I', 'D'}, out{'R', 'I', 'F', 'F'};
  data.insert(data.end(), {'d', 'a', 't', 'a'});
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(smf.size() >> (8 * i)));
  data.insert(data.end(), smf.begin(), smf.end());
  if (smf.size() & 1) data.push_back(0);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(data.size() >> (8 * i)));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}
