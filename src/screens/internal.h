// What the screens share besides screens.h.
#pragma once

#include <cstdint>

// --- Layouts (paint.cpp) ---

void paint_track_monitor();
void paint_edit_screen();
void paint_play_monitor();
void paint_main_screen();
void draw_song_memo();
void draw_track_list();
// The play monitor's TRACK row; a muted track's number in reverse magenta.
void draw_track_numbers();

// --- Enhanced mode's live values (live.cpp) ---

// The header block's values: the song's, or during play the ones playing now.
void draw_header_values();
// The play monitor's cells of rows 10-21 from what each track sent.
void draw_live_cells();

// --- Refreshes ---

bool refresh_track_monitor(int key);  // monitor.cpp
bool refresh_play_monitor(int key);
bool refresh_edit_screen(int key);  // edit_screen.cpp
// The changing part of the edit screen and the track monitor: the event list,
// the measure view and the held keys, in that order.
void draw_track_view();
// How every refresh ends: the track is on screen, the counter moves on and
// the picture is shown.
void end_refresh();

// --- Monitors (monitor.cpp) ---

extern std::int32_t drawn_tick;  // tick at the last redraw of the level bars
extern int refresh_count;        // 0..63, shown at (78, 24)
// Redraws the 18 level bars when forced or the player ticked; 1 when drawn.
int draw_level_bars(int force);
void show_refresh_count();

// --- The special controller list (controller_list.cpp) ---

extern int special_choice;  // 0-39, the chosen entry, kept between uses
// Shows the list, inserts the chosen event (or nothing on ESC) and repaints.
void run_controller_list();

// --- Measure view (measure_view.cpp) ---

extern int view_column;    // x of the inverted cursor column, 0 for none
extern int shown_measure;  // measure on the staff, -1 for none

// The keyboard and the staff frame, drawn by the layouts of modes 0 and 1.
void draw_keyboard();
void draw_staff_frame();
void update_measure_view();
void draw_measure();
void draw_held_keys();
void mark_key(int note);
void unmark_key(int note);
