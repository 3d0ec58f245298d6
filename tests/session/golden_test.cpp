// Golden screens: scripted sessions of the whole program through takto-cli
// session, each final screen dump compared with its file in tests/golden/.
// TAKTO_UPDATE_GOLDEN=1 writes the files instead (review the diff);
// TAKTO_GOLDEN_PNG=DIR also keeps each session's picture there, to look at.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {
using Track = std::vector<Event>;

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

const Event M{EV_MEASURE_END, 0, 0, 0};

// Every event code the list knows, a page a measure, and two it does not.
Track codes_track() {
  Track t = {{144, 0, 1, 2},
             {151, 12, 3, 4},
             {EV_TRACK_EXCL, 0, 0x41, 0x10},
             {EV_CONTINUE, 0, 0x42, 0xF7},
             {221, 0, 5, 6},
             {222, 0, 7, 8},
             {223, 0, 9, 10},
             {226, 0, 11, 12},
             {229, 0, 13, 0},
             {230, 0, 0, 0},
             {230, 0, 5, 0},
             {230, 0, 20, 0},
             {230, 0, 33, 0},
             {231, 0, 64, 0},
             {234, 0, 70, 0},
             {236, 24, 73, 0},
             {237, 0, 60, 90},
             {238, 0, 0, 64},
             {238, 0, 0, 0},
             M};
  for (std::uint8_t c : {0, 1, 5, 6, 7, 10, 11, 64, 65, 66, 67, 84, 91, 93, 98, 99, 100, 101, 121, 200})
    t.push_back({EV_CONTROL, 0, c, 64});
  t.insert(t.end(), {M, {245, 0, 0, 0}, {245, 19, 0, 0}});
  const char comment[] = "\x83R\x83\x81\x83\x93\x83g comment text";  // "コメント comment text"
  for (int i = 0; i < 20; i += 2)
    t.push_back({i ? EV_CONTINUE : EV_COMMENT, 0, static_cast<std::uint8_t>(comment[i]),
                 static_cast<std::uint8_t>(comment[i + 1])});
  t.insert(t.end(), {{EV_REPEAT_START, 0, 0, 0},
                     {60, 48, 40, 100},
                     {EV_REPEAT_END, 2, 0, 0},
                     {EV_SAME_MEASURE, 0, 44, 0},
                     {200, 1, 2, 3},
                     {255, 4, 5, 6},
                     M});
  return t;
}

// Several tracks of quarter notes at different velocities, long enough to play.
std::vector<Track> play_tracks() {
  std::vector<Track> tracks(6);
  for (int t = 0; t < 6; ++t)
    for (int m = 0; m < 16; ++m) {
      for (int q = 0; q < 4; ++q)
        tracks[t].push_back({static_cast<std::uint8_t>(48 + 5 * t + q), 48, static_cast<std::uint8_t>(12 + 8 * t),
                             static_cast<std::uint8_t>(127 - 15 * t)});
      tracks[t].push_back(M);
    }
  return tracks;
}

enum class Song { NONE, MEMO, EVENTS, PLAY };

// Writes the song to path; false when it could not be made.
bool make_song(Song song, const std::string& path) {
  new_song();
  rebuild_track_table();
  if (song == Song::MEMO) memo_song();
  if (song == Song::EVENTS) {
    std::vector<Track> tracks(TRACK_COUNT);
    tracks[0] = {{60, 48, 40, 100},
                 {64, 0, 40, 90},
                 {67, 0, 40, 90},
                 {72, 48, 40, 90},
                 {0, 48, 0, 0},
                 {65, 48, 80, 100},
                 M,
                 {65, 24, 30, 127},
                 {69, 24, 20, 1},
                 {71, 96, 200, 64},
                 {5, 48, 40, 100},
                 M,
                 {72, 192, 180, 80},
                 M};
    tracks[1] = codes_track();
    tracks[9] = {{36, 24, 10, 127}, {42, 0, 10, 1},    {38, 24, 10, 112},
                 {46, 24, 10, 64},  {50, 24, 10, 100}, M};  // drums
    if (!set_tracks(tracks)) return false;
    image()[start[9] + TRACK_RHYTHM] = 0x80;
  }
  if (song == Song::PLAY && !set_tracks(play_tracks())) return false;
  set_file_name(path.c_str());
  return save_song() == 0;
}

