// takto-cli trace, export-midi and import-midi, run as a user runs them. The
// exported file is read back by an independent parser (mido) and must hold
// what the trace sent, at its ticks under its tempo map (its peak memory is a
// benchmark); import-midi's report, exit codes and refusals that leave the
// output alone, the round trip and notes at the file's times.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <utility>

#include "common/cli_case.h"
#include "common/midi_builder.h"

namespace {

using Tracks = std::vector<std::vector<Event>>;
const std::string DEMO = TAKTO_SOURCE_DIR "/examples/demo.sqf";

TEST(PlayCommands, TraceRefusalsAndUsage) {
  TempDir dir;
  int songs = 0;
  auto song = [&](const Tracks& t) { return save_tracks(dir, t, std::to_string(++songs) + ".sqf"); };
  const std::string long_note = song({{{60, 1, 200, 100}}}), one = song({{{60, 1, 1, 100}}}),
                    usage = "usage: takto-cli trace SONG.sqf [--track N] [--offset BYTES] [--ms MS]\n";
  for (const CliCase& c : std::vector<CliCase>{
           {song({{}, {}, {{60, 24, 12, 100}}}) + " --track 3", 0, "1 10 92 3C 64\n126 22 92 3C 00\n", ""},
           {song({{{EV_PROGRAM, 0, 0x85, 0}, {EV_AFTER_C, 0, 1, 0}, {EV_ROL_PARA, 1, 1, 2}}}), 0,
            "1 10 C0 85\n1 10 D0 01\n1 10 F0 41 10 16 12 10 00 01 02 6D F7\n",
            ""},                                                   // two bytes for Cx and Dx, as stored
           {long_note, 0, "1 10 90 3C 64\n11 11 90 3C 00\n", ""},  // silenced at the end of the song
           {long_note + " --ms 10", 0, "1 10 90 3C 64\n", ""},
           {long_note + " --ms 0", 0, "", ""},
           {song({{{EV_CONTROL, 0, 7, 90}, {EV_PROGRAM, 3, 4, 0}, {60, 1, 1, 100}}, {{61, 1, 1, 100}}}) +
                " --offset 52 --track 1",
            0, "0 10 C0 04\n0 12 B0 07 5A\n1 13 90 3C 64\n11 14 90 3C 00\n", ""},
           {dir.file("none.sqf"), 1, "", "File not found\n"},
           {"", 2, "", usage},
           {one + " --track 19", 2, "", usage},
           {one + " --ms 5 x", 2, "", usage}})
    expect_cli({"trace " + c.args, c.status, c.out, c.err});
  for (const CliCase& c :
       std::vector<CliCase>{{one + " /nonexistent-dir/out.mid", 1, "",
                             "Cannot write /nonexistent-dir/out.mid: No such file or directory\n"},
                            {one + " out.mid --ms 5", 2, "",
                             "usage: takto-cli export-midi SONG.sqf OUT.mid [--track N] [--offset BYTES]\n"}})
    expect_cli({"export-midi " + c.args, c.status, c.out, c.err});
}

TEST(PlayCommands, ExportHoldsWhatTheTraceSent) {
  TempDir dir;
  Tracks t(TRACK_COUNT);
  t[0] = {{EV_CONTROL, 0, 7, 0x90},   {EV_PROGRAM, 2, 5, 0}, {60, 12, 6, 200},         {EV_TEMPO, 0, 80, 0},
          {EV_REPEAT_START, 0, 0, 0}, {62, 6, 3, 100},       {EV_REPEAT_END, 2, 0, 0}, {64, 12, 12, 90},
          {EV_TEMPO, 0, 64, 0},       {65, 6, 5, 80}};
  t[1] = {{EV_PITCH, 0, 0x10, 0x50}, {48, 7, 2, 100}, {EV_CONTROL, 2, 91, 40}, {EV_AFTER_C, 1, 0x85, 0}};
  t[2] = {{EV_USER_EXCL0, 5, 3, 0xF7}, {70, 5, 5, 100}};
  t[3] = {{EV_TRACK_EXCL, 4, 0, 0}, {EV_CONTINUE, 0, 4, 0xF0}, {EV_CONTINUE, 0, 0x83, 1}, {EV_CONTINUE, 0, 0x84, 0xF7}};
  t[17] = {{EV_ROL_DEV, 0, 0x10, 0x42}, {EV_ROL_PARA, 3, 0x7F, 0}, {EV_ROL_PARA, 3, 0x05, 0x90}};
  const std::string song = save_tracks(dir, t), mid = dir.file("out.mid");
  image()[SONG_TEMPO] = 100;
  std::memcpy(image() + SONG_USER_EXCLUSIVES + USER_EXCLUSIVE_TEMPLATE, "\x80\x81\x83\x10\x84\xF7", 6);
  image()[start[1] + TRACK_STEP_PLUS] = std::uint8_t(-3);
  std::memcpy(image() + start[0] + TRACK_MEMO, "Piano", 5);
  std::memcpy(image() + start[1] + TRACK_MEMO, "\x83\x73\x83\x41\x83\x6d  x", 9);  // Shift-JIS, inner spaces
  ASSERT_EQ(save_song(), 0);
  CliResult trace = run_cli("trace " + song + " --offset 52");
  ASSERT_EQ(run_cli("export-midi " + song + " " + mid + " --offset 52").status + trace.status, 0) << trace.err;
  const CliResult dump = run_shell("/usr/bin/python3 " TAKTO_SOURCE_DIR "/tests/cli/smf_dump.py " + mid);
  ASSERT_EQ(dump.status, 0) << dump.err;

  // The file from the trace: each message in its track (by channel; exclusives
  // by their first data byte, the Roland ones from track 18) at its tick less
  // the first clock tick, data bytes masked to 7 bits (not the closing F7).
  std::map<int, std::string> body{{0, "0 tempo 0 600000\n0 tempo 13 480000\n0 tempo 37 600000\n"},
                                  {1, " 50 69 61 6E 6F"},
                                  {2, " 83 73 83 41 83 6D 20 20 78"}};
  for (int i = 1; i <= TRACK_COUNT; ++i) body[i] = std::to_string(i) + " name" + body[i] + "\n";
  const std::string digits = "0123456789ABCDEF";
  std::istringstream in(trace.out);
  long ms, tick, first = -1;
  for (std::string line; in >> ms >> tick && std::getline(in, line);) {  // line: " HH HH ..."
    if (first < 0 && ms > 0) first = tick;
    const bool exclusive = line[1] == 'F';
    const int track = !exclusive ? int(digits.find(line[2])) + 1 : line[4] == '4' ? 18 : std::stoi(line.substr(4, 2));
    for (std::size_t i = 4; i + (exclusive ? 3 : 0) < line.size(); i += 3) line[i] = digits[digits.find(line[i]) & 7];
    body[track] += std::to_string(track) + " " + std::to_string(ms ? tick - first : 0) + line + "\n";
  }
  std::string want = "format 1 division 48 tracks 19\n";
  for (int i = 0; i <= TRACK_COUNT; ++i) want += body[i] + std::to_string(i) + " last end_of_track\n";
  EXPECT_EQ(dump.out, want);
  for (const char* masked : {"1 0 B0 07 10", "3 0 F0 03 77 10 70 F7", "4 0 F0 04 70 01 7F F7", "18 "})
    EXPECT_NE(want.find(masked), std::string::npos) << masked;
}

// Exported and brought in again, the demo song plays the same messages at the
// same times, repeats, same-measure calls and Roland exclusives and all; trace
// takes the MIDI file itself, as every song opened does (the loader's own tests
// show the rest). A refusal leaves the output as it was and no file behind.
TEST(ImportMidiCommand, ReportsExitCodesAndRoundTrip) {
  TempDir dir;
  const std::string demo = dir.file("demo.mid"), out = " " + dir.file("out.sqf"), f2 = dir.file("f2.mid");
  ASSERT_EQ(run_cli("export-midi " + DEMO + " " + demo).status, 0);
  write_file(dir.file("text.mid"), {'h', 'i'});
  write_file(f2, midi_file({}, 96, 2));
  const std::vector<std::uint8_t> keep = {'k', 'e', 'e', 'p'};
  write_file(dir.file("out.sqf"), keep);
  for (const CliCase& c : std::vector<CliCase>{
           {demo + " " + dir.file("demo.sqf"), 0, "", "4 tracks, 360 notes; nothing changed\n"},
           {dir.file("text.mid") + out, 1, "", "Not a MIDI file\n"},
           {f2 + out, 1, "", "MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1\n"},
           {dir.file("none.mid") + out, 1, "", "File not found\n"},
           {demo + " " + dir.path.string(), 1, "", "File save failed\n"},
           {demo, 2, "", "usage: takto-cli import-midi IN.mid OUT.sqf\n"}})
    expect_cli({"import-midi " + c.args, c.status, c.out, c.err});
  EXPECT_EQ(read_file(dir.file("out.sqf")), keep);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 5) << "no temporary file is left";
  const std::string played = run_cli("trace " + DEMO).out;
  EXPECT_EQ(run_cli("trace " + dir.file("demo.sqf")).out, played);
  EXPECT_EQ(run_cli("trace " + demo).out, played);
}

