// The player: turns the song image into timed MIDI. A 1 ms timer calls
// on_timer, which runs player_tick once for every tick that has fallen due;
// the application thread sets the player up (player_reset, prepare_play) while
// the clock is stopped and starts and stops it through screen_mode and paused.
//
// Threads: words that the application thread reads or writes while the timer
// thread may be ticking are atomics (relaxed: the displays may lag a tick).
// Everything else changes hands at two points only: a play start publishes the
// positioned song by storing screen_mode with release (the timer loads it with
// acquire), and silence_sounding_notes and player_reset wait until no tick is
// running, so after a stop the application thread sees the last tick's work.
// That wait relies on the stop's store to paused or screen_mode being
// sequentially consistent (a plain store()): a tick raises its running flag
// before it reads them, and a weaker store could let it miss the stop.
//
// Positions are image offsets (as in the song's track table); 0 means none.
#pragma once

#include <atomic>
#include <cstdint>

#include "song/song.h"

// --- Clock and run control ---

// Which screen is up; the clock runs only in the two monitor modes.
enum : std::uint8_t {
  MODE_TRACK_MONITOR = 0,
  MODE_EDIT = 1,
  MODE_PLAY_MONITOR = 2,
  MODE_COMMAND = 3,
};
extern std::atomic<std::uint8_t> screen_mode;  // 1 at start; written by the application thread
extern std::atomic<std::int32_t> paused;       // 0 or 1
// Non-zero while prepare_play positions the tracks: the start event's byte
// offset from the current track's start.
extern std::atomic<std::uint32_t> seek_target;

extern std::uint32_t next_tick_ms;  // clock reading after which the next tick is due
extern std::uint32_t remainder_us;  // microseconds not yet carried into next_tick_ms
extern std::atomic<std::uint32_t> us_per_tick;
extern std::uint32_t base_tempo;                  // song tempo, quarter notes per minute
extern std::atomic<std::int32_t> tick;            // counts the ticks that ran
extern std::atomic<std::int32_t> selected_steps;  // steps of current_track; the screens clear it

// --- Per track (index 0-17) ---

extern std::atomic<std::uint32_t> position[TRACK_COUNT];  // next event to execute
extern std::atomic<std::int32_t> countdown[TRACK_COUNT];  // ticks to the next step
extern std::atomic<std::int32_t> measure[TRACK_COUNT];    // measure being played, 1-based
// Set when the track executed its end; the play monitor clears them at the end of a song.
extern std::atomic<std::uint8_t> ended[TRACK_COUNT];

// Channel state.
extern std::uint8_t play_bias;                          // header byte 453
extern std::atomic<std::int32_t> key_value;             // key shown on the screens, 0-11
extern std::atomic<std::uint8_t> channel[TRACK_COUNT];  // 0-15
extern std::uint8_t key_plus[TRACK_COUNT];              // bit 7: rhythm track, not transposed
extern std::uint8_t mode[TRACK_COUNT];                  // head byte 7: the bits below
// A track's notes sound only while both mode bits are clear; the MIDI
// channel change event sets and clears the second.
constexpr std::uint8_t TRACK_NOTES_MUTED = 1;
constexpr std::uint8_t TRACK_CHANNEL_OFF = 8;

constexpr int SLOT_COUNT = 16;
struct NoteSlot {
  std::atomic<std::uint8_t> note;       // as sent, after transposition
  std::atomic<std::uint8_t> gate_left;  // ticks to its note-off; 0 = free
};
extern NoteSlot slots[TRACK_COUNT][SLOT_COUNT];
extern std::atomic<std::uint8_t> sounding[TRACK_COUNT];  // slots with gate_left != 0
extern std::atomic<std::uint8_t> level[TRACK_COUNT];     // level meter, decays 1 a tick

// Roland data set template, one per track.
constexpr int DT1_SIZE = 11;
extern std::uint8_t dt1[TRACK_COUNT][DT1_SIZE];

// Repeats and same-measure calls.
constexpr int MAX_REPEAT_DEPTH = 5;
struct RepeatEntry {
  std::uint32_t loop_start;    // the repeat start event
  std::uint32_t saved_return;  // return_position when the repeat started
  std::uint32_t passes;        // passes completed
  std::int32_t saved_measure;  // measure number when the repeat started
};
// The calling same-measure event while a called measure plays, else 0.
extern std::atomic<std::uint32_t> return_position[TRACK_COUNT];
extern int repeat_depth[TRACK_COUNT];
extern RepeatEntry repeat_stack[TRACK_COUNT][MAX_REPEAT_DEPTH];

// Set up by player_reset for the screens.
extern std::uint32_t drum_map[128];         // note -> image offset of its rhythm-name entry, 0 = none
extern std::uint8_t rhythm[TRACK_COUNT];    // copy of head byte 3; bit 7 toggled by the monitor
extern std::int8_t step_plus[TRACK_COUNT];  // copy of head byte 6

