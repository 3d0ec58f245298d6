// takto-cli render of a long, dense song against the fluidsynth program
// rendering the song's export-midi file with the same SoundFont, in the same
// run: both times, their ratio and render's multiple of real time.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "host/synth/synth.h"

namespace {

// Some four minutes on 8 tracks, each its own channel and program:
// sixteenth notes with an expression change and a pitch bend between them,
// 24 messages a second on each track; on channel 10 the drums.
bool make_long_song() {
  new_song();
  std::vector<std::vector<Event>> tracks(8);
  static const std::uint8_t programs[8] = {0, 24, 33, 4, 11, 46, 0, 25};
  for (int t = 0; t < 8; ++t) {
    std::vector<Event>& e = tracks[t];
    const int channel = t == 6 ? 10 : t + 1;
    e.push_back({EV_MIDI_CH, 0, static_cast<std::uint8_t>(channel), 0});
    e.push_back({EV_PROGRAM, 0, programs[t], 0});
    for (int i = 0; i < 5 * 60 * 8; ++i) {  // sixteenth notes
      const auto note = static_cast<std::uint8_t>(t == 6 ? 35 + i % 12 : 48 + (t * 5 + i * 7) % 30);
      e.push_back({note, 3, 8, static_cast<std::uint8_t>(60 + i % 60)});
      e.push_back({EV_CONTROL, 3, 11, static_cast<std::uint8_t>(80 + i % 40)});
      e.push_back({EV_PITCH, 3, 0, static_cast<std::uint8_t>(62 + i % 5)});
    }
  }
  return set_tracks(tracks);
}

std::string beside_me(const char* name) {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : (self.parent_path() / name).string();
}

// Wall and processor seconds (user and system, of the child) of one command.
struct Took {
  double wall = 0, cpu = 0;
};

void run_timed(const std::string& cmd, Took& took, bool& ok) {
  auto cpu_now = [] {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  const double cpu = cpu_now();
  const auto begin = std::chrono::steady_clock::now();
  ok = ok && std::system(cmd.c_str()) == 0;
  took.wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  took.cpu += cpu_now() - cpu;
}

// Argument 0: the long, dense song; 1: the demo song, a piece of music.
void BM_RenderAgainstFluidSynth(benchmark::State& state) {
  const std::string cli = beside_me("takto-cli"), font = find_soundfont("");
  if (!std::filesystem::exists(cli) || font.empty() || access("/usr/bin/fluidsynth", X_OK) != 0) {
    state.SkipWithError("needs takto-cli, a General MIDI SoundFont and the fluidsynth program");
    return;
  }
  headless_echo_alerts(false);
  const std::string base =
      (std::filesystem::temp_directory_path() / "takto-bench-render-").string() + std::to_string(::getpid());
  std::string song = base + ".sqf";
  const std::string mid = base + ".mid", ours_wav = base + ".wav", peer = base + "-peer.wav";
  if (state.range(0) == 1) {
    song = TAKTO_SOURCE_DIR "/examples/demo.sqf";
  } else {
    set_file_name(song.c_str());
    if (!make_long_song() || save_song() != 0) {
      state.SkipWithError("cannot make the song");
      return;
    }
  }
  bool ok = std::system((cli + " export-midi " + song + " " + mid).c_str()) == 0;
  const std::string render = cli + " render " + song + " " + ours_wav;
  const std::string fluidsynth =
      "/usr/bin/fluidsynth -ni -F " + peer + " -r 44100 -o synth.device-id=16 " + font + " " + mid + " >/dev/null 2>&1";
  Took ours, theirs;
  for (auto _ : state) {
    run_timed(render, ours, ok);
    run_timed(fluidsynth, theirs, ok);
  }
  if (!ok) state.SkipWithError("a render failed");
  std::error_code ec;
  const double audio_s = static_cast<double>(std::filesystem::file_size(ours_wav, ec)) / 4 / 44100;
  const double n = static_cast<double>(state.iterations());
  state.counters["audio_s"] = audio_s;
  state.counters["render_s"] = ours.wall / n;
  state.counters["fluidsynth_s"] = theirs.wall / n;
  state.counters["ratio"] = ours.wall / theirs.wall;
  state.counters["x_realtime"] = audio_s / (ours.wall / n);
  // Processor time does not depend on what else the machine runs.
  state.counters["render_cpu_s"] = ours.cpu / n;
  state.counters["fluidsynth_cpu_s"] = theirs.cpu / n;
  state.counters["cpu_ratio"] = ours.cpu / theirs.cpu;
  state.counters["x_realtime_cpu"] = audio_s / (ours.cpu / n);
  for (const std::string& f : {mid, ours_wav, peer}) std::filesystem::remove(f, ec);
  if (state.range(0) == 0) std::filesystem::remove(song, ec);
}
BENCHMARK(BM_RenderAgainstFluidSynth)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_RenderAgainstFluidSynth)->Arg(1)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

// takto-cli render of the long song as it is and with --normalize, whose
// audio goes through a scratch file: the time and the child's peak resident
// size of each (argument 1: --normalize).
void BM_RenderNormalize(benchmark::State& state) {
  const std::string cli = beside_me("takto-cli");
  if (!std::filesystem::exists(cli) || find_soundfont("").empty()) {
    state.SkipWithError("needs takto-cli and a General MIDI SoundFont");
    return;
  }
  headless_echo_alerts(false);
  const std::string base =
      (std::filesystem::temp_directory_path() / "takto-bench-normalize-").string() + std::to_string(::getpid());
  const std::string song = base + ".sqf", wav = base + ".wav";
  set_file_name(song.c_str());
  if (!make_long_song() || save_song() != 0) {
    state.SkipWithError("cannot make the song");
    return;
  }
  const char* normalize = state.range(0) == 1 ? "--normalize" : nullptr;
  long peak_kb = 0;
  for (auto _ : state) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl(cli.c_str(), cli.c_str(), "render", song.c_str(), wav.c_str(), normalize, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("render failed");
      break;
    }
    peak_kb = std::max(peak_kb, usage.ru_maxrss);
  }
  std::error_code ec;
  state.counters["audio_s"] = static_cast<double>(std::filesystem::file_size(wav, ec)) / 4 / 44100;
  state.counters["peak_rss_MB"] = static_cast<double>(peak_kb) / 1024.0;
  for (const std::string& f : {song, wav}) std::filesystem::remove(f, ec);
}
BENCHMARK(BM_RenderNormalize)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
