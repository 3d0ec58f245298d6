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
static Box solid(long x1, long y1, long x2, long y2) { return Box{x1, y1, x2, y2, (x2 - x1 + 1) * (y2 - y1 + 1)}; }
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
  const struct {
    int attr, fore, back, line;
  } cases[] = {// line -1: none
               {7, 1, 0, -1},  {5, 13, 0, -1}, {6, 2, 0, -1},  {3, 7, 0, -1},   {13, 0, 13, -1}, {14, 0, 2, -1},
               {15, 0, 1, -1}, {12, 0, 3, -1}, {11, 0, 7, -1}, {10, 0, 10, -1}, {9, 0, 9, -1},   {0, 0, 0, -1},
               {8, 0, 0, -1},  {23, 1, 0, 15}, {22, 2, 0, 14}, {31, 0, 1, 15},  {16, 0, 0, 8}};
  for (const auto& c : cases) {
    std::memset(screen_bitmap, 4, PICTURE_SIZE);  // the background must be painted over
    print_at(3, 5,
             "A\x8A\xBF"
             "b",
             c.attr);  // "A漢b"
    Pixels want = font_cells(
        "A\x8A\xBF"
        "b",
        c.fore, c.back, 4);
    if (c.line >= 0) std::fill(want.end() - 32, want.end(), c.line);
    EXPECT_EQ(cells_of(screen_bitmap, 3, 5, 4), want) << c.attr;
    EXPECT_EQ(changed(screen_bitmap, 4), solid(24, 80, 55, 95)) << c.attr;
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
  const struct {
    int x, y, len;
    Box drawn;
  } cases[] = {{0, 0, 2000, solid(0, 0, 639, 15)},
               {0, 24, 200, solid(0, 384, 639, 399)},
               {79, 24, 5, solid(632, 384, 639, 399)},
               {77, 2, 5, solid(616, 32, 639, 47)},
               {-1, 3, 10, solid(0, 48, 71, 63)},
               {-3000, 0, 5000, solid(0, 0, 639, 15)},
               {0, 25, 10, NOTHING},
               {0, -1, 200, NOTHING},
               {INT_MIN, 0, 10, NOTHING},
               {INT_MAX, 0, 10, NOTHING},
               {0, INT_MAX, 10, NOTHING},
               {70, 30, 3000, NOTHING}};
  for (const auto& c : cases) {
    init_text_screen();
    std::memset(screen_bitmap, 4, PICTURE_SIZE);
    std::string text;
    for (int i = 0; i < c.len; ++i) text += "\x88\xA0w"[i % 3];
    print_at(c.x, c.y, text.c_str(), 23);
    set_cursor(c.x, c.y);
    blink_cursor();
    const long long base = 80LL * c.y + c.x;
    for (long long k = 0; k < SCREEN_CELLS; ++k)
      ASSERT_EQ(text_screen.chars[k] != 0 && text_screen.attrs[k] != 0, k >= base && k < base + c.len)
          << c.x << "," << c.y << " cell " << k;
    EXPECT_EQ(changed(screen_bitmap, 4), c.drawn) << c.x << "," << c.y;
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

// The font's pairs, blank, inked or missing (drawn as a box): ideographic space,
// あ, 亜, 腕 (end of level 1), 熙 (last of JIS X 0208), ソ (trail 5C), ① (from the
// fallback font), ⅰ (IBM extension), × (trail 80); not row 9, the user area, a bad trail or lead byte.
TEST(Font, Coverage) {
  const struct {
    std::uint8_t lead, trail;
    int look;
  } pairs[] = {// 0 missing, 1 blank, 2 inked
               {0x81, 0x40, 1}, {0x82, 0xA0, 2}, {0x88, 0x9F, 2}, {0x98, 0x72, 2}, {0xEA, 0xA4, 2},
               {0x83, 0x5C, 2}, {0x87, 0x40, 2}, {0xFA, 0x40, 2}, {0x85, 0x40, 0}, {0xF0, 0x40, 0},
               {0x81, 0x7F, 0}, {0xA0, 0x40, 0}, {0x81, 0x80, 2}};
  const auto look = [](const std::uint8_t* g) { return g ? 1 + std::any_of(g, g + 32, [](int v) { return v; }) : 0; };
  for (const auto& p : pairs)
    EXPECT_EQ(look(full_glyph(p.lead, p.trail)), p.look) << std::hex << int(p.lead) << " " << int(p.trail);
}

TEST(Graphics, PenArithmetic) {
  const struct {
    int planes, colour, before, after;
  } cases[] = {{15, 13, 0, 13},  {15, 13, 7, 13}, {15, 0, 9, 0},    {3, 0, 7, 4},   {3, 0, 14, 12},
               {3, 0, 0xFF, 12}, {1, 1, 6, 7},    {1, 1, 0x13, 3},  {4, 4, 3, 7},   {3, 2, 4, 6},
               {12, 15, 1, 13},  {0, 15, 5, 5},   {2, 15, 0xF0, 2}, {0, 0, 0xF5, 5}};
  for (const auto& c : cases) {
    set_pen(c.planes, c.colour);
    px_at(10, 10) = static_cast<std::uint8_t>(c.before);
    draw_hline(10, 10, 10);
    EXPECT_EQ(px_at(10, 10), c.after) << "set_pen(" << c.planes << ", " << c.colour << ") on " << c.before;
  }
}

// Lines and rectangles include both ends, in either order, and are clipped to
// the picture whatever coordinates they get.
TEST(Graphics, LinesAndRectanglesClip) {
  const struct {
    char op;
    int a, b, c, d;
    Box drawn;
  } cases[] = {// h: x1, x2, y; v: x, y1, y2; f: x1, y1, x2, y2
               {'h', 600, 700, 10, 0, solid(600, 10, 639, 10)},
               {'h', 5, 0, 399, 0, solid(0, 399, 5, 399)},
               {'h', 700, 650, 10, 0, NOTHING},
               {'h', 0, 0, 400, 0, NOTHING},
               {'h', 0, 10, -1, 0, NOTHING},
               {'h', INT_MIN, INT_MAX, 5, 0, solid(0, 5, 639, 5)},
               {'v', 10, 390, 450, 0, solid(10, 390, 10, 399)},
               {'v', 640, 0, 10, 0, NOTHING},
               {'v', 639, 10, 0, 0, solid(639, 0, 639, 10)},
               {'v', -1, 0, 10, 0, NOTHING},
               {'v', 5, 400, 500, 0, NOTHING},
               {'v', 5, INT_MIN, INT_MAX, 0, solid(5, 0, 5, 399)},
               {'f', 10, 40, 30, 20, NOTHING},
               {'f', 30, 20, 10, 40, solid(10, 20, 30, 40)},
               {'f', 630, 395, 700, 500, solid(630, 395, 639, 399)},
               {'f', INT_MIN, INT_MIN, INT_MAX, INT_MAX, solid(0, 0, 639, 399)}};
  set_pen(15, 9);
  for (const auto& c : cases) {
    std::memset(screen_bitmap, 0, PICTURE_SIZE);
    c.op == 'h' ? draw_hline(c.a, c.b, c.c) : c.op == 'v' ? draw_vline(c.a, c.b, c.c) : fill_rect(c.a, c.b, c.c, c.d);
    EXPECT_EQ(changed(screen_bitmap, 0), c.drawn) << c.op << " " << c.a << " " << c.b << " " << c.c << " " << c.d;
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
  const char* shapes[3] = {
      "..####.."
      ".##...#."
      ".#....#."
      ".#...##."
      "..####..",  // open note head
      "...###.."
      "..#####."
      ".######."
      ".#####.."
      "..###...",  // filled note head
      ".#.#...."
      "#####..."
      ".#.#...."
      "#####..."
      ".#.#...."};  // sharp
  const int at[][2] = {{100, 50}, {636, 397},         {-3, -2},           {635, -4},
                       {-7, 398}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}, {INT_MAX - 3, 0}};
  for (const auto& [x, y] : at)
    for (int n = -1; n <= 3; ++n) {
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
