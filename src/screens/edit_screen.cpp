// The edit screen's loop: keys to the step editor, track changes, refresh,
// and point play from the event under the cursor.
#include "editor/editor.h"
#include "host/host.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/internal.h"
#include "screens/screens.h"

namespace {

void point_play() {
  edit_mode = EDIT_OVERWRITE;
  start_track = current_track;
  start_pos = edit_pos;
  print_at(30, 0, "     POINT PLAY", ATTR_REVERSE_YELLOW);
  shown_track = -1;
  start_play(edit_pos - start[current_track], MODE_TRACK_MONITOR);
  paint_screen();
  run_monitor();
  screen_mode.store(MODE_EDIT);
  paint_screen();
  shown_track = -1;
}

}  // namespace

int read_edit_key() {
  const int v = poll_key();
  // A typed key ends a chord of input notes.
  if (enhanced && v != 0) forget_entered_note();
  key_shift = v >> 8;
  int c = v & 255;
  if (c >= 'A' && c <= 'Z') c += 32;
  if (c >= 33 && c <= 41) current_track = c - 33;
  return c;
}

int run_edit_screen() {
  shown_track = -1;
  screen_mode.store(MODE_EDIT);
  edit_mode = EDIT_OVERWRITE;
  forget_input_notes();
  paint_screen();
  for (;;) {
    host_sleep_1ms();
    const int c = read_edit_key();
    // With no key, a note from the MIDI input is entered as a key would be.
    const bool input_note = c == 0 && enhanced && input_note_waiting();
    if (c == 0 && shown_track != -1 && !input_note) continue;
    if (c == KEY_ESC) {
      edit_mode = EDIT_OVERWRITE;
      return KEY_ESC;
    }
    if (shown_track != current_track) {
      edit_mode = EDIT_OVERWRITE;
      locate_edit_pos();
    }
    if (c == KEY_LOWER_P) point_play();
    if (input_note)
      enter_pending_note();
    else
      edit_screen_key(c);
    if (refresh_edit_screen(c)) end_refresh();
  }
}

void edit_screen_key(int key) {
  if (key == KEY_SLASH)
    run_controller_list();
  else
    handle_edit_key(key);
}

bool refresh_edit_screen(int) {
  draw_track_view();
  return true;
}
