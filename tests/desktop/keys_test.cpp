// SDL keys become the virtual keys Windows gives for the same physical key.
#include <gtest/gtest.h>

#include "host/desktop/desktop.h"

namespace {
SDL_Scancode operator+(SDL_Scancode s, int i) { return static_cast<SDL_Scancode>(int{s} + i); }

// A key's virtual key on a US keyboard and a Japanese 106/109 one (or, on the
// numeric pad, with Num Lock on and off).
struct Key {
  SDL_Scancode scancode;
  int first, second;
};
#define K(name, first, second) \
  Key { SDL_SCANCODE_##name, first, second }

// Outside the letters the keymap's key plays no part; the punctuation keys
// go by position, where the layouts differ (yen, half-width/full-width,
// Convert, Non-convert).
// clang-format off
const Key keys[] = {
    K(0, 48, 48), K(F13, 124, 124), K(BACKSPACE, 8, 8), K(TAB, 9, 9), K(RETURN, 13, 13), K(KP_ENTER, 13, 13),
    K(ESCAPE, 27, 27), K(SPACE, 32, 32), K(PAGEUP, 33, 33), K(PAGEDOWN, 34, 34), K(END, 35, 35), K(HOME, 36, 36),
    K(LEFT, 37, 37), K(UP, 38, 38), K(RIGHT, 39, 39), K(DOWN, 40, 40), K(INSERT, 45, 45), K(DELETE, 46, 46),
    K(LSHIFT, 16, 16), K(RSHIFT, 16, 16), K(LCTRL, 17, 17), K(RCTRL, 17, 17), K(LGUI, 91, 91), K(MUTE, 0, 0),
    K(SEMICOLON, 186, 187), K(APOSTROPHE, 222, 186), K(EQUALS, 187, 222), K(MINUS, 189, 189), K(COMMA, 188, 188),
    K(PERIOD, 190, 190), K(SLASH, 191, 191), K(GRAVE, 192, 243), K(LEFTBRACKET, 219, 192), K(RIGHTBRACKET, 221, 219),
    K(BACKSLASH, 220, 221), K(NONUSHASH, 220, 221), K(INTERNATIONAL3, 220, 220), K(INTERNATIONAL1, 226, 226),
    K(NONUSBACKSLASH, 226, 226), K(INTERNATIONAL4, 28, 28), K(INTERNATIONAL5, 29, 29),
};
// clang-format on
// The pad: 5 is Clear without Num Lock; the operators ignore it.
// clang-format off
const Key pad[] = {
    K(KP_0, 96, 45), K(KP_1, 97, 35), K(KP_2, 98, 40), K(KP_3, 99, 34), K(KP_4, 100, 37), K(KP_5, 101, 12),
    K(KP_6, 102, 39), K(KP_7, 103, 36), K(KP_8, 104, 38), K(KP_9, 105, 33), K(KP_PERIOD, 110, 46),
    K(KP_MULTIPLY, 106, 106), K(KP_PLUS, 107, 107), K(KP_MINUS, 109, 109), K(KP_DIVIDE, 111, 111),
};
// clang-format on

void expect_key(SDL_Scancode s, SDL_Keycode key, std::uint16_t mods, int us, int japanese) {
  SCOPED_TRACE(SDL_GetScancodeName(s));
  EXPECT_EQ(virtual_key(s, key, mods, KeyLayout::us), us);
  EXPECT_EQ(virtual_key(s, key, mods, KeyLayout::japanese), japanese);
}

TEST(DesktopKeys, MappingForBothLayouts) {
  for (const Key& k : keys) expect_key(k.scancode, 0, 0, k.first, k.second);
  for (const Key& k : pad) {
    expect_key(k.scancode, 0, KMOD_NUM, k.first, k.first);
    expect_key(k.scancode, 0, 0, k.second, k.second);
  }
  // Letters follow the keymap (AZERTY's A is where Q is); digits 1-9 and
  // F1-F12 their position.
  expect_key(SDL_SCANCODE_Q, 'a', 0, 65, 65);
  for (int i = 0; i < 26; ++i) expect_key(SDL_SCANCODE_A + i, 'a' + i, 0, 65 + i, 65 + i);
  for (int i = 0; i < 9; ++i) expect_key(SDL_SCANCODE_1 + i, '1' + i, 0, 49 + i, 49 + i);
  for (int i = 0; i < 12; ++i) expect_key(SDL_SCANCODE_F1 + i, SDLK_F1 + i, 0, 112 + i, 112 + i);
}
}  // namespace
