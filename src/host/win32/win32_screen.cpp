// The text screen on GDI: an 8-bit DIB section with the 16-colour table in a
// memory context, and a Shift-JIS font of height 16.
#include <cstring>
#include <mutex>

#include "host/host.h"
#include "host/screen.h"
#include "host/screen_lock.h"
#include "host/win32/win32.h"
#include "host/window_fit.h"

namespace {
HWND picture_window = nullptr;  // where present shows the picture
HDC window_dc = nullptr;
HDC memory_dc = nullptr;
HBITMAP screen_dib = nullptr;
HFONT screen_font = nullptr;
HGDIOBJ old_bitmap = nullptr;
HGDIOBJ old_font = nullptr;
bool drawing = false;  // under screen_lock: the objects exist
// Where the picture goes once the DIB section is gone.
std::uint8_t spare_picture[PICTURE_SIZE];

constexpr UINT SHIFT_JIS = 932;

// One character of Shift-JIS as UTF-16; a space where it has no character.
wchar_t sjis_char(const char* bytes, int n) {
  wchar_t c = L' ';
  if (MultiByteToWideChar(SHIFT_JIS, MB_ERR_INVALID_CHARS, bytes, n, &c, 1) != 1) return L' ';
  return c;
}
}  // namespace

bool screen_setup(HWND window) {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[16];
  } info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = PICTURE_WIDTH;
  info.header.biHeight = PICTURE_HEIGHT;  // bottom-up rows
  info.header.biPlanes = 1;
  info.header.biBitCount = 8;
  info.header.biCompression = BI_RGB;
  info.header.biSizeImage = PICTURE_SIZE;
  info.header.biClrUsed = 16;
  info.header.biClrImportant = 16;
  for (int i = 0; i < 16; ++i) {
    info.colours[i].rgbRed = colour_table[i][0];
    info.colours[i].rgbGreen = colour_table[i][1];
    info.colours[i].rgbBlue = colour_table[i][2];
  }
  picture_window = window;
  window_dc = GetDC(window);
  if (!window_dc) return false;
  memory_dc = CreateCompatibleDC(window_dc);
  void* bits = nullptr;
  screen_dib = CreateDIBSection(window_dc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  screen_font = CreateFontW(16, 0, 0, 0, 0, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0, FIXED_PITCH, nullptr);
  if (!memory_dc || !screen_dib || !bits || !screen_font) {
    screen_teardown(window);
    return false;
  }
  old_bitmap = SelectObject(memory_dc, screen_dib);
  old_font = SelectObject(memory_dc, screen_font);
  {
    std::lock_guard<std::mutex> hold(screen_lock);
    screen_bitmap = static_cast<std::uint8_t*>(bits);
    drawing = true;
  }
  init_text_screen();  // clears the picture
  reset_keys();
  return true;
}

void screen_teardown(HWND window) {
  std::lock_guard<std::mutex> hold(screen_lock);
  drawing = false;
  if (screen_bitmap != spare_picture) {
    std::memcpy(spare_picture, screen_bitmap, PICTURE_SIZE);
    screen_bitmap = spare_picture;
  }
  if (window_dc) ReleaseDC(window, window_dc);
  if (memory_dc) {
    if (old_bitmap) SelectObject(memory_dc, old_bitmap);
    if (old_font) SelectObject(memory_dc, old_font);
    DeleteDC(memory_dc);
  }
  if (screen_dib) DeleteObject(screen_dib);
  if (screen_font) DeleteObject(screen_font);
  window_dc = nullptr;
  memory_dc = nullptr;
  screen_dib = nullptr;
  screen_font = nullptr;
  old_bitmap = nullptr;
  old_font = nullptr;
}

void host_text_out(int px, int py, const char* text, int n, int fore, int back) {
  if (!drawing || n <= 0) return;
  // Each character gets its cell width whatever the font's own advance is, so
  // text always stays on the 8 x 16 grid.
  std::wstring chars;
  std::basic_string<INT> advance;
  chars.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (is_lead_byte(b) && i + 1 < n) {
      chars += sjis_char(text + i, 2);
      advance += 16;
      i += 2;
    } else {
      chars += is_lead_byte(b) ? L' ' : sjis_char(text + i, 1);
      advance += 8;
      i += 1;
    }
  }
  // Palette indices, so that text lands on exactly these table entries.
  SetTextColor(memory_dc, DIBINDEX(fore));
  SetBkColor(memory_dc, DIBINDEX(back));
  SetBkMode(memory_dc, OPAQUE);
  const RECT box{px, py, px + 8 * n, py + 16};
  ExtTextOutW(memory_dc, px, py, ETO_OPAQUE | ETO_CLIPPED, &box, chars.data(), static_cast<UINT>(chars.size()),
              advance.data());
  // The pixel primitives and the underline write the memory directly next.
  GdiFlush();
}

// The picture at the largest whole scale the client area takes, centred, the
// border black; a stretch by whole multiples copies pixels, never blends.
void host_present() {
  if (!drawing) return;
  RECT client;
  if (!GetClientRect(picture_window, &client)) client = {0, 0, PICTURE_WIDTH, PICTURE_HEIGHT};
  const PicturePlace at = place_picture(client.right, client.bottom);
  const int width = PICTURE_WIDTH * at.scale, height = PICTURE_HEIGHT * at.scale;
  if (at.scale == 1) {
    BitBlt(window_dc, at.x, at.y, width, height, memory_dc, 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(window_dc, COLORONCOLOR);
    StretchBlt(window_dc, at.x, at.y, width, height, memory_dc, 0, 0, PICTURE_WIDTH, PICTURE_HEIGHT, SRCCOPY);
  }
  const auto black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  const RECT border[] = {{0, 0, client.right, at.y},
                         {0, at.y + height, client.right, client.bottom},
                         {0, at.y, at.x, at.y + height},
                         {at.x + width, at.y, client.right, at.y + height}};
  for (const RECT& r : border) {
    if (r.right > r.left && r.bottom > r.top) FillRect(window_dc, &r, black);
  }
}
