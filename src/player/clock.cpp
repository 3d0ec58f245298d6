// The clock, the per-tick order and the dispatch of events.
#include <thread>

#include "host/host.h"
#include "player/internal.h"

using namespace player_detail;

std::atomic<std::uint8_t> screen_mode{MODE_EDIT};
std::atomic<std::int32_t> paused{0};
std::atomic<std::uint32_t> seek_target{0};
std::uint32_t next_tick_ms = 0;
std::uint32_t remainder_us = 0;
std::atomic<std::uint32_t> us_per_tick{10417};
std::uint32_t base_tempo = 120;
std::atomic<std::int32_t> tick{0};
std::atomic<std::int32_t> selected_steps{0};

std::atomic<std::uint32_t> position[TRACK_COUNT];
std::atomic<std::int32_t> countdown[TRACK_COUNT];
std::atomic<std::int32_t> measure[TRACK_COUNT];
std::atomic<std::uint8_t> ended[TRACK_COUNT];
bool midi_clock = false;
std::atomic<std::uint8_t> current_tempo{120};
std::atomic<std::uint8_t> current_key{0};
std::atomic<std::int32_t> tempo_offset{0};
std::atomic<std::int32_t> measure_tick[TRACK_COUNT];

int work_track = 0;
std::uint8_t code = 0, step = 0, byte2 = 0, byte3 = 0;
std::uint32_t work_position = 0;
std::int32_t work_measure = 0;
int play_flag = 0;

namespace player_detail {
std::uint32_t last_event[TRACK_COUNT];
DeferredTable* deferring = nullptr;
}  // namespace player_detail

namespace {
// Set by the timer thread around the body of a tick. A stop stores paused (or
// screen_mode) and then waits for this to clear; the tick stores it before it
// reads them. With both sides sequentially consistent, either the tick sees
// the stop and does nothing, or the stop waits for the tick to finish, so no
// note can start after the stop has silenced the sounding ones.
std::atomic<bool> tick_running{false};
// The clock has run since it last stood (the host agreed to start it). Only
// the thread that calls on_timer touches it.
bool clock_started = false;

// The last relative tempo and the offset it was given, for a change of the
// offset between tempo events.
unsigned tempo_factor = 64;
std::int32_t applied_offset = 0;

bool clock_runs(std::uint8_t m) { return m == MODE_TRACK_MONITOR || m == MODE_PLAY_MONITOR; }

// Runs the handler of the current event; true when it ended the track.
bool dispatch() {
  if (is_note(code)) {
    play_note();
    return false;
  }
  if (is_user_exclusive(code)) {
    send_user_exclusive();
    return false;
  }
  switch (code) {
    case EV_TRACK_EXCL: send_track_exclusive(); break;
    case EV_ROL_BASE: roland_base(); break;
    case EV_ROL_PARA: send_roland_parameter(); break;
    case EV_ROL_DEV: roland_device(); break;
    case EV_BANK_PRG: bank_program(); break;
    case EV_MIDI_CH: change_channel(); break;
    case EV_TEMPO: set_relative_tempo(byte2); break;
    case EV_AFTER_C: channel_aftertouch(); break;
    case EV_CONTROL: control_change(); break;
    case EV_PROGRAM: program_change(); break;
    case EV_AFTER_K: key_aftertouch(); break;
    case EV_PITCH: pitch_bend(); break;
    case EV_MUSIC_KEY: music_key(); break;
    case EV_REPEAT_END: repeat_end(); break;
    case EV_REPEAT_START: repeat_start(); break;
    case EV_SAME_MEASURE: same_measure(); break;
    case EV_MEASURE_END: measure_end(); break;
    case EV_END: return end_of_track();
    default: break;  // rests below 240, nothing at or above
  }
  return false;
}
}  // namespace

void player_detail::wait_for_tick_out() {
  while (tick_running.load()) std::this_thread::yield();
}

void send_clock_message(std::uint8_t status) {
  if (midi_clock) host_midi_short(status);
}

