// The layouts of the four screens, and the screen table.
#include <cstdio>
#include <cstring>

#include "editor/editor.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/internal.h"
#include "screens/screens.h"

bool enhanced = false;

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
  // clang-format off
  print_at(0,  3, "              ", ATTR_REVERSE_YELLOW);
  print_at(0,  4, "TEMPO    :",     ATTR_REVERSE_CYAN);
  print_at(0,  5, "PLAY BIAS:",     ATTR_REVERSE_CYAN);
  print_at(0,  6, "KEY  :",         ATTR_REVERSE_CYAN);
  print_at(0,  7, "BEAT    :",      ATTR_REVERSE_CYAN);
  print_at(14, 3, " ",               ATTR_WHITE);
  print_at(15, 3, "               ", ATTR_REVERSE_BLUE);
  print_at(15, 4, "MIDI THRU:",     ATTR_REVERSE_CYAN);
  print_at(15, 5, "SYNC MODE:",     ATTR_REVERSE_CYAN);
  print_at(15, 6, "REC INPUT:",     ATTR_REVERSE_CYAN);
  print_at(10, 4, "120 ",            ATTR_WHITE);
  print_at(10, 5, "  0 ",            ATTR_WHITE);
  print_at(6,  6, "C MAJOR ",        ATTR_WHITE);
  print_at(9,  7, " 4/4 ",           ATTR_WHITE);
  print_at(25, 4, " OFF ",           ATTR_WHITE);
  print_at(25, 5, " INT ",           ATTR_WHITE);
  print_at(25, 6, " MPU ",           ATTR_WHITE);
  // clang-format on
  if (enhanced) draw_header_values();
  set_pen(15, 13);
  draw_vline(111, 64, 128);
  draw_hline(0, 111, 128);
  draw_vline(239, 64, 112);
  draw_hline(120, 239, 112);
}

void draw_play_monitor_layout() {
  // clang-format off
  print_at(35, 3, "[CLR]   PAUSE     [HOME] JUMP TO EDITOR", ATTR_WHITE);
  print_at(35, 4, "[=]     MUTE      [+]/[-] TEMPO UP/DOWN", ATTR_WHITE);
  print_at(35, 5, "[SPACE] PLAY MONITOR",                    ATTR_WHITE);
  print_at(35, 6, "[1]-[9],[SHIFT]+[0]-[8] TRACK MONITOR",   ATTR_WHITE);
  print_at(35, 7, "[ROLL UP]/[ROLL DOWN]   VALUE UP/DOWN",   ATTR_WHITE);
  // clang-format on
  draw_track_numbers();
  static const char* const LABELS[14] = {
      "MEASURE:", "STEP   :", "M 0 R 0:", "CHANNEL:", "PG.BANK:", "PROGRAM:", "BENDER :",
      "PEDAL  :", "MODULAT:", "VOLUME :", "EXPRESS:", "PANPOT :", "        ", "        "};
  for (int i = 0; i < 14; ++i) print_at(0, 10 + i, LABELS[i], ATTR_REVERSE_CYAN);
  print_at(1, 12, " 0", ATTR_CYAN);
  print_at(5, 12, " 0", ATTR_CYAN);
  set_pen(15, 13);
  for (int t = 1; t <= TRACK_COUNT; ++t) draw_vline(32 * t + 63, 160, 384);
  draw_hline(0, 639, 384);
  // quirk: the per-track cells keep their "---" while the monitor runs
  // (enhanced mode fills them at every refresh).
  for (int j = 0; j < TRACK_COUNT; ++j)
    for (int y = 10; y <= 21; ++y) print_at(8 + 4 * j, y, "---", ATTR_WHITE);
}

void draw_top_row() {
  // quirk: fixed numbers here; the event list writes the track's own counts.
  // clang-format off
  print_at(0,  0, "FREE: 21832 ",       ATTR_REVERSE_CYAN);
  print_at(12, 0, "USED: 15252       ", ATTR_REVERSE_CYAN);
  // clang-format on
  const std::uint8_t m = screen_mode.load();
  if (enhanced && (m == MODE_PLAY_MONITOR || m == MODE_COMMAND)) draw_track_counts();
}

// The title of the two monitors says whether play is paused.
void draw_play_title() {
  if (paused.load() == 1)
    print_at(30, 0, "        STOP       ", ATTR_REVERSE_MAGENTA);
  else
    print_at(30, 0, "        PLAY       ", ATTR_REVERSE_YELLOW);
}

void draw_measure_view_frame() {
  draw_keyboard();
  draw_staff_frame();
  view_column = 0;
}

void draw_track_lines() {
  const int t = current_track;
  std::memcpy(line_buffer, image() + start[t] + TRACK_MEMO, 30);
  line_buffer[30] = 0;  // a zero byte in the memo ends the text here
  clip_double_byte_tail();
  print_at(0, 1, line_buffer, ATTR_YELLOW);
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%2d", t + 1);
  print_at(4, 2, line_buffer, ATTR_WHITE);
  print_at(0, 3, "MEAS STEP:NOTE K#  ST  GT VEL ", ATTR_REVERSE_GREEN);
  print_at(0, 2, " TR:18               STEP:255", ATTR_WHITE);
}

void draw_title_row() {
  print_at(0, 1, "        TITLE:", ATTR_REVERSE_CYAN);
  line_buffer[0] = ' ';
  put_song_text(1, SONG_TITLE, SONG_TITLE_LEN);
  print_at(14, 1, line_buffer, ATTR_REVERSE_WHITE);
}

