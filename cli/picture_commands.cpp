// takto-cli testcard: a picture that shows everything the screens draw with.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "host/png/png_picture.h"
#include "host/screen.h"

namespace {
struct AttrSample {
  int attr;
  const char* name;
};

// Every attribute the screens use, in the order they are listed for them.
constexpr AttrSample attr_samples[] = {
    {7, "white"},          {13, "reverse cyan"},    {14, "reverse yellow"},  {15, "reverse white"},
    {12, "reverse green"}, {11, "reverse magenta"}, {10, "reverse red"},     {9, "reverse blue"},
    {5, "cyan"},           {6, "yellow"},           {23, "white underline"},
};

void draw_text_part() {
  // " TAKTO テストカード" on a reverse white bar.
  std::string title =
      " TAKTO \x83"
      "e\x83X\x83g\x83J\x81[\x83h  test card";
  title.resize(80, ' ');
  print_at(0, 0, title.c_str(), ATTR_REVERSE_WHITE);

  int row = 2;
  for (const AttrSample& s : attr_samples) {
    char label[8];
    std::snprintf(label, sizeof label, "%3d", s.attr);
    print_at(1, row, label, ATTR_WHITE);
    // " ソングメモ ｿﾝｸﾞﾒﾓ Song 0123 "
    print_at(5, row, " \x83\x5C\x83\x93\x83O\x83\x81\x83\x82 \xBF\xDD\xB8\xDE\xD2\xD3 Song 0123 ", s.attr);
    print_at(35, row, s.name, ATTR_WHITE);
    ++row;
  }

  // Underline in colour, underline in reverse (the line has the background's
  // colour, so it does not show), and the two invisible attributes 0 and 8.
  print_at(1, 13, "ul:", ATTR_WHITE);
  print_at(5, 13, " yellow ", 22);
  print_at(14, 13, " reverse ", 31);
  print_at(24, 13, "hidden:[", ATTR_WHITE);
  print_at(32, 13, "0", 0);
  print_at(33, 13, "][", ATTR_WHITE);
  print_at(35, 13, "8", 8);
  print_at(36, 13, "]", ATTR_WHITE);

  // The cursor on the trail half of "ー" in "カーソル", caught in its reversed
  // phase; and "漢字" with "x" written over the trail half of "漢".
  print_at(1, 14, "cursor:", ATTR_WHITE);
  print_at(9, 14, "\x83J\x81[\x83\x5C\x83\x8B", ATTR_WHITE);
  set_cursor(12, 14);
  blink_cursor();
  print_at(19, 14, "half:", ATTR_WHITE);
  print_at(25, 14, "\x8A\xBF\x8E\x9A", ATTR_WHITE);
  print_at(26, 14, "x", ATTR_WHITE);

  // NEC row 13 from the fallback font "①②③ⅠⅡ№㈱", then characters no font has:
  // a user-defined pair, the single byte 80 and a lone lead byte.
  print_at(1, 15,
           "\x87@\x87"
           "A\x87"
           "B\x87T\x87U\x87\x82\x87\x8A",
           ATTR_WHITE);
  print_at(17, 15, "none:", ATTR_WHITE);
  print_at(23, 15, "\xF0@", ATTR_REVERSE_YELLOW);
  print_at(26, 15, "\x80", ATTR_REVERSE_YELLOW);
  print_at(28, 15, "\x81", ATTR_REVERSE_YELLOW);

  // "漢字 ひらがな カタカナ 全角ＡＢＣ１２３ ♪♯♭ ←↑→↓ ■□●○ ─│┌┐"
  print_at(1, 16,
           "\x8A\xBF\x8E\x9A \x82\xD0\x82\xE7\x82\xAA\x82\xC8 \x83J\x83^\x83J\x83i "
           "\x91S\x8Ap\x82`\x82"
           "a\x82"
           "b\x82P\x82Q\x82R \x81\xF4\x81\xF2\x81\xF3 "
           "\x81\xA9\x81\xAA\x81\xA8\x81\xAB \x81\xA1\x81\xA0\x81\x9C\x81\x9B "
           "\x84\x9F\x84\xA0\x84\xA1\x84\xA2",
           ATTR_YELLOW);

  // Every printable single byte: 21-7E and the half-width katakana A1-DF.
  std::string ascii;
  for (int b = 0x21; b <= 0x7E; ++b) ascii += static_cast<char>(b);
  print_at(1, 17, ascii.substr(0, 47).c_str(), ATTR_CYAN);
  print_at(1, 18, ascii.substr(47).c_str(), ATTR_CYAN);
  std::string kana;
  for (int b = 0xA1; b <= 0xDF; ++b) kana += static_cast<char>(b);
  print_at(1, 19, kana.c_str(), ATTR_WHITE);

  // A double-byte character at column 79: only its left half fits.
  print_at(60, 20, "clipped at the edge:", ATTR_WHITE);
  print_at(79, 20, "\x8A\xBF", ATTR_REVERSE_CYAN);

  // The colour table, index by index.
  for (int i = 0; i < 16; ++i) {
    char label[8];
    std::snprintf(label, sizeof label, "%2d", i);
    print_at(i * 5 + 1, 21, label, ATTR_WHITE);
  }
  print_at(0, 24, " takto-cli testcard", ATTR_WHITE);
  print_at(78, 24, "63", ATTR_WHITE);
}

void draw_graphics_part() {
  // Colour swatches under their labels.
  for (int i = 0; i < 16; ++i) {
    set_pen(15, i);
    fill_rect(i * 40 + 4, 354, i * 40 + 35, 381);
  }
  // A swatch of index 0 is invisible on black: outline it.
  set_pen(15, 1);
  draw_hline(3, 36, 353);
  draw_hline(3, 36, 382);
  draw_vline(3, 353, 382);
  draw_vline(36, 353, 382);

  // A frame in plane 2 (white, index 4).
  set_pen(4, 4);
  draw_hline(424, 631, 40);
  draw_hline(424, 631, 247);
  draw_vline(424, 40, 247);
  draw_vline(631, 40, 247);
  draw_vline(528, 40, 247);

  // Boxes in planes 0 and 1, over the frame: white, yellow, green.
  for (int c = 1; c <= 3; ++c) {
    set_pen(3, c);
    fill_rect(432 + (c - 1) * 30, 48 + (c - 1) * 14, 488 + (c - 1) * 30, 100 + (c - 1) * 14);
  }
  // Clearing planes 0 and 1 erases a band of the boxes and keeps the frame.
  set_pen(3, 0);
  fill_rect(424, 76, 631, 82);

  // Plain indices over everything: cyan, red, blue, magenta lines.
  const int plain[] = {13, 10, 9, 11};
  for (int k = 0; k < 4; ++k) {
    set_pen(15, plain[k]);
    draw_hline(432, 623, 150 + k * 6);
    draw_hline(432, 623, 151 + k * 6);
  }
  set_pen(15, 12);
  fill_rect(440, 182, 472, 200);

  // Level bars in plane 0 only: white on black, 5 on the frame's column.
  set_pen(1, 1);
  for (int k = 0; k < 12; ++k) fill_rect(488 + k * 8, 236 - k * 4, 493 + k * 8, 240);

  // The three glyphs, on black (white) and on yellow (plane 0 added: green).
  set_pen(15, 2);
  fill_rect(540, 176, 620, 196);
  for (int n = 0; n < GLYPH_COUNT; ++n) {
    draw_glyph(548 + n * 24, 164, n);
    draw_glyph(548 + n * 24, 184, n);
  }

  // The measure view's cursor column: every index under it XOR 7.
  invert_column(604);
  // Inverted twice: no trace.
  invert_column(610);
  invert_column(610);
}

constexpr char usage[] = "testcard OUT.png";

int testcard(int argc, char** argv) {
  if (argc != 2) return usage_error(usage);
  init_text_screen();
  reset_keys();
  draw_text_part();
  draw_graphics_part();
  std::string error;
  if (save_picture_png(argv[1], error) != 0) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}

const bool registered = register_command("testcard", usage, testcard, "draws the test card picture");
}  // namespace
