// The step editor's keys: moving, stepping and typing values, inserting and
// deleting events, and the controller list.
#include <cstdio>
#include <cstring>

#include "editor/editor.h"
#include "editor/internal.h"
#include "host/host.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/screens.h"

using namespace editor_detail;

namespace {

enum : int {
  KEY_ASTERISK = 42,
  KEY_SLASH = 47,
  KEY_LEFT_BRACKET = 91,
  KEY_BACKSLASH = 92,
  KEY_RIGHT_BRACKET = 93,
  KEY_I = 105,
  KEY_N = 110,
};

std::uint8_t* event_at(std::uint32_t p) { return image() + p; }

void set_event(std::uint32_t p, int code, int step, int b2, int b3) {
  std::uint8_t* ev = event_at(p);
  ev[0] = static_cast<std::uint8_t>(code);
  ev[1] = static_cast<std::uint8_t>(step);
  ev[2] = static_cast<std::uint8_t>(b2);
  ev[3] = static_cast<std::uint8_t>(b3);
}

// The measure number of the event at p, counted from the track's start.
std::int32_t measure_at(std::uint32_t p) {
  Walk w = from_track_start();
  while (w.pos < p && event_at(w.pos)[0] != EV_END) step_next(w);
  return w.measure;
}

// Opens a one-event gap at the cursor for a new event that is not a measure
// boundary. In front of a same-measure event that begins a measure, the new
// event forms a measure of its own, so every reference from that measure on
// is moved up to keep naming the same music. False when the track is full.
bool open_event_gap() {
  const std::uint32_t p = edit_pos;
  const std::uint32_t first = first_event(current_track);
  const bool new_measure =
      event_at(p)[0] == EV_SAME_MEASURE && (p == first || is_boundary(event_at(p - 4)[0]));
  const std::int32_t k = new_measure ? measure_at(p) : 0;
  if (open_gap(p, 1) != 0) return false;
  if (new_measure) renumber_measure_refs(k, +1);
  return true;
}

void recount_cursor() {
  find_edit_meas();
  shown_track = -1;
}

// Inserts a copy of the previous note at the cursor; false when the track is full.
bool insert_note_copy() {
  walk_pos = edit_pos;
  if (!open_event_gap()) return false;
  copy_previous_note();
  return true;
}

void move_up() {
  edit_mode = EDIT_OVERWRITE;
  walk_measure = edit_meas;
  if (!key_shift) {
    walk_back();
  } else {
    walk_to_measure_start();
    walk_back();
    walk_to_measure_start();
  }
  edit_pos = walk_pos;
  edit_meas = walk_measure;
}

void move_down() {
  const bool was_filling = edit_mode == EDIT_INSERT_FILLING;
  walk_measure = edit_meas;
  if (!key_shift) {
    walk_next();
  } else {
    while (event_at(walk_pos)[0] != EV_END && walk_measure == edit_meas) walk_next();
  }
  edit_pos = walk_pos;
  edit_meas = walk_measure;
  if (event_at(edit_pos)[0] == EV_END || was_filling) {
    edit_mode = EDIT_INSERT_EMPTY;
    cursor_column = 10;
  }
}

void next_field() {
  switch (cursor_column) {
    case 10: case 16: cursor_column = 20; break;
    case 20: cursor_column = 24; break;
    case 24: cursor_column = 28; break;
    default:
      cursor_column = 10;
      move_down();
      break;
  }
}

void previous_field() {
  switch (cursor_column) {
    case 10:
      cursor_column = 28;
      move_up();
      break;
    case 16: cursor_column = 10; break;
    case 20: cursor_column = 16; break;
    case 24: cursor_column = 20; break;
    default: cursor_column = 24; break;
  }
}

// Page Up (+1) and Page Down (-1) on the field under the cursor.
// quirk: stepping stops at 127 where a typed value may reach 255.
void step_field(int delta) {
  std::uint8_t* ev = event_at(edit_pos);
  const int c = ev[0];
  const bool up = delta > 0;
  auto bump = [&](std::uint8_t& b, bool allowed) {
    if (allowed) b = static_cast<std::uint8_t>(b + delta);
  };
  switch (cursor_column) {
    case 10: case 16:
      bump(ev[0], c < 128 && (up ? c < 127 : c > 0));
      break;
    case 20: {
      const bool has_step = c < 246 || c == EV_REPEAT_END || c == EV_SAME_MEASURE;
      bump(ev[1], has_step && (up ? ev[1] < 255 : ev[1] > 0));
      break;
    }
    case 24:
      bump(ev[2], up ? (c == EV_TEMPO && ev[2] != 255) || (c < 245 && ev[2] < 127) : c < 245 && ev[2] > 0);
      break;
    case 28:
      bump(ev[3], up ? (c == EV_TEMPO && ev[3] != 255) || (c < 245 && ev[3] < 127) : c < 245 && ev[3] > 0);
      break;
  }
  shown_track = -1;
}

// A typed value into the field under the cursor, limited to what the field holds.
void store_value(int value) {
  std::uint8_t* ev = event_at(edit_pos);
  const int c = ev[0];
  auto limited = [&](int most) { return static_cast<std::uint8_t>(value > most ? most : value); };
  int byte = -1, most = 0;
  if (c < 128) {
    static constexpr int NOTE_LIMITS[4] = {127, 255, 255, 127};  // columns 16, 20, 24, 28
    byte = (cursor_column - 16) / 4;  // the note number is the code itself
    most = NOTE_LIMITS[byte];
  } else if (c == EV_SAME_MEASURE) {
    if (cursor_column == 20 && value >= 1) {
      const int m = value - 1;
      set_event(edit_pos, c, m & 255, (m >> 8) | 44, 0);
    }
  } else if (cursor_column == 20 && (c < 245 || c == EV_REPEAT_END)) {
    byte = 1;
    most = 255;
  } else if (cursor_column == 20 && c == EV_MUSIC_KEY) {
    byte = 1;
    most = 31;
  } else if ((cursor_column == 24 || cursor_column == 28) && c < 245) {
    byte = cursor_column == 24 ? 2 : 3;
    most = c == EV_TEMPO ? 255 : 127;
  }
  if (byte >= 0) ev[byte] = limited(most);
  shown_track = -1;
}

void enter_value(int digit) {
  int value = 0;
  unget_key(digit);
  if (cursor_column == 10) cursor_column = 16;
  if (!read_value(cursor_column - 2, cursor_row, 999, value, "%3d", 3)) return;
  if (edit_mode != EDIT_INSERT_EMPTY) {
    store_value(value);
    return;
  }
  const int ending = poll_key();
  if (ending != KEY_RETURN && ending != KEY_RIGHT && ending != KEY_SPACE) {
    unget_key(ending);
    return;
  }
  if (!insert_note_copy()) return;
  event_at(edit_pos)[0] = static_cast<std::uint8_t>(value > 127 ? 127 : value);
  if (ending == KEY_RETURN) {
    walk_pos = edit_pos;
    walk_next();
    edit_pos = walk_pos;
    cursor_column = 10;
  } else {
    edit_mode = EDIT_INSERT_FILLING;
    cursor_column = 20;
  }
  recount_cursor();
}

}  // namespace

