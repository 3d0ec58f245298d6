// The program's screens: a keystroke in the editor on a full track, from the
// key to the presented picture; paint_screen of each mode; a track monitor
// refresh while playing.
#include <benchmark/benchmark.h>

#include "common/song_builder.h"
#include "editor/editor.h"
#include "host/headless/headless.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/internal.h"
#include "screens/screens.h"

namespace {

// Every track full, the editor in the middle of track 1.
void full_song_in_editor() {
  headless_echo_alerts(false);
  make_full_song();
  player_reset();
  init_text_screen();
  current_track = 0;
  screen_mode.store(MODE_EDIT);
  edit_pos = first_event(0) + 4 * (MAX_TRACK_EVENTS / 2);
  find_edit_meas();
  window_top = edit_pos;
  edit_mode = EDIT_OVERWRITE;
  cursor_column = 20;
  shown_track = -1;
  paint_screen();
}

// What the edit screen's loop does for one key.
void keystroke(int key) {
  handle_edit_key(key);
  draw_track_view();
  end_refresh();
}

void BM_EditorCursorKey(benchmark::State& state) {
  full_song_in_editor();
  int i = 0;
  for (auto _ : state) keystroke(++i % 2 ? 31 : 30);  // down, up
}
BENCHMARK(BM_EditorCursorKey)->Unit(benchmark::kMicrosecond);

void BM_EditorStepKey(benchmark::State& state) {
  full_song_in_editor();
  int i = 0;
  for (auto _ : state) keystroke(++i % 2 ? 25 : 26);  // Page Up, Page Down
}
BENCHMARK(BM_EditorStepKey)->Unit(benchmark::kMicrosecond);

// A repeat start inserted and deleted again at the top of the first track of
// a full song, so that every byte of the image after it moves twice.
void BM_EditorInsertAndDeleteKeys(benchmark::State& state) {
  full_song_in_editor();
  // Make room: one event off the first track.
  delete_event(first_event(0), edit_meas);
  edit_pos = first_event(0);
  find_edit_meas();
  for (auto _ : state) {
    keystroke('[');
    keystroke(30);
    keystroke(11);  // Ctrl+K
  }
  state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_EditorInsertAndDeleteKeys)->Unit(benchmark::kMicrosecond);

void BM_PaintScreen(benchmark::State& state) {
  full_song_in_editor();
  screen_mode.store(static_cast<std::uint8_t>(state.range(0)));
  for (auto _ : state) {
    paint_screen();
    present();
  }
  screen_mode.store(MODE_EDIT);
}
BENCHMARK(BM_PaintScreen)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The track monitor following play: each refresh moves the player's position
// of the current track one event on, across measure ends now and then.
void BM_TrackMonitorRefresh(benchmark::State& state) {
  full_song_in_editor();
  screen_mode.store(MODE_TRACK_MONITOR);
  paint_screen();
  std::uint32_t p = first_event(0) + 4 * 1000;
  std::int32_t m = 200;
  for (auto _ : state) {
    p += 4;
    if (image()[p - 4] == EV_MEASURE_END) ++m;
    if (image()[p] == EV_END) p = first_event(0) + 4;
    position[0].store(p);
    measure[0].store(m);
    draw_track_view();
    end_refresh();
  }
  screen_mode.store(MODE_EDIT);
}
BENCHMARK(BM_TrackMonitorRefresh)->Unit(benchmark::kMicrosecond);

}  // namespace
