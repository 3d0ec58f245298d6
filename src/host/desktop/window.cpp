// The window: SDL2, painted on the window thread. present on the application
// thread hands the picture over under the screen lock and wakes the window
// thread, which converts it through the colour table and shows it at the
// largest whole scale the window takes, centred on black.
#include <SDL2/SDL.h>
#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "host/desktop/desktop.h"
#include "host/font/bitmap_font.h"
#include "host/host.h"
#include "host/screen.h"
#include "host/screen_lock.h"
#include "host/window_fit.h"

namespace {
constexpr Uint32 BLINK_MS = 422;
constexpr int FRAME_WAIT_MS = 250;

SDL_Window* window = nullptr;
SDL_Surface* picture = nullptr;  // 8-bit, the colour table as its palette
SDL_Surface* frame = nullptr;    // the picture in the window's format, for scaling
KeyLayout layout = KeyLayout::us;
Uint32 paint_event = 0;  // two registered events: paint, then quit
std::atomic<bool> paint_pending{false};

// The last presented picture; written under the screen lock.
std::uint8_t handed_over[PICTURE_SIZE];

void push_event(Uint32 type) {
  SDL_Event e{};
  e.type = type;
  SDL_PushEvent(&e);
}

void paint() {
  paint_pending.store(false);
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  if (surface == nullptr) return;
  if (SDL_LockSurface(picture) == 0) {
    auto* rows = static_cast<std::uint8_t*>(picture->pixels);
    std::lock_guard<std::mutex> hold(screen_lock);
    // The handed-over picture is stored bottom-up.
    for (int y = 0; y < PICTURE_HEIGHT; ++y) {
      std::memcpy(rows + y * picture->pitch, handed_over + (PICTURE_HEIGHT - 1 - y) * PICTURE_WIDTH, PICTURE_WIDTH);
    }
    SDL_UnlockSurface(picture);
  }
  draw_picture(picture, surface, frame);
  SDL_UpdateWindowSurface(window);
}

void take_drop(const char* name, bool& taken) {
  // Only the first file of one drop counts.
  if (taken) return;
  taken = true;
  if (std::strlen(name) > FILE_NAME_SIZE - 1) {
    alert_box("File name is too long");
    return;
  }
  set_file_name(name);
}

void toggle_full_screen() {
  const bool full = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0;
  SDL_SetWindowFullscreen(window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}

void key_event(const SDL_KeyboardEvent& key) {
  const int vk = virtual_key(key.keysym.scancode, key.keysym.sym, key.keysym.mod, layout);
  if (vk == 0) return;
  // F11 and Alt+Return are the window's own; a held key does not flicker it.
  if (vk == VK_F11_KEY || (vk == VK_RETURN_KEY && (key.keysym.mod & KMOD_ALT))) {
    if (key.type == SDL_KEYDOWN && !key.repeat) toggle_full_screen();
    return;
  }
  if (key.type == SDL_KEYUP) {
    on_key_up(vk);
    return;
  }
  // Alt, keys with Alt and F10 are the system's, as on Windows.
  if (vk == 18 || vk == 121 || (key.keysym.mod & KMOD_ALT)) return;
  on_key_down(vk);
}

// Modifier releases missed while another window had the keyboard.
void resync_modifiers() {
  const SDL_Keymod mods = SDL_GetModState();
  if (!(mods & KMOD_SHIFT)) on_key_up(VK_SHIFT_KEY);
  if (!(mods & KMOD_CTRL)) on_key_up(VK_CONTROL_KEY);
}

// The largest whole scale whose window, frame included, fits the usable area
// of the display the window opened on; centred there.
void fit_display() {
  const int display = SDL_GetWindowDisplayIndex(window);
  SDL_Rect usable;
  if (display < 0 || SDL_GetDisplayUsableBounds(display, &usable) != 0) return;
  int top = 0, left = 0, bottom = 0, right = 0;
  SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right);
  // The window manager tells the frame once it has framed the window (never
  // when there is none): a moment to hear it.
  for (int waited = 0; top + left + bottom + right == 0 && waited < FRAME_WAIT_MS; waited += 10) {
    SDL_Delay(10);
    SDL_PumpEvents();
    SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right);
  }
  const int scale = start_scale(usable.w, usable.h, left + right, top + bottom);
  if (scale == 1) return;
  const int width = PICTURE_WIDTH * scale, height = PICTURE_HEIGHT * scale;
  SDL_SetWindowSize(window, width, height);
  SDL_SetWindowPosition(window, usable.x + left + (usable.w - left - right - width) / 2,
                        usable.y + top + (usable.h - top - bottom - height) / 2);
}

std::string utf8_of_shift_jis(const char* text) {
  iconv_t convert = iconv_open("UTF-8", "CP932");
  if (convert == reinterpret_cast<iconv_t>(-1)) return text;
  std::string out;
  char* in = const_cast<char*>(text);
  std::size_t in_left = std::strlen(text);
  char buffer[256];
  while (in_left > 0) {
    char* to = buffer;
    std::size_t to_left = sizeof buffer;
    if (iconv(convert, &in, &in_left, &to, &to_left) == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // A byte that is not Shift-JIS shows as a question mark.
      out.append(buffer, to);
      out += '?';
      ++in;
      --in_left;
      continue;
    }
    out.append(buffer, to);
  }
  iconv_close(convert);
  return out;
}
}  // namespace

