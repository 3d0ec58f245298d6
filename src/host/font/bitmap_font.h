// The bitmap text renderer used by every host that has no Shift-JIS text
// output of its own: a 16-dot Japanese font embedded at build time, drawn
// straight into a 640 x 400 bottom-up picture of colour-table indices.
#pragma once

#include <cstddef>
#include <cstdint>

// Single bytes 20-7E and A1-DF; a bit in font_half_present per byte that has
// a glyph. Row r of a glyph is byte r, leftmost pixel in bit 7.
extern const std::uint8_t font_half[256][16];
extern const std::uint8_t font_half_present[32];

// Pairs: lead 81-9F or E0-FC, trail 40-7E or 80-FC, 60 x 188 slots. A slot
// holds 0 for a pair the font lacks, else 1 + its index in font_full. Row r
// of a glyph is bytes 2r (left half) and 2r + 1.
constexpr std::size_t FONT_FULL_SLOTS = 60 * 188;
extern const std::uint16_t font_full_index[FONT_FULL_SLOTS];
extern const std::size_t font_full_count;
extern const std::uint8_t font_full[][32];

bool is_sjis_lead(std::uint8_t b);   // 81-9F, E0-FC
bool is_sjis_trail(std::uint8_t b);  // 40-7E, 80-FC

// The glyph of a single byte or a pair, or nullptr when the font lacks it.
const std::uint8_t* half_glyph(std::uint8_t b);
const std::uint8_t* full_glyph(std::uint8_t lead, std::uint8_t trail);

// The box drawn for a character the font lacks: 8 or 16 pixels wide.
extern const std::uint8_t replacement_half[16];
extern const std::uint8_t replacement_full[32];

// Draws n Shift-JIS bytes at pixel (px, py), top-left corner of the first
// character, into pixels (640 x 400, rows bottom-up): set glyph bits in fore,
// the rest of each character cell in back. A lead byte with a valid trail
// byte is one 16-pixel character; every other byte is 8 pixels wide, so byte
// i always starts at px + 8 i. Pixels outside the picture are not written.
void bitmap_text_out(std::uint8_t* pixels, int px, int py, const char* text, int n, int fore, int back);
