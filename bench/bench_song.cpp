#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

std::string bench_file() { return (std::filesystem::temp_directory_path() / "takto-bench.sqf").string(); }

void BM_SaveFullSong(benchmark::State& state) {
  headless_echo_alerts(false);
  make_full_song();
  set_file_name(bench_file().c_str());
  for (auto _ : state) benchmark::DoNotOptimize(save_song());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(used_length()));
}
BENCHMARK(BM_SaveFullSong)->Unit(benchmark::kMillisecond);

void BM_LoadFullSong(benchmark::State& state) {
  headless_echo_alerts(false);
  make_full_song();
  set_file_name(bench_file().c_str());
  save_song();
  for (auto _ : state) benchmark::DoNotOptimize(load_song());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(SONG_IMAGE_SIZE));
}
BENCHMARK(BM_LoadFullSong)->Unit(benchmark::kMillisecond);

// Gap at track 1 of a song whose other tracks are full: the whole image moves.
void BM_OpenCloseGapTrack1(benchmark::State& state) {
  make_full_song();
  current_track = 0;
  // Make room in track 1 so the gap can open.
  close_gap(first_event(0), 4);
  for (auto _ : state) {
    open_gap(first_event(0), 1);
    close_gap(first_event(0), 1);
  }
}
BENCHMARK(BM_OpenCloseGapTrack1)->Unit(benchmark::kMicrosecond);

void BM_RelinkMeasuresFullSong(benchmark::State& state) {
  make_full_song();
  for (auto _ : state) relink_measures();
  state.SetItemsProcessed(state.iterations() * TRACK_COUNT * MAX_TRACK_EVENTS);
}
BENCHMARK(BM_RelinkMeasuresFullSong)->Unit(benchmark::kMillisecond);

}  // namespace
