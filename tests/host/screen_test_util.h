// Helpers for the screen tests: a clean screen, pixel access, and what the
// font draws for a string, to compare the picture against.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/font/bitmap_font.h"
#include "host/screen.h"

inline std::uint8_t& px_at(int x, int y) { return screen_bitmap[(399 - y) * 640 + x]; }

// A picture of the given cells (w cells wide from cell (x, y)), row by row.
inline std::vector<std::uint8_t> cells_of(const std::uint8_t* pixels, int x, int y, int w) {
  std::vector<std::uint8_t> out;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 8 * w; ++c) out.push_back(pixels[(399 - (16 * y + r)) * 640 + 8 * x + c]);
  return out;
}
inline std::vector<std::uint8_t> cells(int x, int y, int w) { return cells_of(screen_bitmap, x, y, w); }

// The cells as the font draws text with the given indices, on a picture of its own.
inline std::vector<std::uint8_t> font_cells(const char* text, int fore, int back, int w) {
  std::vector<std::uint8_t> pic(PICTURE_SIZE, 0);
  bitmap_text_out(pic.data(), 0, 0, text, static_cast<int>(std::strlen(text)), fore, back);
  return cells_of(pic.data(), 0, 0, w);
}

inline bool picture_is_black() {
  for (std::size_t i = 0; i < PICTURE_SIZE; ++i)
    if (screen_bitmap[i] != 0) return false;
  return true;
}

class Screen : public ::testing::Test {
 protected:
  void SetUp() override {
    init_text_screen();
    reset_keys();
    pen = Pen{0, 0};  // the starting pen
  }
};