// Whatever its tempo map, an imported file plays its notes at the file's
// times: the song's tempo events must follow the map to the millisecond.
TEST(ImportMidiCommand, NotesSoundAtTheFilesTimes) {
  struct Map {
    const char* what;
    std::vector<std::pair<long, long>> tempos;  // file tick, microseconds a quarter
    long notes, step;                           // note count, file ticks apart
  };
  Map many{"65 fractional tempos, some inside a beat", {}, 400, 120};
  for (long i = 0; i < 65; ++i) many.tempos.push_back({i * 730, 60000000 / (70 + (i * 37) % 150) + i * 13});
  for (const Map& m : {many, Map{"96.1 a minute for ten minutes", {{0, 624350}}, 961, 480},
                       Map{"a slow and a fast part", {{0, 5000000}, {4800, 260000}}, 120, 240}}) {
    SCOPED_TRACE(m.what);
    MidiTrack t;
    std::vector<double> want, slack;  // each note's time in the file (ms), and how far off it may sound
    long now = 0;
    double ms = 0, us = 500000;
    auto to = [&](long tick) {  // the delta to TICK, at 480 ticks a quarter
      ms += static_cast<double>(tick - now) * us / 480000;
      return static_cast<std::uint32_t>(tick - std::exchange(now, tick));
    };
    std::size_t next = 0;
    for (long i = 0; i < m.notes; ++i) {
      for (; next < m.tempos.size() && m.tempos[next].first <= i * m.step; ++next) {
        const auto [at, u] = m.tempos[next];
        t.at(to(at), {0xFF, 0x51, 3, int(u >> 16), int(u >> 8), int(u)});
        us = static_cast<double>(u);
      }
      t.at(to(i * m.step), {0x90, 60, 100});
      // 20 ms, drift of 0.01 %, and half a tick of rounding.
      want.push_back(ms), slack.push_back(20 + 1e-4 * ms + us / 48.0 / 2000);
      t.at(to(i * m.step + 10), {0x80, 60, 0});
    }
    TempDir dir;
    write_file(dir.file("t.mid"), midi_file({t}, 480, 0));
    ASSERT_EQ(run_cli("import-midi " + dir.file("t.mid") + " " + dir.file("t.sqf")).status, 0);
    const std::vector<long long> starts = note_on_ms(run_cli("trace " + dir.file("t.sqf")).out);
    ASSERT_EQ(starts.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
      EXPECT_LE(std::abs(static_cast<double>(starts[i] - starts[0]) - want[i]), slack[i]) << "note " << i;
  }
}

}  // namespace
