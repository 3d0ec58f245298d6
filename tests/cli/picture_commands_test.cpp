// takto-cli testcard: the picture it writes and how it refuses.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/run_cli.h"
#include "host/screen.h"

using Pixels = std::vector<std::uint8_t>;

// A PNG of 16 colours read back: its indices top-down, then its palette as r, g, b bytes.
static Pixels read_png(const std::string& path) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str()) || img.colormap_entries != 16)
    return png_image_free(&img), Pixels{};
  img.format = PNG_FORMAT_RGB_COLORMAP;
  Pixels out(PNG_IMAGE_SIZE(img) + 48);
  return png_image_finish_read(&img, nullptr, out.data(), 0, out.data() + out.size() - 48) ? out : Pixels{};
}

// The test card shows everything the screens draw with (also the missing
// characters' boxes and every printable single byte), so comparing it with the
// reviewed picture in the docs catches changes in the text screen, font, pixel
// operations and PNG writer alike.
TEST(TestcardCommand, MatchesThePictureInTheDocs) {
  TempDir dir;
  ASSERT_EQ(run_cli("testcard " + dir.file("card.png")).status, 0);
  const Pixels card = read_png(dir.file("card.png"));
  EXPECT_TRUE(card.size() == PICTURE_SIZE + 48 && card == read_png(TAKTO_SOURCE_DIR "/docs/testcard.png"))
      << "the test card differs from docs/testcard.png; if that is intended, make it anew with takto-cli testcard, "
         "look at it and commit it";
}

// Bad usage, and files that cannot be written (no such folder; a folder in
// the way): a clear message, and no temporary file left behind.
TEST(TestcardCommand, BadUsageAndUnwritableFiles) {
  TempDir dir;
  const std::string none = dir.file("none/card.png"), folder = dir.file("taken.png"),
                    usage = "2 usage: takto-cli testcard OUT.png\n";
  std::filesystem::create_directories(folder + "/inside");
  for (const auto& [args, want] : std::vector<std::pair<std::string, std::string>>{
           {"", usage},
           {" a.png b.png", usage},
           {" " + none, "1 cannot write " + none + ": No such file or directory\n"},
           {" " + folder, "1 cannot write " + folder + ": Is a directory\n"}}) {
    const CliResult r = run_cli("testcard" + args);
    EXPECT_EQ(std::to_string(r.status) + " " + r.err, want);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
}
