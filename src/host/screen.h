// The portable half of the host layer: the 80 x 25 text screen and its
// 640 x 400 picture, the key translation and key queue, and the bit-plane
// pixel primitives. The screens draw only through these.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Text screen

constexpr int SCREEN_COLUMNS = 80;
constexpr int SCREEN_ROWS = 25;
constexpr int SCREEN_CELLS = SCREEN_COLUMNS * SCREEN_ROWS;  // 2000
constexpr int PICTURE_WIDTH = 640;
constexpr int PICTURE_HEIGHT = 400;
constexpr std::size_t PICTURE_SIZE = 256000;  // bytes, one colour-table index each

// Attribute bits. The colour is bits 0-2: 0 black, 1 blue, 2 red, 3 magenta,
// 4 green, 5 cyan, 6 yellow, 7 white.
constexpr std::uint8_t ATTR_BLUE = 1;
constexpr std::uint8_t ATTR_RED = 2;
constexpr std::uint8_t ATTR_GREEN = 4;
constexpr std::uint8_t ATTR_COLOUR = 7;
constexpr std::uint8_t ATTR_REVERSE = 8;
constexpr std::uint8_t ATTR_UNDERLINE = 16;
constexpr std::uint8_t ATTR_TRAIL = 32;  // kept by print_at, ignored when drawing

// The attributes the screens use: a colour, on its own or in reverse (black
// text on that colour).
enum : int {
  ATTR_CYAN = 5,
  ATTR_YELLOW = 6,
  ATTR_WHITE = 7,
  ATTR_REVERSE_BLUE = 9,
  ATTR_REVERSE_RED = 10,
  ATTR_REVERSE_MAGENTA = 11,
  ATTR_REVERSE_GREEN = 12,
  ATTR_REVERSE_CYAN = 13,
  ATTR_REVERSE_YELLOW = 14,
  ATTR_REVERSE_WHITE = 15,
  ATTR_WHITE_UNDERLINED = 23,
};

// A Shift-JIS byte that starts a double-byte character.
inline bool is_lead_byte(std::uint8_t b) { return (b >= 0x80 && b <= 0x9F) || b >= 0xE0; }

// The character and attribute planes (cell (x, y) is element y * 80 + x, the
// plane runs on linearly from (79, y) to (0, y + 1)) and the cursor. Written
// by the application thread; the blink phase by the window thread. All access
// from outside goes through the operations below, which hold the screen lock.
struct TextScreen {
  std::uint8_t chars[SCREEN_CELLS];
  std::uint8_t attrs[SCREEN_CELLS];
  int cursor_x;  // -1: no cursor shown
  int cursor_y;
  int blink_phase;  // 1: the cursor cell is shown with its reverse bit inverted
};
extern TextScreen text_screen;

// The picture: 640 x 400 colour-table indices, rows stored bottom-up, so pixel
// (px, py) with py from the top is screen_bitmap[(399 - py) * 640 + px]. Points
// at the program's own buffer; a backend whose platform owns the pixel memory
// may point it there during set-up, before any other thread runs.
extern std::uint8_t* screen_bitmap;

// The 16-entry colour table, (red, green, blue).
extern const std::uint8_t colour_table[16][3];

// The colour-table index that text of attribute colour c (0..7) lands as: the
// lowest index whose table colour is that colour.
int text_colour_index(int colour);

// Puts the text screen in its starting state: planes 0, no cursor, phase 0, an
// all-black picture. Called by the backend's set-up (and by tests).
void init_text_screen();

// Draws text (zero-terminated Shift-JIS) at cell (x, y) and stores its bytes
// and attributes into the planes. Never writes outside the planes or picture.
void print_at(int x, int y, const char* text, int attr);
// Moves the cursor to cell (x, y); x = -1 hides it.
void set_cursor(int x, int y);
// One blink step (window thread).
void blink_cursor();
// Copies the whole picture to the window.
void present();
// Sets all 256,000 picture bytes to 0; the planes are kept.
void clear_picture();

// ---------------------------------------------------------------------------
// Keys

// Virtual keys with a meaning of their own here.
constexpr int VK_SHIFT_KEY = 16;
constexpr int VK_CONTROL_KEY = 17;
// With Alt, and F11 alone, they switch the window to full screen and back.
constexpr int VK_RETURN_KEY = 13;
constexpr int VK_F11_KEY = 122;

// Key codes the screens react to (the code in bits 0-7 of a key value). The
// command menu reads letters as they come (upper case); the play monitor and
// the edit screen fold them to lower case first.
enum : int {
  KEY_DEL = 7,
  KEY_CTRL_K = 11,
  KEY_HOME = 12,  // also Clear
  KEY_RETURN = 13,
  KEY_INS = 18,
  KEY_SHIFT_HOME = 23,
  KEY_PAGE_UP = 25,
  KEY_PAGE_DOWN = 26,
  KEY_ESC = 27,
  KEY_RIGHT = 28,
  KEY_LEFT = 29,
  KEY_UP = 30,
  KEY_DOWN = 31,
  KEY_SPACE = 32,
  KEY_ASTERISK = 42,
  KEY_PLUS = 43,
  KEY_MINUS = 45,
  KEY_SLASH = 47,
  KEY_EQUALS = 61,
  KEY_L = 76,
  KEY_P = 80,
  KEY_Q = 81,
  KEY_S = 83,
  KEY_LEFT_BRACKET = 91,
  KEY_BACKSLASH = 92,  // the yen key too
  KEY_RIGHT_BRACKET = 93,
  KEY_LOWER_I = 105,
  KEY_LOWER_N = 110,
  KEY_LOWER_P = 112,
};

constexpr int KEY_QUEUE_SLOTS = 32;  // holds at most 31 keys
constexpr int KEY_SHIFT_BIT = 256;

// Single-producer (window thread), single-consumer (application thread) ring.
// The writer fills a slot before publishing the write index; the reader takes
// a slot before publishing the read index. Both indices are kept reduced.
struct KeyQueue {
  int slots[KEY_QUEUE_SLOTS];
  std::atomic<int> write_index;
  std::atomic<int> read_index;
  int pushed_back;  // application thread only; 0 when empty
};
extern KeyQueue key_queue;

// Modifier flags, window thread only.
extern int shift_state;
extern int ctrl_state;

// The key code (1..255) that virtual key vk gives with the modifiers held, or 0
// when it gives nothing. The Shift bit is not included.
int translate_key(int vk, int shift, int ctrl);

void on_key_down(int vk);  // window thread
void on_key_up(int vk);    // window thread
int poll_key();            // application thread; 0 when no key waits
int get_key();             // application thread; waits, polling every 1 ms
void unget_key(int key);   // application thread

// Empties the queue and clears the modifiers (start-up and tests).
void reset_keys();

// ---------------------------------------------------------------------------
// Pixel primitives (application thread)

// A pen operation turns pixel p into (p & and_mask) | or_value.
struct Pen {
  std::uint8_t and_mask;
  std::uint8_t or_value;
};
extern Pen pen;

void set_pen(int planes, int colour);
void draw_hline(int x1, int x2, int y);
void draw_vline(int x, int y1, int y2);
void fill_rect(int x1, int y1, int x2, int y2);
void invert_column(int x);  // XOR 7 on rows 49..381
void draw_glyph(int x, int y, int n);

constexpr int GLYPH_COUNT = 3;
constexpr int GLYPH_ROWS = 5;
extern const std::uint8_t glyph_table[GLYPH_COUNT][GLYPH_ROWS];
