// The application thread's flow: the main loop with its command menu and
// number entry, and the MEAS/STEP prompt that leads into the edit screen.
// Everything here runs on the application thread.
#pragma once

// The whole life of the application thread: the empty song, the song named by
// file_name, then the command menu until Q. Returns at once when the song's
// memory cannot be had.
void main_loop();
// After a song is created or loaded: the player and the editor view start over.
void reset_view();
// Paints the main screen and reads a track number at "TR:"; returns the key
// that ended the entry.
int ask_track();
// Edits value (0..max) in a field of `width` cells at (x, y) shown with the
// printf format; returns the ending key. value changes only on RETURN.
int read_number(int x, int y, int max, int& value, const char* format, int width);
// The MEAS/STEP prompt: 13 when a position was entered and located, 27 when
// the user backed out.
int ask_position();
// Prompt and edit screen in turn until ESC at the MEAS field.
void position_loop();
