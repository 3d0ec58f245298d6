// takto-cli trace and export-midi, run as a user runs them; the exported file
// is read back by an independent parser (mido) and must hold what the trace
// sent, at its ticks under its tempo map. (Its peak memory is a benchmark.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/host.h"

namespace {

using Tracks = std::vector<std::vector<Event>>;

// Prints a Standard MIDI File as mido reads it, with absolute times; fails if
// mido refuses the file.
const char* const SMF_DUMP = R"(import sys, itertools, mido
f = mido.MidiFile(sys.argv[1])
print('format', f.type, 'division', f.ticks_per_beat, 'tracks', len(f.tracks))
for i, track in enumerate(f.tracks):
    for m, now in zip(track, itertools.accumulate(m.time for m in track)):
        if m.type == 'set_tempo': print(i, 'tempo', now, m.tempo)
        elif m.type == 'track_name': print(i, 'name', *['%02X' % b for b in m.name.encode('latin1')])
        elif m.type != 'end_of_track': print(i, now, *['%02X' % b for b in m.bytes()])
    print(i, 'last', track[-1].type)
)";
std::string python(const TempDir& dir, const char* script, const std::string& arg) {
  const std::string py = dir.file("script.py");
  write_file(py, std::vector<std::uint8_t>(script, script + std::strlen(script)));
  std::string out;
  FILE* p = popen(("/usr/bin/python3 " + py + " " + arg).c_str(), "r");
  char buf[4096];
  for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  EXPECT_TRUE(p && pclose(p) == 0) << out;
  return out;
}

// Saves a new song with these tracks as DIR/song.sqf.
std::string save(const TempDir& dir, const Tracks& tracks) {
  new_song();
  EXPECT_TRUE(set_tracks(tracks));
  set_file_name(dir.file("song.sqf").c_str());
  EXPECT_EQ(save_song(), 0);
  return dir.file("song.sqf");
}

TEST(PlayCommands, Trace) {
  TempDir dir;
  const Tracks long_note{{{60, 1, 200, 100}}};
  const struct {
    Tracks tracks;
    std::string args, want;
  } rows[] = {
      {{{}, {}, {{60, 24, 12, 100}}}, " --track 3", "1 10 92 3C 64\n126 22 92 3C 00\n"},
      {{{{EV_PROGRAM, 0, 0x85, 0}, {EV_AFTER_C, 0, 1, 0}, {EV_ROL_PARA, 1, 1, 2}}},
       "",
       "1 10 C0 85\n1 10 D0 01\n1 10 F0 41 10 16 12 10 00 01 02 6D F7\n"},  // two bytes for Cx and Dx, as stored
      {long_note, "", "1 10 90 3C 64\n11 11 90 3C 00\n"},                   // silenced at the end of the song
      {long_note, " --ms 10", "1 10 90 3C 64\n"},
      {long_note, " --ms 0", ""},
      {{{{EV_CONTROL, 0, 7, 90}, {EV_PROGRAM, 3, 4, 0}, {60, 1, 1, 100}}, {{61, 1, 1, 100}}},
       " --offset 52 --track 1",
       "0 10 C0 04\n0 12 B0 07 5A\n1 13 90 3C 64\n11 14 90 3C 00\n"}};
  for (const auto& r : rows) {
    CliResult c = run_cli("trace " + save(dir, r.tracks) + r.args);
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out, r.want) << r.args;
  }
}

TEST(PlayCommands, RefusalsAndUsage) {
  TempDir dir;
  write_file(dir.file("junk.sqf"), std::vector<std::uint8_t>(40, 'x'));
  const std::string song = save(dir, {{{60, 1, 1, 100}}}), usage = "usage: takto-cli trace";
  const struct {
    std::string args;
    int status;
    std::string err;
  } rows[] = {{"trace " + dir.file("junk.sqf"), 1, "Not SQF format file"},
              {"trace " + dir.file("none.sqf"), 1, ""},
              {"export-midi " + song + " /nonexistent-dir/out.mid", 1, "Cannot write"},
              {"trace", 2, usage},
              {"export-midi " + song + " out.mid --ms 5", 2, "usage: takto-cli export-midi"},
              {"trace " + song + " --track 19", 2, usage},
              {"trace " + song + " --ms 5 x", 2, usage}};
  for (const auto& r : rows) {
    CliResult c = run_cli(r.args);
    EXPECT_EQ(c.status, r.status) << r.args;
    EXPECT_TRUE(c.out.empty() && !c.err.empty() && c.err.find(r.err) != std::string::npos) << r.args << ": " << c.err;
  }
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
  const std::string song = save(dir, t), mid = dir.file("out.mid");
  image()[SONG_TEMPO] = 100;
  std::memcpy(image() + SONG_USER_EXCLUSIVES + USER_EXCLUSIVE_TEMPLATE, "\x80\x81\x83\x10\x84\xF7", 6);
  image()[start[1] + TRACK_STEP_PLUS] = std::uint8_t(-3);
  std::memcpy(image() + start[0] + TRACK_MEMO, "Piano", 5);
  std::memcpy(image() + start[1] + TRACK_MEMO, "\x83\x73\x83\x41\x83\x6d  x", 9);  // Shift-JIS, inner spaces
  ASSERT_EQ(save_song(), 0);
  CliResult trace = run_cli("trace " + song + " --offset 52");
  ASSERT_EQ(run_cli("export-midi " + song + " " + mid + " --offset 52").status + trace.status, 0) << trace.err;
  const std::string dump = python(dir, SMF_DUMP, mid);

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
  EXPECT_EQ(dump, want);
  for (const char* masked : {"1 0 B0 07 10", "3 0 F0 03 77 10 70 F7", "4 0 F0 04 70 01 7F F7", "18 "})
    EXPECT_NE(want.find(masked), std::string::npos) << masked;
}

}  // namespace
