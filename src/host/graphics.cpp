#include <mutex>
#include <utility>

#include "host/screen.h"
#include "host/screen_lock.h"

Pen pen = {0, 0};

const std::uint8_t glyph_table[GLYPH_COUNT][GLYPH_ROWS] = {
    {0x3C, 0x62, 0x42, 0x46, 0x3C},  // open note head
    {0x1C, 0x3E, 0x7E, 0x7C, 0x38},  // filled note head
    {0x50, 0xF8, 0x50, 0xF8, 0x50},  // sharp sign
};

namespace {
inline std::uint8_t* pixel(int x, int y) { return screen_bitmap + (PICTURE_HEIGHT - 1 - y) * PICTURE_WIDTH + x; }

// Callers pass coordinates of 0 or more; anything else is clipped away here so
// that no coordinate can reach outside the picture.
void hline_locked(int x1, int x2, int y) {
  if (x2 < x1) std::swap(x1, x2);
  if (x1 > PICTURE_WIDTH - 1 || y > PICTURE_HEIGHT - 1) return;
  if (y < 0 || x2 < 0) return;
  if (x2 > PICTURE_WIDTH - 1) x2 = PICTURE_WIDTH - 1;
  if (x1 < 0) x1 = 0;
  std::uint8_t* p = pixel(x1, y);
  const std::uint8_t and_mask = pen.and_mask;
  const std::uint8_t or_value = pen.or_value;
  for (int x = x1; x <= x2; ++x, ++p) *p = static_cast<std::uint8_t>((*p & and_mask) | or_value);
}
}  // namespace

void set_pen(int planes, int colour) {
  pen.and_mask = static_cast<std::uint8_t>(~planes & 15);
  pen.or_value = static_cast<std::uint8_t>(planes & colour & 15);
}

void draw_hline(int x1, int x2, int y) {
  std::lock_guard<std::mutex> hold(screen_lock);
  hline_locked(x1, x2, y);
}

void draw_vline(int x, int y1, int y2) {
  if (y2 < y1) std::swap(y1, y2);
  if (x > PICTURE_WIDTH - 1 || y1 > PICTURE_HEIGHT - 1) return;
  if (x < 0 || y2 < 0) return;
  if (y2 > PICTURE_HEIGHT - 1) y2 = PICTURE_HEIGHT - 1;
  if (y1 < 0) y1 = 0;
  std::lock_guard<std::mutex> hold(screen_lock);
  for (int y = y1; y <= y2; ++y) {
    std::uint8_t* p = pixel(x, y);
    *p = static_cast<std::uint8_t>((*p & pen.and_mask) | pen.or_value);
  }
}

void fill_rect(int x1, int y1, int x2, int y2) {
  if (y1 > y2) return;
  // Rows outside the picture draw nothing; skipping them keeps a huge range cheap.
  if (y1 < 0) y1 = 0;
  if (y2 > PICTURE_HEIGHT - 1) y2 = PICTURE_HEIGHT - 1;
  std::lock_guard<std::mutex> hold(screen_lock);
  for (int y = y1; y <= y2; ++y) hline_locked(x1, x2, y);
}

void invert_column(int x) {
  if (x < 0 || x > PICTURE_WIDTH - 1) return;
  std::lock_guard<std::mutex> hold(screen_lock);
  for (int y = 49; y <= 381; ++y) *pixel(x, y) ^= 7;
}

void draw_glyph(int x, int y, int n) {
  if (n < 0 || n >= GLYPH_COUNT) return;
  std::lock_guard<std::mutex> hold(screen_lock);
  for (int r = 0; r < GLYPH_ROWS; ++r) {
    const long long py = static_cast<long long>(y) + r;
    if (py < 0 || py > PICTURE_HEIGHT - 1) continue;
    for (int c = 0; c < 8; ++c) {
      const long long px = static_cast<long long>(x) + c;
      if (px < 0 || px > PICTURE_WIDTH - 1) continue;
      if (glyph_table[n][r] & (0x80 >> c)) *pixel(static_cast<int>(px), static_cast<int>(py)) |= 1;
    }
  }
}
