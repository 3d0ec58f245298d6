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

// Outside the letters the keymap's key plays no part; the punctuation keys
// go by position, where the layouts differ (yen, half-width/full-width,
// Convert, Non-convert).
const Key keys[] = {
    {SDL_SCANCODE_0, 48, 48},
    {SDL_SCANCODE_F13, 124, 124},
    {SDL_SCANCODE_BACKSPACE, 8, 8},
    {SDL_SCANCODE_TAB, 9, 9},
    {SDL_SCANCODE_RETURN, 13, 13},
    {SDL_SCANCODE_KP_ENTER, 13, 13},
    {SDL_SCANCODE_ESCAPE, 27, 27},
    {SDL_SCANCODE_SPACE, 32, 32},
    {SDL_SCANCODE_PAGEUP, 33, 33},
    {SDL_SCANCODE_PAGEDOWN, 34, 34},
    {SDL_SCANCODE_END, 35, 35},
    {SDL_SCANCODE_HOME, 36, 36},
    {SDL_SCANCODE_LEFT, 37, 37},
    {SDL_SCANCODE_UP, 38, 38},
    {SDL_SCANCODE_RIGHT, 39, 39},
    {SDL_SCANCODE_DOWN, 40, 40},
    {SDL_SCANCODE_INSERT, 45, 45},
    {SDL_SCANCODE_DELETE, 46, 46},
    {SDL_SCANCODE_LSHIFT, 16, 16},
    {SDL_SCANCODE_RSHIFT, 16, 16},
    {SDL_SCANCODE_LCTRL, 17, 17},
    {SDL_SCANCODE_RCTRL, 17, 17},
    {SDL_SCANCODE_LGUI, 91, 91},
    {SDL_SCANCODE_MUTE, 0, 0},
    {SDL_SCANCODE_SEMICOLON, 186, 187},
    {SDL_SCANCODE_APOSTROPHE, 222, 186},
    {SDL_SCANCODE_EQUALS, 187, 222},
    {SDL_SCANCODE_MINUS, 189, 189},
    {SDL_SCANCODE_COMMA, 188, 188},
    {SDL_SCANCODE_PERIOD, 190, 190},
    {SDL_SCANCODE_SLASH, 191, 191},
    {SDL_SCANCODE_GRAVE, 192, 243},
    {SDL_SCANCODE_LEFTBRACKET, 219, 192},
    {SDL_SCANCODE_RIGHTBRACKET, 221, 219},
    {SDL_SCANCODE_BACKSLASH, 220, 221},
    {SDL_SCANCODE_NONUSHASH, 220, 221},
    {SDL_SCANCODE_INTERNATIONAL3, 220, 220},
    {SDL_SCANCODE_INTERNATIONAL1, 226, 226},
    {SDL_SCANCODE_NONUSBACKSLASH, 226, 226},
    {SDL_SCANCODE_INTERNATIONAL4, 28, 28},
    {SDL_SCANCODE_INTERNATIONAL5, 29, 29},
};
// The pad: 5 is Clear without Num Lock; the operators ignore it.
const Key pad[] = {
    {SDL_SCANCODE_KP_0, 96, 45},      {SDL_SCANCODE_KP_1, 97, 35},       {SDL_SCANCODE_KP_2, 98, 40},
    {SDL_SCANCODE_KP_3, 99, 34},      {SDL_SCANCODE_KP_4, 100, 37},      {SDL_SCANCODE_KP_5, 101, 12},
    {SDL_SCANCODE_KP_6, 102, 39},     {SDL_SCANCODE_KP_7, 103, 36},      {SDL_SCANCODE_KP_8, 104, 38},
    {SDL_SCANCODE_KP_9, 105, 33},     {SDL_SCANCODE_KP_PERIOD, 110, 46}, {SDL_SCANCODE_KP_MULTIPLY, 106, 106},
    {SDL_SCANCODE_KP_PLUS, 107, 107}, {SDL_SCANCODE_KP_MINUS, 109, 109}, {SDL_SCANCODE_KP_DIVIDE, 111, 111},
};

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
