// The screens: one record per screen_mode (the main screen, the edit screen,
// the play and track monitors), the loops that run them, and the measure
// view right of the event list.
//
// Threads: the application thread runs all of this. The monitors read the
// player's tick, levels, ended flags, positions and measures while the timer
// thread changes them, without a lock; a display may lag the player a tick.
// They write paused, the per-track rhythm copy and, at the automatic stop,
// the ended flags.
#pragma once

#include <cstdint>

// What a screen is: its fixed layout, what changes on it, and how its keys
// are read. screen_of(screen_mode) is the one on show.
struct Screen {
  // Draws the layout into the wiped picture (the planes are not cleared).
  void (*paint)();
  // Redraws what changed since the last refresh, given the key just read (0
  // for none); true when it drew, and the refresh is then ended (counter,
  // present). Null for the main screen, whose prompt draws itself.
  bool (*refresh)(int key);
  // Non-blocking; 0 when no key waits.
  int (*read_key)();
};
const Screen& screen_of(int mode);

// Set once at start, before any thread runs: the screens show the song's
// own values and act on every key their help lines name.
extern bool enhanced;

// --- MIDI input (enhanced mode) ---

// Takes what the input sent: thru to the output while no song plays, and the
// edit screen's note-ons kept for enter_pending_note. The poll hook.
void serve_midi_input();
// Whether a kept note-on waits, and entering the oldest as a step (the edit
// screen's loop; false when none waits).
bool input_note_waiting();
bool enter_pending_note();
// Drops the kept notes and the chord's anchor (a key was typed).
void forget_input_notes();

// Hides the cursor, wipes the picture and paints the current screen_mode's
// layout. Does not present.
void paint_screen();

// --- Monitors (screen modes 0 and 2) ---

extern std::int32_t seen_steps;  // selected_steps at the last track monitor refresh
extern int start_track;          // where play started, restored by a plain stop
extern std::uint32_t start_pos;

// One pass of a monitor's loop: 27 when play stopped, else 0.
int monitor_step();
// Non-blocking key read with track selection; 0 when no key waits.
int read_monitor_key();
// Runs the monitor until play stops; true when the last key carried Shift.
bool run_monitor();

// --- Edit screen (screen mode 1) ---

// Runs the edit screen until ESC; returns 27.
int run_edit_screen();
// Non-blocking; Shift+1..9 choose tracks 1..9. 0 when no key waits.
int read_edit_key();
// One key of the edit screen (code without the Shift bit, letters in lower
// case): the slash key's controller list, else the step editor.
void edit_screen_key(int key);
