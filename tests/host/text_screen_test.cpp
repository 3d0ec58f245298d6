#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "host/headless/headless.h"
#include "host/screen.h"
#include "screen_test_util.h"

namespace {

using TextScreenTest = Screen;

TEST(TextColours, EachColourLandsOnItsLowestTableIndex) {
  // black, blue, red, magenta, green, cyan, yellow, white
  const int expected[8] = {0, 9, 10, 7, 3, 13, 2, 1};
  for (int c = 0; c < 8; ++c) EXPECT_EQ(text_colour_index(c), expected[c]) << "colour " << c;
}

TEST_F(TextScreenTest, NewScreenIsBlackWithEmptyPlanesAndNoCursor) {
  EXPECT_TRUE(picture_is_black());
  for (int i = 0; i < SCREEN_CELLS; ++i) {
    ASSERT_EQ(text_screen.chars[i], 0);
    ASSERT_EQ(text_screen.attrs[i], 0);
  }
  EXPECT_EQ(text_screen.cursor_x, -1);
  EXPECT_EQ(text_screen.blink_phase, 0);
}

TEST_F(TextScreenTest, TextIsOpaqueInTheAttributeColours) {
  const struct {
    int attr;
    int fore, back;
  } cases[] = {
      {7, 1, 0},   {5, 13, 0}, {6, 2, 0},   {3, 7, 0},  {13, 0, 13}, {14, 0, 2},
      {15, 0, 1},  {12, 0, 3}, {11, 0, 7},  {10, 0, 10}, {9, 0, 9},
      {0, 0, 0},   {8, 0, 0},  // invisible
  };
  const char* text = "A\x8A\xBF" "b";  // "A漢b"
  for (const auto& c : cases) {
    std::memset(screen_bitmap, 4, PICTURE_SIZE);  // the background must be painted over
    print_at(3, 5, text, c.attr);
    EXPECT_EQ(cells(3, 5, 4), font_cells(text, c.fore, c.back, 4)) << "attr " << c.attr;
  }
}

TEST_F(TextScreenTest, UnderlineTakesTheAttributeColourEvenInReverse) {
  const struct {
    int attr;
    int fore, back, line;
  } cases[] = {
      {23, 1, 0, 15},  // white underlined
      {22, 2, 0, 14},  // yellow: the line is index 14, the text 2
      {31, 0, 1, 15},  // reverse white: white line on white, so it does not show
      {16, 0, 0, 8},   // black
  };
  for (const auto& c : cases) {
    std::memset(screen_bitmap, 4, PICTURE_SIZE);
    print_at(2, 3, "A\x82\xA0", c.attr);  // "Aあ"
    std::vector<std::uint8_t> want = font_cells("A\x82\xA0", c.fore, c.back, 3);
    for (int x = 0; x < 24; ++x) want[15 * 24 + x] = static_cast<std::uint8_t>(c.line);
    EXPECT_EQ(cells(2, 3, 3), want) << "attr " << c.attr;
    EXPECT_EQ(px_at(15, 63), 4);  // the line covers only the text's cells
    EXPECT_EQ(px_at(40, 63), 4);
  }
}

TEST_F(TextScreenTest, TextPastTheRightEdgeIsCutWhileThePlanesRunOn) {
  std::memset(screen_bitmap, 4, PICTURE_SIZE);
  print_at(77, 2, "ABC\x8A\xBF", 23);  // "ABC漢" from column 77
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) {
      const bool inside = x >= 616 && y >= 32 && y <= 47;
      if (!inside) {
        ASSERT_EQ(px_at(x, y), 4) << x << "," << y;
      }
    }
  EXPECT_EQ(cells(77, 2, 3), [] {
    std::vector<std::uint8_t> want = font_cells("ABC", 1, 0, 3);
    for (int x = 0; x < 24; ++x) want[15 * 24 + x] = 15;
    return want;
  }());
  const std::uint8_t chars[] = {'A', 'B', 'C', 0x8A, 0xBF};
  const std::uint8_t attrs[] = {23, 23, 23, 23, 23 | 32};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(text_screen.chars[237 + i], chars[i]);
    EXPECT_EQ(text_screen.attrs[237 + i], attrs[i]);
  }
}

