// takto-cli trace and export-midi, run as a user runs them; the exported file
// is read back by an independent parser.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "host/host.h"
#include "player/player_fixture.h"

namespace {

using Strings = std::vector<std::string>;

struct Outcome {
  int code;
  std::string out, err;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string temp_path(const std::string& name) {
  return ::testing::TempDir() + "takto_player_" + std::to_string(::getpid()) + "_" + name;
}

Outcome run(const std::string& args) {
  std::string out = temp_path("out.txt"), err = temp_path("err.txt");
  std::string cmd = args + " >" + out + " 2>" + err;
  int status = std::system(cmd.c_str());
  Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

Outcome cli(const std::string& args) { return run(std::string(TAKTO_CLI) + " " + args); }

Strings lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class Cli : public PlayerTest {
 protected:
  // Saves the song built in the image as a file and returns its name.
  std::string save(const std::string& name) {
    std::string path = temp_path(name);
    set_file_name(path.c_str());
    EXPECT_EQ(save_song(), 0);
    files.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const std::string& f : files) std::remove(f.c_str());
    PlayerTest::TearDown();
  }
  Strings files;
};

TEST_F(Cli, TraceLines) {
  tracks({{}, {}, {note(60, 24, 12, 100)}});
  std::string song = save("trace.sqf");
  Outcome r = cli("trace " + song + " --track 3");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Strings{"1 10 92 3C 64", "126 22 92 3C 00"}));
}

TEST_F(Cli, TraceMessageLengthsAndBytes) {
  set_tracks({{ev(EV_PROGRAM, 0, 0x85), ev(EV_AFTER_C, 0, 1), ev(EV_PITCH, 0, 0, 64), ev(EV_AFTER_K, 0, 1, 2),
               ev(EV_CONTROL, 0, 1, 2), ev(EV_ROL_PARA, 1, 1, 2)}});
  std::string song = save("bytes.sqf");
  Outcome r = cli("trace " + song);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(lines(r.out), (Strings{"1 10 C0 85", "1 10 D0 01", "1 10 E0 00 40", "1 10 A0 01 02", "1 10 B0 01 02",
                                   "1 10 F0 41 10 16 12 10 00 01 02 6D F7"}));
}

TEST_F(Cli, TraceSilencesAtTheEndOfTheSong) {
  tracks({{note(60, 1, 200, 100)}});
  std::string song = save("end.sqf");
  Outcome r = cli("trace " + song);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(lines(r.out), (Strings{"1 10 90 3C 64", "11 11 90 3C 00"}));
}

TEST_F(Cli, TraceStopsAtTheGivenTime) {
  tracks({{note(60, 1, 200, 100)}});
  std::string song = save("ms.sqf");
  EXPECT_EQ(lines(cli("trace " + song + " --ms 10").out), (Strings{"1 10 90 3C 64"}));
  EXPECT_EQ(lines(cli("trace " + song + " --ms 0").out), (Strings{}));
  EXPECT_EQ(lines(cli("trace " + song + " --ms 1").out), (Strings{"1 10 90 3C 64"}));
}

TEST_F(Cli, TraceFromAnOffset) {
  tracks({{ev(EV_CONTROL, 0, 7, 90), ev(EV_PROGRAM, 3, 4), note(60, 1, 1, 100)}, {note(61, 1, 1, 100)}});
  std::string song = save("offset.sqf");
  Outcome r = cli("trace " + song + " --offset 52 --track 1");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(lines(r.out), (Strings{"0 10 C0 04", "0 12 B0 07 5A", "1 13 90 3C 64", "11 14 90 3C 00"}));
}

