#include "host/font/bitmap_font.h"

namespace {
constexpr int WIDTH = 640;
constexpr int HEIGHT = 400;

std::size_t full_slot(std::uint8_t lead, std::uint8_t trail) {
  const std::size_t l = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31u;
  const std::size_t t = trail <= 0x7E ? trail - 0x40u : trail - 0x41u;
  return l * 188 + t;
}

// One glyph row of w pixels (bits from the top down) at (px, py).
void put_row(std::uint8_t* pixels, long long px, long long py, unsigned bits, int w, std::uint8_t fore,
             std::uint8_t back) {
  if (py < 0 || py >= HEIGHT) return;
  std::uint8_t* line = pixels + (HEIGHT - 1 - py) * WIDTH;
  for (int c = 0; c < w; ++c) {
    const long long x = px + c;
    if (x < 0 || x >= WIDTH) continue;
    line[x] = (bits & (1u << (w - 1 - c))) ? fore : back;
  }
}
}  // namespace

// A hollow box a little inside the cell, so that neighbouring boxes stay apart.
const std::uint8_t replacement_half[16] = {0x00, 0x00, 0x7E, 0x42, 0x42, 0x42, 0x42, 0x42,
                                           0x42, 0x42, 0x42, 0x42, 0x42, 0x7E, 0x00, 0x00};
const std::uint8_t replacement_full[32] = {0x00, 0x00, 0x00, 0x00, 0x7F, 0xFE, 0x40, 0x02, 0x40, 0x02, 0x40,
                                           0x02, 0x40, 0x02, 0x40, 0x02, 0x40, 0x02, 0x40, 0x02, 0x40, 0x02,
                                           0x40, 0x02, 0x40, 0x02, 0x7F, 0xFE, 0x00, 0x00, 0x00, 0x00};

bool is_sjis_lead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool is_sjis_trail(std::uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

const std::uint8_t* half_glyph(std::uint8_t b) {
  if (font_half_present[b >> 3] & (1u << (b & 7))) return font_half[b];
  return nullptr;
}

const std::uint8_t* full_glyph(std::uint8_t lead, std::uint8_t trail) {
  if (!is_sjis_lead(lead) || !is_sjis_trail(trail)) return nullptr;
  const std::uint16_t slot = font_full_index[full_slot(lead, trail)];
  if (slot == 0 || slot > font_full_count) return nullptr;
  return font_full[slot - 1];
}

void bitmap_text_out(std::uint8_t* pixels, int px, int py, const char* text, int n, int fore, int back) {
  const auto f = static_cast<std::uint8_t>(fore);
  const auto b = static_cast<std::uint8_t>(back);
  const auto* s = reinterpret_cast<const std::uint8_t*>(text);
  long long x = px;
  for (int i = 0; i < n && x < WIDTH;) {
    if (i + 1 < n && is_sjis_lead(s[i]) && is_sjis_trail(s[i + 1])) {
      if (x + 16 > 0) {
        const std::uint8_t* g = full_glyph(s[i], s[i + 1]);
        if (g == nullptr) g = replacement_full;
        for (int r = 0; r < 16; ++r) put_row(pixels, x, py + r, (g[2 * r] << 8) | g[2 * r + 1], 16, f, b);
      }
      x += 16;
      i += 2;
    } else {
      if (x + 8 > 0) {
        const std::uint8_t* g = half_glyph(s[i]);
        if (g == nullptr) g = replacement_half;
        for (int r = 0; r < 16; ++r) put_row(pixels, x, py + r, g[r], 8, f, b);
      }
      x += 8;
      i += 1;
    }
  }
}
