#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/font/bitmap_font.h"
#include "screen_test_util.h"

namespace {

bool has_ink(const std::uint8_t* g, int bytes) {
  for (int i = 0; i < bytes; ++i)
    if (g[i]) return true;
  return false;
}

TEST(Font, SingleByteCoverage) {
  const struct {
    int byte;
    bool present;
    bool ink;
  } cases[] = {
      {0x20, true, false}, {0x41, true, true},   {0x7E, true, true},  {0x5C, true, true},
      {0xA1, true, true},  {0xB1, true, true},   {0xDF, true, true},  {0x01, false, false},
      {0x1F, false, false}, {0x7F, false, false}, {0x80, false, false}, {0xA0, false, false},
      {0xE0, false, false}, {0xFD, false, false}, {0xFF, false, false},
  };
  for (const auto& c : cases) {
    const std::uint8_t* g = half_glyph(static_cast<std::uint8_t>(c.byte));
    EXPECT_EQ(g != nullptr, c.present) << std::hex << c.byte;
    if (g) {
      EXPECT_EQ(has_ink(g, 16), c.ink) << std::hex << c.byte;
    }
  }
  for (int b = 0x21; b <= 0x7E; ++b) EXPECT_TRUE(half_glyph(static_cast<std::uint8_t>(b))) << b;
  for (int b = 0xA1; b <= 0xDF; ++b) EXPECT_TRUE(half_glyph(static_cast<std::uint8_t>(b))) << b;
}

TEST(Font, PairCoverage) {
  const struct {
    int lead, trail;
    bool present;
  } cases[] = {
      {0x81, 0x40, true},   // ideographic space (blank, but in the font)
      {0x82, 0xA0, true},   // あ
      {0x88, 0x9F, true},   // 亜, first kanji
      {0x98, 0x72, true},   // 腕, end of level 1
      {0xEA, 0xA4, true},   // 熙, last JIS X 0208 character
      {0x83, 0x5C, true},   // ソ: the trail byte 5C
      {0x87, 0x40, true},   // ① from the fallback font
      {0x87, 0x54, true},   // Ⅰ, narrow in the fallback font, centred
      {0xFA, 0x40, true},   // ⅰ, IBM extension
      {0x85, 0x40, false},  // unassigned row 9
      {0xF0, 0x40, false},  // user-defined area
      {0x81, 0x7F, false},  // 7F is no trail byte
      {0x81, 0xFD, false},
      {0xA0, 0x40, false},  // A0 is no lead byte
  };
  for (const auto& c : cases) {
    const std::uint8_t* g = full_glyph(static_cast<std::uint8_t>(c.lead), static_cast<std::uint8_t>(c.trail));
    EXPECT_EQ(g != nullptr, c.present) << std::hex << c.lead << " " << c.trail;
  }
  EXPECT_TRUE(has_ink(full_glyph(0x82, 0xA0), 32));
  EXPECT_FALSE(has_ink(full_glyph(0x81, 0x40), 32));
  EXPECT_GT(font_full_count, 6879u);
}

// What one string draws, 16 rows of w cells from (0, 0).
std::vector<std::uint8_t> draw(const char* text, int n, int w) {
  std::vector<std::uint8_t> pic(PICTURE_SIZE, 0);
  bitmap_text_out(pic.data(), 0, 0, text, n, 1, 0);
  return cells_of(pic.data(), 0, 0, w);
}

std::vector<std::uint8_t> glyph_cells(std::initializer_list<std::pair<const std::uint8_t*, int>> glyphs) {
  int w = 0;
  for (const auto& g : glyphs) w += g.second;
  std::vector<std::uint8_t> out(16 * 8 * w, 0);
  int x0 = 0;
  for (const auto& [g, cw] : glyphs) {
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 8 * cw; ++c) {
        const int byte = cw == 1 ? g[r] : g[2 * r + c / 8];
        out[r * 8 * w + x0 + c] = (byte & (0x80 >> (c % 8))) ? 1 : 0;
      }
    x0 += 8 * cw;
  }
  return out;
}

TEST(Font, MissingCharactersDrawABoxOfTheirWidth) {
  const auto* A = half_glyph('A');
  static const std::uint8_t untouched[16] = {};
  EXPECT_EQ(draw("\xF0\x40" "A", 3, 3), glyph_cells({{replacement_full, 2}, {A, 1}}));
  EXPECT_EQ(draw("\x80" "A", 2, 2), glyph_cells({{replacement_half, 1}, {A, 1}}));
  // A lead byte without a valid trail byte: a narrow box, then the next byte as
  // itself; a pair cut short by n is such a lead byte too.
  EXPECT_EQ(draw("\x81" "A", 1, 2), glyph_cells({{replacement_half, 1}, {untouched, 1}}));
  EXPECT_EQ(draw("\x81\x20" "A", 3, 3), glyph_cells({{replacement_half, 1}, {half_glyph(' '), 1}, {A, 1}}));
  EXPECT_EQ(draw("\x81\x7F", 2, 2), glyph_cells({{replacement_half, 1}, {replacement_half, 1}}));
  EXPECT_EQ(draw("\x82\xA0", 1, 2), glyph_cells({{replacement_half, 1}, {untouched, 1}}));
  EXPECT_EQ(draw("\x82\xA0", 2, 2), glyph_cells({{full_glyph(0x82, 0xA0), 2}}));
}

TEST(Font, OutputIsClippedToThePicture) {
  const struct {
    int px, py;
    int x1, y1, x2, y2;  // pixels that may change
  } cases[] = {
      {632, 0, 632, 0, 639, 15},  {-8, 0, 0, 0, 7, 15},        {0, 392, 0, 392, 15, 399},
      {0, -8, 0, 0, 15, 7},       {640, 0, 1, 0, 0, 0},         {-16, 0, 1, 0, 0, 0},
      {0, 400, 1, 0, 0, 0},       {0, -16, 1, 0, 0, 0},         {636, 396, 636, 396, 639, 399},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> pic(PICTURE_SIZE, 4);
    bitmap_text_out(pic.data(), c.px, c.py, "\x81\xA1", 2, 1, 0);  // ■, ink to the edges
    for (int y = 0; y < 400; ++y)
      for (int x = 0; x < 640; ++x) {
        const bool may = x >= c.x1 && x <= c.x2 && y >= c.y1 && y <= c.y2;
        const std::uint8_t v = pic[(399 - y) * 640 + x];
        if (may) {
          ASSERT_NE(v, 4) << c.px << "," << c.py << ": " << x << "," << y;
        } else {
          ASSERT_EQ(v, 4) << c.px << "," << c.py << ": " << x << "," << y;
        }
      }
  }
}

}  // namespace
