// The screens: the painter of every screen's fixed layout and the main
// screen, the play and track monitors, the edit screen's loop with point
// play, and the measure view right of the event list.
//
// Threads: the application thread runs all of this. The monitors read the
// player's tick, levels, ended flags, positions and measures while the timer
// thread changes them, without a lock; a display may lag the player a tick.
// They write paused, the per-track rhythm copy and, at the automatic stop,
// the ended flags.
#pragma once

#include <cstdint>

// --- Painter and main screen ---

// Wipes the picture and draws the fixed layout of the current screen_mode.
// Does not present.
void paint_screen();
void draw_song_memo();
void draw_track_list();

// --- Monitors ---

extern std::int32_t drawn_tick;   // tick at the last redraw of the level bars
extern std::int32_t seen_steps;   // selected_steps at the last track monitor refresh
extern int refresh_count;         // 0..63, shown at (78, 24)
extern int start_track;           // where play started, restored by a plain stop
extern std::uint32_t start_pos;

// One pass of a monitor's loop: 27 when play stopped, else 0.
int monitor_step();
// Non-blocking key read with track selection; 0 when no key waits.
int read_monitor_key();
// Redraws the 18 level bars when forced or the player ticked; 1 when drawn.
int draw_level_bars(int force);
// Runs the monitor until play stops; true when the last key carried Shift.
bool run_monitor();
void show_refresh_count();
// The changing part of the edit screen and the track monitor: the event list,
// the measure view and the held keys, in that order.
void draw_track_view();
// How every refresh ends: the track is on screen, the counter moves on and
// the picture is shown.
void end_refresh();

// --- Edit screen ---

// Runs the edit screen until ESC; returns 27.
int run_edit_screen();
// Non-blocking; Shift+1..9 choose tracks 1..9. 0 when no key waits.
int read_edit_key();

// --- Measure view ---

extern int view_column;    // x of the inverted cursor column, 0 for none
extern int shown_measure;  // measure on the staff, -1 for none

// The keyboard and the staff frame, drawn by paint_screen in modes 0 and 1.
void draw_keyboard();
void draw_staff_frame();
void update_measure_view();
void draw_measure();
void draw_held_keys();
void mark_key(int note);
void unmark_key(int note);
