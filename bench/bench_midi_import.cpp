// Bringing a long MIDI file in: the time of the import and the heap it takes
// at its peak.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "common/midi_builder.h"
#include "host/headless/headless.h"
#include "song/song.h"

namespace {

// 30 minutes at 120 a minute: 20,000 notes on one channel.
MidiBytes long_file() {
  MidiTrack t;
  long now = 0;
  for (long i = 0; i < 20000; ++i) {
    const long at = i * 864 / 10;  // 3,600 quarter notes of 480 ticks
    t.at(static_cast<std::uint32_t>(at - now), {0x90, 48 + static_cast<int>(i % 24), 64 + static_cast<int>(i % 32)});
    t.at(60, {0x80, 48 + static_cast<int>(i % 24), 0});
    now = at + 60;
  }
  return midi_file({MidiTrack().with_length(0, {0xFF, 0x51}, {0x07, 0xA1, 0x20}), t}, 480);
}

// The heap the import takes at its peak, besides the song image: every
// allocation of the program is counted while `counting` is set.
bool counting = false;
long long heap_now = 0, heap_peak = 0;

void release(void* p) {
  if (counting && p) heap_now -= static_cast<long long>(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  if (counting) heap_peak = std::max(heap_peak, heap_now += static_cast<long long>(malloc_usable_size(p)));
  return p;
}
void operator delete(void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }

namespace {

void BM_ImportMidiLongFile(benchmark::State& state) {
  headless_echo_alerts(false);
  new_song();
  const MidiBytes file = long_file();
  MidiImport report;
  for (auto _ : state) benchmark::DoNotOptimize(import_midi(file.data(), file.size(), report));
  state.counters["notes"] = report.notes;
  state.counters["tracks"] = report.tracks;
  heap_now = heap_peak = 0;
  counting = true;
  import_midi(file.data(), file.size(), report);
  counting = false;
  state.counters["heap_peak_MB"] = static_cast<double>(heap_peak) / (1 << 20);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_ImportMidiLongFile)->Unit(benchmark::kMillisecond);

}  // namespace