TEST_F(Cli, TraceRefusesBadSongsAndBadUsage) {
  std::string junk = temp_path("junk.sqf");
  {
    std::ofstream out(junk, std::ios::binary);
    out << "this is not a song file, not at all";
  }
  files.push_back(junk);
  Outcome r = cli("trace " + junk);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Not SQF format file"), std::string::npos) << r.err;
  r = cli("trace " + temp_path("missing.sqf"));
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(r.err.empty());

  tracks({{note(60, 1, 1, 100)}});
  std::string song = save("usage.sqf");
  for (const char* args : {"", " --track 0", " --track 19", " --track", " --ms -1", " --offset x", " --offset -4",
                           " --loud", " --ms 5 extra"}) {
    Outcome u = cli(std::string("trace ") + (*args ? song + args : std::string()));
    EXPECT_EQ(u.code, 2) << args;
    EXPECT_NE(u.err.find("usage: takto-cli trace"), std::string::npos) << args;
  }
  Outcome u = cli("export-midi " + song + " out.mid --ms 5");
  EXPECT_EQ(u.code, 2);
  u = cli("export-midi " + song + " /nonexistent-dir/out.mid");
  EXPECT_EQ(u.code, 1);
  EXPECT_FALSE(u.err.empty());
}

// --- export-midi against the trace ---

std::vector<std::uint8_t> parse_hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  std::istringstream in(text);
  for (std::string h; in >> h;) out.push_back(static_cast<std::uint8_t>(std::stoul(h, nullptr, 16)));
  return out;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  SentMidi m{0, 0, 0, false, bytes};
  return format_message(m, false);
}

// The track a traced message came from, by the design of the song below:
// channel messages by channel; exclusives by their first data byte (the
// track number), Roland messages from track 18.
int track_of(const std::vector<std::uint8_t>& b) {
  if (b[0] != 0xF0) return b[0] & 15;
  if (b[1] == 0x41) return 17;
  return b[1] - 1;
}

std::vector<std::uint8_t> masked(std::vector<std::uint8_t> b) {
  std::size_t from = 1, to = b.size() - (b[0] == 0xF0 ? 1 : 0);
  for (std::size_t i = from; i < to; ++i) b[i] &= 0x7F;
  return b;
}

void build_export_song() {
  std::uint8_t* s = image();
  s[SONG_TEMPO] = 100;
  std::uint8_t* user0 = s + SONG_USER_EXCLUSIVES + USER_EXCLUSIVE_TEMPLATE;
  const std::uint8_t user_template[] = {0x80, 0x81, 0x83, 0x10, 0x84, 0xF7};
  std::memcpy(user0, user_template, sizeof user_template);
  std::vector<std::vector<Event>> t(TRACK_COUNT);
  t[0] = {ev(EV_CONTROL, 0, 7, 0x90), ev(EV_PROGRAM, 2, 5), note(60, 12, 6, 200), ev(EV_TEMPO, 0, 80),
          ev(EV_REPEAT_START), note(62, 6, 3, 100), ev(EV_REPEAT_END, 2), note(64, 12, 12, 90),
          ev(EV_TEMPO, 0, 64), note(65, 6, 5, 80)};
  t[1] = {ev(EV_PITCH, 0, 0x10, 0x50), ev(EV_CONTROL, 0, 1, 20), note(48, 3, 2, 100), note(52, 0, 8, 100),
          note(55, 0, 8, 100), note(59, 4, 8, 100), ev(EV_CONTROL, 2, 91, 40)};
  t[2] = {ev(EV_USER_EXCL0, 5, 3, 0xF7), note(70, 5, 5, 100)};
  t[3] = {ev(EV_TRACK_EXCL, 4), ev(EV_CONTINUE, 0, 4, 0xF0), ev(EV_CONTINUE, 0, 0x83, 0x01),
          ev(EV_CONTINUE, 0, 0x84, 0xF7), ev(EV_AFTER_C, 2, 0x7F), ev(EV_AFTER_K, 1, 60, 0x85)};
  t[15] = {note(36, 24, 30, 127), ev(EV_BANK_PRG, 1, 1, 0x81)};
  t[17] = {ev(EV_ROL_DEV, 0, 0x10, 0x42), ev(EV_ROL_BASE, 0, 0x40, 0), ev(EV_ROL_PARA, 3, 0x7F, 0),
           ev(EV_ROL_PARA, 3, 0x05, 0x90)};
  ASSERT_TRUE(set_tracks(t));
  image()[start[1] + TRACK_STEP_PLUS] = static_cast<std::uint8_t>(-3);
  std::memcpy(image() + start[0] + TRACK_MEMO, "Piano", 5);
  std::memcpy(image() + start[1] + TRACK_MEMO, "\x83\x73\x83\x41\x83\x6d  x", 9);  // Shift-JIS
  std::memcpy(image() + start[16] + TRACK_MEMO, "Strings", 7);
}