void copy_previous_note() {
  const std::uint8_t* s = image();
  const std::uint32_t first = first_event(current_track);
  for (std::uint32_t p = walk_pos; p > first;) {
    p -= 4;
    if (s[p] < 128) {
      std::memcpy(event_at(walk_pos), s + p, 4);
      return;
    }
  }
  set_event(walk_pos, 60, 24, 20, 64);
}

bool read_value(int x, int y, int maximum, int& value, const char* format, int width) {
  int v = value;
  bool typed = false;
  int k = 0;
  for (;;) {
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, format, v);
    print_at(x, y, line_buffer, 7);
    set_cursor(x + width - 1, y);
    present();
    k = get_key();
    if (k >= '0' && k <= '9') {
      v = typed ? v * 10 + (k - '0') : k - '0';
      if (v > maximum) v %= maximum + 1;
      typed = true;
    } else if (k == KEY_DEL) {
      v /= 10;
    } else {
      break;
    }
  }
  const bool accepted = (k >= KEY_RIGHT && k <= KEY_DOWN) || k == KEY_RETURN || k == KEY_SPACE;
  if (accepted) value = v;
  set_cursor(-1, -1);
  unget_key(k);
  return accepted;
}

void handle_edit_key(int key) {
  walk_pos = edit_pos;
  switch (key) {
    case KEY_UP: move_up(); break;
    case KEY_DOWN:
      if (edit_mode == EDIT_INSERT_EMPTY) cursor_column = 10;
      else move_down();
      break;
    case KEY_RETURN:
      if (edit_mode != EDIT_INSERT_EMPTY) {
        move_down();
      } else if (insert_note_copy()) {
        walk_next();
        edit_pos = walk_pos;
        recount_cursor();
      }
      break;
    case KEY_RIGHT: case KEY_SPACE:
      if (edit_mode != EDIT_INSERT_EMPTY) {
        next_field();
      } else if (insert_note_copy()) {
        edit_mode = EDIT_INSERT_FILLING;
        cursor_column = 20;
        recount_cursor();
      }
      break;
    case KEY_LEFT: previous_field(); break;
    case KEY_INS: case KEY_I:
      edit_mode = EDIT_INSERT_EMPTY;
      cursor_column = 10;
      shown_track = -1;
      break;
    case KEY_CTRL_K:
      delete_event(edit_pos, edit_meas);
      shown_track = -1;
      break;
    case KEY_ASTERISK:
      insert_measure_end(edit_pos, edit_meas);
      shown_track = -1;
      break;
    case KEY_BACKSLASH:
      if (insert_same_measure(edit_pos, edit_meas) == 0) {
        cursor_column = 20;
        if (edit_mode == EDIT_INSERT_EMPTY) edit_mode = EDIT_INSERT_FILLING;
      }
      shown_track = -1;
      break;
    case KEY_LEFT_BRACKET:
      if (open_event_gap()) {
        set_event(edit_pos, EV_REPEAT_START, 0, 0, 0);
        walk_pos = edit_pos;
        walk_next();
        edit_pos = walk_pos;
        recount_cursor();
      }
      break;
    case KEY_RIGHT_BRACKET:
      if (open_event_gap()) {
        set_event(edit_pos, EV_REPEAT_END, 2, 0, 0);
        cursor_column = 20;
        if (edit_mode == EDIT_INSERT_EMPTY) edit_mode = EDIT_INSERT_FILLING;
        recount_cursor();
      }
      break;
    case KEY_SLASH: special_controller_menu(); break;
    case KEY_PAGE_UP: step_field(+1); break;
    case KEY_PAGE_DOWN: step_field(-1); break;
    case KEY_N: rhythm[current_track] ^= 0x80; break;
    default:
      if (key >= '0' && key <= '9') enter_value(key);
      break;
  }
}

