// The application thread's life: the command menu and its number entry, and
// the MEAS/STEP prompt into the edit screen.
#include <cstdio>

#include "app/app.h"
#include "editor/editor.h"
#include "host/host.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/screens.h"
#include "song/song.h"

namespace {

// Play from the start of the current track's song; true when play was
// stopped with Shift, which opens the edit screen.
bool play_from_start() {
  start_track = current_track;
  start_pos = edit_pos;
  window_top = edit_pos;
  start_play(TRACK_HEAD_SIZE, MODE_PLAY_MONITOR);
  shown_track = current_track;
  paint_screen();
  return run_monitor();
}

}  // namespace

void reset_view() {
  shown_track = -1;
  player_reset();
  selected_steps.store(0);
  seen_steps = -1;
  edit_step = 1;
  edit_meas = 1;
  current_track = 0;
  edit_pos = first_event(0);
  screen_mode.store(MODE_EDIT);
}

int read_number(int x, int y, int max, int& value, const char* format, int width) {
  int v = value;
  bool typed = false;
  for (;;) {
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, format, v);
    print_at(x, y, line_buffer, ATTR_WHITE);
    set_cursor(x + width - 1, y);
    present();
    const int k = get_key();
    if (k >= '0' && k <= '9') {
      if (!typed) {
        v = k - '0';
        typed = true;
      } else {
        v = v * 10 + (k - '0');
        if (v > max) v %= max + 1;
      }
    } else if (k == KEY_DEL) {
      v /= 10;
    } else {
      if (k == KEY_RETURN) value = v;
      set_cursor(-1, -1);
      return k;
    }
  }
}

int ask_track() {
  screen_mode.store(MODE_COMMAND);
  paint_screen();
  int n = current_track + 1;
  print_at(0, 2, "TR:", ATTR_REVERSE_CYAN);
  const int k = read_number(4, 2, 99, n, "%2d", 2);
  if (k == KEY_RETURN && n >= 1 && n <= TRACK_COUNT) current_track = n - 1;
  return k;
}

int ask_position() {
  int m = edit_meas, s = edit_step;
  for (;;) {
    // clang-format off
    print_at(30, 0, "  EDIT          ", ATTR_REVERSE_YELLOW);
    print_at(8,  2, "MEAS",             ATTR_REVERSE_CYAN);
    print_at(16, 2, "             ",    ATTR_WHITE);
    // clang-format on
    const int k = read_number(12, 2, 9999, m, "%4d", 4);
    if (k == KEY_ESC) return KEY_ESC;
    if (k != KEY_RETURN) continue;
    for (;;) {
      print_at(16, 2, "STEP", ATTR_REVERSE_CYAN);
      const int j = read_number(20, 2, 9999, s, "%4d", 4);
      if (j == KEY_ESC) break;
      if (j != KEY_RETURN) continue;
      edit_meas = m;
      edit_step = s;
      locate_edit_pos();
      return KEY_RETURN;
    }
  }
}

void position_loop() {
  while (ask_position() == KEY_RETURN) {
    window_top = edit_pos;
    run_edit_screen();
  }
}

void main_loop() {
  if (enhanced) poll_hook = serve_midi_input;
  if (new_song() != 0) return;
  char name[FILE_NAME_SIZE];
  copy_file_name(name);
  if (name[0] != 0) load_song();
  reset_view();
  for (;;) {
    const int k = ask_track();
    if (k == KEY_Q) return;
    if (k == KEY_L) {
      if (ask_open_name()) {
        load_song();
        reset_view();
      }
    } else if (k == KEY_S) {
      relink_measures();
      if (ask_save_name()) save_song();
    } else if (k == KEY_P) {
      if (play_from_start()) {
        run_edit_screen();
        position_loop();
      }
    } else if (k == KEY_RETURN) {
      position_loop();
    }
  }
}