TEST_F(Cli, ExportMatchesTheTrace) {
  build_export_song();
  std::string song = save("export.sqf");
  const std::string args = song + " --track 1 --offset 52";
  Outcome trace = cli("trace " + args);
  ASSERT_EQ(trace.code, 0) << trace.err;
  std::string mid = temp_path("export.mid");
  files.push_back(mid);
  Outcome exp = cli("export-midi " + song + " " + mid + " --track 1 --offset 52");
  ASSERT_EQ(exp.code, 0) << exp.err;
  Outcome dump = run("/usr/bin/python3 " TAKTO_SOURCE_DIR "/tests/player/smf_dump.py " + mid);
  ASSERT_EQ(dump.code, 0) << dump.err;

  // What the file must hold, from the trace.
  struct Line {
    long ms, tick;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Line> traced;
  for (const std::string& l : lines(trace.out)) {
    std::istringstream in(l);
    Line x;
    in >> x.ms >> x.tick;
    std::string rest;
    std::getline(in, rest);
    x.bytes = parse_hex(rest);
    traced.push_back(x);
  }
  ASSERT_GT(traced.size(), 20u);
  auto first_played = std::find_if(traced.begin(), traced.end(), [](const Line& x) { return x.ms > 0; });
  ASSERT_NE(first_played, traced.end());
  ASSERT_EQ(hex(first_played->bytes), "90 3C C8") << "the start event runs in the first clock tick";
  const long first_tick = first_played->tick;
  auto time_of = [&](long t) { return std::max(0L, t - first_tick); };
  std::map<int, Strings> want;
  for (const Line& x : traced)
    want[track_of(x.bytes)].push_back(std::to_string(time_of(x.tick)) + " " + hex(masked(x.bytes)));
  auto tick_of = [&](const std::string& bytes) {
    for (const Line& x : traced)
      if (hex(x.bytes) == bytes) return x.tick;
    ADD_FAILURE() << "not traced: " << bytes;
    return 0L;
  };

  std::map<int, Strings> got;
  std::map<int, std::string> names, last;
  Strings tempi;
  Strings dumped = lines(dump.out);
  ASSERT_FALSE(dumped.empty());
  EXPECT_EQ(dumped[0], "format 1 division 48 tracks 19");
  for (const std::string& l : dumped) {
    std::istringstream in(l);
    std::string kind;
    int track = 0;
    in >> kind >> track;
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (kind == "ev") got[track - 1].push_back(rest);
    if (kind == "name") names[track] = rest;
    if (kind == "last") last[track] = rest;
    if (kind == "tempo") {
      EXPECT_EQ(track, 0);
      tempi.push_back(rest);
    }
    EXPECT_NE(kind, "meta") << l;
  }
  EXPECT_EQ(got.count(-1), 0u) << "the tempo track holds no messages";
  for (int t = 0; t < TRACK_COUNT; ++t) EXPECT_EQ(got[t], want[t]) << "track " << t + 1;
  for (int t = 0; t <= TRACK_COUNT; ++t) EXPECT_EQ(last[t], "end_of_track") << "track " << t;
  EXPECT_EQ(names[1], "50 69 61 6E 6F");
  EXPECT_EQ(names[2], "83 73 83 41 83 6D 20 20 78");
  EXPECT_EQ(names[17], "53 74 72 69 6E 67 73");
  EXPECT_EQ(names[3], "");
  // Tempo 100, then factor 80 (125 per minute), then 64 again.
  EXPECT_EQ(tempi, (Strings{"0 600000", std::to_string(time_of(tick_of("90 3E 64"))) + " 480000",
                            std::to_string(time_of(tick_of("90 41 50"))) + " 600000"}));
  // Positioning messages and masked bytes are there.
  EXPECT_EQ(want[0].front(), "0 C0 05");
  EXPECT_EQ(want[0][1], "0 B0 07 10");
  EXPECT_EQ(want[2].front().substr(want[2].front().find(' ') + 1), "F0 03 77 10 70 F7");
  EXPECT_EQ(want[3].front().substr(want[3].front().find(' ') + 1), "F0 04 70 01 7F F7");
}

}  // namespace
