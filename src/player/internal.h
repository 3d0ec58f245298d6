// What the player's files share besides player.h.
#pragma once

#include <cstdint>

#include "player/player.h"

namespace player_detail {

// The tick at which the earliest track's first event plays, from player_reset.
constexpr std::int32_t FIRST_TICK = 10;

// Offset of each track's end event, set by player_reset; link targets and
// exclusive reads stay at or below it.
extern std::uint32_t last_event[TRACK_COUNT];

// Values held back while positioning: modulation, volume, pan, expression,
// bend LSB, bend MSB; -1 = none.
enum { DEFER_MODULATION, DEFER_VOLUME, DEFER_PAN, DEFER_EXPRESSION, DEFER_BEND_LSB, DEFER_BEND_MSB, DEFER_COUNT };
using DeferredTable = int[TRACK_COUNT][DEFER_COUNT];
// Non-null only during prepare_play's silent ticks: notes are skipped and
// those values recorded here instead of sent.
extern DeferredTable* deferring;

// Loads the event at work_position into code, step, byte2 and byte3 and
// returns the ticks it takes. After STEP_EVENT_LIMIT events in a row without
// time (budget counts them down), the next one takes a tick.
inline std::int32_t fetch_event(int& budget) {
  const std::uint8_t* ev = image() + work_position;
  code = ev[0];
  step = ev[1];
  byte2 = ev[2];
  byte3 = ev[3];
  std::int32_t time = ticks_of(code, step);
  if (time != 0) {
    budget = STEP_EVENT_LIMIT;
  } else if (--budget == 0) {
    budget = STEP_EVENT_LIMIT;
    time = 1;
  }
  return time;
}

// Executes track t's events from its position until one takes time (or the
// track ends) and stores the track's new position, measure and countdown.
void run_step(int t);

// Handlers of the channel messages other than notes and channel changes.
void bank_program();
void channel_aftertouch();
void control_change();
void program_change();
void key_aftertouch();
void pitch_bend();
void music_key();
void roland_base();
void roland_device();

// Waits until no player_tick is running on the timer thread.
void wait_for_tick_out();

// A short MIDI message: status in bits 0-7, data bytes in bits 8-15 and 16-23.
inline std::uint32_t midi_message(unsigned status, unsigned data1, unsigned data2 = 0) {
  return (status & 0xFF) | (data1 & 0xFF) << 8 | (data2 & 0xFF) << 16;
}

// Wrapping arithmetic on 32-bit counters (never undefined).
inline std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace player_detail
