// Scripted sessions of the whole program through takto-cli session: the
// sessions in sessions.txt against their screens (tests/golden/), the
// enhanced mode's MIDI as traces, and the command's refusals.
// TAKTO_UPDATE_GOLDEN=1 writes the golden files instead (review the diff).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {
using Track = std::vector<Event>;
const std::string SOURCE = TAKTO_SOURCE_DIR;

// Four numbers an event, M a measure end, [ a repeat start; xK repeats the rest K times.
Track events(const std::string& text) {
  std::istringstream in(text);
  Track t;
  for (std::string w; in >> w;) {
    if (w[0] == 'x') {
      std::string rest;
      std::getline(in, rest);
      for (int k = std::stoi(w.substr(1)); k > 0; --k)
        for (const Event& e : events(rest)) t.push_back(e);
    } else if (w == "M" || w == "[") {
      t.push_back({static_cast<std::uint8_t>(w == "M" ? EV_MEASURE_END : EV_REPEAT_START), 0, 0, 0});
    } else {
      int b[4] = {std::stoi(w)};
      in >> b[1] >> b[2] >> b[3];
      t.push_back({static_cast<std::uint8_t>(b[0]), static_cast<std::uint8_t>(b[1]), static_cast<std::uint8_t>(b[2]),
                   static_cast<std::uint8_t>(b[3])});
    }
  }
  return t;
}

void put_text(std::size_t offset, std::size_t length, const std::string& text) {
  std::memset(image() + offset, ' ', length);
  std::memcpy(image() + offset, text.data(), std::min(length, text.size()));
}

// Title, song memo and track memos: kanji, kana, half-width kana, and lines
// whose last byte is a lead byte.
void memo_song() {
  put_text(SONG_TITLE, SONG_TITLE_LEN, "\x83S\x81[\x83\x8B\x83\x66\x83\x93 Golden \xBA\xDE\xB0\xD9\xC3\xDE\xDD");
  const char* memo[] = {"\x8B\xC8\x82\xCC\x83\x81\x83\x82 song memo", "line 2", "", "28 bytes, last a lead:     \x82"};
  for (std::size_t i = 0; i < 4; ++i) put_text(SONG_MEMO + i * SONG_MEMO_LINE, SONG_MEMO_LINE, memo[i]);
  const char* tracks[] = {"\x83\x81\x83\x8D\x83\x66\x83\x42 Melody", "\xCA\xDE\xBD Bass",
                          "Track memo 36 bytes long, last lead\x83"};
  for (int t = 0; t < 3; ++t) put_text(start[t] + TRACK_MEMO, TRACK_MEMO_LEN, tracks[t]);
}

// The song of songs.txt of that name; false if there is none or it does not fit.
bool listed_song(const std::string& name) {
  const std::map<std::string, std::size_t> fields{{"tempo", SONG_TEMPO},
                                                  {"bias", SONG_PLAY_BIAS},
                                                  {"key", SONG_KEY},
                                                  {"channel", TRACK_CHANNEL},
                                                  {"rhythm", TRACK_RHYTHM}};
  std::ifstream in(SOURCE + "/tests/session/songs.txt");
  std::vector<Track> tracks(TRACK_COUNT);
  bool found = false, in_song = false;
  for (std::string line; std::getline(in, line);) {
    std::istringstream row(line);
    std::string kind, field, rest;
    row >> kind >> field;
    if (kind == "song") found |= in_song = field == name;
    if (!in_song || (kind != "track" && kind != "set")) continue;
    const int track = std::isdigit(field[0]) ? std::stoi(field) - 1 : -1;
    std::getline(row, rest);
    if (kind == "track") {
      for (const Event& e : events(rest)) tracks[track].push_back(e);
    } else {  // heads are kept by set_tracks
      std::istringstream set(rest);
      int value = 0;
      if (track >= 0) set >> field;
      set >> value;
      image()[(track < 0 ? 0 : start[track]) + fields.at(field)] = static_cast<std::uint8_t>(value);
    }
  }
  return found && set_tracks(tracks);
}

