#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "host/screen.h"
#include "screen_test_util.h"

namespace {

using Graphics = Screen;

// Every pixel is `inside` within the rectangle (both corners included) and
// `outside` elsewhere.
void expect_rect(int x1, int y1, int x2, int y2, int inside, int outside, const char* what) {
  int wrong = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) {
      const bool in = x >= x1 && x <= x2 && y >= y1 && y <= y2;
      if (px_at(x, y) != (in ? inside : outside) && ++wrong < 4)
        ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << int(px_at(x, y));
    }
}

TEST_F(Graphics, PenArithmetic) {
  const struct {
    int planes, colour, before, after;
  } cases[] = {
      {15, 13, 0, 13},   {15, 13, 7, 13},    {15, 0, 9, 0},
      {3, 0, 7, 4},      {3, 0, 14, 12},     {3, 0, 0xFF, 12},  // bits 4-7 always cleared
      {1, 1, 6, 7},      {1, 1, 0x13, 3},    {4, 4, 3, 7},
      {3, 2, 4, 6},      {12, 15, 1, 13},    {0, 15, 5, 5},     {2, 15, 0xF0, 2},
      {0, 0, 0xF5, 5},
  };
  for (const auto& c : cases) {
    set_pen(c.planes, c.colour);
    px_at(10, 10) = static_cast<std::uint8_t>(c.before);
    draw_hline(10, 10, 10);
    EXPECT_EQ(px_at(10, 10), c.after) << "set_pen(" << c.planes << ", " << c.colour << ") on " << c.before;
  }
}

TEST_F(Graphics, StartingPenWritesZero) {
  std::memset(screen_bitmap, 9, PICTURE_SIZE);
  draw_hline(0, 639, 0);
  EXPECT_EQ(px_at(0, 0), 0);
  EXPECT_EQ(px_at(639, 0), 0);
  EXPECT_EQ(px_at(0, 1), 9);
}

TEST_F(Graphics, HorizontalLinesClip) {
  const struct {
    int x1, x2, y;
    int from, to;  // drawn range on row y; from > to: nothing
  } cases[] = {
      {600, 700, 10, 600, 639}, {700, 650, 10, 1, 0},       {5, 0, 10, 0, 5},
      {0, 639, 399, 0, 639},    {0, 0, 400, 1, 0},          {-5, 3, 10, 0, 3},
      {-10, -1, 10, 1, 0},      {3, -5, 10, 0, 3},          {INT_MIN, INT_MAX, 5, 0, 639},
      {0, 10, -1, 1, 0},        {639, 639, 0, 639, 639},    {640, 640, 0, 1, 0},
  };
  for (const auto& c : cases) {
    init_text_screen();
    set_pen(15, 9);
    draw_hline(c.x1, c.x2, c.y);
    if (c.from > c.to) {
      EXPECT_TRUE(picture_is_black()) << c.x1 << ".." << c.x2 << " @" << c.y;
    } else {
      expect_rect(c.from, c.y, c.to, c.y, 9, 0, "hline");
    }
  }
}

TEST_F(Graphics, VerticalLinesClip) {
  const struct {
    int x, y1, y2;
    int from, to;
  } cases[] = {
      {10, 390, 450, 390, 399}, {640, 0, 10, 1, 0},     {10, 10, 5, 5, 10},
      {-1, 0, 10, 1, 0},        {5, -10, 3, 0, 3},      {5, INT_MIN, INT_MAX, 0, 399},
      {5, 400, 500, 1, 0},      {5, -9, -1, 1, 0},      {639, 399, 399, 399, 399},
  };
  for (const auto& c : cases) {
    init_text_screen();
    set_pen(15, 10);
    draw_vline(c.x, c.y1, c.y2);
    if (c.from > c.to) {
      EXPECT_TRUE(picture_is_black()) << c.x << " @" << c.y1 << ".." << c.y2;
    } else {
      expect_rect(c.x, c.from, c.x, c.to, 10, 0, "vline");
    }
  }
}

TEST_F(Graphics, FilledRectanglesClipRowByRow) {
  const struct {
    int x1, y1, x2, y2;
    int rx1, ry1, rx2, ry2;  // drawn rectangle; rx1 > rx2: nothing
  } cases[] = {
      {10, 20, 30, 40, 10, 20, 30, 40},
      {30, 20, 10, 40, 10, 20, 30, 40},   // x1 > x2: each row from x2 to x1
      {10, 40, 30, 20, 1, 0, 0, 0},       // y1 > y2: nothing
      {-100, -100, 10000, 10000, 0, 0, 639, 399},
      {INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 639, 399},
      {630, 395, 700, 500, 630, 395, 639, 399},
      {700, 10, 800, 20, 1, 0, 0, 0},
  };
  for (const auto& c : cases) {
    init_text_screen();
    set_pen(15, 13);
    fill_rect(c.x1, c.y1, c.x2, c.y2);
    if (c.rx1 > c.rx2) {
      EXPECT_TRUE(picture_is_black());
    } else {
      expect_rect(c.rx1, c.ry1, c.rx2, c.ry2, 13, 0, "fill_rect");
    }
  }
}