// Set once at start: play sends MIDI clock (F8 every 2 ticks), start,
// continue, song position and stop to the output.
extern bool midi_clock;
enum : std::uint8_t { MIDI_CLOCK = 0xF8, MIDI_START = 0xFA, MIDI_CONTINUE = 0xFB, MIDI_STOP = 0xFC };
// One of those to the output when midi_clock is set.
void send_clock_message(std::uint8_t status);

// --- What play is doing now, for the screens ---
// Written by the thread that runs the player, read by the screens (relaxed:
// a display may lag a tick). player_reset starts them over.
extern std::atomic<std::uint8_t> current_tempo;  // quarter notes a minute now, 10-240
extern std::atomic<std::uint8_t> current_key;    // key byte: the header's, then the last music key event's
// Quarter notes a minute added to the song's tempo (the monitors' + and -
// keys, application thread); the next tick takes it up.
extern std::atomic<std::int32_t> tempo_offset;
// The last value of each kind that a track sent, LIVE_NONE before the first;
// LIVE_CHANNEL is the track's channel 0-15, LIVE_NONE while it is off.
enum {
  LIVE_CHANNEL,
  LIVE_BANK,
  LIVE_PROGRAM,
  LIVE_BENDER,
  LIVE_PEDAL,
  LIVE_MODULATION,
  LIVE_VOLUME,
  LIVE_EXPRESSION,
  LIVE_PAN,
  LIVE_COUNT
};
constexpr std::int16_t LIVE_NONE = -32768;
extern std::atomic<std::int16_t> live[TRACK_COUNT][LIVE_COUNT];
extern std::atomic<std::int32_t> measure_tick[TRACK_COUNT];  // tick at which the track's measure began
// A muted track's notes end at its next tick and no new one starts; its other
// messages still go out. Set by the monitors, cleared by player_reset.
extern std::atomic<std::uint8_t> muted[TRACK_COUNT];

// --- Operations ---

// The 1 ms timer callback: runs every overdue tick while the clock runs,
// otherwise lets the schedule follow the clock.
void on_timer();
// One tick over the 18 tracks; does nothing while positioning, stopped or paused.
void player_tick();
// us_per_tick from base_tempo and a factor r (64 = 100 %), clamped to 10-240 per minute.
void set_relative_tempo(unsigned r);

// Builds all player state from the song header and track heads; sends nothing.
void player_reset();
// Positions every track just before the tick at which the event at seek_target
// of current_track executes, sending what a synthesizer must have got by then
// (no notes), then clears seek_target.
void prepare_play();
// The tick at which the event at seek_target of current_track executes, in tick.
void find_start_tick();
// Note-offs for every sounding note; the caller has stopped the clock first.
void silence_sounding_notes();

// The play start, in its one order: relink every track's same-measure
// references, clear paused, position all tracks at the event `offset` bytes
// into current_track's block (seek_target set while prepare_play runs), and
// only then start the clock by storing `monitor` (MODE_TRACK_MONITOR or
// MODE_PLAY_MONITOR) into screen_mode. Called with the clock stopped.
void start_play(std::uint32_t offset, std::uint8_t monitor);
// The stop: holds the clock with paused, then ends the sounding notes. The
// caller then leaves the monitor modes, which stops the clock altogether.
void stop_play();

// MIDI output: one short message (status in bits 0-7), one whole exclusive.
unsigned send_short(std::uint32_t message);
unsigned send_long(const std::uint8_t* buffer, std::uint32_t length);

// --- Inside a step (valid during one tick, or during positioning) ---

extern int work_track;
extern std::uint8_t code, step, byte2, byte3;  // the event being executed
extern std::uint32_t work_position;
extern std::int32_t work_measure;
extern int play_flag;  // notes sound: mode bits 0 and 3 both clear

// Event handlers, called by the dispatch of player_tick.
void play_note();
void count_down_gates(int t);
void change_channel();
void send_user_exclusive();
void send_track_exclusive();
void send_roland_parameter();
// 248, 249, 252, 253 and 254. end_of_track returns true when the track has ended.
void repeat_start();
void repeat_end();
void same_measure();
void measure_end();
bool end_of_track();

// A track that runs this many events without time passing (only possible with
// zero-time repeated sections) waits one tick before going on, so that one
// track cannot hold the timer thread.
constexpr int STEP_EVENT_LIMIT = 65536;
// find_start_tick gives up scanning after this many events or once the start
// tick passes this value (beyond a full track of 255-tick steps, some 12 hours
// at tempo 120; reachable only through repeats); play then starts there.
constexpr int SCAN_EVENT_LIMIT = 1 << 24;
constexpr std::int32_t START_TICK_LIMIT = 1 << 22;
// A track exclusive holds at most this many bytes between its F0 and F7.
constexpr int TRACK_EXCLUSIVE_MAX = 253;
