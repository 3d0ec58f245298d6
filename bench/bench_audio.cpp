// The desktop's audio callback on a dense song (18 tracks, about 35 messages
// a tick): the time to step the player through 512 frames of audio and render
// them through the audio clock, p50 and p99 a buffer, against the 11.6 ms
// that a buffer lasts at 44,100 Hz: wall time, and the thread's processor
// time (the steadier figure on a loaded machine).
#include <benchmark/benchmark.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "dense_song.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "host/synth/synth.h"
#include "player/player.h"

namespace {
constexpr int RATE = 44100;
constexpr int BUFFER_FRAMES = 512;

void deliver_sent() {
  for (const SentMidi& m : headless_take_midi()) {
    if (m.exclusive) {
      synth_long(m.bytes.data(), m.bytes.size());
    } else {
      std::uint32_t word = 0;
      for (std::size_t i = 0; i < m.bytes.size() && i < 4; ++i) word |= std::uint32_t{m.bytes[i]} << (8 * i);
      synth_short(word);
    }
  }
}

double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double percentile(std::vector<double>& v, int p) {
  std::sort(v.begin(), v.end());
  return v[v.size() * static_cast<std::size_t>(p) / 100];
}

void step(AudioClock&, std::uint32_t ms, void*) {
  headless_set_clock(ms);
  on_timer();
  deliver_sent();
}

void BM_AudioCallbackDenseSong(benchmark::State& state) {
  const std::string font = find_soundfont("");
  // The whole SoundFont, as the desktop program loads it.
  if (font.empty() || !synth_open(font, RATE, nullptr, false)) {
    state.SkipWithError("needs a General MIDI SoundFont");
    return;
  }
  make_dense_song(true);
  player_reset();
  current_track = 0;
  headless_set_clock(0);
  headless_clear_midi();
  screen_mode.store(MODE_COMMAND);
  on_timer();
  start_play(TRACK_HEAD_SIZE, MODE_PLAY_MONITOR);
  deliver_sent();
  AudioClock clock;
  clock.rate = RATE;
  // The audio thread runs at real-time priority; so does this one when it may.
  sched_param param{};
  param.sched_priority = 20;
  const bool realtime = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
  std::vector<std::int16_t> out(2 * BUFFER_FRAMES);
  std::vector<double> wall, cpu;
  for (auto _ : state) {
    const auto begin = std::chrono::steady_clock::now();
    const double cpu_begin = thread_cpu_ms();
    audio_clock_render(clock, out.data(), BUFFER_FRAMES, step, nullptr);
    cpu.push_back(thread_cpu_ms() - cpu_begin);
    wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["wall_p50_ms"] = percentile(wall, 50);
  state.counters["wall_p99_ms"] = percentile(wall, 99);
  state.counters["cpu_p50_ms"] = percentile(cpu, 50);
  state.counters["cpu_p99_ms"] = percentile(cpu, 99);
  state.counters["buffer_ms"] = 1000.0 * BUFFER_FRAMES / RATE;
  state.counters["realtime"] = realtime ? 1 : 0;
  param.sched_priority = 0;
  sched_setscheduler(0, SCHED_OTHER, &param);
  screen_mode.store(MODE_COMMAND);
  synth_close();
}
// Some 23 s of audio.
BENCHMARK(BM_AudioCallbackDenseSong)->Iterations(2000)->Unit(benchmark::kMillisecond);
}  // namespace
