// The event list: the text of every event and the 20 rows around the cursor.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "editor/editor.h"
#include "editor/internal.h"
#include "host/screen.h"
#include "player/player.h"

using namespace editor_detail;

namespace {

constexpr int LIST_ROWS = 20;
constexpr int LIST_FIRST_ROW = 4;
constexpr int ROW_WIDTH = 30;
constexpr int TEXT_COLUMN = 10;  // event texts fill columns 10-29

const char* controller_label(int number) {
  switch (number) {
    case 0:
    case 32: return "PG.BANK";
    case 1: return "MODULAT";
    case 5: return "PORTA T";
    case 6: return "DATA(M)";
    case 7: return "VOLUME ";
    case 10: return "PANPOT ";
    case 11: return "EXPRESS";
    case 38: return "DATA(L)";
    case 64: return "PEDAL  ";
    case 65: return "PORTAM ";
    case 66: return "SOSTEN ";
    case 67: return "SOFT   ";
    case 84: return "LEGART ";
    case 91: return "REVERB ";
    case 93: return "CHORUS ";
    case 98: return "NRPN(L)";
    case 99: return "NRPN(M)";
    case 100: return "RPN (L)";
    case 101: return "RPN (M)";
    case 120: return "AlSndOf";
    case 121: return "RstAlCt";
    case 122: return "LoclCnt";
    case 123: return "AlNtOff";
    default: return "CONTROL";
  }
}

// Formats into line_buffer from column `column` on.
void put(int column, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(line_buffer + column, LINE_BUFFER_SIZE - column, format, args);
  va_end(args);
}

void put_bytes(int column, const void* bytes, int n) { std::memcpy(line_buffer + column, bytes, n); }

void fill_row(int from, int to) { std::memset(line_buffer + from, ' ', to - from); }

bool rhythm_names_on(int note) { return (rhythm[current_track] & RHYTHM_NAMES_SHOWN) != 0 && drum_map[note] != 0; }

// The 20 text bytes of a comment: byte2 and byte3 of it and of the nine
// events after it, never past the track's end event.
void put_comment(std::uint32_t at) {
  const std::uint8_t* s = image();
  const std::uint32_t end = track_end(current_track) - 4;
  for (int i = 0; i < 10; ++i) {
    const std::uint32_t ev = at + 4 * i;
    const bool inside = ev < end;
    line_buffer[TEXT_COLUMN + 2 * i] = inside ? static_cast<char>(s[ev + 2]) : ' ';
    line_buffer[TEXT_COLUMN + 2 * i + 1] = inside ? static_cast<char>(s[ev + 3]) : ' ';
  }
  line_buffer[ROW_WIDTH] = 0;
  // Only the row's own text is clipped, whatever earlier rows left before it.
  clip_tail(line_buffer + TEXT_COLUMN);
}

void format_note(int a, const char* st, int g, int v) {
  if (g == 0 || v == 0) {
    put(TEXT_COLUMN, "    %3d %3s %3d %3d ", a, st, g, v);
  } else if (rhythm_names_on(a)) {
    put_bytes(TEXT_COLUMN, image() + drum_map[a], 7);
    put(17, " %3s %3d ..%1d ", st, g, v == 127 ? 9 : (v + 13) / 14);
  } else {
    put_bytes(TEXT_COLUMN, NOTE_NAMES + 2 * (a % 12), 2);
    if (a < 12) {
      put_bytes(12, "-1", 2);
    } else {
      line_buffer[12] = static_cast<char>('0' + a / 12 - 1);
      line_buffer[13] = ' ';
    }
    put(14, "%3d %3s %3d %3d ", a, st, g, v);
  }
}

void format_channel_change(const char* st, int g) {
  put(TEXT_COLUMN, "MIDI CH.%3s ", st);
  if (g == 0 || g > 32) {
    put(22, "OFF     ");
  } else {
    line_buffer[22] = g <= 16 ? 'M' : 'R';
    put(23, "%2d     ", g <= 16 ? g : g - 16);
  }
}

void format_music_key(int s) {
  put(TEXT_COLUMN, "Music Key ");
  put_bytes(20, key_name(static_cast<std::uint8_t>(s)), 2);
  put(22, (s & 31) < 16 ? "MAJOR   " : "minor   ");
}

}  // namespace

