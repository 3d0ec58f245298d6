// The step editor: one track of the song as a list of events on the left 30
// columns of the edit screen and the track monitor, the walker that numbers
// measures and steps, and the keys that change events.
//
// Threads: everything here runs on the application thread. While the track
// monitor follows play (screen_mode 0), draw_event_list reads the player's
// per-track position, measure, ended and return_position without a lock; a
// redraw may show a position one tick old.
//
// Positions are image offsets of events of current_track.
#pragma once

#include <cstdint>

#include "song/song.h"

// --- Shared by every screen ---

// One row of text is assembled here (an event row uses its first 31 bytes).
constexpr int LINE_BUFFER_SIZE = 84;
extern char line_buffer[LINE_BUFFER_SIZE];
// A Shift-JIS lead byte that stands last in line_buffer, its trail cut off,
// becomes a space.
void clip_double_byte_tail();

// Two characters a pitch class, from C.
extern const char NOTE_NAMES[25];

// --- Editor state ---

extern std::uint32_t edit_pos;  // the event under the edit cursor
extern std::int32_t edit_meas;  // its measure, 1-based
extern std::int32_t edit_step;  // its step within the measure, 1-based
enum : int { EDIT_OVERWRITE = 0, EDIT_INSERT_EMPTY = 1, EDIT_INSERT_FILLING = 2 };
extern int edit_mode;
extern std::uint32_t window_top;  // the event on the list's first row (editing)
extern int shown_track;           // track whose header fields are drawn; -1 forces a redraw
extern int cursor_column;         // 10, 16, 20, 24 or 28: the field under the cursor
extern int cursor_row;            // text row of the cursor line
extern int key_shift;             // Shift bit (0 or 1) of the key being handled

// --- Walker: the one way the screens move through current_track ---

extern std::uint32_t walk_pos;
extern std::int32_t walk_measure;  // 1-based
extern std::int32_t walk_step;     // 1-based within the measure
extern std::int32_t walk_total;    // ticks of the measure before walk_pos

void walk_next();
void walk_back();
void walk_to_measure_start();

// --- Display ---

// Columns 10-29 of line_buffer (the whole row for some codes): the text of
// the event at walk_pos.
void format_event();
// FREE and USED of current_track on the top row.
void draw_track_counts();
// Header fields, the 20 list rows and the mode label.
void draw_event_list();
// edit_pos from edit_meas / edit_step, corrected when beyond the track.
void locate_edit_pos();
// edit_meas / edit_step from edit_pos.
void find_edit_meas();

// --- Keys ---

// One key: code 0-255 without the Shift bit, letters in lower case, 0 on a
// forced redraw. The Shift bit is in key_shift.
void handle_edit_key(int key);
// Numeric entry of one field at (x, y). True when ended by a cursor key,
// RETURN or SPACE (value updated); the ending key is pushed back either way.
bool read_value(int x, int y, int maximum, int& value, const char* format, int width);
// The event at walk_pos becomes a copy of the nearest earlier note of the
// track (60, 24, 20, 64 when there is none).
void copy_previous_note();
// A note from the MIDI input, entered as typing its number and RETURN would
// in the current mode, with the keyboard's velocity. With chord, the note
// entered before it takes step 0, so both start together.
void enter_input_note(int note, int velocity, bool chord);
// The next input note starts no chord with the last one.
void forget_entered_note();
// Inserts the event code, 0, byte2, byte3 at the cursor (the controller
// list's choice) and puts the cursor on its third field. Nothing when the
// track is full.
void insert_special_event(std::uint8_t code, std::uint8_t byte2, std::uint8_t byte3);