bool window_open(int scale, std::string& error) {
  // Key events, not text: an input method must not swallow keys.
  SDL_SetHint(SDL_HINT_IME_INTERNAL_EDITING, "0");
  // The picture goes to the window as it is; a GL renderer behind the window
  // surface would only add threads and a copy.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // Without a Wayland session, asking Wayland first only prints its complaint.
  if (!SDL_getenv("SDL_VIDEODRIVER") && !SDL_getenv("WAYLAND_DISPLAY")) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  }
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // A display server that is just starting, or busy, can refuse a first
  // connection; a few tries a tenth of a second apart ride that out.
  for (int tries = SDL_getenv("DISPLAY") ? 10 : 1; SDL_InitSubSystem(SDL_INIT_VIDEO) != 0;) {
    if (--tries == 0) {
      error = SDL_GetError();
      return false;
    }
    SDL_Delay(100);
  }
  paint_event = SDL_RegisterEvents(2);
  // Fitting the display needs the frame, which is known once the window is.
  const int first = scale > 0 ? scale : 1;
  window = SDL_CreateWindow("TAKTO", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, PICTURE_WIDTH * first,
                            PICTURE_HEIGHT * first, SDL_WINDOW_RESIZABLE);
  picture = SDL_CreateRGBSurfaceWithFormat(0, PICTURE_WIDTH, PICTURE_HEIGHT, 8, SDL_PIXELFORMAT_INDEX8);
  if (window == nullptr || picture == nullptr || paint_event == static_cast<Uint32>(-1)) {
    error = SDL_GetError();
    window_close();
    return false;
  }
  SDL_Color colours[16];
  for (int i = 0; i < 16; ++i) {
    colours[i] = SDL_Color{colour_table[i][0], colour_table[i][1], colour_table[i][2], 255};
  }
  SDL_SetPaletteColors(picture->format->palette, colours, 0, 16);
  // Smaller, the picture would be cut.
  SDL_SetWindowMinimumSize(window, PICTURE_WIDTH, PICTURE_HEIGHT);
  if (scale == 0) fit_display();
  SDL_StopTextInput();
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  layout = keyboard_layout();
  init_text_screen();
  {
    std::lock_guard<std::mutex> hold(screen_lock);
    std::memcpy(handed_over, screen_bitmap, PICTURE_SIZE);
  }
  paint();
  return true;
}

bool window_run() {
  Uint32 next_blink = SDL_GetTicks() + BLINK_MS;
  bool drop_taken = false;
  for (;;) {
    const Uint32 now = SDL_GetTicks();
    SDL_Event e;
    const bool got = SDL_WaitEventTimeout(&e, next_blink > now ? static_cast<int>(next_blink - now) : 0) != 0;
    if (SDL_TICKS_PASSED(SDL_GetTicks(), next_blink)) {
      next_blink += BLINK_MS;
      blink_cursor();
    }
    if (!got) continue;
    if (e.type == paint_event) {
      paint();
    } else if (e.type == paint_event + 1) {
      return false;
    } else if (e.type == SDL_QUIT) {
      return true;
    } else if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
      key_event(e.key);
    } else if (e.type == SDL_WINDOWEVENT) {
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) resync_modifiers();
      if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        paint();
      }
    } else if (e.type == SDL_DROPBEGIN) {
      drop_taken = false;
    } else if (e.type == SDL_DROPFILE) {
      take_drop(e.drop.file, drop_taken);
      SDL_free(e.drop.file);
    } else if (e.type == SDL_DROPCOMPLETE) {
      drop_taken = false;
    } else if (e.type == SDL_TEXTEDITING || e.type == SDL_TEXTINPUT) {
      SDL_StopTextInput();
    }
  }
}

void window_close() {
  if (frame) SDL_FreeSurface(frame);
  if (picture) SDL_FreeSurface(picture);
  if (window) SDL_DestroyWindow(window);
  frame = nullptr;
  picture = nullptr;
  window = nullptr;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void window_post_quit() { push_event(paint_event + 1); }

void host_text_out(int px, int py, const char* text, int n, int fore, int back) {
  bitmap_text_out(screen_bitmap, px, py, text, n, fore, back);
}

void host_present() {
  std::memcpy(handed_over, screen_bitmap, PICTURE_SIZE);
  if (!paint_pending.exchange(true)) push_event(paint_event);
}

void alert_box(const char* text) {
  app_thread_checkpoint();
  const std::string message = utf8_of_shift_jis(text);
  // "デバッグ情報"
  const char caption[] = "\xE3\x83\x87\xE3\x83\x90\xE3\x83\x83\xE3\x82\xB0\xE6\x83\x85\xE5\xA0\xB1";
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption, message.c_str(), nullptr) != 0) {
    std::fprintf(stderr, "takto: %s\n", message.c_str());
  }
}
