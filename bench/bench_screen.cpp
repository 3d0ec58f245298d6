#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "host/png/png_picture.h"
#include "host/screen.h"

namespace {

// A full 80-byte row of mixed single-byte and double-byte text.
std::string mixed_line() {
  std::string s;
  while (s.size() < 80) s += "\x83\x5C\x83\x93\x83O Song \xBF\xDD\xB8\xDE 0123 ";
  s.resize(80);
  if (static_cast<unsigned char>(s[79]) >= 0x80) s[79] = ' ';
  return s;
}

void BM_PrintAtRow(benchmark::State& state) {
  init_text_screen();
  const std::string line = mixed_line();
  int row = 0;
  for (auto _ : state) {
    print_at(0, row, line.c_str(), 13);
    row = (row + 1) % 25;
  }
  state.SetItemsProcessed(state.iterations() * 80);  // cells
}
BENCHMARK(BM_PrintAtRow);

void BM_FullScreenOfText(benchmark::State& state) {
  init_text_screen();
  const std::string line = mixed_line();
  for (auto _ : state) {
    for (int row = 0; row < 25; ++row) print_at(0, row, line.c_str(), row % 2 ? 7 : 23);
    present();
  }
}
BENCHMARK(BM_FullScreenOfText);

void BM_BlinkStep(benchmark::State& state) {
  init_text_screen();
  print_at(10, 10, "\x8A\xBF", 7);
  set_cursor(11, 10);
  for (auto _ : state) blink_cursor();
}
BENCHMARK(BM_BlinkStep);

void BM_FillWholePicture(benchmark::State& state) {
  init_text_screen();
  int c = 0;
  for (auto _ : state) {
    set_pen(3, c++ & 3);
    fill_rect(0, 0, 639, 399);
  }
  state.SetBytesProcessed(state.iterations() * 256000);
}
BENCHMARK(BM_FillWholePicture);

void BM_InvertColumn(benchmark::State& state) {
  init_text_screen();
  int x = 0;
  for (auto _ : state) {
    invert_column(x);
    x = (x + 1) % 640;
  }
}
BENCHMARK(BM_InvertColumn);

void BM_KeyThroughQueue(benchmark::State& state) {
  reset_keys();
  for (auto _ : state) {
    on_key_down(65);
    benchmark::DoNotOptimize(poll_key());
  }
}
BENCHMARK(BM_KeyThroughQueue);

void BM_SavePicturePng(benchmark::State& state) {
  init_text_screen();
  const std::string line = mixed_line();
  for (int row = 0; row < 25; ++row) print_at(0, row, line.c_str(), 5 + row % 11);
  const std::string path = (std::filesystem::temp_directory_path() / "takto-bench-picture.png").string();
  std::string error;
  for (auto _ : state) {
    if (save_picture_png(path.c_str(), error) != 0) state.SkipWithError(error.c_str());
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_SavePicturePng)->Unit(benchmark::kMillisecond);

}  // namespace