// --- The controller list ---

namespace {

struct ControllerEntry {
  const char* label;  // 35 characters
  char hotkey;        // ' ' for none
  std::uint8_t code, byte2, byte3;
};

constexpr int CONTROLLER_COUNT = 40;
constexpr int CONTROLLER_PAGE = 20;
const ControllerEntry CONTROLLERS[CONTROLLER_COUNT] = {
    {" PG.BANK : PROGRAM BANK MSB  ( 0)[ ", ' ', 235, 0, 0},
    {" PG.BANK : PROGRAM BANK LSB  (32)[ ", ' ', 235, 32, 0},
    {" MODULAT : MODULATION        ( 1)[5", '5', 235, 1, 0},
    {" PORTA T : PORTAMENT TIME    ( 5)[ ", ' ', 235, 5, 0},
    {" VOLUME  : VOLUME            ( 7)[6", '6', 235, 7, 0},
    {" PANPOT  : PANPOT            (10)[7", '7', 235, 10, 0},
    {" EXPRESS : EXPRESSION        (11)[8", '8', 235, 11, 0},
    {" PEDAL   : DAMPER PEDAL      (64)[9", '9', 235, 64, 0},
    {" PORTAM  : PORTAMENT         (65)[ ", ' ', 235, 65, 0},
    {" SOSTEN  : SOSTENUTE         (66)[ ", ' ', 235, 66, 0},
    {" SOFT    : SOFT PEDAL        (67)[ ", ' ', 235, 67, 0},
    {" LEGART  : LEGART            (84)[ ", ' ', 235, 84, 0},
    {" REVERB  : REVERB SEND LEVEL (91)[ ", ' ', 235, 91, 0},
    {" CHORUS  : CHORUS SEND LEVEL (93)[ ", ' ', 235, 93, 0},
    {" NRPN(L) : NRPN LSB          (98)[ ", ' ', 235, 98, 0},
    {" NRPN(M) : NRPN MSB          (99)[ ", ' ', 235, 99, 0},
    {" DATA(M) : DATA ENTRY MSB    ( 6)[ ", ' ', 235, 6, 0},
    {" DATA(L) : DATA ENTRY LSB    (38)[ ", ' ', 235, 38, 0},
    {" RPN (L) : RPN  LSB         (100)[ ", ' ', 235, 100, 0},
    {" RPN (M) : RPN  MSB         (101)[ ", ' ', 235, 101, 0},
    {" PITCH   : PITCH BEND CHANGE     [P", 'P', 238, 0, 64},
    {" PROGRAM : PROGRAM CHANGE        [G", 'G', 236, 0, 0},
    {" BankPrg : PROGRAM BANK CHANGE   [O", 'O', 226, 0, 0},
    {" TEMPO   : RELATIVE TEMPO CHANGE [T", 'T', 231, 64, 0},
    {" CONTROL : CONTROL CHANGE        [L", 'L', 235, 68, 0},
    {" AFTER C.: AFTER TOUCH(CH.)      [C", 'C', 234, 64, 0},
    {" AFTER K.: AFTER TOUCH(POLY)     [K", 'K', 237, 60, 64},
    {" MIDI CH.: MIDI CHANNEL CHANGE   [M", 'M', 230, 1, 0},
    {" UsrExc0 : USER EXCLUSIVE 0      [ ", ' ', 144, 0, 0},
    {" UsrExc1 : USER EXCLUSIVE 1      [ ", ' ', 145, 0, 0},
    {" UsrExc2 : USER EXCLUSIVE 2      [ ", ' ', 146, 0, 0},
    {" UsrExc3 : USER EXCLUSIVE 3      [ ", ' ', 147, 0, 0},
    {" UsrExc4 : USER EXCLUSIVE 4      [ ", ' ', 148, 0, 0},
    {" UsrExc5 : USER EXCLUSIVE 5      [ ", ' ', 149, 0, 0},
    {" UsrExc6 : USER EXCLUSIVE 6      [ ", ' ', 150, 0, 0},
    {" UsrExc7 : USER EXCLUSIVE 7      [ ", ' ', 151, 0, 0},
    {" RolBase : Roland BASE ADD.      [0", '0', 221, 16, 0},
    {" RolDev# : Roland Dev# & Model ID[2", '2', 223, 16, 22},
    {" RolPara : Roland ADD & PARAMETER[1", '1', 222, 0, 0},
    {" KeyScan : Key Scan Data         [ ", ' ', 229, 0, 0},
};

void show_controller_page() {
  const int first = special_choice < CONTROLLER_PAGE ? 0 : CONTROLLER_PAGE;
  for (int i = 0; i < CONTROLLER_PAGE; ++i) {
    const int attr = first + i == special_choice ? 15 : 7;
    print_at(30, 4 + i, CONTROLLERS[first + i].label, attr);
    print_at(65, 4 + i, "]              ", attr);
  }
  print_at(10, cursor_row, "SPECIAL CONTROLLER ", 7);
  present();
}

void insert_controller(const ControllerEntry& e) {
  if (open_event_gap()) {
    set_event(edit_pos, e.code, 0, e.byte2, e.byte3);
    cursor_column = 28;
    if (edit_mode == EDIT_INSERT_EMPTY) edit_mode = EDIT_INSERT_FILLING;
    find_edit_meas();
  }
  paint_screen();
  shown_track = -1;
}

}  // namespace

void special_controller_menu() {
  set_pen(15, 0);
  fill_rect(242, 49, 639, 64);
  for (;;) {
    show_controller_page();
    const int k = get_key();
    if (k == KEY_ESC) {
      paint_screen();
      shown_track = -1;
      return;
    }
    if (k == KEY_RETURN) break;
    int hit = -1;
    for (int i = 0; i < CONTROLLER_COUNT && k != KEY_SPACE; ++i) {
      if (CONTROLLERS[i].hotkey == k) {
        hit = i;
        break;
      }
    }
    if (hit >= 0) {
      special_choice = hit;
      break;
    }
    if (k == KEY_UP) special_choice = (special_choice + CONTROLLER_COUNT - 1) % CONTROLLER_COUNT;
    if (k == KEY_DOWN) special_choice = (special_choice + 1) % CONTROLLER_COUNT;
  }
  insert_controller(CONTROLLERS[special_choice]);
}