const struct Golden {
  const char* name;
  Song song;
  const char* keys;
} goldens[] = {
    {"main_empty", Song::NONE, ""},
    {"main_memo", Song::MEMO, ""},
    {"edit_notes", Song::EVENTS, "RETURN RETURN RETURN"},
    {"edit_codes_1", Song::EVENTS, "2 RETURN RETURN RETURN"},
    {"edit_codes_2", Song::EVENTS, "2 RETURN 2 RETURN RETURN"},
    {"edit_codes_3", Song::EVENTS, "2 RETURN 3 RETURN RETURN"},
    {"edit_rhythm", Song::EVENTS, "1 0 RETURN RETURN RETURN"},
    {"controller_list", Song::EVENTS, "RETURN RETURN RETURN VK191 DOWN DOWN"},
    {"controller_list_wrap", Song::EVENTS, "RETURN RETURN RETURN VK191 UP DOWN"},
    {"track_prompt_wrap", Song::EVENTS, "1 2 3"},
    {"edit_track_18", Song::EVENTS, "1 8 RETURN RETURN RETURN"},
    {"edit_track_9", Song::EVENTS, "RETURN RETURN RETURN S-9"},
    {"position_prompt", Song::EVENTS, "RETURN RETURN RETURN ESC 2"},
    {"measure_view", Song::EVENTS, "RETURN 1 RETURN 2 RETURN"},
    {"measure_view_tie", Song::EVENTS, "RETURN 2 RETURN 3 RETURN"},
    {"play_monitor", Song::PLAY, "P wait=1500"},
    {"track_monitor", Song::PLAY, "P wait=500 2 wait=1700"},
    {"track_monitor_names", Song::PLAY, "P wait=500 2 N N wait=1700"},  // names shown, then hidden again
    {"track_monitor_18", Song::PLAY, "P wait=500 S-8 wait=1700"},
};

std::string read_text(const std::string& path) {
  std::vector<std::uint8_t> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}
std::string golden_file(const std::string& name) {
  return std::string(TAKTO_SOURCE_DIR) + "/tests/golden/" + name + ".txt";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(text.substr(at, nl - at));
  return lines;
}
}  // namespace

TEST(GoldenScreens, SessionsShowTheirScreens) {
  headless_echo_alerts(false);
  const bool update = std::getenv("TAKTO_UPDATE_GOLDEN") != nullptr;
  TempDir dir;
  for (const Golden& g : goldens) {
    const std::string song = dir.file(std::string(g.name) + ".sqf"), out = dir.file(std::string(g.name) + ".txt");
    std::string args = "session ";
    if (g.song != Song::NONE) {
      ASSERT_TRUE(make_song(g.song, song)) << g.name;
      args += song + " ";
    }
    if (const char* png = std::getenv("TAKTO_GOLDEN_PNG")) args += std::string("--png ") + png + "/" + g.name + ".png ";
    CliResult r = run_cli(args + "--keys '" + g.keys + "' --screen " + out);
    ASSERT_EQ(r.status, 0) << g.name << ": " << r.err;
    EXPECT_EQ(r.err, "") << g.name;
    const std::string golden = golden_file(g.name);
    if (update) write_file(golden, read_file(out));
    EXPECT_EQ(read_text(out), read_text(golden)) << g.name << ": differs from " << golden;
  }
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
  };
  for (const auto& c : cases) {
    CliResult r = run_cli("session " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
  }
}

// A script from a file gives what the same script as an argument gives; a
// missing song is an alert in UTF-8 and an empty song.
TEST(SessionCommand, ScriptFromAFileAndAlerts) {
  TempDir dir;
  ASSERT_TRUE(make_song(Song::EVENTS, dir.file("s.sqf")));
  const std::string keys = "RETURN\n\tRETURN RETURN";
  write_file(dir.file("keys"), {keys.begin(), keys.end()});
  CliResult r =
      run_cli("session " + dir.file("s.sqf") + " --keys @" + dir.file("keys") + " --screen " + dir.file("out"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_text(dir.file("out")), read_text(golden_file("edit_notes")));
  r = run_cli("session " + dir.file("missing.sqf") + " --keys 'Q'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind("alert: ", 0), 0u) << r.err;
}

// The session's MIDI is the play's: the same ticks and bytes as takto-cli
// trace sends, at the session's clock, which started play 1 ms later.
TEST(SessionCommand, TraceIsThePlay) {
  TempDir dir;
  ASSERT_TRUE(make_song(Song::PLAY, dir.file("s.sqf")));
  CliResult r = run_cli("session " + dir.file("s.sqf") + " --keys 'P wait=3000' --trace " + dir.file("t"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> got = lines_of(read_text(dir.file("t")));
  const std::vector<std::string> want = lines_of(run_cli("trace " + dir.file("s.sqf") + " --ms 10000").out);
  ASSERT_GT(got.size(), 100u);
  ASSERT_GT(want.size(), got.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    const std::size_t g = got[i].find(' '), w = want[i].find(' ');
    ASSERT_EQ(got[i].substr(g), want[i].substr(w)) << i;
    ASSERT_EQ(std::stol(got[i].substr(0, g)), std::stol(want[i].substr(0, w)) + 1) << got[i] << " / " << want[i];
  }
}
