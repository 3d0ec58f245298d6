#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/run_cli.h"
#include "common/temp_dir.h"
#include "host/png/png_picture.h"
#include "host/screen.h"
#include "png_read.h"
#include "screen_test_util.h"

namespace {

using PicturePng = Screen;

TEST_F(PicturePng, RoundTripKeepsEveryIndexAndThePalette) {
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) px_at(x, y) = static_cast<std::uint8_t>((x / 3 + y * 5) & 15);
  px_at(0, 0) = 12;  // top-left, to catch a flipped picture
  px_at(639, 399) = 3;
  TempDir dir;
  std::string error;
  ASSERT_EQ(save_picture_png(dir.file("p.png").c_str(), error), 0) << error;
  const PngPicture pic = read_png(dir.file("p.png"));
  ASSERT_TRUE(pic.ok);
  EXPECT_EQ(pic.width, 640u);
  EXPECT_EQ(pic.height, 400u);
  EXPECT_EQ(pic.colour_type, PNG_COLOR_TYPE_PALETTE);
  ASSERT_EQ(pic.palette.size(), 16u);
  for (int i = 0; i < 16; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(pic.palette[i][k], colour_table[i][k]) << i;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) ASSERT_EQ(pic.indices[y * 640 + x], px_at(x, y)) << x << "," << y;
  EXPECT_FALSE(std::filesystem::exists(dir.file("p.png.part")));
}

TEST_F(PicturePng, FailuresNameTheFileAndLeaveNothingBehind) {
  TempDir dir;
  std::string error;
  const std::string missing = dir.file("no/such/folder/p.png");
  EXPECT_EQ(save_picture_png(missing.c_str(), error), 1);
  EXPECT_EQ(error, "cannot write " + missing + ": No such file or directory");

  // A folder in the way: written beside it, then the rename is refused.
  const std::string folder = dir.file("taken.png");
  std::filesystem::create_directory(folder);
  std::filesystem::create_directory(folder + "/inside");
  error.clear();
  EXPECT_EQ(save_picture_png(folder.c_str(), error), 1);
  EXPECT_EQ(error.rfind("cannot write " + folder + ": ", 0), 0u) << error;
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/inside"));
  EXPECT_FALSE(std::filesystem::exists(folder + ".part"));
}

TEST_F(PicturePng, ReplacesAnExistingFile) {
  TempDir dir;
  write_file(dir.file("p.png"), {1, 2, 3});
  std::string error;
  ASSERT_EQ(save_picture_png(dir.file("p.png").c_str(), error), 0) << error;
  EXPECT_TRUE(read_png(dir.file("p.png")).ok);
}

TEST(TestcardCommand, MatchesThePictureInTheDocs) {
  TempDir dir;
  const CliResult r = run_cli("testcard " + dir.file("card.png"));
  ASSERT_EQ(r.status, 0) << r.err;
  const PngPicture made = read_png(dir.file("card.png"));
  const std::string golden_path = std::string(TAKTO_SOURCE_DIR) + "/docs/testcard.png";
  const PngPicture golden = read_png(golden_path);
  ASSERT_TRUE(made.ok);
  ASSERT_TRUE(golden.ok) << golden_path;
  EXPECT_EQ(made.palette, golden.palette);
  std::size_t differ = 0;
  for (std::size_t i = 0; i < made.indices.size() && i < golden.indices.size(); ++i)
    differ += made.indices[i] != golden.indices[i];
  EXPECT_EQ(made.indices.size(), golden.indices.size());
  if (differ != 0) {
    const std::string keep = std::filesystem::temp_directory_path() / "takto-testcard-actual.png";
    std::filesystem::copy_file(dir.file("card.png"), keep, std::filesystem::copy_options::overwrite_existing);
    ADD_FAILURE() << differ << " pixels differ from " << golden_path << "; the new picture is " << keep
                  << ". If the change is intended, look at it and copy it there.";
  }
}

TEST(TestcardCommand, BadUsageAndUnwritableFile) {
  CliResult r = run_cli("testcard");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "usage: takto-cli testcard OUT.png\n");
  r = run_cli("testcard a.png b.png");
  EXPECT_EQ(r.status, 2);
  TempDir dir;
  const std::string out = dir.file("none/card.png");
  r = run_cli("testcard " + out);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot write " + out + ": No such file or directory\n");
}

}  // namespace