TEST_F(TextScreenTest, PrintAtMarksTrailBytes) {
  const struct {
    const char* text;
    std::vector<std::uint8_t> attrs;
  } cases[] = {
      {"A\x8A\xBF" "B", {7, 7, 39, 7}},
      {"\x82\xA0\x82\xA2", {7, 39, 7, 39}},
      {"\xB1\x82\xA0", {7, 7, 39}},          // half-width katakana is single
      {"\x80" "A", {7, 39}},                   // 80 counts as a lead byte here
      {"\xFF\xFF\xFF", {7, 39, 7}},            // a trail byte is never a lead
      {"\x8A\x8A\x8A\x8A", {7, 39, 7, 39}},
      {"\xE0\x40\xDF\xE0", {7, 39, 7, 7}},    // DF single, lone lead E0 last
  };
  for (const auto& c : cases) {
    init_text_screen();
    print_at(10, 4, c.text, 7);
    const std::size_t n = std::strlen(c.text);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(text_screen.chars[330 + i], static_cast<std::uint8_t>(c.text[i])) << c.attrs.size();
      EXPECT_EQ(text_screen.attrs[330 + i], c.attrs[i]) << "byte " << i;
    }
    EXPECT_EQ(text_screen.attrs[330 + n], 0);
  }
}

TEST_F(TextScreenTest, CallerAttributeBitsAboveUnderlineAreNotStored) {
  print_at(0, 0, "AB", 0xE7);
  EXPECT_EQ(text_screen.attrs[0], 7);
  EXPECT_EQ(text_screen.attrs[1], 7);
}

TEST_F(TextScreenTest, LastLeadByteLeavesTheNextCellAlone) {
  print_at(11, 0, "Z", 14);
  print_at(10, 0, "\x8A", 7);
  EXPECT_EQ(text_screen.chars[11], 'Z');
  EXPECT_EQ(text_screen.attrs[11], 14);
}

// The cursor blinks the whole character under it, on either half.
TEST_F(TextScreenTest, CursorOnLeadOrTrailBlinksTheWholeCharacter) {
  for (int x : {10, 11}) {
    init_text_screen();
    print_at(10, 5, "\x8A\xBF", 7);
    set_cursor(x, 5);
    EXPECT_EQ(cells(10, 5, 2), font_cells("\x8A\xBF", 1, 0, 2));  // phase 0: plain
    blink_cursor();
    EXPECT_EQ(cells(10, 5, 2), font_cells("\x8A\xBF", 0, 1, 2)) << "cursor at " << x;
    blink_cursor();
    EXPECT_EQ(cells(10, 5, 2), font_cells("\x8A\xBF", 1, 0, 2));
    EXPECT_EQ(text_screen.attrs[5 * 80 + 10], 7);  // planes untouched
    EXPECT_EQ(text_screen.attrs[5 * 80 + 11], 39);
  }
}

TEST_F(TextScreenTest, CursorAfterTheTrailHalfWasOverwrittenDrawsOneByte) {
  print_at(10, 5, "\x8A\xBF", 7);
  print_at(11, 5, "x", 7);
  set_cursor(10, 5);
  blink_cursor();
  EXPECT_EQ(cells(10, 5, 1), font_cells("\x8A", 0, 1, 1));
  EXPECT_EQ(cells(11, 5, 1), font_cells("x", 1, 0, 1));
}

TEST_F(TextScreenTest, CursorAfterTheLeadHalfWasOverwrittenStepsBack) {
  print_at(10, 5, "\x8A\xBF", 7);
  print_at(10, 5, "y", 7);
  EXPECT_EQ(text_screen.attrs[5 * 80 + 11], 39);
  set_cursor(11, 5);
  blink_cursor();
  EXPECT_EQ(cells(10, 5, 2), font_cells("y\xBF", 0, 1, 2));
}

TEST_F(TextScreenTest, CursorOnTheLastCellDrawsOneByte) {
  print_at(79, 24, "\x8A\xBF", 7);  // only the lead byte fits in the planes
  EXPECT_EQ(text_screen.chars[1999], 0x8A);
  set_cursor(79, 24);
  blink_cursor();
  EXPECT_EQ(cells(79, 24, 1), font_cells("\x8A", 0, 1, 1));
}

TEST_F(TextScreenTest, CursorOnAFirstCellMarkedTrailDoesNotStepOutOfThePlanes) {
  print_at(-1, 0, "\x8A\xBF", 7);  // the lead byte falls before cell 0
  EXPECT_EQ(text_screen.attrs[0], 39);
  set_cursor(0, 0);
  blink_cursor();
  EXPECT_EQ(cells(0, 0, 1), font_cells("\xBF", 0, 1, 1));
}

