// The text dump of the screen's planes, and Shift-JIS to UTF-8.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host/headless/session/session.h"
#include "host/replace_file.h"
#include "host/screen.h"
#include "host/screen_lock.h"

namespace {
// One converter for a run of conversions; code page 932 as the platform has it.
struct Cp932 {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  ~Cp932() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  Cp932() = default;
  Cp932(const Cp932&) = delete;
  Cp932& operator=(const Cp932&) = delete;

  // Appends the character of the n bytes (1 or 2) to out; false when they are
  // not exactly one character.
  bool decode(const std::uint8_t* bytes, std::size_t n, std::string& out) {
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in_buf[2] = {static_cast<char>(bytes[0]), n > 1 ? static_cast<char>(bytes[1]) : '\0'};
    char out_buf[16];
    char* in = in_buf;
    char* put = out_buf;
    std::size_t in_left = n, out_left = sizeof out_buf;
    if (iconv(cd, &in, &in_left, &put, &out_left) == static_cast<std::size_t>(-1) || in_left != 0) return false;
    out.append(out_buf, static_cast<std::size_t>(put - out_buf));
    return true;
  }
};

// Control bytes would break the dump's lines; they show as "?" like bytes
// that do not decode.
bool is_control(std::uint8_t b) { return (b > 0 && b < 0x20) || b == 0x7F; }

// One row of the character plane. A pair is a lead byte whose next cell is
// marked as its trail, as print_at left them; a cell either is the lead of a
// pair or stands alone.
std::string dump_row(Cp932& cp, const std::uint8_t* chars, const std::uint8_t* attrs) {
  std::string line;
  for (int x = 0; x < SCREEN_COLUMNS; ++x) {
    const std::uint8_t b = chars[x];
    if (x + 1 < SCREEN_COLUMNS && is_lead_byte(b) && (attrs[x + 1] & ATTR_TRAIL) && cp.decode(chars + x, 2, line)) {
      ++x;
    } else if (b == 0) {
      line += ' ';
    } else if (is_control(b) || !cp.decode(chars + x, 1, line)) {
      line += '?';
    }
  }
  return line;
}
}  // namespace

std::string screen_dump() {
  std::uint8_t chars[SCREEN_CELLS], attrs[SCREEN_CELLS];
  int cursor_x, cursor_y;
  {
    std::lock_guard<std::mutex> hold(screen_lock);
    std::memcpy(chars, text_screen.chars, SCREEN_CELLS);
    std::memcpy(attrs, text_screen.attrs, SCREEN_CELLS);
    cursor_x = text_screen.cursor_x;
    cursor_y = text_screen.cursor_y;
  }
  Cp932 cp;
  std::string dump;
  for (int y = 0; y < SCREEN_ROWS; ++y)
    dump += dump_row(cp, chars + y * SCREEN_COLUMNS, attrs + y * SCREEN_COLUMNS) + '\n';
  dump += "--\n";
  char hex[4];
  for (int y = 0; y < SCREEN_ROWS; ++y) {
    for (int x = 0; x < SCREEN_COLUMNS; ++x) {
      std::snprintf(hex, sizeof hex, "%02x", attrs[y * SCREEN_COLUMNS + x]);
      dump += hex;
    }
    dump += '\n';
  }
  if (cursor_x == -1)
    dump += "cursor -1\n";
  else
    dump += "cursor " + std::to_string(cursor_x) + " " + std::to_string(cursor_y) + "\n";
  return dump;
}

int save_screen_dump(const char* path, std::string& error) {
  const std::string dump = screen_dump();
  std::string why;
  if (replace_file(
          path, [&](std::FILE* f) { return std::fwrite(dump.data(), 1, dump.size(), f) == dump.size(); }, &why))
    return 0;
  error = std::string("cannot write ") + path + ": " + why;
  return 1;
}

std::string sjis_to_utf8(const std::string& text) {
  Cp932 cp;
  std::string out;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i + 1 < text.size() && is_lead_byte(bytes[i]) && cp.decode(bytes + i, 2, out))
      ++i;
    else if (!cp.decode(bytes + i, 1, out))
      out += '?';
  }
  return out;
}
