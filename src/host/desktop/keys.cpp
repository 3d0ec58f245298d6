// SDL key events become the Windows virtual keys that the same physical key
// gives on Windows with the user's layout, so that the core's translation
// works on them unchanged.
#include <SDL2/SDL_keyboard.h>

#include "host/desktop/desktop.h"

namespace {
struct KeyPair {
  SDL_Scancode scancode;
  int vk;
};

// Keys whose virtual key does not depend on the layout or Num Lock.
constexpr KeyPair fixed_keys[] = {
    {SDL_SCANCODE_BACKSPACE, 8},      {SDL_SCANCODE_TAB, 9},           {SDL_SCANCODE_CLEAR, 12},
    {SDL_SCANCODE_RETURN, 13},        {SDL_SCANCODE_KP_ENTER, 13},     {SDL_SCANCODE_LSHIFT, 16},
    {SDL_SCANCODE_RSHIFT, 16},        {SDL_SCANCODE_LCTRL, 17},        {SDL_SCANCODE_RCTRL, 17},
    {SDL_SCANCODE_LALT, 18},          {SDL_SCANCODE_RALT, 18},         {SDL_SCANCODE_PAUSE, 19},
    {SDL_SCANCODE_CAPSLOCK, 20},      {SDL_SCANCODE_ESCAPE, 27},       {SDL_SCANCODE_SPACE, 32},
    {SDL_SCANCODE_PAGEUP, 33},        {SDL_SCANCODE_PAGEDOWN, 34},     {SDL_SCANCODE_END, 35},
    {SDL_SCANCODE_HOME, 36},          {SDL_SCANCODE_LEFT, 37},         {SDL_SCANCODE_UP, 38},
    {SDL_SCANCODE_RIGHT, 39},         {SDL_SCANCODE_DOWN, 40},         {SDL_SCANCODE_PRINTSCREEN, 44},
    {SDL_SCANCODE_INSERT, 45},        {SDL_SCANCODE_DELETE, 46},       {SDL_SCANCODE_HELP, 47},
    {SDL_SCANCODE_LGUI, 91},          {SDL_SCANCODE_RGUI, 92},         {SDL_SCANCODE_APPLICATION, 93},
    {SDL_SCANCODE_SLEEP, 95},         {SDL_SCANCODE_KP_MULTIPLY, 106}, {SDL_SCANCODE_KP_PLUS, 107},
    {SDL_SCANCODE_KP_COMMA, 108},     {SDL_SCANCODE_KP_MINUS, 109},    {SDL_SCANCODE_KP_DIVIDE, 111},
    {SDL_SCANCODE_NUMLOCKCLEAR, 144}, {SDL_SCANCODE_SCROLLLOCK, 145},
};

// Numeric pad: the virtual key with Num Lock on, and off.
struct PadKey {
  SDL_Scancode scancode;
  int on, off;
};
constexpr PadKey pad_keys[] = {
    {SDL_SCANCODE_KP_0, 96, 45},  {SDL_SCANCODE_KP_1, 97, 35},       {SDL_SCANCODE_KP_2, 98, 40},
    {SDL_SCANCODE_KP_3, 99, 34},  {SDL_SCANCODE_KP_4, 100, 37},      {SDL_SCANCODE_KP_5, 101, 12},
    {SDL_SCANCODE_KP_6, 102, 39}, {SDL_SCANCODE_KP_7, 103, 36},      {SDL_SCANCODE_KP_8, 104, 38},
    {SDL_SCANCODE_KP_9, 105, 33}, {SDL_SCANCODE_KP_PERIOD, 110, 46},
};

// The punctuation keys by position: a US keyboard, and a Japanese 106/109-key
// one (whose extra keys also appear here).
constexpr KeyPair us_punctuation[] = {
    {SDL_SCANCODE_SEMICOLON, 186},      {SDL_SCANCODE_EQUALS, 187},         {SDL_SCANCODE_COMMA, 188},
    {SDL_SCANCODE_MINUS, 189},          {SDL_SCANCODE_PERIOD, 190},         {SDL_SCANCODE_SLASH, 191},
    {SDL_SCANCODE_GRAVE, 192},          {SDL_SCANCODE_LEFTBRACKET, 219},    {SDL_SCANCODE_BACKSLASH, 220},
    {SDL_SCANCODE_RIGHTBRACKET, 221},   {SDL_SCANCODE_APOSTROPHE, 222},     {SDL_SCANCODE_NONUSHASH, 220},
    {SDL_SCANCODE_NONUSBACKSLASH, 226}, {SDL_SCANCODE_INTERNATIONAL1, 226}, {SDL_SCANCODE_INTERNATIONAL3, 220},
    {SDL_SCANCODE_INTERNATIONAL4, 28},  {SDL_SCANCODE_INTERNATIONAL5, 29},
};
constexpr KeyPair japanese_punctuation[] = {
    {SDL_SCANCODE_APOSTROPHE, 186},
    {SDL_SCANCODE_SEMICOLON, 187},
    {SDL_SCANCODE_COMMA, 188},
    {SDL_SCANCODE_MINUS, 189},
    {SDL_SCANCODE_PERIOD, 190},
    {SDL_SCANCODE_SLASH, 191},
    {SDL_SCANCODE_LEFTBRACKET, 192},
    {SDL_SCANCODE_RIGHTBRACKET, 219},
    {SDL_SCANCODE_EQUALS, 222},
    {SDL_SCANCODE_INTERNATIONAL3, 220},
    {SDL_SCANCODE_BACKSLASH, 221},
    {SDL_SCANCODE_NONUSHASH, 221},
    {SDL_SCANCODE_INTERNATIONAL1, 226},
    {SDL_SCANCODE_NONUSBACKSLASH, 226},
    {SDL_SCANCODE_INTERNATIONAL4, 28},
    {SDL_SCANCODE_INTERNATIONAL5, 29},
    // Half-width/full-width: Windows reports its own key, which gives nothing here.
    {SDL_SCANCODE_GRAVE, 243},
};

template <std::size_t N>
int find(const KeyPair (&table)[N], SDL_Scancode scancode) {
  for (const KeyPair& k : table) {
    if (k.scancode == scancode) return k.vk;
  }
  return 0;
}
}  // namespace

KeyLayout keyboard_layout() {
  // The key right of P gives the at sign on a Japanese keymap.
  return SDL_GetKeyFromScancode(SDL_SCANCODE_LEFTBRACKET) == '@' ? KeyLayout::japanese : KeyLayout::us;
}

int virtual_key(SDL_Scancode scancode, SDL_Keycode key, std::uint16_t mods, KeyLayout layout) {
  // Letters follow the keymap (as Windows does on AZERTY or Dvorak), the
  // digit row its position.
  if (key >= 'a' && key <= 'z' && scancode < SDL_SCANCODE_KP_DIVIDE) return 'A' + (key - 'a');
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return 'A' + (scancode - SDL_SCANCODE_A);
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return '1' + (scancode - SDL_SCANCODE_1);
  if (scancode == SDL_SCANCODE_0) return '0';
  if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) return 112 + (scancode - SDL_SCANCODE_F1);
  if (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24) return 124 + (scancode - SDL_SCANCODE_F13);
  for (const PadKey& k : pad_keys) {
    if (k.scancode == scancode) return (mods & KMOD_NUM) ? k.on : k.off;
  }
  if (int vk = find(fixed_keys, scancode)) return vk;
  return layout == KeyLayout::japanese ? find(japanese_punctuation, scancode) : find(us_punctuation, scancode);
}
