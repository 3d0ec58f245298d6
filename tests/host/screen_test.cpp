// The text screen, its font and the pixel primitives.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/font/bitmap_font.h"
#include "host/headless/headless.h"
#include "host/rows.h"
#include "host/screen.h"

using Pixels = std::vector<std::uint8_t>;
using Box = std::array<long, 5>;  // x1, y1, x2, y2 and how many pixels changed
constexpr Box NOTHING{640, 400, -1, -1, 0};

static std::uint8_t& px_at(int x, int y) { return screen_bitmap[(399 - y) * 640 + x]; }
static Pixels picture() { return Pixels(screen_bitmap, screen_bitmap + PICTURE_SIZE); }
// The pixels of w cells from cell (x, y) of a picture, row by row.
static Pixels cells_of(const std::uint8_t* pic, int x, int y, int w) {
  Pixels out;
  for (int r = 16 * y; r < 16 * y + 16; ++r)
    out.insert(out.end(), pic + (399 - r) * 640 + 8 * x, pic + (399 - r) * 640 + 8 * (x + w));
  return out;
}
// The same cells as the font draws the text in the given indices, on a picture of its own.
static Pixels font_cells(const char* text, int fore, int back, int w) {
  Pixels pic(PICTURE_SIZE, 0);
  bitmap_text_out(pic.data(), 0, 0, text, static_cast<int>(std::strlen(text)), fore, back);
  return cells_of(pic.data(), 0, 0, w);
}
// The box of a row's last four numbers, x1 > x2 for none.
static Box solid(long x1, long y1, long x2, long y2) {
  return x1 > x2 ? NOTHING : Box{x1, y1, x2, y2, (x2 - x1 + 1) * (y2 - y1 + 1)};
}
static Box box_of(const std::vector<long long>& r) { return solid(r.end()[-4], r.end()[-3], r.end()[-2], r.end()[-1]); }
// The smallest rectangle that holds every pixel other than bg.
static Box changed(const std::uint8_t* pic, int bg) {
  Box b = NOTHING;
  for (long i = 0; i < 256000; ++i)
    if (const long x = i % 640, y = 399 - i / 640; pic[i] != bg)
      b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y), b[4] + 1};
  return b;
}

struct TextScreenTest : ::testing::Test {
  void SetUp() override { init_text_screen(); }
};

// Text is opaque in the attribute's colour at its lowest table index (black on
// the colour in reverse); the underline is index 8 + colour, even in reverse.
TEST_F(TextScreenTest, AttributesGiveTheirColourIndices) {
  const char* text = "A\x8A\xBF\x62";             // "A漢b"
  for (const auto& c : numbers("attr")) {         // attribute, fore, back, underline
    std::memset(screen_bitmap, 4, PICTURE_SIZE);  // the background must be painted over
    print_at(3, 5, text, int(c[0]));
    Pixels want = font_cells(text, int(c[1]), int(c[2]), 4);
    if (c[3] >= 0) std::fill(want.end() - 32, want.end(), c[3]);
    EXPECT_EQ(cells_of(screen_bitmap, 3, 5, 4), want) << c[0];
    EXPECT_EQ(changed(screen_bitmap, 4), solid(24, 80, 55, 95)) << c[0];
  }
}

// Bit 5 marks the byte after a lead byte (80-9F, E0-FF), which is never a lead
// itself; the caller's bits 5-7 are not kept; a lead byte at the end leaves the
// next cell ("Z", 14) alone.
TEST_F(TextScreenTest, PrintAtMarksTrailBytes) {
  const char* text =
      "A\x8A\xBF\xB1\x80"
      "A\xFF\xFF\xFF\xFF\xE0\x40\xDF\xE0";
  print_at(24, 4, "Z", 14);
  print_at(10, 4, text, 0xE7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text_screen.chars) + 330, 15), text + std::string("Z"));
  EXPECT_EQ(Pixels(text_screen.attrs + 330, text_screen.attrs + 345),
            (Pixels{7, 7, 39, 7, 7, 39, 7, 39, 7, 39, 7, 39, 7, 7, 14}));
}

