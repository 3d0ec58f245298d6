// The play monitor and the track monitor, which run while the song plays.
#include <cstdio>

#include "editor/editor.h"
#include "host/host.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/internal.h"
#include "screens/screens.h"

std::int32_t drawn_tick = -1;
std::int32_t seen_steps = -1;
int refresh_count = 0;
int start_track = 0;
std::uint32_t start_pos = 0;

namespace {

bool all_tracks_ended() {
  for (const auto& e : ended)
    if (!e.load(std::memory_order_relaxed)) return false;
  return true;
}

// Stops play; c is the key that caused it, 0 for the end of the song.
int stop(int c) {
  stop_play();
  for (auto& m : muted) m.store(0);  // mutes last until the play ends
  if (key_shift != 0 || c == KEY_SHIFT_HOME) {
    // The edit screen then lists the track from its top down to the cursor.
    window_top = first_event(current_track);
  } else {
    current_track = start_track;
    edit_pos = start_pos;
  }
  find_edit_meas();
  return KEY_ESC;
}

void toggle_pause() {
  const std::int32_t now = 1 - paused.load();
  if (now == 0) send_clock_message(MIDI_CONTINUE);
  paused.store(now);
  if (now == 1) {
    silence_sounding_notes();
    send_clock_message(MIDI_STOP);
    print_at(30, 0, "        STOP       ", ATTR_REVERSE_MAGENTA);
  } else {
    print_at(30, 0, "        PLAY       ", ATTR_REVERSE_YELLOW);
  }
}

// The keys enhanced mode adds: mute, and the tempo of this play.
void enhanced_key(int c) {
  if (c == KEY_EQUALS) {
    if (screen_mode.load() == MODE_TRACK_MONITOR) {
      muted[current_track].store(muted[current_track].load() ^ 1);
      shown_track = -1;  // the track number shows it
    } else {
      for (auto& m : muted) m.store(0);
      draw_track_numbers();
    }
  }
  const int tempo = current_tempo.load(std::memory_order_relaxed);
  if (c == KEY_PLUS && tempo < 240) tempo_offset.fetch_add(1);
  if (c == KEY_MINUS && tempo > 10) tempo_offset.fetch_sub(1);
}

}  // namespace

int read_monitor_key() {
  const int v = poll_key();
  key_shift = v >> 8;
  int c = v & 255;
  if (c >= '1' && c <= '8') {
    current_track = (key_shift & 1) ? c - 39 : c - 49;
    shown_track = -1;
  } else if (c >= 'A' && c <= 'Z') {
    c += 32;
  }
  if (c >= 33 && c <= 40) {
    current_track = c - 23;
    shown_track = -1;
  } else if (c == '0') {
    current_track = 9;
    shown_track = -1;
  } else if (c == '9') {
    current_track = 8;
    shown_track = -1;
  }
  return c;
}

int monitor_step() {
  host_sleep_1ms();
  if (all_tracks_ended()) {
    for (auto& e : ended) e.store(0, std::memory_order_relaxed);
    return stop(0);
  }
  const int c = read_monitor_key();
  if (c == KEY_SPACE && screen_mode.load() == MODE_TRACK_MONITOR) {
    screen_mode.store(MODE_PLAY_MONITOR);
    paint_screen();
  }
  if (c == KEY_HOME) toggle_pause();
  if (c == KEY_ESC || c == KEY_SHIFT_HOME) return stop(c);
  if (enhanced) enhanced_key(c);
  if (c == KEY_LOWER_N && screen_mode.load() == MODE_TRACK_MONITOR) rhythm[current_track] ^= RHYTHM_NAMES_SHOWN;
  // A track chosen in the play monitor is shown in the track monitor.
  if (screen_mode.load() == MODE_PLAY_MONITOR && shown_track != current_track) {
    screen_mode.store(MODE_TRACK_MONITOR);
    paint_screen();
  }
  if (screen_of(screen_mode.load()).refresh(c)) end_refresh();
  return 0;
}

bool refresh_play_monitor(int key) {
  if (draw_level_bars(key) == 0 && key == 0) return false;
  if (enhanced) {
    draw_header_values();
    draw_live_cells();
  }
  return true;
}

bool refresh_track_monitor(int key) {
  if (key == 0 && selected_steps.load() == seen_steps) return false;
  seen_steps = selected_steps.load();
  draw_track_view();
  return true;
}

bool run_monitor() {
  while (monitor_step() != KEY_ESC) {
  }
  return key_shift != 0;
}

void show_refresh_count() {
  char text[4];
  std::snprintf(text, sizeof text, "%2d", refresh_count);
  print_at(78, 24, text, ATTR_WHITE);
  refresh_count = (refresh_count + 1) % 64;
}

void draw_track_view() {
  draw_event_list();
  update_measure_view();
  draw_held_keys();
}

void end_refresh() {
  shown_track = current_track;
  show_refresh_count();
  present();
}

int draw_level_bars(int force) {
  const std::int32_t now = tick.load(std::memory_order_relaxed);
  if (force == 0 && drawn_tick == now) return 0;
  drawn_tick = now;
  for (int i = 0; i < TRACK_COUNT; ++i) {
    const int s = level[i].load(std::memory_order_relaxed) / 2;
    const int x1 = 72 + 32 * i, x2 = 87 + 32 * i;
    if (s <= 124) {
      set_pen(15, 0);
      fill_rect(x1, 352, x2, 383 - (s + 3) / 4);
    }
    if (s >= 1) {
      set_pen(15, s >= 80 ? 10 : 12);
      fill_rect(x1, 383 - (s - 1) / 4, x2, 383);
    }
  }
  return 1;
}