TEST_F(Graphics, ClearingTwoPlanesKeepsTheFrame) {
  set_pen(4, 4);
  draw_vline(100, 0, 399);
  set_pen(3, 3);
  fill_rect(90, 10, 110, 20);
  EXPECT_EQ(px_at(100, 15), 7);
  EXPECT_EQ(px_at(95, 15), 3);
  set_pen(3, 0);
  fill_rect(0, 0, 639, 399);
  EXPECT_EQ(px_at(100, 15), 4);
  EXPECT_EQ(px_at(95, 15), 0);
}

TEST_F(Graphics, LineOverTextReplacesItsPixels) {
  print_at(0, 0, "MMMM", 7);
  set_pen(15, 13);
  draw_hline(0, 31, 8);
  for (int x = 0; x < 32; ++x) EXPECT_EQ(px_at(x, 8), 13);
}

TEST_F(Graphics, InvertColumnXorsSevenOnRows49To381) {
  set_pen(15, 4);
  fill_rect(0, 200, 639, 210);
  invert_column(5);
  for (int y = 0; y < 400; ++y) {
    int want = 0;
    if (y >= 200 && y <= 210) want = 4;
    if (y >= 49 && y <= 381) want ^= 7;
    ASSERT_EQ(px_at(5, y), want) << "row " << y;  // black gives 7, white 4 gives 3
  }
  EXPECT_EQ(px_at(4, 100), 0);
  EXPECT_EQ(px_at(6, 100), 0);
}

TEST_F(Graphics, InvertColumnTwiceRestoresEveryPixel) {
  for (std::size_t i = 0; i < PICTURE_SIZE; ++i) screen_bitmap[i] = static_cast<std::uint8_t>((i * 7 + i / 640) & 15);
  const std::vector<std::uint8_t> before(screen_bitmap, screen_bitmap + PICTURE_SIZE);
  for (int x : {0, 321, 639}) {
    invert_column(x);
    EXPECT_NE(std::vector<std::uint8_t>(screen_bitmap, screen_bitmap + PICTURE_SIZE), before);
    invert_column(x);
    EXPECT_EQ(std::vector<std::uint8_t>(screen_bitmap, screen_bitmap + PICTURE_SIZE), before);
  }
  for (int x : {-1, 640, INT_MIN, INT_MAX}) invert_column(x);
  EXPECT_EQ(std::vector<std::uint8_t>(screen_bitmap, screen_bitmap + PICTURE_SIZE), before);
}

TEST_F(Graphics, GlyphsSetPlaneZeroOfTheirBitsOnly) {
  const char* shapes[3][5] = {
      {"..####..", ".##...#.", ".#....#.", ".#...##.", "..####.."},
      {"...###..", "..#####.", ".######.", ".#####..", "..###..."},
      {".#.#....", "#####...", ".#.#....", "#####...", ".#.#...."},
  };
  for (int n = 0; n < 3; ++n) {
    std::memset(screen_bitmap, 2, PICTURE_SIZE);
    draw_glyph(100, 50, n);
    for (int y = 45; y < 60; ++y)
      for (int x = 95; x < 115; ++x) {
        const bool in_box = x >= 100 && x < 108 && y >= 50 && y < 55;
        const bool set = in_box && shapes[n][y - 50][x - 100] == '#';
        ASSERT_EQ(px_at(x, y), set ? 3 : 2) << "glyph " << n << " at " << x << "," << y;
      }
  }
}

TEST_F(Graphics, GlyphsAtTheEdgesAreClipped) {
  const struct {
    int x, y;
  } cases[] = {{636, 397}, {-3, -2}, {635, -4}, {-7, 398}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN},
               {INT_MAX - 3, 0}, {0, INT_MAX - 2}};
  for (const auto& c : cases) {
    init_text_screen();
    draw_glyph(c.x, c.y, 1);
    for (int r = 0; r < 5; ++r)
      for (int col = 0; col < 8; ++col) {
        const long long x = static_cast<long long>(c.x) + col, y = static_cast<long long>(c.y) + r;
        if (x < 0 || x > 639 || y < 0 || y > 399) continue;
        const bool set = glyph_table[1][r] & (0x80 >> col);
        EXPECT_EQ(px_at(static_cast<int>(x), static_cast<int>(y)), set ? 1 : 0);
        px_at(static_cast<int>(x), static_cast<int>(y)) = 0;
      }
    EXPECT_TRUE(picture_is_black()) << "glyph at " << c.x << "," << c.y;
  }
  draw_glyph(10, 10, 3);
  draw_glyph(10, 10, -1);
  EXPECT_TRUE(picture_is_black());
}

}  // namespace