// The cursor shows its cell's whole character with the reverse bit inverted:
// on either half of a pair; over a pair whose trail was overwritten (one byte)
// or whose lead was (it steps back to the new byte); at both ends of the planes.
// It keeps the phase across moves; hidden, it is neither drawn nor presented.
TEST_F(TextScreenTest, CursorCells) {
  const struct {
    int x, y;
    const char* text;
  } prints[] = {// the last two store only the lead, or the trail
                {10, 5, "\x8A\xBF"}, {20, 5, "\x8A\xBF"},  {21, 5, "x"},       {30, 5, "\x8A\xBF"},
                {30, 5, "y"},        {79, 24, "\x8A\xBF"}, {-1, 0, "\x8A\xBF"}};
  for (const auto& p : prints) print_at(p.x, p.y, p.text, 7);
  EXPECT_EQ(text_screen.attrs[0], 39);
  const struct {
    int x, y, cell, w;
    const char* shown;
  } cases[] = {{10, 5, 10, 2, "\x8A\xBF"}, {11, 5, 10, 2, "\x8A\xBF"}, {20, 5, 20, 1, "\x8A"},
               {31, 5, 30, 2, "y\xBF"},    {79, 24, 79, 1, "\x8A"},    {0, 0, 0, 1, "\xBF"}};
  const int presents = headless_present_count();
  blink_cursor();  // hidden: only the phase flips, to 1
  for (const auto& c : cases) {
    set_cursor(c.x, c.y);
    EXPECT_EQ(cells_of(screen_bitmap, c.cell, c.y, c.w), font_cells(c.shown, 0, 1, c.w)) << c.x << "," << c.y;
    blink_cursor();
    EXPECT_EQ(cells_of(screen_bitmap, c.cell, c.y, c.w), font_cells(c.shown, 1, 0, c.w)) << c.x << "," << c.y;
    blink_cursor();
    set_cursor(-1, 0);
    for (int i = 0; i < 2; ++i) blink_cursor();
    EXPECT_EQ(cells_of(screen_bitmap, c.cell, c.y, c.w), font_cells(c.shown, 1, 0, c.w)) << c.x << "," << c.y;
  }
  EXPECT_EQ(headless_present_count(), presents + 12);
  EXPECT_EQ(Pixels(text_screen.attrs + 410, text_screen.attrs + 412), (Pixels{7, 39}));
}

// Whatever x, y and length, print_at stores exactly the bytes that fall inside
// the 2,000 cells, and text is drawn only where it meets the picture, cut at
// its edges (a pair at column 79 shows its left half, one at -1 its right half).
TEST_F(TextScreenTest, ExtremeCoordinatesStayInsideThePlanesAndPicture) {
  for (const auto& c : numbers("print")) {  // x, y, length, the box drawn
    const int x = int(c[0]), y = int(c[1]);
    init_text_screen();
    std::memset(screen_bitmap, 4, PICTURE_SIZE);
    std::string text;
    for (int i = 0; i < c[2]; ++i) text += "\x88\xA0w"[i % 3];
    print_at(x, y, text.c_str(), 23);
    set_cursor(x, y);
    blink_cursor();
    const long long base = 80LL * y + x;
    for (long long k = 0; k < SCREEN_CELLS; ++k)
      ASSERT_EQ(text_screen.chars[k] != 0 && text_screen.attrs[k] != 0, k >= base && k < base + c[2])
          << x << "," << y << " cell " << k;
    EXPECT_EQ(changed(screen_bitmap, 4), box_of(c)) << x << "," << y;
  }
}

// The window thread blinks while the application thread prints, moves the
// cursor and draws: under ThreadSanitizer this shows the lock covers every
// shared byte.
TEST(ScreenThreads, BlinkWhileTheApplicationDraws) {
  std::atomic<bool> done{false};
  std::thread window([&] {
    for (; !done; std::this_thread::yield()) blink_cursor(), present();
  });
  for (int i = 0; i < 3000; ++i) {
    print_at(0, i % 25, "\x83J\x81[\x83\x5C\x83\x8B cursor", i % 2 ? 7 : 13);
    set_cursor(i % 12, i % 25);
    fill_rect(0, i % 400, 639, i % 400 + 3);
    invert_column(i % 640);
    draw_glyph(i % 600, 300, i % 3);
  }
  done = true;
  window.join();
}

