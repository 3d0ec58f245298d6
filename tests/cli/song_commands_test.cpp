#include <gtest/gtest.h>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

class SongCommands : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    headless_echo_alerts(false);
    new_song();
    rebuild_track_table();
  }
  std::string save_as(const std::string& name) {
    std::string path = dir.file(name);
    set_file_name(path.c_str());
    EXPECT_EQ(save_song(), 0);
    return path;
  }
};

TEST_F(SongCommands, NewWritesTheEmptySong) {
  CliResult r = run_cli("new " + dir.file("n.sqf"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("n.sqf")), std::vector<std::uint8_t>(image(), image() + EMPTY_SONG_SIZE));
}

TEST_F(SongCommands, CheckAndExitCodes) {
  std::string good = save_as("good.sqf");
  write_file(dir.file("text.sqf"), {'h', 'e', 'l', 'l', 'o'});
  std::vector<std::uint8_t> cut(image(), image() + 2000);
  write_file(dir.file("cut.sqf"), cut);
  const struct {
    std::string args;
    int status;
    std::string out, err;
  } cases[] = {
      {"check " + good, 0, "ok\n", ""},
      {"check " + dir.file("text.sqf"), 1, "", "Not SQF format file\n"},
      {"check " + dir.file("missing.sqf"), 1, "", "File not found\n"},
      {"check " + dir.file("cut.sqf"), 1, "", "Damaged SQF file (file too short for a song)\n"},
      {"check " + dir.path.string(), 1, "", "File size 0 or directory\n"},
      {"", 2, "", ""},
      {"check", 2, "", "usage: takto-cli check FILE\n"},
      {"frobnicate", 2, "", ""},
      {"resave " + good, 2, "", "usage: takto-cli resave IN.sqf OUT.sqf\n"},
  };
  for (const auto& c : cases) {
    CliResult r = run_cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
    if (!c.err.empty()) EXPECT_EQ(r.err, c.err) << c.args;
    if (c.status == 2) EXPECT_NE(r.err.find("usage"), std::string::npos) << c.args;
  }
}

TEST_F(SongCommands, DumpListsHeaderAndEveryEvent) {
  std::memcpy(image() + SONG_TITLE, "My Song", 7);
  image()[SONG_TEMPO] = 96;
  image()[SONG_KEY] = 10;
  image()[SONG_PLAY_BIAS] = 3;
  set_tracks({{{60, 48, 40, 100}, {EV_MEASURE_END, 0, 0, 0}}, {}, {{EV_PROGRAM, 0, 5, 0}}});
  CliResult r = run_cli("dump " + save_as("d.sqf"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected =
      "title My Song\ntempo 96\nkey 10 Bb\nplay_bias 3\nused 2290\n"
      "1 44 60 48 40 100\n1 48 253 0 0 0\n1 52 254 254 254 254\n"
      "2 44 254 254 254 254\n"
      "3 44 236 0 5 0\n3 48 254 254 254 254\n";
  for (int t = 4; t <= 18; ++t) expected += std::to_string(t) + " 44 254 254 254 254\n";
  EXPECT_EQ(r.out, expected);
}

TEST_F(SongCommands, ResaveRelinksAndKeepsEverythingElse) {
  // A stale link (44) to measure 2, which starts at offset 52.
  set_tracks({{{60, 48, 40, 100}, {EV_MEASURE_END, 0, 0, 0}, {62, 48, 40, 100}, {EV_SAME_MEASURE, 1, 44, 0}}});
  image()[450] = 3;  // a byte nothing reads
  std::string in = save_as("in.sqf");
  CliResult r = run_cli("resave " + in + " " + dir.file("out.sqf"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::uint8_t> expected = read_file(in);
  std::size_t link = SONG_HEADER_SIZE + 44 + 12;
  expected[link + 2] = 52;
  EXPECT_EQ(read_file(dir.file("out.sqf")), expected);

  r = run_cli("resave " + dir.file("missing.sqf") + " " + dir.file("out2.sqf"));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out2.sqf")));
  r = run_cli("resave " + in + " " + dir.file("no/such/dir.sqf"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File save failed\n");
}

}  // namespace