void draw_step_length_bar() {
  // clang-format off
  print_at(4,  24, " 192  ", ATTR_REVERSE_YELLOW);
  print_at(11, 24, " 144  ", ATTR_REVERSE_YELLOW);
  print_at(18, 24, "  96  ", ATTR_REVERSE_YELLOW);
  print_at(25, 24, "  72  ", ATTR_REVERSE_YELLOW);
  print_at(32, 24, "  48  ", ATTR_REVERSE_YELLOW);
  print_at(42, 24, "  36  ", ATTR_REVERSE_YELLOW);
  print_at(49, 24, "  24  ", ATTR_REVERSE_YELLOW);
  print_at(56, 24, "  18  ", ATTR_REVERSE_YELLOW);
  print_at(63, 24, "  12  ", ATTR_REVERSE_YELLOW);
  print_at(70, 24, "   6  ", ATTR_REVERSE_YELLOW);
  // clang-format on
}

void draw_command_bar() {
  // clang-format off
  print_at(1,  24, " RECORD ",  ATTR_REVERSE_WHITE);
  print_at(10, 24, " PLAY ",    ATTR_REVERSE_WHITE);
  print_at(17, 24, " EDIT ",    ATTR_REVERSE_WHITE);
  print_at(24, 24, " SUB ",     ATTR_REVERSE_WHITE);
  print_at(30, 24, " TR.set ",  ATTR_REVERSE_WHITE);
  print_at(40, 24, " LOAD ",    ATTR_REVERSE_WHITE);
  print_at(47, 24, " SAVE ",    ATTR_REVERSE_WHITE);
  print_at(54, 24, " DISK ",    ATTR_REVERSE_WHITE);
  print_at(61, 24, " INSTALL ", ATTR_REVERSE_WHITE);
  print_at(71, 24, " GS/GM ",   ATTR_REVERSE_WHITE);
  // clang-format on
}

}  // namespace

void draw_track_numbers() {
  print_at(0, 9, "TRACK  :  1   2   3   4   5   6   7   8   9  10", ATTR_REVERSE_WHITE);
  print_at(47, 9, "  11  12  13  14  15  16  17  18 ", ATTR_REVERSE_WHITE);
  for (int t = 0; enhanced && t < TRACK_COUNT; ++t) {
    if (!muted[t].load()) continue;
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%2d", t + 1);
    print_at(4 * t + 9, 9, line_buffer, ATTR_REVERSE_MAGENTA);
  }
}

void paint_track_monitor() {
  draw_measure_view_frame();
  draw_top_row();
  draw_play_title();
  draw_track_lines();
}

void paint_edit_screen() {
  draw_measure_view_frame();
  draw_top_row();
  print_at(30, 0, "  EDIT             ", ATTR_REVERSE_YELLOW);
  draw_track_lines();
  draw_step_length_bar();
}

void paint_play_monitor() {
  draw_play_monitor_layout();
  draw_song_header();
  draw_top_row();
  draw_play_title();
}

void paint_main_screen() {
  draw_song_header();
  draw_top_row();
  print_at(30, 0, "    MAIN COMMAND   ", ATTR_REVERSE_YELLOW);
  draw_title_row();
  draw_song_memo();
  draw_track_list();
  draw_command_bar();
}

const Screen& screen_of(int mode) {
  // In screen_mode order: track monitor, edit screen, play monitor, main screen.
  static const Screen screens[4] = {
      {paint_track_monitor, refresh_track_monitor, read_monitor_key},
      {paint_edit_screen, refresh_edit_screen, read_edit_key},
      {paint_play_monitor, refresh_play_monitor, read_monitor_key},
      {paint_main_screen, nullptr, poll_key},
  };
  return screens[mode >= 0 && mode < 4 ? mode : MODE_COMMAND];
}

void paint_screen() {
  set_cursor(-1, -1);
  clear_picture();
  screen_of(screen_mode.load()).paint();
}

void draw_song_memo() {
  print_at(0, 10, " SONG MEMO                    ", ATTR_REVERSE_YELLOW);
  for (std::size_t i = 0; i < SONG_MEMO_LINES; ++i) {
    const int row = static_cast<int>(11 + i);
    print_at(0, row, " ", ATTR_REVERSE_CYAN);
    put_song_text(0, SONG_MEMO + SONG_MEMO_LINE * i, SONG_MEMO_LINE);
    print_at(1, row, line_buffer, ATTR_WHITE);
  }
  set_pen(15, 13);
  draw_vline(239, 176, 367);
  draw_hline(0, 239, 368);
}

void draw_track_list() {
  print_at(31, 4, "TR MODE CH. TRACK MEMO                           ", ATTR_REVERSE_GREEN);
  for (int t = 0; t < TRACK_COUNT; ++t) {
    const int row = 5 + t;
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%2d", t + 1);
    print_at(31, row, line_buffer, ATTR_REVERSE_GREEN);
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, "Play M%2d", image()[start[t] + TRACK_CHANNEL] + 1);
    print_at(34, row, line_buffer, ATTR_WHITE);
    line_buffer[0] = ' ';
    put_song_text(1, start[t] + TRACK_MEMO, TRACK_MEMO_LEN);
    print_at(42, row, line_buffer, ATTR_WHITE);
  }
  set_pen(3, 3);
  draw_vline(639, 80, 367);
  draw_vline(307, 80, 367);
  draw_vline(339, 80, 367);
  draw_hline(248, 639, 367);
}
