// The painter: every screen's fixed layout, and the main screen.
#include <cstdio>
#include <cstring>

#include "editor/editor.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/screens.h"

namespace {

// line_buffer from `at` on: n bytes of song text, a zero byte shown as a
// space, then one closing space. A lead byte that ends the field is cut
// before the closing space is added, so it cannot pair with it.
void put_song_text(int at, std::size_t offset, std::size_t n) {
  const std::uint8_t* s = image() + offset;
  for (std::size_t i = 0; i < n; ++i) line_buffer[at + i] = s[i] == 0 ? ' ' : static_cast<char>(s[i]);
  line_buffer[at + n] = 0;
  clip_double_byte_tail();
  line_buffer[at + n] = ' ';
  line_buffer[at + n + 1] = 0;
}

// The block shows these fixed values whatever the song holds.
void draw_song_header() {
  print_at(0,  3, "              ", 14);
  print_at(0,  4, "TEMPO    :",     13);
  print_at(0,  5, "PLAY BIAS:",     13);
  print_at(0,  6, "KEY  :",         13);
  print_at(0,  7, "BEAT    :",      13);
  print_at(14, 3, " ",               7);
  print_at(15, 3, "               ", 9);
  print_at(15, 4, "MIDI THRU:",     13);
  print_at(15, 5, "SYNC MODE:",     13);
  print_at(15, 6, "REC INPUT:",     13);
  print_at(10, 4, "120 ",            7);
  print_at(10, 5, "  0 ",            7);
  print_at(6,  6, "C MAJOR ",        7);
  print_at(9,  7, " 4/4 ",           7);
  print_at(25, 4, " OFF ",           7);
  print_at(25, 5, " INT ",           7);
  print_at(25, 6, " MPU ",           7);
  set_pen(15, 13);
  draw_vline(111, 64, 128);
  draw_hline(0, 111, 128);
  draw_vline(239, 64, 112);
  draw_hline(120, 239, 112);
}

void draw_play_monitor_layout() {
  print_at(35, 3, "[CLR]   PAUSE     [HOME] JUMP TO EDITOR", 7);
  print_at(35, 4, "[=]     MUTE      [+]/[-] TEMPO UP/DOWN", 7);
  print_at(35, 5, "[SPACE] PLAY MONITOR",                    7);
  print_at(35, 6, "[1]-[9],[SHIFT]+[0]-[8] TRACK MONITOR",   7);
  print_at(35, 7, "[ROLL UP]/[ROLL DOWN]   VALUE UP/DOWN",   7);
  print_at(0,  9, "TRACK  :  1   2   3   4   5   6   7   8   9  10", 15);
  print_at(47, 9, "  11  12  13  14  15  16  17  18 ",                15);
  static const char* const LABELS[14] = {
      "MEASURE:", "STEP   :", "M 0 R 0:", "CHANNEL:", "PG.BANK:", "PROGRAM:", "BENDER :",
      "PEDAL  :", "MODULAT:", "VOLUME :", "EXPRESS:", "PANPOT :", "        ", "        "};
  for (int i = 0; i < 14; ++i) print_at(0, 10 + i, LABELS[i], 13);
  print_at(1, 12, " 0", 5);
  print_at(5, 12, " 0", 5);
  set_pen(15, 13);
  for (int t = 1; t <= TRACK_COUNT; ++t) draw_vline(32 * t + 63, 160, 384);
  draw_hline(0, 639, 384);
  // quirk: the per-track cells keep their "---" while the monitor runs.
  for (int j = 0; j < TRACK_COUNT; ++j)
    for (int y = 10; y <= 21; ++y) print_at(8 + 4 * j, y, "---", 7);
}

void draw_mode_title(int mode) {
  if (mode == MODE_TRACK_MONITOR || mode == MODE_PLAY_MONITOR) {
    if (paused.load() == 1) print_at(30, 0, "        STOP       ", 11);
    else print_at(30, 0, "        PLAY       ", 14);
  } else if (mode == MODE_EDIT) {
    print_at(30, 0, "  EDIT             ", 14);
  } else if (mode == MODE_COMMAND) {
    print_at(30, 0, "    MAIN COMMAND   ", 14);
  }
}

void draw_track_lines() {
  const int t = current_track;
  std::memcpy(line_buffer, image() + start[t] + TRACK_MEMO, 30);
  line_buffer[30] = 0;  // a zero byte in the memo ends the text here
  clip_double_byte_tail();
  print_at(0, 1, line_buffer, 6);
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%2d", t + 1);
  print_at(4, 2, line_buffer, 7);
  print_at(0, 3, "MEAS STEP:NOTE K#  ST  GT VEL ", 12);
  print_at(0, 2, " TR:18               STEP:255", 7);
}

void draw_title_row() {
  print_at(0, 1, "        TITLE:", 13);
  line_buffer[0] = ' ';
  put_song_text(1, SONG_TITLE, SONG_TITLE_LEN);
  print_at(14, 1, line_buffer, 15);
}

void draw_step_length_bar() {
  print_at(4,  24, " 192  ", 14);
  print_at(11, 24, " 144  ", 14);
  print_at(18, 24, "  96  ", 14);
  print_at(25, 24, "  72  ", 14);
  print_at(32, 24, "  48  ", 14);
  print_at(42, 24, "  36  ", 14);
  print_at(49, 24, "  24  ", 14);
  print_at(56, 24, "  18  ", 14);
  print_at(63, 24, "  12  ", 14);
  print_at(70, 24, "   6  ", 14);
}

void draw_command_bar() {
  print_at(1,  24, " RECORD ",  15);
  print_at(10, 24, " PLAY ",    15);
  print_at(17, 24, " EDIT ",    15);
  print_at(24, 24, " SUB ",     15);
  print_at(30, 24, " TR.set ",  15);
  print_at(40, 24, " LOAD ",    15);
  print_at(47, 24, " SAVE ",    15);
  print_at(54, 24, " DISK ",    15);
  print_at(61, 24, " INSTALL ", 15);
  print_at(71, 24, " GS/GM ",   15);
}

}  // namespace

