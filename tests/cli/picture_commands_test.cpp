// takto-cli testcard: the picture it writes and how it refuses.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>

#include "common/cli_case.h"
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
// operations and PNG writer alike. Bad usage, and files that cannot be written
// (no such folder; a folder in the way): a clear message, and no temporary
// file left behind.
TEST(TestcardCommand, MatchesThePictureInTheDocsOrRefuses) {
  TempDir dir;
  const std::string card = dir.file("card.png"), none = dir.file("none/card.png"), folder = dir.file("taken.png"),
                    usage = "usage: takto-cli testcard OUT.png\n";
  std::filesystem::create_directories(folder + "/inside");
  for (const CliCase& c :
       std::vector<CliCase>{{"testcard " + card, 0, "", ""},
                            {"testcard", 2, "", usage},
                            {"testcard a.png b.png", 2, "", usage},
                            {"testcard " + none, 1, "", "cannot write " + none + ": No such file or directory\n"},
                            {"testcard " + folder, 1, "", "cannot write " + folder + ": Is a directory\n"}})
    expect_cli(c);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2) << "the card and the folder";
  const Pixels pixels = read_png(card);
  EXPECT_TRUE(pixels.size() == PICTURE_SIZE + 48 && pixels == read_png(TAKTO_SOURCE_DIR "/docs/testcard.png"))
      << "the test card differs from docs/testcard.png; if that is intended, make it anew with takto-cli testcard, "
         "look at it and commit it";
}