TEST_F(TextScreenTest, HidingRestoresTheCellAndBlinkThenOnlyFlipsThePhase) {
  print_at(3, 3, "Q", 13);
  set_cursor(3, 3);
  blink_cursor();
  EXPECT_EQ(cells(3, 3, 1), font_cells("Q", 13, 0, 1));  // reverse bit inverted
  set_cursor(-1, 3);
  EXPECT_EQ(cells(3, 3, 1), font_cells("Q", 0, 13, 1));
  const std::vector<std::uint8_t> before(screen_bitmap, screen_bitmap + PICTURE_SIZE);
  const int presents = headless_present_count();
  blink_cursor();
  blink_cursor();
  blink_cursor();
  EXPECT_EQ(headless_present_count(), presents);
  EXPECT_EQ(std::vector<std::uint8_t>(screen_bitmap, screen_bitmap + PICTURE_SIZE), before);
  EXPECT_EQ(text_screen.blink_phase, 0);  // 1, then three flips
}

TEST_F(TextScreenTest, BlinkWithACursorPresentsEveryStep) {
  print_at(0, 0, "K", 7);
  set_cursor(0, 0);
  const int presents = headless_present_count();
  blink_cursor();
  blink_cursor();
  EXPECT_EQ(headless_present_count(), presents + 2);
}

TEST_F(TextScreenTest, SetCursorKeepsThePhaseAndRestoresTheOldCell) {
  print_at(0, 1, "AB", 7);
  blink_cursor();  // no cursor: phase 1, nothing drawn
  EXPECT_TRUE(cells(0, 1, 2) == font_cells("AB", 1, 0, 2));
  set_cursor(0, 1);  // drawn reversed at once
  EXPECT_EQ(cells(0, 1, 1), font_cells("A", 0, 1, 1));
  set_cursor(1, 1);
  EXPECT_EQ(cells(0, 1, 1), font_cells("A", 1, 0, 1));
  EXPECT_EQ(cells(1, 1, 1), font_cells("B", 0, 1, 1));
}

TEST_F(TextScreenTest, CursorOnAnEmptyCellDrawsNothing) {
  set_cursor(5, 5);
  blink_cursor();
  EXPECT_TRUE(picture_is_black());
}

// Whatever x, y and length, print_at stores exactly the bytes that fall inside
// the 2,000 cells and draws nothing outside the picture.
TEST_F(TextScreenTest, PrintAtStaysInsideThePlanesAndPicture) {
  const struct {
    int x, y;
    int len;
  } cases[] = {
      {0, 0, 2000},       {0, 24, 200},      {79, 24, 5},       {0, 25, 10},
      {0, -1, 200},       {-5, 0, 10},       {-100000, 3, 10},  {INT_MIN, 0, 10},
      {INT_MAX, 0, 10},   {0, INT_MAX, 10},  {0, INT_MIN, 10},  {INT_MAX, INT_MAX, 10},
      {INT_MIN, INT_MIN, 10}, {70, 30, 3000}, {-3000, 0, 5000},
  };
  for (const auto& c : cases) {
    init_text_screen();
    std::string text;
    for (int i = 0; i < c.len; ++i) text += static_cast<char>(i % 3 == 2 ? 'w' : (i % 3 ? '\xA0' : '\x88'));
    print_at(c.x, c.y, text.c_str(), 23);
    draw_text(c.x, c.y, text.c_str(), 31);
    set_cursor(c.x, c.y);
    blink_cursor();
    set_cursor(-1, 0);
    const long long base = 80LL * c.y + c.x;
    for (long long k = 0; k < SCREEN_CELLS; ++k) {
      const bool stored = k >= base && k < base + c.len;
      ASSERT_EQ(text_screen.chars[k] != 0, stored) << c.x << "," << c.y << " cell " << k;
    }
    const bool visible = c.x >= -c.len && c.x < 80 && c.y >= 0 && c.y < 25;
    if (!visible) {
      EXPECT_TRUE(picture_is_black()) << c.x << "," << c.y;
    }
  }
}

TEST_F(TextScreenTest, ClearPictureKeepsThePlanes) {
  print_at(0, 0, "AB", 7);
  clear_picture();
  EXPECT_TRUE(picture_is_black());
  EXPECT_EQ(text_screen.chars[1], 'B');
}

}  // namespace
