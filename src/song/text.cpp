// Texts from other programs as song fields.
#include <algorithm>

#include "song/internal.h"

namespace {

bool sjis_lead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool sjis_trail(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// The code point at text[i] when it starts a well-formed UTF-8 sequence
// (shortest form, no surrogates); `len` gets its length. -1 otherwise.
long utf8_at(const std::uint8_t* text, std::size_t n, std::size_t i, std::size_t& len) {
  const std::uint8_t b = text[i];
  if (b < 0x80) return len = 1, b;
  len = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (len == 0 || b > 0xF4 || i + len > n) return -1;
  long cp = b & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((text[i + k] & 0xC0) != 0x80) return -1;
    cp = cp << 6 | (text[i + k] & 0x3F);
  }
  static const long least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return -1;
  return cp;
}

bool is_utf8(const std::uint8_t* text, std::size_t n) {
  for (std::size_t i = 0, len = 0; i < n; i += len)
    if (utf8_at(text, n, i, len) < 0) return false;
  return true;
}

// The Shift-JIS bytes of a code point into out (1 or 2), "?" when it has none.
int sjis_of(long cp, char out[2]) {
  out[0] = '?';
  if (cp < 0x20 || cp == 0x7F) return out[0] = ' ', 1;
  if (cp < 0x80) return out[0] = static_cast<char>(cp), 1;
  if (cp >= 0xFF61 && cp <= 0xFF9F) return out[0] = static_cast<char>(cp - 0xFF61 + 0xA1), 1;  // half-width kana
  const SjisPair* end = SJIS_PAIRS + SJIS_PAIR_COUNT;
  const SjisPair* at = std::lower_bound(SJIS_PAIRS, end, cp,
                                        [](const SjisPair& p, long c) { return static_cast<long>(p.code_point) < c; });
  if (at == end || at->code_point != static_cast<std::uint32_t>(cp)) return 1;
  out[0] = static_cast<char>(at->sjis >> 8);
  out[1] = static_cast<char>(at->sjis & 0xFF);
  return 2;
}

}  // namespace

std::string field_text(const std::uint8_t* text, std::size_t n, std::size_t width) {
  // Pure ASCII reads the same either way; otherwise UTF-8 when it is well formed.
  const bool utf8 = is_utf8(text, n);
  std::string out;
  for (std::size_t i = 0; i < n;) {
    char ch[2];
    int len = 1;
    if (utf8) {
      std::size_t used = 1;
      len = sjis_of(utf8_at(text, n, i, used), ch);
      i += used;
    } else if (sjis_lead(text[i]) && i + 1 < n && sjis_trail(text[i + 1])) {
      ch[0] = static_cast<char>(text[i]);
      ch[1] = static_cast<char>(text[i + 1]);
      len = 2;
      i += 2;
    } else {
      const std::uint8_t b = text[i++];
      const bool shown = (b >= 0x20 && b < 0x7F) || (b >= 0xA1 && b <= 0xDF);  // ASCII, half-width kana
      ch[0] = shown ? static_cast<char>(b) : b < 0x20 ? ' ' : '?';
    }
    if (out.size() + static_cast<std::size_t>(len) > width) break;
    out.append(ch, static_cast<std::size_t>(len));
  }
  out.resize(width, ' ');
  return out;
}