void format_event() {
  const std::uint8_t* ev = image() + walk_pos;
  const int a = ev[0], s = ev[1], g = ev[2], v = ev[3];
  char st[4] = "   ";
  if (s != 0) std::snprintf(st, sizeof st, "%3d", s);
  if (is_note(a)) {
    format_note(a, st, g, v);
  } else if (is_user_exclusive(a)) {
    put(TEXT_COLUMN, "UsrExc%1d %3s %3d %3d ", a - EV_USER_EXCL0, st, g, v);
  } else {
    switch (a) {
      case EV_TRACK_EXCL: put(TEXT_COLUMN, "Tr.Excl %3s %3d %3d ", st, g, v); break;
      case EV_ROL_BASE: put(TEXT_COLUMN, "RolBase %3s %3d %3d ", st, g, v); break;
      case EV_ROL_PARA: put(TEXT_COLUMN, "RolPara %3s %3d %3d ", st, g, v); break;
      case EV_ROL_DEV: put(TEXT_COLUMN, "RolDev# %3s %3d %3d ", st, g, v); break;
      case EV_BANK_PRG: put(TEXT_COLUMN, "BankPrg %3s %3d %3d ", st, g, v); break;
      case EV_KEY_SCAN: put(TEXT_COLUMN, "KeyScan %3s %3d     ", st, g); break;
      case EV_MIDI_CH: format_channel_change(st, g); break;
      case EV_TEMPO: put(TEXT_COLUMN, "TEMPO   %3s %3d %3d ", st, g, v); break;
      case EV_AFTER_C: put(TEXT_COLUMN, "AFTER C.%3s %3d     ", st, g); break;
      case EV_CONTROL:
        put_bytes(TEXT_COLUMN, controller_label(g), 7);
        put(17, " %3s %3d %3d ", st, g, v);
        break;
      case EV_PROGRAM: put(TEXT_COLUMN, "PROGRAM %3s %3d     ", st, g); break;
      case EV_AFTER_K: put(TEXT_COLUMN, "AFTER K.%3s %3d %3d ", st, g, v); break;
      case EV_PITCH: {
        const int w = g + 128 * v - 8192;
        if (w >= 0)
          put(TEXT_COLUMN, "PITCH   %3s    %4d ", st, w);
        else
          put(TEXT_COLUMN, "PITCH   %3s   -%4d ", st, -w);
        break;
      }
      case EV_MUSIC_KEY: format_music_key(s); break;
      case EV_COMMENT: put_comment(walk_pos); break;
      case EV_REPEAT_END: put(TEXT_COLUMN, "     ]  %3d         ", s); break;
      case EV_REPEAT_START: put(TEXT_COLUMN, "     [              "); break;
      case EV_SAME_MEASURE: put(TEXT_COLUMN, "========%3d ======= ", same_measure_ref(ev) + 1); break;
      // 19 characters; the row's last column is padded so no older text shows there.
      case EV_MEASURE_END:
        put(TEXT_COLUMN, "------ %4d ------- ", walk_total);
        fill_row(29, 30);
        break;
      case EV_END: fill_row(0, ROW_WIDTH); break;
      default: put(TEXT_COLUMN, "*** UNKNOWN ******* "); break;
    }
  }
  line_buffer[ROW_WIDTH] = 0;
}

void draw_track_counts() {
  const int used = (static_cast<int>(track_length(current_track)) - 48) / 4;
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%6d", used);
  print_at(17, 0, line_buffer, ATTR_REVERSE_CYAN);
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%6d", MAX_TRACK_EVENTS - used);
  print_at(5, 0, line_buffer, ATTR_REVERSE_CYAN);
}

