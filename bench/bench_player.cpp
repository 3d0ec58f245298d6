#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/song_builder.h"
#include "dense_song.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "player/player.h"

namespace {

void start_from_top() {
  screen_mode.store(MODE_COMMAND);
  player_reset();
  current_track = 0;
  start_play(TRACK_HEAD_SIZE, MODE_PLAY_MONITOR);
}

bool all_ended() {
  for (const auto& e : ended)
    if (!e.load(std::memory_order_relaxed)) return false;
  return true;
}

void BM_PlayerTicksDenseSong(benchmark::State& state) {
  headless_echo_alerts(false);
  headless_record_midi(false);
  make_dense_song();
  start_from_top();
  std::size_t sent_before = headless_sent_count();
  std::int64_t ticks = 0;
  for (auto _ : state) {
    player_tick();
    ++ticks;
    if (all_ended()) {
      state.PauseTiming();
      start_from_top();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(ticks);
  state.counters["messages_per_tick"] =
      static_cast<double>(headless_sent_count() - sent_before) / static_cast<double>(ticks);
  // Real time needs 96 ticks a second at tempo 120.
  state.counters["x_realtime_120"] = benchmark::Counter(static_cast<double>(ticks) / 96.0, benchmark::Counter::kIsRate);
  screen_mode.store(MODE_COMMAND);
  headless_record_midi(true);
}
BENCHMARK(BM_PlayerTicksDenseSong);

std::string cli_path() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : (self.parent_path() / "takto-cli").string();
}

// takto-cli export-midi of a song whose 18 tracks are full.
void BM_ExportMidiFullSong(benchmark::State& state) {
  std::string cli = cli_path();
  if (cli.empty() || !std::filesystem::exists(cli)) {
    state.SkipWithError("takto-cli not found next to takto-bench");
    return;
  }
  headless_echo_alerts(false);
  make_full_song();
  auto dir = std::filesystem::temp_directory_path();
  std::string song = (dir / ("takto-bench-export-" + std::to_string(::getpid()) + ".sqf")).string();
  std::string mid = (dir / ("takto-bench-export-" + std::to_string(::getpid()) + ".mid")).string();
  set_file_name(song.c_str());
  if (save_song() != 0) {
    state.SkipWithError("cannot save the song");
    return;
  }
  // The song's length in ticks, played here once.
  headless_record_midi(false);
  start_from_top();
  std::int64_t song_ticks = 0;
  for (; !all_ended(); ++song_ticks) player_tick();
  screen_mode.store(MODE_COMMAND);
  headless_record_midi(true);
  std::string cmd = cli + " export-midi " + song + " " + mid;
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("export-midi failed");
      break;
    }
  }
  std::error_code ec;
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(mid, ec));
  state.counters["song_minutes_120"] = static_cast<double>(song_ticks) / 96.0 / 60.0;
  state.counters["x_realtime_120"] =
      benchmark::Counter(static_cast<double>(song_ticks) / 96.0, benchmark::Counter::kIsIterationInvariantRate);
  std::filesystem::remove(song, ec);
  std::filesystem::remove(mid, ec);
}
BENCHMARK(BM_ExportMidiFullSong)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Peak memory of takto-cli export-midi on a full song whose tracks repeat a
// section of one-tick notes 256 times: play stops at the 100,000,000 ms cap,
// and the file is some 480 MB. The figure is the child's peak resident size.
void BM_ExportMidiPeakMemory(benchmark::State& state) {
  std::string cli = cli_path();
  if (cli.empty() || !std::filesystem::exists(cli)) {
    state.SkipWithError("takto-cli not found next to takto-bench");
    return;
  }
  headless_echo_alerts(false);
  new_song();
  std::vector<Event> events{{EV_REPEAT_START, 0, 0, 0}};
  for (int i = 0; static_cast<int>(events.size()) + 1 < MAX_TRACK_EVENTS; ++i)
    events.push_back(i % 5 == 4 ? Event{EV_MEASURE_END, 0, 0, 0}
                                : Event{static_cast<std::uint8_t>(60 + i % 12), 1, 1, 100});
  events.push_back({EV_REPEAT_END, 0, 0, 0});
  set_tracks(std::vector<std::vector<Event>>(TRACK_COUNT, events));
  auto dir = std::filesystem::temp_directory_path();
  const std::string base = (dir / ("takto-bench-memory-" + std::to_string(::getpid()))).string();
  const std::string song = base + ".sqf", mid = base + ".mid";
  set_file_name(song.c_str());
  if (save_song() != 0) {
    state.SkipWithError("cannot save the song");
    return;
  }
  long peak_kb = 0;
  for (auto _ : state) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl(cli.c_str(), cli.c_str(), "export-midi", song.c_str(), mid.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("export-midi failed");
      break;
    }
    peak_kb = std::max(peak_kb, usage.ru_maxrss);
  }
  std::error_code ec;
  state.counters["peak_rss_MB"] = static_cast<double>(peak_kb) / 1024.0;
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(mid, ec)) / (1024.0 * 1024.0);
  std::filesystem::remove(song, ec);
  std::filesystem::remove(mid, ec);
}
BENCHMARK(BM_ExportMidiPeakMemory)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
