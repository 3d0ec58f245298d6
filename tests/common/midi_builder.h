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

// ID, the body's length in four bytes (RIFF's little-endian) and the body.
inline void put_chunk(MidiBytes& out, const char* id, const MidiBytes& body, bool riff = false) {
  std::uint8_t head[8] = {std::uint8_t(id[0]), std::uint8_t(id[1]), std::uint8_t(id[2]), std::uint8_t(id[3])};
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<std::uint8_t>(body.size() >> 8 * (riff ? i : 3 - i));
  out.insert(out.end(), head, head + 8);
  out.insert(out.end(), body.begin(), body.end());
}

// The whole file, each track closed by an end-of-track meta; `count` is what
// the header says (-1: the tracks given).
inline MidiBytes midi_file(std::vector<MidiTrack> tracks, unsigned division = 96, int format = 1, int count = -1) {
  const unsigned n = count < 0 ? static_cast<unsigned>(tracks.size()) : static_cast<unsigned>(count);
  MidiBytes out;
  put_chunk(out, "MThd",
            MidiBytes{std::uint8_t(format >> 8), std::uint8_t(format), std::uint8_t(n >> 8), std::uint8_t(n),
                      std::uint8_t(division >> 8), std::uint8_t(division)});
  for (MidiTrack& t : tracks) put_chunk(out, "MTrk", t.at(0, {0xFF, 0x2F, 0x00}).body);
  return out;
}

// A RIFF "RMID" file around a MIDI file.
inline MidiBytes rmid_file(const MidiBytes& smf) {
  MidiBytes data{'R', 'M', 'I', 'D'}, out;
  put_chunk(data, "data", smf, true);
  if (smf.size() & 1) data.push_back(0);
  put_chunk(out, "RIFF", data, true);
  return out;
}