bool make_song(const std::string& song, const std::string& path) {
  new_song();
  rebuild_track_table();
  if (song == "memo") memo_song();
  const bool made =
      song == "none" || song == "memo" ||
      (std::islower(song[0]) && song.find(' ') == std::string::npos ? listed_song(song) : set_tracks({events(song)}));
  set_file_name(path.c_str());
  return made && save_song() == 0;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Played {
  std::string screen;              // the snap named "s", else the final screen
  std::vector<std::string> trace;  // "ms tick bytes..."
};

// The keys go as the argument, or a line each through a script file.
Played play(const std::string& song, const std::string& options, const std::string& keys, bool from_file = false) {
  TempDir dir;
  EXPECT_TRUE(make_song(song, dir.file("s.sqf"))) << song;
  const std::string file = song == "none" ? "" : dir.file("s.sqf") + " ";
  std::string script = keys;
  for (std::size_t at; (at = script.find("snap=s")) != std::string::npos;)
    script.replace(at, 6, "snap=" + dir.file("x"));
  std::string lines = script;  // the file's keys a line each
  std::replace(lines.begin(), lines.end(), ' ', '\n');
  write_file(dir.file("keys"), {lines.begin(), lines.end()});
  const std::string arg = from_file ? "@" + dir.file("keys") : "'" + script + "'";
  const CliResult r = run_cli("session " + file + options + " --keys " + arg + " --screen " + dir.file("end.txt") +
                              " --trace " + dir.file("t"));
  EXPECT_EQ(r.status, 0) << keys << ": " << r.err;
  return {file_text(dir.file(script != keys ? "x.txt" : "end.txt")), lines_of(file_text(dir.file("t")))};
}

std::string trim(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Bytes sent at or after ms `from`, as "90 3C 64".
std::vector<std::string> sent_from(const Played& r, unsigned from) {
  std::vector<std::string> out;
  for (const std::string& line : r.trace) {
    const std::size_t a = line.find(' '), b = line.find(' ', a + 1);
    if (std::stoul(line.substr(0, a)) >= from) out.push_back(line.substr(b + 1));
  }
  return out;
}

// The realtime and position messages in their order, a run of clocks as one
// F8; each clock must come 2 ticks after the one before.
std::string clock_order(const Played& r) {
  std::string order;
  int last_clock = -1;
  for (const std::string& line : r.trace) {
    int tick = 0, at = 0;
    std::sscanf(line.c_str(), "%*u %d %n", &tick, &at);
    const std::string bytes = line.substr(at);
    if (bytes < "F0") continue;
    if (bytes == "F8" && last_clock >= 0) {
      EXPECT_EQ(tick - last_clock, 2) << line;
    }
    last_clock = bytes == "F8" ? tick : -1;
    if (bytes != "F8" || !order.ends_with("F8")) order += (order.empty() ? "" : " ") + bytes;
  }
  return order;
}

TEST(Sessions, ShowTheirScreens) {
  headless_echo_alerts(false);
  const bool update = std::getenv("TAKTO_UPDATE_GOLDEN") != nullptr;
  std::ifstream in(SOURCE + "/tests/session/sessions.txt");
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    for (std::size_t at = 0, bar = 0; bar != std::string::npos; at = bar + 1)
      f.push_back(trim(line.substr(at, (bar = line.find('|', at)) - at)));
    ASSERT_EQ(f.size(), 5u) << line;
    const std::string& expect = f[4];
    const Played r = play(f[1], f[2], f[3], true);
    ++count;
    if (expect == "=") {
      const std::string golden = SOURCE + "/tests/golden/" + f[0] + ".txt";
      if (update) write_file(golden, std::vector<std::uint8_t>(r.screen.begin(), r.screen.end()));
      EXPECT_EQ(r.screen, file_text(golden)) << f[0] << ": differs from " << golden;
    } else if (expect.starts_with("clock ")) {
      EXPECT_EQ(clock_order(r), expect.substr(7, expect.size() - 8)) << f[0];
    } else if (expect.rfind("sends ", 0) == 0 || expect.rfind("never ", 0) == 0) {
      const std::vector<std::string> sent = sent_from(r, 0);
      EXPECT_EQ(std::count(sent.begin(), sent.end(), expect.substr(7, expect.size() - 8)), expect[0] == 's') << f[0];
    } else {
      // "?" stands for any one character: the level meters between the cells.
      const std::string want = expect.substr(1, expect.size() - 2);
      const auto same = [](char got, char w) { return w == '?' || w == got; };
      EXPECT_NE(std::search(r.screen.begin(), r.screen.end(), want.begin(), want.end(), same), r.screen.end()) << f[0];
    }
  }
  EXPECT_EQ(count, 88);
}

// Note-ons (velocity not 0) on channel ch.
int note_ons(const std::vector<std::string>& sent, int ch) {
  const char status[] = {'9', "0123456789ABCDEF"[ch], 0};
  return static_cast<int>(std::count_if(sent.begin(), sent.end(), [&](const std::string& s) {
    return s.compare(0, 2, status) == 0 && s.substr(6) != "00";
  }));
}
}  // namespace

