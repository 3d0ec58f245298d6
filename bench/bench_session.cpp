// Scripted sessions: what about one second of script costs, the whole
// program on the virtual clock over a song of 18 full tracks (loaded from its
// file at each start, as takto-cli session does). A golden screen test or a
// fuzz input pays this.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/headless/session/session.h"
#include "host/host.h"
#include "player/player.h"

namespace {

const std::string& full_song_file() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "takto-bench-session.sqf").string();
    headless_echo_alerts(false);
    make_full_song();
    set_file_name(p.c_str());
    if (save_song() != 0) std::abort();
    std::atexit([] { std::remove(full_song_file().c_str()); });
    return p;
  }();
  return path;
}

// Each script quits the program at its end, so no session waits out its tail.
constexpr const char* scripts[] = {
    "wait=1000 Q",                               // main screen, idle
    "RETURN RETURN RETURN wait=1000 ESC ESC Q",  // edit screen, idle
    "RETURN RETURN RETURN "
    "DOWN UP "
    "DOWN UP "
    "DOWN UP "
    "DOWN UP "
    "DOWN UP "
    "PGUP PGDN PGUP PGDN PGUP PGDN PGUP PGDN PGUP PGDN PGUP PGDN PGUP PGDN ESC ESC Q",  // 30 keys a second
    "P wait=1000 ESC Q",  // play monitor, all 18 tracks sounding
};
constexpr const char* labels[] = {"main screen", "edit screen", "editor keys", "play monitor"};

void BM_SessionSecond(benchmark::State& state) {
  const std::string& song = full_song_file();
  std::vector<ScriptToken> tokens;
  std::string error;
  if (!parse_key_script(scripts[state.range(0)], tokens, error)) std::abort();
  headless_record_midi(false);
  for (auto _ : state) {
    set_file_name(song.c_str());
    run_session(tokens, main_loop, on_timer);
  }
  state.SetLabel(labels[state.range(0)]);
}
// The session runs on its own thread: wall time is the measure.
BENCHMARK(BM_SessionSecond)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