void paint_screen() {
  const int mode = screen_mode.load();
  const bool track_view = mode == MODE_TRACK_MONITOR || mode == MODE_EDIT;
  set_cursor(-1, -1);
  clear_picture();
  if (track_view) {
    draw_keyboard();
    draw_staff_frame();
    view_column = 0;
  }
  if (mode == MODE_PLAY_MONITOR) draw_play_monitor_layout();
  if (mode == MODE_PLAY_MONITOR || mode == MODE_COMMAND) draw_song_header();
  // quirk: fixed numbers here; the event list writes the track's own counts.
  print_at(0,  0, "FREE: 21832 ",       13);
  print_at(12, 0, "USED: 15252       ", 13);
  draw_mode_title(mode);
  if (track_view) draw_track_lines();
  if (mode == MODE_COMMAND) draw_title_row();
  if (mode == MODE_EDIT) draw_step_length_bar();
  if (mode == MODE_COMMAND) {
    draw_song_memo();
    draw_track_list();
    draw_command_bar();
  }
}

void draw_song_memo() {
  print_at(0, 10, " SONG MEMO                    ", 14);
  for (std::size_t i = 0; i < SONG_MEMO_LINES; ++i) {
    const int row = static_cast<int>(11 + i);
    print_at(0, row, " ", 13);
    put_song_text(0, SONG_MEMO + SONG_MEMO_LINE * i, SONG_MEMO_LINE);
    print_at(1, row, line_buffer, 7);
  }
  set_pen(15, 13);
  draw_vline(239, 176, 367);
  draw_hline(0, 239, 368);
}

void draw_track_list() {
  print_at(31, 4, "TR MODE CH. TRACK MEMO                           ", 12);
  for (int t = 0; t < TRACK_COUNT; ++t) {
    const int row = 5 + t;
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%2d", t + 1);
    print_at(31, row, line_buffer, 12);
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, "Play M%2d", image()[start[t] + TRACK_CHANNEL] + 1);
    print_at(34, row, line_buffer, 7);
    line_buffer[0] = ' ';
    put_song_text(1, start[t] + TRACK_MEMO, TRACK_MEMO_LEN);
    print_at(42, row, line_buffer, 7);
  }
  set_pen(3, 3);
  draw_vline(639, 80, 367);
  draw_vline(307, 80, 367);
  draw_vline(339, 80, 367);
  draw_hline(248, 639, 367);
}
