#include <cstring>
#include <mutex>

#include "host/host.h"
#include "host/screen.h"
#include "host/screen_lock.h"

TextScreen text_screen = {{}, {}, -1, 0, 0};

namespace {
std::uint8_t own_bitmap[PICTURE_SIZE];
}
std::uint8_t* screen_bitmap = own_bitmap;

std::mutex screen_lock;

const std::uint8_t colour_table[16][3] = {
    {0, 0, 0},       {255, 255, 255}, {255, 255, 0}, {0, 255, 0},    //
    {255, 255, 255}, {255, 255, 255}, {255, 255, 0}, {255, 0, 255},  //
    {0, 0, 0},       {0, 0, 255},     {255, 0, 0},   {255, 0, 255},  //
    {0, 255, 0},     {0, 255, 255},   {255, 255, 0}, {255, 255, 255},
};

int text_colour_index(int colour) {
  colour &= ATTR_COLOUR;
  const std::uint8_t r = (colour & ATTR_RED) ? 255 : 0;
  const std::uint8_t g = (colour & ATTR_GREEN) ? 255 : 0;
  const std::uint8_t b = (colour & ATTR_BLUE) ? 255 : 0;
  for (int i = 0; i < 16; ++i) {
    if (colour_table[i][0] == r && colour_table[i][1] == g && colour_table[i][2] == b) return i;
  }
  return 8 + colour;  // every attribute colour is in the table; kept for safety
}

namespace {
void draw_text_locked(int x, int y, const char* text, int attr) {
  const std::size_t len = std::strlen(text);
  if (len == 0) return;
  const long long px = 8LL * x;
  const long long py = 16LL * y;
  // Every byte advances the output by 8 pixels, whether it is a single-byte
  // character or half of a pair, so the text box is known before drawing.
  const long long width = 8LL * static_cast<long long>(len);
  if (px >= PICTURE_WIDTH || py >= PICTURE_HEIGHT || py + 16 <= 0 || px + width <= 0) return;
  // Text that begins far to the left of the picture (only possible with an
  // absurd x or string) is not drawn rather than risking overflow below.
  if (px < -(1LL << 24)) return;
  long long n = static_cast<long long>(len);
  const long long needed = (PICTURE_WIDTH - px) / 8 + 1;  // bytes that can reach the picture
  if (n > needed) n = needed;

  const int colour_index = text_colour_index(attr & ATTR_COLOUR);
  const bool reverse = (attr & ATTR_REVERSE) != 0;
  const int fore = reverse ? text_colour_index(0) : colour_index;
  const int back = reverse ? colour_index : text_colour_index(0);
  host_text_out(static_cast<int>(px), static_cast<int>(py), text, static_cast<int>(n), fore, back);

  if (attr & ATTR_UNDERLINE) {
    const long long row = py + 15;
    if (row >= 0 && row < PICTURE_HEIGHT) {
      long long from = px < 0 ? 0 : px;
      long long to = px + width - 1;
      if (to >= PICTURE_WIDTH) to = PICTURE_WIDTH - 1;
      std::uint8_t* line = screen_bitmap + (PICTURE_HEIGHT - 1 - row) * PICTURE_WIDTH;
      const std::uint8_t index = static_cast<std::uint8_t>(8 + (attr & ATTR_COLOUR));
      for (long long c = from; c <= to; ++c) line[c] = index;
    }
  }
}

// The cursor cell with phase p: the cell's own character (both halves of a
// pair, whichever half the cursor is on) with the reverse bit inverted in
// phase 1. The planes are not changed.
void draw_cursor_cell(int phase) {
  int x = text_screen.cursor_x;
  long long i = 80LL * text_screen.cursor_y + x;
  if (i < 0 || i >= SCREEN_CELLS) return;
  if ((text_screen.attrs[i] & ATTR_TRAIL) && i > 0) {
    --x;
    --i;
  }
  char s[3] = {static_cast<char>(text_screen.chars[i]), 0, 0};
  if (i + 1 < SCREEN_CELLS && (text_screen.attrs[i + 1] & ATTR_TRAIL)) {
    s[1] = static_cast<char>(text_screen.chars[i + 1]);
  }
  int attr = text_screen.attrs[i];
  if (phase == 1) attr ^= ATTR_REVERSE;
  draw_text_locked(x, text_screen.cursor_y, s, attr);
}
}  // namespace

void init_text_screen() {
  std::lock_guard<std::mutex> hold(screen_lock);
  std::memset(text_screen.chars, 0, sizeof text_screen.chars);
  std::memset(text_screen.attrs, 0, sizeof text_screen.attrs);
  text_screen.cursor_x = -1;
  text_screen.cursor_y = 0;
  text_screen.blink_phase = 0;
  std::memset(screen_bitmap, 0, PICTURE_SIZE);
}

void print_at(int x, int y, const char* text, int attr) {
  std::lock_guard<std::mutex> hold(screen_lock);
  // Bits 5-7 are not the caller's: bit 5 marks trail bytes, 6 and 7 stay 0.
  attr &= ATTR_COLOUR | ATTR_REVERSE | ATTR_UNDERLINE;
  draw_text_locked(x, y, text, attr);
  const long long base = 80LL * y + x;
  std::uint8_t flag = 0;
  for (long long i = 0; text[i] != 0; ++i) {
    const long long cell = base + i;
    if (cell >= SCREEN_CELLS) break;
    const auto b = static_cast<std::uint8_t>(text[i]);
    if (cell >= 0) {
      text_screen.chars[cell] = b;
      text_screen.attrs[cell] = static_cast<std::uint8_t>(attr | flag);
    }
    flag = (flag == 0 && is_lead_byte(b)) ? ATTR_TRAIL : 0;
  }
}

void set_cursor(int x, int y) {
  std::lock_guard<std::mutex> hold(screen_lock);
  if (text_screen.cursor_x != -1) draw_cursor_cell(0);
  text_screen.cursor_x = x;
  text_screen.cursor_y = y;
  if (x != -1) draw_cursor_cell(text_screen.blink_phase);
}

void blink_cursor() {
  std::lock_guard<std::mutex> hold(screen_lock);
  text_screen.blink_phase = 1 - text_screen.blink_phase;
  if (text_screen.cursor_x == -1) return;
  draw_cursor_cell(text_screen.blink_phase);
  host_present();
}

void present() {
  std::lock_guard<std::mutex> hold(screen_lock);
  host_present();
}

void clear_picture() {
  std::lock_guard<std::mutex> hold(screen_lock);
  std::memset(screen_bitmap, 0, PICTURE_SIZE);
}
