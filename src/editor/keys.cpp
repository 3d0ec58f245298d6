// The step editor's keys: moving, stepping and typing values, inserting and
// deleting events.
#include <cstdio>
#include <cstring>

#include "editor/editor.h"
#include "editor/internal.h"
#include "host/host.h"
#include "host/screen.h"
#include "player/player.h"

using namespace editor_detail;

namespace {

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
  const bool new_measure = event_at(p)[0] == EV_SAME_MEASURE && (p == first || ends_measure(event_at(p - 4)[0]));
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
    case 10:
    case 16: cursor_column = 20; break;
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
    case 10:
    case 16: bump(ev[0], is_note(c) && (up ? c < 127 : c > 0)); break;
    case 20: {
      const bool has_step = c < 246 || c == EV_REPEAT_END || c == EV_SAME_MEASURE;
      bump(ev[1], has_step && (up ? ev[1] < 255 : ev[1] > 0));
      break;
    }
    case 24:
      bump(ev[2],
           up ? (c == EV_TEMPO && ev[2] != 255) || (has_data_bytes(c) && ev[2] < 127) : has_data_bytes(c) && ev[2] > 0);
      break;
    case 28:
      bump(ev[3],
           up ? (c == EV_TEMPO && ev[3] != 255) || (has_data_bytes(c) && ev[3] < 127) : has_data_bytes(c) && ev[3] > 0);
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
  if (is_note(c)) {
    static constexpr int NOTE_LIMITS[4] = {127, 255, 255, 127};  // columns 16, 20, 24, 28
    byte = (cursor_column - 16) / 4;                             // the note number is the code itself
    most = NOTE_LIMITS[byte];
  } else if (c == EV_SAME_MEASURE) {
    if (cursor_column == 20 && value >= 1) set_same_measure_ref(ev, static_cast<unsigned>(value - 1));
  } else if (cursor_column == 20 && (has_data_bytes(c) || c == EV_REPEAT_END)) {
    byte = 1;
    most = 255;
  } else if (cursor_column == 20 && c == EV_MUSIC_KEY) {
    byte = 1;
    most = 31;
  } else if ((cursor_column == 24 || cursor_column == 28) && has_data_bytes(c)) {
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

// The event the last input note went into, 0 for none.
std::uint32_t entered_note = 0;

}  // namespace

void forget_entered_note() { entered_note = 0; }

void enter_input_note(int note, int velocity, bool chord) {
  const std::uint32_t before = chord ? entered_note : 0;
  std::uint32_t at = 0;
  walk_pos = edit_pos;
  if (edit_mode == EDIT_INSERT_EMPTY) {
    if (!insert_note_copy()) return;
    at = edit_pos;
    walk_pos = edit_pos;
    walk_next();
    edit_pos = walk_pos;
    cursor_column = 10;
  } else {
    if (is_note(event_at(edit_pos)[0])) at = edit_pos;
    if (cursor_column == 10) cursor_column = 16;
    move_down();
  }
  if (at != 0) {
    event_at(at)[0] = static_cast<std::uint8_t>(note & 0x7F);
    event_at(at)[3] = static_cast<std::uint8_t>(velocity & 0x7F);
  }
  if (before != 0 && before < track_end(current_track) && is_note(event_at(before)[0])) event_at(before)[1] = 0;
  entered_note = at;
  recount_cursor();
}

void copy_previous_note() {
  const std::uint8_t* s = image();
  const std::uint32_t first = first_event(current_track);
  for (std::uint32_t p = walk_pos; p > first;) {
    p -= 4;
    if (is_note(s[p])) {
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
    print_at(x, y, line_buffer, ATTR_WHITE);
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
      if (edit_mode == EDIT_INSERT_EMPTY)
        cursor_column = 10;
      else
        move_down();
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
    case KEY_RIGHT:
    case KEY_SPACE:
      if (edit_mode != EDIT_INSERT_EMPTY) {
        next_field();
      } else if (insert_note_copy()) {
        edit_mode = EDIT_INSERT_FILLING;
        cursor_column = 20;
        recount_cursor();
      }
      break;
    case KEY_LEFT: previous_field(); break;
    case KEY_INS:
    case KEY_LOWER_I:
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
    case KEY_PAGE_UP: step_field(+1); break;
    case KEY_PAGE_DOWN: step_field(-1); break;
    case KEY_LOWER_N: rhythm[current_track] ^= RHYTHM_NAMES_SHOWN; break;
    default:
      if (key >= '0' && key <= '9') enter_value(key);
      break;
  }
}

void insert_special_event(std::uint8_t code, std::uint8_t byte2, std::uint8_t byte3) {
  if (!open_event_gap()) return;
  set_event(edit_pos, code, 0, byte2, byte3);
  cursor_column = 28;
  if (edit_mode == EDIT_INSERT_EMPTY) edit_mode = EDIT_INSERT_FILLING;
  find_edit_meas();
}