namespace {

void draw_header_fields() {
  const int t = current_track;
  std::memcpy(line_buffer, image() + start[t] + TRACK_MEMO, ROW_WIDTH);
  line_buffer[ROW_WIDTH] = 0;
  clip_double_byte_tail();
  print_at(0, 1, line_buffer, ATTR_YELLOW);
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%2d", t + 1);
  // A track muted in the track monitor (only enhanced mode mutes) shows it.
  const bool muted_here = screen_mode.load() == MODE_TRACK_MONITOR && muted[t].load(std::memory_order_relaxed);
  print_at(4, 2, line_buffer, muted_here ? ATTR_REVERSE_MAGENTA : ATTR_WHITE);
  draw_track_counts();
}

// Where the player stands in the current track: the calling same-measure
// event while a called measure plays, else the event most recently started.
void follow_player() {
  const int t = current_track;
  const std::uint32_t called = return_position[t].load(std::memory_order_relaxed);
  if (called != 0) {
    edit_pos = called;
  } else {
    Walk w{position[t].load(std::memory_order_relaxed), 0, 1, 0};
    if (!ended[t].load(std::memory_order_relaxed)) step_back(w);
    edit_pos = w.pos;
  }
  edit_meas = measure[t].load(std::memory_order_relaxed);
}

// Puts the walker on the list's first row.
void find_first_row(bool following) {
  const std::uint32_t cursor = edit_pos;
  Walk w{cursor, edit_meas, 1, 0};
  auto back = [&](int n) {
    for (int i = 0; i < n; ++i) step_back(w);
  };
  if (following) {
    back(10);
  } else if (cursor >= window_top) {
    // The window stays while the cursor is on one of its 20 rows.
    int moves = 0;
    while (w.pos != window_top && moves < LIST_ROWS - 1) {
      step_back(w);
      ++moves;
    }
    if (w.pos != window_top) {
      w = Walk{cursor, edit_meas, 1, 0};
      back(10);
      window_top = w.pos;
    }
  } else {
    back(10);
    window_top = w.pos;
  }
  recount(w, w.pos);
  store_walker(w);
}

const char BLANK_ROW[] = "                              ";  // 30 spaces

}  // namespace

void draw_event_list() {
  const bool following = screen_mode.load() == MODE_TRACK_MONITOR;
  if (shown_track != current_track) draw_header_fields();
  if (following) {
    follow_player();
    set_cursor(-1, -1);
  }
  const std::uint32_t cursor = edit_pos;
  find_first_row(following);

  bool end_drawn = false, cursor_on_end = false, after_cursor = false;
  std::int32_t prev_measure = -1, prev_step = -1;
  for (int r = 0; r < LIST_ROWS; ++r) {
    const int row = LIST_FIRST_ROW + r;
    format_event();
    const bool is_end = image()[walk_pos] == EV_END;
    const bool is_cursor = walk_pos == cursor;
    if (is_end) {
      if (!is_cursor || end_drawn) {
        print_at(0, row, BLANK_ROW, ATTR_CYAN);
        continue;
      }
      end_drawn = true;
      if (!following) cursor_on_end = true;
    }
    if (is_cursor && edit_mode == EDIT_INSERT_EMPTY) fill_row(0, ROW_WIDTH);
    if (walk_measure != prev_measure || (is_cursor && !following)) {
      std::snprintf(line_buffer, 5, "%4d", walk_measure);
      line_buffer[4] = ' ';
    } else {
      fill_row(0, 4);
    }
    if (walk_step != prev_step || walk_measure != prev_measure) {
      char num[12];
      std::snprintf(num, sizeof num, " %4d", walk_step);
      std::memcpy(line_buffer + 4, num, 5);
    } else {
      fill_row(4, 9);
    }
    line_buffer[9] = ':';
    if (is_cursor && !following) {
      print_at(0, row, line_buffer, ATTR_WHITE_UNDERLINED);
      set_cursor(cursor_column, row);
      cursor_row = row;
    } else if (is_cursor) {
      if (is_end)
        print_at(0, row, BLANK_ROW, ATTR_REVERSE_BLUE);
      else
        print_at(0, row, line_buffer, ATTR_REVERSE_WHITE);
    } else if (after_cursor && edit_mode != EDIT_OVERWRITE) {
      // quirk: INSERT blanks the rows below the cursor line.
      print_at(0, row, BLANK_ROW, ATTR_CYAN);
    } else {
      print_at(0, row, line_buffer, ATTR_CYAN);
    }
    if (is_cursor) {
      edit_step = walk_step;
      after_cursor = true;
    }
    prev_measure = walk_measure;
    prev_step = walk_step;
    walk_next();
  }
  if (!following) {
    if (edit_mode == EDIT_OVERWRITE && cursor_on_end) edit_mode = EDIT_INSERT_EMPTY;
    print_at(30, 0, edit_mode != EDIT_OVERWRITE ? " INSERT            " : "  EDIT             ", ATTR_REVERSE_YELLOW);
  }
}