// The font's pairs, blank, inked or missing (drawn as a box).
TEST(Font, Coverage) {
  const auto look = [](const std::uint8_t* g) { return g ? 1 + std::any_of(g, g + 32, [](int v) { return v; }) : 0; };
  for (const auto& p : numbers("pair"))
    EXPECT_EQ(look(full_glyph(std::uint8_t(p[0]), std::uint8_t(p[1]))), p[2]) << std::hex << p[0] << " " << p[1];
}

TEST(Graphics, PenArithmetic) {
  for (const auto& c : numbers("pen")) {  // planes, colour, the pixel before and after
    set_pen(int(c[0]), int(c[1]));
    px_at(10, 10) = static_cast<std::uint8_t>(c[2]);
    draw_hline(10, 10, 10);
    EXPECT_EQ(px_at(10, 10), c[3]) << "set_pen(" << c[0] << ", " << c[1] << ") on " << c[2];
  }
}

// Lines and rectangles include both ends, in either order, and are clipped to
// the picture whatever coordinates they get.
TEST(Graphics, LinesAndRectanglesClip) {
  set_pen(15, 9);
  for (const char* op : {"hline", "vline", "fill"})
    for (const auto& c : numbers(op)) {  // the coordinates, then the box drawn
      std::memset(screen_bitmap, 0, PICTURE_SIZE);
      const auto i = [&](int k) { return int(c[k]); };
      op[0] == 'h'   ? draw_hline(i(0), i(1), i(2))
      : op[0] == 'v' ? draw_vline(i(0), i(1), i(2))
                     : fill_rect(i(0), i(1), i(2), i(3));
      EXPECT_EQ(changed(screen_bitmap, 0), box_of(c)) << op << " " << c[0] << " " << c[1] << " " << c[2];
    }
}

// XOR 7 on rows 49..381 of the column (black gives magenta 7, frame white 4
// gives green 3); twice restores it; columns off the picture change nothing.
TEST(Graphics, InvertColumnTwiceRestoresThePicture) {
  for (std::size_t i = 0; i < PICTURE_SIZE; ++i) screen_bitmap[i] = static_cast<std::uint8_t>((i * 7 + i / 640) & 15);
  const Pixels before = picture();
  for (int x : {0, 321, 639, -1, 640, INT_MIN, INT_MAX}) {
    Pixels want = before;
    for (int y = 49; x >= 0 && x < 640 && y <= 381; ++y) want[(399 - y) * 640 + x] ^= 7;
    invert_column(x);
    EXPECT_EQ(picture(), want) << "column " << x;
    invert_column(x);
    EXPECT_EQ(picture(), before) << "column " << x;
  }
}

// A glyph sets plane 0 under its set bits only, cut at the picture's edges;
// there are glyphs 0 to 2 only.
TEST(Graphics, GlyphsSetPlaneZeroUnderTheirBits) {
  std::vector<std::string> shapes;  // 8 x 5 pixels each
  for (const Row& r : rows("glyph")) shapes.push_back(r[0] + r[1] + r[2] + r[3] + r[4]);
  ASSERT_EQ(shapes.size(), 3u);
  for (const auto& at : numbers("glyph_at"))
    for (int n = -1; n <= 3; ++n) {
      const int x = int(at[0]), y = int(at[1]);
      std::memset(screen_bitmap, 2, PICTURE_SIZE);
      draw_glyph(x, y, n);
      Pixels want(PICTURE_SIZE, 2);
      for (int r = 0; r < 40; ++r)
        if (const long long px = x + r % 8LL, py = y + r / 8LL;
            n >= 0 && n < 3 && shapes[n][r] == '#' && px >= 0 && px < 640 && py >= 0 && py < 400)
          want[(399 - py) * 640 + px] = 3;
      EXPECT_EQ(picture(), want) << "glyph " << n << " at " << x << "," << y;
    }
}
