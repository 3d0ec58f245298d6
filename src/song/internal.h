// What the song's files share besides song.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Unicode to Shift-JIS: the double-byte characters of code page 932, sorted
// by code point (generated at build time).
struct SjisPair {
  std::uint32_t code_point;
  std::uint16_t sjis;
};
extern const SjisPair SJIS_PAIRS[];
extern const std::size_t SJIS_PAIR_COUNT;

// Text from another program as a Shift-JIS field of `width` bytes, padded
// with spaces: UTF-8 is converted, valid Shift-JIS kept, anything else (and
// control characters) replaced; a character that would not fit whole is cut.
std::string field_text(const std::uint8_t* text, std::size_t n, std::size_t width);
