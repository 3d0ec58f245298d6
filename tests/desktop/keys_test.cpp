// SDL keys become the virtual keys Windows gives for the same physical key.
#include <gtest/gtest.h>

#include "host/desktop/desktop.h"

namespace {
struct KeyCase {
  SDL_Scancode scancode;
  SDL_Keycode key;  // what the keymap gives; letters follow it
  std::uint16_t mods;
  int us, japanese;
};

constexpr std::uint16_t NUM = KMOD_NUM;
SDL_Scancode operator+(SDL_Scancode s, int i) { return static_cast<SDL_Scancode>(int{s} + i); }

// Keys outside the runs below; the two layouts differ in the punctuation keys.
const KeyCase key_cases[] = {
    {SDL_SCANCODE_Q, 'a', 0, 65, 65},  // AZERTY: the key labelled A
    {SDL_SCANCODE_0, '0', 0, 48, 48},
    {SDL_SCANCODE_F13, SDLK_F13, 0, 124, 124},
    {SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, 0, 8, 8},
    {SDL_SCANCODE_TAB, SDLK_TAB, 0, 9, 9},
    {SDL_SCANCODE_RETURN, SDLK_RETURN, 0, 13, 13},
    {SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, 0, 13, 13},
    {SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, 0, 27, 27},
    {SDL_SCANCODE_SPACE, SDLK_SPACE, 0, 32, 32},
    {SDL_SCANCODE_PAGEUP, SDLK_PAGEUP, 0, 33, 33},
    {SDL_SCANCODE_PAGEDOWN, SDLK_PAGEDOWN, 0, 34, 34},
    {SDL_SCANCODE_END, SDLK_END, 0, 35, 35},
    {SDL_SCANCODE_HOME, SDLK_HOME, 0, 36, 36},
    {SDL_SCANCODE_LEFT, SDLK_LEFT, 0, 37, 37},
    {SDL_SCANCODE_UP, SDLK_UP, 0, 38, 38},
    {SDL_SCANCODE_RIGHT, SDLK_RIGHT, 0, 39, 39},
    {SDL_SCANCODE_DOWN, SDLK_DOWN, 0, 40, 40},
    {SDL_SCANCODE_INSERT, SDLK_INSERT, 0, 45, 45},
    {SDL_SCANCODE_DELETE, SDLK_DELETE, 0, 46, 46},
    {SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, 0, 16, 16},
    {SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, 0, 16, 16},
    {SDL_SCANCODE_LCTRL, SDLK_LCTRL, 0, 17, 17},
    {SDL_SCANCODE_RCTRL, SDLK_RCTRL, 0, 17, 17},
    {SDL_SCANCODE_LGUI, SDLK_LGUI, 0, 91, 91},
    // Numeric pad: 0 and . with Num Lock on, then off (5 is Clear); operators.
    {SDL_SCANCODE_KP_0, SDLK_KP_0, NUM, 96, 96},
    {SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD, NUM, 110, 110},
    {SDL_SCANCODE_KP_0, SDLK_KP_0, 0, 45, 45},
    {SDL_SCANCODE_KP_1, SDLK_KP_1, 0, 35, 35},
    {SDL_SCANCODE_KP_2, SDLK_KP_2, 0, 40, 40},
    {SDL_SCANCODE_KP_3, SDLK_KP_3, 0, 34, 34},
    {SDL_SCANCODE_KP_4, SDLK_KP_4, 0, 37, 37},
    {SDL_SCANCODE_KP_5, SDLK_KP_5, 0, 12, 12},
    {SDL_SCANCODE_KP_6, SDLK_KP_6, 0, 39, 39},
    {SDL_SCANCODE_KP_7, SDLK_KP_7, 0, 36, 36},
    {SDL_SCANCODE_KP_8, SDLK_KP_8, 0, 38, 38},
    {SDL_SCANCODE_KP_9, SDLK_KP_9, 0, 33, 33},
    {SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD, 0, 46, 46},
    {SDL_SCANCODE_KP_MULTIPLY, SDLK_KP_MULTIPLY, NUM, 106, 106},
    {SDL_SCANCODE_KP_PLUS, SDLK_KP_PLUS, 0, 107, 107},
    {SDL_SCANCODE_KP_MINUS, SDLK_KP_MINUS, 0, 109, 109},
    {SDL_SCANCODE_KP_DIVIDE, SDLK_KP_DIVIDE, 0, 111, 111},
    // Punctuation by position: US, then what the Japanese 106/109 key there is.
    {SDL_SCANCODE_SEMICOLON, ';', 0, 186, 187},    // JP semicolon / plus
    {SDL_SCANCODE_APOSTROPHE, '\'', 0, 222, 186},  // JP colon / asterisk
    {SDL_SCANCODE_EQUALS, '=', 0, 187, 222},       // JP caret / tilde
    {SDL_SCANCODE_MINUS, '-', 0, 189, 189},
    {SDL_SCANCODE_COMMA, ',', 0, 188, 188},
    {SDL_SCANCODE_PERIOD, '.', 0, 190, 190},
    {SDL_SCANCODE_SLASH, '/', 0, 191, 191},
    {SDL_SCANCODE_GRAVE, '`', 0, 192, 243},         // JP half-width/full-width
    {SDL_SCANCODE_LEFTBRACKET, '[', 0, 219, 192},   // JP at sign / grave
    {SDL_SCANCODE_RIGHTBRACKET, ']', 0, 221, 219},  // JP left bracket
    {SDL_SCANCODE_BACKSLASH, '\\', 0, 220, 221},    // JP right bracket
    {SDL_SCANCODE_NONUSHASH, '\\', 0, 220, 221},
    {SDL_SCANCODE_INTERNATIONAL3, '\\', 0, 220, 220},  // yen
    {SDL_SCANCODE_INTERNATIONAL1, '\\', 0, 226, 226},  // backslash / underscore
    {SDL_SCANCODE_NONUSBACKSLASH, '<', 0, 226, 226},
    {SDL_SCANCODE_INTERNATIONAL4, 0, 0, 28, 28},  // Convert
    {SDL_SCANCODE_INTERNATIONAL5, 0, 0, 29, 29},  // Non-convert
    {SDL_SCANCODE_MUTE, SDLK_MUTE, 0, 0, 0},
};

void expect_key(const KeyCase& k) {
  SCOPED_TRACE(SDL_GetScancodeName(k.scancode));
  EXPECT_EQ(virtual_key(k.scancode, k.key, k.mods, KeyLayout::us), k.us);
  EXPECT_EQ(virtual_key(k.scancode, k.key, k.mods, KeyLayout::japanese), k.japanese);
}

TEST(DesktopKeys, MappingForBothLayouts) {
  for (const KeyCase& k : key_cases) expect_key(k);
  // Runs that are the same on both layouts: letters, digits 1-9, F1-F12 and
  // the pad's 1-9 with Num Lock on.
  for (int i = 0; i < 26; ++i) expect_key({SDL_SCANCODE_A + i, 'a' + i, 0, 65 + i, 65 + i});
  for (int i = 0; i < 9; ++i) expect_key({SDL_SCANCODE_1 + i, '1' + i, 0, 49 + i, 49 + i});
  for (int i = 0; i < 12; ++i) expect_key({SDL_SCANCODE_F1 + i, SDLK_F1 + i, 0, 112 + i, 112 + i});
  for (int i = 0; i < 9; ++i) expect_key({SDL_SCANCODE_KP_1 + i, SDLK_KP_1 + i, NUM, 97 + i, 97 + i});
}
}  // namespace
