#include <gtest/gtest.h>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

TEST(SongCommands, ExitCodesAndMessages) {
  TempDir dir;
  write_file(dir.file("text.sqf"), {'h', 'i'});
  ASSERT_EQ(run_cli("new " + dir.file("new.sqf")).status, 0);
  std::vector<std::uint8_t> cut = read_file(dir.file("new.sqf"));
  EXPECT_EQ(cut.size(), EMPTY_SONG_SIZE);
  cut.resize(2000);
  write_file(dir.file("cut.sqf"), cut);
  const struct {
    std::string args;
    int status;
    std::string out, err;
  } cases[] = {
      {"check " + dir.file("new.sqf"), 0, "ok\n", ""},
      {"check " + dir.file("text.sqf"), 1, "", "Not SQF format file\n"},
      {"check " + dir.file("missing.sqf"), 1, "", "File not found\n"},
      {"check " + dir.file("cut.sqf"), 1, "", "Damaged SQF file (file too short for a song)\n"},
      {"resave " + dir.file("new.sqf") + " " + dir.file("no/dir.sqf"), 1, "", "File save failed\n"},
      {"check", 2, "", "usage: takto-cli check FILE\n"},
      {"resave " + dir.file("new.sqf"), 2, "", "usage: takto-cli resave IN.sqf OUT.sqf\n"},
  };
  for (const auto& c : cases) {
    CliResult r = run_cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
  for (std::string args : {"", "frobnicate"}) EXPECT_EQ(run_cli(args).status, 2) << args;
}

TEST(SongCommands, DumpAndResave) {
  TempDir dir;
  headless_echo_alerts(false);
  new_song();
  std::memcpy(image() + SONG_TITLE, "My Song", 7);
  image()[SONG_TEMPO] = 96, image()[SONG_KEY] = 10, image()[SONG_PLAY_BIAS] = 3;
  // Measure 2 starts at offset 52; the reference's link (44) is stale.
  set_tracks({{{60, 48, 40, 100}, {EV_MEASURE_END, 0, 0, 0}, {62, 48, 40, 100}, {EV_SAME_MEASURE, 1, 44, 0}}});
  set_file_name(dir.file("in.sqf").c_str());
  ASSERT_EQ(save_song(), 0);
  CliResult r = run_cli("dump " + dir.file("in.sqf"));
  std::string expected = "title My Song\ntempo 96\nkey 10 Bb\nplay_bias 3\nused 2294\n"
                         "1 44 60 48 40 100\n1 48 253 0 0 0\n1 52 62 48 40 100\n1 56 252 1 44 0\n1 60 254 254 254 254\n";
  for (int t = 2; t <= 18; ++t) expected += std::to_string(t) + " 44 254 254 254 254\n";
  EXPECT_EQ(r.out, expected);

  ASSERT_EQ(run_cli("resave " + dir.file("in.sqf") + " " + dir.file("out.sqf")).status, 0);
  std::vector<std::uint8_t> relinked = read_file(dir.file("in.sqf"));
  relinked[SONG_HEADER_SIZE + 56 + 2] = 52;
  EXPECT_EQ(read_file(dir.file("out.sqf")), relinked);
}

}  // namespace
