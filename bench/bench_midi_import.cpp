// Bringing a long MIDI file in: the import itself, and the peak memory of
// takto-cli import-midi against a command that only loads a song.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "common/midi_builder.h"
#include "common/temp_dir.h"
#include "host/headless/headless.h"
#include "song/song.h"

extern char** environ;

namespace {

// 30 minutes at 120 a minute: 20,000 notes on one channel, a few overlapping.
MidiBytes long_file() {
  MidiTrack t;
  long now = 0;
  for (long i = 0; i < 20000; ++i) {
    const long at = i * 864 / 10;  // 3,600 quarter notes of 480 ticks
    t.at(static_cast<std::uint32_t>(at - now), {0x90, 48 + static_cast<int>(i % 24), 64 + static_cast<int>(i % 32)});
    t.at(120, {0x80, 48 + static_cast<int>(i % 24), 0});
    now = at + 120;
  }
  return midi_file({MidiTrack().with_length(0, {0xFF, 0x51}, {0x07, 0xA1, 0x20}), t}, 480);
}

// The peak resident size in MB of one run of takto-cli.
double peak_mb(const std::string& args) {
  std::error_code ec;
  const std::string cli = (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "takto-cli").string();
  std::vector<std::string> words{cli};
  for (std::size_t at = 0, next; at < args.size(); at = next + 1) {
    next = args.find(' ', at);
    if (next == std::string::npos) next = args.size();
    words.push_back(args.substr(at, next - at));
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss / 1024.0;
}

void BM_ImportMidiLongFile(benchmark::State& state) {
  headless_echo_alerts(false);
  new_song();
  const MidiBytes file = long_file();
  MidiImport report;
  for (auto _ : state) benchmark::DoNotOptimize(import_midi(file.data(), file.size(), report));
  state.counters["notes"] = report.notes;
  state.counters["tracks"] = report.tracks;
  TempDir dir;
  write_file(dir.file("long.mid"), file);
  state.counters["cli_peak_MB"] = peak_mb("import-midi " + dir.file("long.mid") + " " + dir.file("long.sqf"));
  state.counters["cli_check_MB"] = peak_mb("check " + dir.file("long.sqf"));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_ImportMidiLongFile)->Unit(benchmark::kMillisecond);

}  // namespace
