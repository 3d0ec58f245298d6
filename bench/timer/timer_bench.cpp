// takto-timer-bench: how late the desktop's 1 ms timer thread wakes while it
// plays a dense song, over a run of real time. Prints the lateness of every
// wake-up against its scheduled millisecond: p50, p99, p99.9 and the worst.
//
//   takto-timer-bench [--seconds N] [--busy THREADS] [--no-realtime]
//
// --busy starts threads that spin at normal priority, to load the other cores.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../dense_song.h"
#include "host/desktop/desktop.h"
#include "host/host.h"
#include "player/player.h"

namespace {
std::vector<std::int64_t> lateness;
std::atomic<std::size_t> samples{0};
std::atomic<std::uint64_t> sent{0};

void record(std::int64_t late_ns) {
  const std::size_t i = samples.load(std::memory_order_relaxed);
  if (i < lateness.size()) {
    lateness[i] = late_ns;
    samples.store(i + 1, std::memory_order_relaxed);
  }
}

double percentile(const std::vector<std::int64_t>& sorted, double p) {
  const auto i = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
  return static_cast<double>(sorted[i]) / 1e6;
}
}  // namespace

// A MIDI output that only counts, as fast as a driver's queue.
unsigned host_midi_short(std::uint32_t) {
  sent.fetch_add(1, std::memory_order_relaxed);
  return 0;
}
unsigned host_midi_prepare(HostMidiHeader*) { return 0; }
unsigned host_midi_long(HostMidiHeader*) {
  sent.fetch_add(1, std::memory_order_relaxed);
  return 0;
}
unsigned host_midi_unprepare(HostMidiHeader*) { return 0; }
void alert_box(const char* text) { std::fprintf(stderr, "%s\n", text); }

int main(int argc, char** argv) {
  int seconds = 60;
  int busy = 0;
  bool realtime = true;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--busy") && i + 1 < argc) {
      busy = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--no-realtime")) {
      realtime = false;
    } else {
      std::fprintf(stderr, "usage: takto-timer-bench [--seconds N] [--busy THREADS] [--no-realtime]\n");
      return 2;
    }
  }
  if (seconds < 1) seconds = 1;
  make_dense_song(true);
  image()[SONG_TEMPO] = 240;
  screen_mode.store(MODE_COMMAND);
  player_reset();
  current_track = 0;
  // As in the program, the timer runs before play starts, so the schedule
  // follows the clock.
  timer_start(on_timer, realtime);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  start_play(TRACK_HEAD_SIZE, MODE_PLAY_MONITOR);

  std::atomic<bool> spinning{true};
  std::vector<std::thread> spinners;
  for (int i = 0; i < busy; ++i) {
    spinners.emplace_back([&spinning] {
      volatile std::uint64_t n = 0;
      while (spinning.load(std::memory_order_relaxed)) n = n + 1;
    });
  }
  lateness.assign(static_cast<std::size_t>(seconds) * 1000 + 1000, 0);
  const std::int32_t first_tick = tick.load();
  timer_observe(record);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  timer_stop();
  spinning.store(false);
  for (std::thread& t : spinners) t.join();

  std::vector<std::int64_t> sorted(lateness.begin(), lateness.begin() + samples.load());
  std::sort(sorted.begin(), sorted.end());
  if (sorted.empty()) return 1;
  std::printf("%d s, %d busy thread(s), priority %s: %zu wake-ups, %d player ticks, %llu messages\n", seconds, busy,
              timer_priority(), sorted.size(), tick.load() - first_tick, static_cast<unsigned long long>(sent.load()));
  std::printf("lateness ms: p50 %.3f  p99 %.3f  p99.9 %.3f  worst %.3f\n", percentile(sorted, 0.5),
              percentile(sorted, 0.99), percentile(sorted, 0.999), static_cast<double>(sorted.back()) / 1e6);
  return 0;
}
