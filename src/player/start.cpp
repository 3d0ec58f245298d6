// Reset, positioning before play, and silencing at a pause or stop.
#include <algorithm>

#include "player/internal.h"

using namespace player_detail;

std::uint32_t drum_map[128];
std::uint8_t rhythm[TRACK_COUNT];
std::int8_t step_plus[TRACK_COUNT];

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
constexpr std::uint8_t DT1_INITIAL[DT1_SIZE] = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x10, 0x00, 0x00, 0x00, 0x00, 0xF7};
}  // namespace

void player_reset() {
  wait_for_tick_out();
  const std::uint8_t* s = image();
  base_tempo = s[SONG_TEMPO];
  tempo_offset.store(0, relaxed);
  set_relative_tempo(64);
  current_key.store(s[SONG_KEY], relaxed);
  play_bias = s[SONG_PLAY_BIAS];
  key_value.store((12 - TONIC_PITCH[s[SONG_KEY] & 15]) % 12, relaxed);

  std::fill(std::begin(drum_map), std::end(drum_map), 0u);
  for (std::uint32_t j = 0; j < RHYTHM_NAME_COUNT; ++j) {
    std::uint32_t entry = SONG_RHYTHM_NAMES + RHYTHM_NAME_SIZE * j;
    // A name for a note above 127 names no note.
    std::uint8_t note = s[entry + RHYTHM_NAME_NOTE];
    if (is_note(note)) drum_map[note] = entry;
  }

  rebuild_track_table();
  std::int32_t smallest = 384;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    const std::uint8_t* head = s + start[t];
    last_event[t] = track_end(t) - 4;
    position[t].store(first_event(t), relaxed);
    rhythm[t] = head[TRACK_RHYTHM];
    channel[t].store(head[TRACK_CHANNEL] & 15, relaxed);
    key_plus[t] = head[TRACK_KEY_PLUS];
    step_plus[t] = static_cast<std::int8_t>(head[TRACK_STEP_PLUS]);
    mode[t] = head[TRACK_MODE];
    std::int32_t c = step_plus[t] + 256;
    countdown[t].store(c, relaxed);
    smallest = std::min(smallest, c);
    measure[t].store(1, relaxed);
    muted[t].store(0, relaxed);
    for (auto& v : live[t]) v.store(LIVE_NONE, relaxed);
    live[t][LIVE_CHANNEL].store((mode[t] & TRACK_CHANNEL_OFF) ? LIVE_NONE : head[TRACK_CHANNEL] & 15, relaxed);
    ended[t].store(0, relaxed);
    std::copy(std::begin(DT1_INITIAL), std::end(DT1_INITIAL), dt1[t]);
    sounding[t].store(0, relaxed);
    for (NoteSlot& slot : slots[t]) {
      slot.note.store(0, relaxed);
      slot.gate_left.store(0, relaxed);
    }
    level[t].store(0, relaxed);
    return_position[t].store(0, relaxed);
    repeat_depth[t] = 0;
  }
  for (int t = 0; t < TRACK_COUNT; ++t) {
    countdown[t].store(countdown[t].load(relaxed) - smallest + FIRST_TICK, relaxed);
    measure_tick[t].store(countdown[t].load(relaxed), relaxed);
  }
  tick.store(0, relaxed);
}

void find_start_tick() {
  const int s = current_track;
  work_track = s;
  work_position = position[s].load(relaxed);
  work_measure = measure[s].load(relaxed);
  const std::uint32_t target = seek_target.load(relaxed);
  std::int64_t at = countdown[s].load(relaxed);
  // Counted as run_step counts, including its wait after too many events
  // without time, so the start event falls on the tick it plays at.
  int budget = STEP_EVENT_LIMIT;
  // A start point behind an enormous repeated section would take days to
  // reach; the scan stops early there and play starts where it stopped.
  for (int events = 0; work_position - start[s] < target && events < SCAN_EVENT_LIMIT && at < START_TICK_LIMIT;
       ++events) {
    const std::int32_t time = fetch_event(budget);
    if (code == EV_REPEAT_END) {
      repeat_end();
    } else if (code == EV_REPEAT_START) {
      repeat_start();
    } else if (code == EV_SAME_MEASURE) {
      same_measure();
    } else if (code == EV_MEASURE_END) {
      measure_end();
    } else if (code == EV_END && end_of_track()) {
      break;
    }
    work_position += 4;
    at += time;
  }
  tick.store(static_cast<std::int32_t>(std::min<std::int64_t>(at, START_TICK_LIMIT)), relaxed);
}

void prepare_play() {
  DeferredTable deferred;
  for (auto& row : deferred) std::fill(std::begin(row), std::end(row), -1);

  player_reset();
  find_start_tick();
  const std::int32_t start_tick = tick.load(relaxed);
  player_reset();

  deferring = &deferred;
  while (tick.load(relaxed) < start_tick - 1) {
    tick.store(tick.load(relaxed) + 1, relaxed);
    for (int t = 0; t < TRACK_COUNT; ++t) {
      work_track = t;
      std::int32_t left = wrap_add(countdown[t].load(relaxed), -1);
      countdown[t].store(left, relaxed);
      if (left == 0) run_step(t);
    }
  }
  deferring = nullptr;

  for (int t = 0; t < TRACK_COUNT; ++t) {
    work_track = t;
    const int* d = deferred[t];
    unsigned ch = channel[t].load(relaxed);
    if (d[DEFER_BEND_LSB] >= 0) send_short(midi_message(0xE0 | ch, d[DEFER_BEND_LSB], d[DEFER_BEND_MSB]));
    static constexpr int CONTROLLERS[4][2] = {
        {DEFER_MODULATION, 1}, {DEFER_VOLUME, 7}, {DEFER_PAN, 10}, {DEFER_EXPRESSION, 11}};
    for (const auto& [which, number] : CONTROLLERS)
      if (d[which] >= 0) send_short(midi_message(0xB0 | ch, number, d[which]));
  }
  seek_target.store(0);
}

void silence_sounding_notes() {
  wait_for_tick_out();
  for (int t = 0; t < TRACK_COUNT; ++t) {
    work_track = t;
    for (NoteSlot& slot : slots[t])
      if (slot.gate_left.load(relaxed) != 0)
        send_short(midi_message(0x90 | channel[t].load(relaxed), slot.note.load(relaxed), 0));
  }
}

void start_play(std::uint32_t offset, std::uint8_t monitor) {
  relink_measures();
  paused.store(0);
  seek_target.store(offset);
  prepare_play();
  if (midi_clock) {
    // The next tick plays the start event.
    const std::int32_t from = tick.load(relaxed) + 1 - FIRST_TICK;
    if (from <= 0) {
      send_clock_message(MIDI_START);
    } else {
      const std::int32_t sixteenths = std::min(from / 12, 16383);
      send_short(midi_message(0xF2, sixteenths & 127, sixteenths >> 7));
      send_clock_message(MIDI_CONTINUE);
    }
  }
  screen_mode.store(monitor, std::memory_order_release);
}

void stop_play() {
  paused.store(1);  // sequentially consistent: see the note in player.h
  silence_sounding_notes();
  send_clock_message(MIDI_STOP);
}