void set_relative_tempo(unsigned r) {
  tempo_factor = r;
  applied_offset = tempo_offset.load(std::memory_order_relaxed);
  auto clamped = [](std::int64_t t) { return static_cast<std::uint32_t>(t < 10 ? 10 : t > 240 ? 240 : t); };
  const std::uint32_t effective = clamped(clamped((base_tempo * static_cast<std::int64_t>(r) + 33) >> 6) +
                                          static_cast<std::int64_t>(applied_offset));
  current_tempo.store(static_cast<std::uint8_t>(effective), std::memory_order_relaxed);
  us_per_tick.store((12500000 / effective + 5) / 10, std::memory_order_relaxed);
}

void on_timer() {
  if (!clock_runs(screen_mode.load(std::memory_order_acquire))) {
    clock_started = false;
  } else if (!clock_started) {
    clock_started = host_clock_start();
  }
  if (!clock_started) {
    next_tick_ms = host_time_ms();
    remainder_us = 0;
    return;
  }
  for (;;) {
    // By signed difference: the millisecond counter wraps after 49.7 days.
    if (static_cast<std::int32_t>(host_time_ms() - next_tick_ms) <= 0) return;
    remainder_us += us_per_tick.load(std::memory_order_relaxed);
    next_tick_ms += remainder_us / 1000;
    remainder_us %= 1000;
    player_tick();
  }
}

void player_detail::run_step(int t) {
  work_position = position[t].load(std::memory_order_relaxed);
  work_measure = measure[t].load(std::memory_order_relaxed);
  int budget = STEP_EVENT_LIMIT;
  bool new_measure = false;
  for (;;) {
    play_flag = (mode[t] & (TRACK_NOTES_MUTED | TRACK_CHANNEL_OFF)) == 0 && !muted[t].load(std::memory_order_relaxed);
    const std::int32_t time = fetch_event(budget);
    const std::int32_t before = work_measure;
    const bool track_ended = dispatch();
    if (work_measure != before) new_measure = true;
    if (new_measure && (track_ended || time != 0))
      measure_tick[t].store(tick.load(std::memory_order_relaxed), std::memory_order_relaxed);
    if (track_ended) {
      ended[t].store(1, std::memory_order_relaxed);
      position[t].store(work_position, std::memory_order_relaxed);
      measure[t].store(work_measure, std::memory_order_relaxed);
      return;
    }
    work_position += 4;
    if (time != 0) {
      countdown[t].store(time, std::memory_order_relaxed);
      position[t].store(work_position, std::memory_order_relaxed);
      measure[t].store(work_measure, std::memory_order_relaxed);
      return;
    }
  }
}

void player_tick() {
  tick_running.store(true);
  if (seek_target.load() != 0 || !clock_runs(screen_mode.load()) || paused.load() != 0) {
    tick_running.store(false, std::memory_order_release);
    return;
  }
  tick.store(wrap_add(tick.load(std::memory_order_relaxed), 1), std::memory_order_relaxed);
  if (tempo_offset.load(std::memory_order_relaxed) != applied_offset) set_relative_tempo(tempo_factor);
  // 24 a quarter note, counted from the song's first tick.
  const std::int32_t song_tick = tick.load(std::memory_order_relaxed) - FIRST_TICK;
  if (song_tick >= 0 && song_tick % 2 == 0) send_clock_message(MIDI_CLOCK);
  for (int t = 0; t < TRACK_COUNT; ++t) {
    work_track = t;
    count_down_gates(t);
    std::int32_t left = wrap_add(countdown[t].load(std::memory_order_relaxed), -1);
    countdown[t].store(left, std::memory_order_relaxed);
    if (left != 0) continue;
    // The screens clear this counter, so both threads write it.
    if (t == current_track) selected_steps.fetch_add(1, std::memory_order_relaxed);
    run_step(t);
  }
  tick_running.store(false, std::memory_order_release);
}