// A muted track's notes end at once ("=" comes at 560 ms) and no new one
// sounds; other tracks play on; "=" in the play monitor brings every track back.
TEST(EnhancedKeys, MuteAndUnmute) {
  const Played muted = play("live", "--enhanced", "P wait=500 4 S-VK189 wait=1500");
  EXPECT_EQ(note_ons(sent_from(muted, 570), 3), 0);
  EXPECT_GT(note_ons(sent_from(muted, 570), 4), 3);
  const std::vector<std::string> first = sent_from(muted, 560), soon = sent_from(muted, 575);
  EXPECT_NE(std::find_if(first.begin(), first.end() - soon.size(),
                         [](const std::string& s) { return s.compare(0, 2, "93") == 0 && s.substr(6) == "00"; }),
            first.end() - soon.size());
  const Played back = play("live", "--enhanced", "P wait=500 4 S-VK189 SPACE wait=500 S-VK189 wait=1000");
  EXPECT_EQ(note_ons(sent_from(back, 570), 3), note_ons(sent_from(back, 1120), 3));
  EXPECT_GT(note_ons(sent_from(back, 1120), 3), 3);
}

// Scripts it cannot read exit 2 naming what; outputs it cannot write exit 1.
TEST(SessionCommand, RefusalsAndTheirExitCodes) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  const struct {
    std::string args;
    int status;
    const char* says;
  } cases[] = {
      {"--keys 'A bogus B'", 2, "'bogus'"},
      {"--keys 'wait=1x'", 2, "'wait=1x'"},
      {"--keys @" + dir.file("none"), 2, "cannot read key script"},
      {"--keys @" + dir.path.string(), 2, "a folder"},
      {"--keys @" + dir.file("fifo"), 2, "not a regular file"},
      {"", 2, "usage: takto-cli session"},
      {"a.sqf b.sqf --keys A", 2, "usage"},
      {"--keys A --screen", 2, "usage"},
      {"--keys A --keys B", 2, "usage"},
      {"--keys A --bogus x", 2, "usage"},
      {"--keys Q --screen " + dir.file("no/x.txt"), 1, "cannot write"},
      {"--keys Q --png " + dir.file("no/x.png"), 1, "cannot write"},
      {"--keys Q --trace " + dir.file("no/x.txt"), 1, "cannot write"},
      {std::string(FILE_NAME_SIZE, 'n') + " --keys Q", 1, "File name too long"},
      {"--keys snap=" + dir.file("no/s"), 1, "no/s.txt"},
      {dir.file("missing.sqf") + " --keys Q", 0, "alert: "},  // an empty song
  };
  for (const auto& c : cases) {
    CliResult r = run_cli("session " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
  }
}

// The session's MIDI is the play's: the same ticks and bytes as takto-cli
// trace sends, at the session's clock, which started play 1 ms later.
TEST(SessionCommand, TraceIsThePlay) {
  const std::vector<std::string> got = play("play", "", "P wait=3000").trace;
  TempDir dir;
  ASSERT_TRUE(make_song("play", dir.file("s.sqf")));
  const std::vector<std::string> want = lines_of(run_cli("trace " + dir.file("s.sqf") + " --ms 10000").out);
  ASSERT_GT(got.size(), 100u);
  ASSERT_GT(want.size(), got.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    const std::size_t g = got[i].find(' '), w = want[i].find(' ');
    ASSERT_EQ(got[i].substr(g), want[i].substr(w)) << i;
    ASSERT_EQ(std::stol(got[i].substr(0, g)), std::stol(want[i].substr(0, w)) + 1) << got[i] << " / " << want[i];
  }
}
