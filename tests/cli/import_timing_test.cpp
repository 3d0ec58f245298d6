// An imported MIDI file plays its notes at the file's times, whatever its
// tempo map: the song's tempo events must follow the map to the millisecond.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "common/midi_builder.h"
#include "common/run_cli.h"

namespace {

TEST(ImportMidiCommand, NotesSoundAtTheFilesTimes) {
  struct Map {
    const char* what;
    std::vector<std::pair<long, long>> tempos;  // file tick, microseconds a quarter
    long notes, step;                           // note count, file ticks apart
  };
  Map many{"65 fractional tempos, some inside a beat", {}, 400, 120};
  for (long i = 0; i < 65; ++i) many.tempos.push_back({i * 730, 60000000 / (70 + (i * 37) % 150) + i * 13});
  const Map maps[] = {many,
                      {"96.1 a minute for ten minutes", {{0, 624350}}, 961, 480},
                      {"a slow and a fast part", {{0, 5000000}, {4800, 260000}}, 120, 240}};
  constexpr long DIVISION = 480;
  for (const Map& m : maps) {
    SCOPED_TRACE(m.what);
    MidiTrack t;
    long now = 0;
    std::size_t next = 0;
    for (long i = 0; i < m.notes; ++i) {
      for (; next < m.tempos.size() && m.tempos[next].first <= i * m.step; now = m.tempos[next++].first) {
        const long us = m.tempos[next].second;
        t.with_length(
            static_cast<std::uint32_t>(m.tempos[next].first - now), {0xFF, 0x51},
            {static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8), static_cast<std::uint8_t>(us)});
      }
      t.at(static_cast<std::uint32_t>(i * m.step - now), {0x90, 60, 100}).at(10, {0x80, 60, 0});
      now = i * m.step + 10;
    }
    TempDir dir;
    write_file(dir.file("t.mid"), midi_file({t}, DIVISION, 0));
    ASSERT_EQ(run_cli("import-midi " + dir.file("t.mid") + " " + dir.file("t.sqf")).status, 0);
    // The trace's lines: milliseconds, tick, bytes; the note-ons' times.
    std::vector<double> starts;
    std::istringstream in(run_cli("trace " + dir.file("t.sqf")).out);
    for (std::string line; std::getline(in, line);)
      if (double ms; line.find(" 90 3C 64") != std::string::npos && std::istringstream(line) >> ms)
        starts.push_back(ms);
    ASSERT_EQ(starts.size(), static_cast<std::size_t>(m.notes));
    for (long i = 0; i < m.notes; ++i) {
      // The file's time of note i through its tempo map.
      double want = 0, at = 0, us = 500000;
      for (const auto& [from, tempo] : m.tempos) {
        if (from > i * m.step) break;
        want += (from - at) * us / DIVISION / 1000, at = static_cast<double>(from), us = static_cast<double>(tempo);
      }
      want += (static_cast<double>(i * m.step) - at) * us / DIVISION / 1000;
      // 20 ms, drift of 0.01 %, and half a tick of rounding.
      EXPECT_LE(std::abs(starts[i] - starts[0] - want), 20 + 1e-4 * want + us / 48.0 / 2000) << "note " << i;
    }
  }
}

}  // namespace
