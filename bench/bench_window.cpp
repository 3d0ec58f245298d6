// One paint of the desktop window: the picture converted and stretched by the
// largest whole scale into a window surface of each size (X11's 32-bit
// format), border included.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>

#include "host/desktop/desktop.h"
#include "host/screen.h"

namespace {
void BM_DrawPicture(benchmark::State& state) {
  SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormat(0, PICTURE_WIDTH, PICTURE_HEIGHT, 8, SDL_PIXELFORMAT_INDEX8);
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, static_cast<int>(state.range(0)),
                                                       static_cast<int>(state.range(1)), 32, SDL_PIXELFORMAT_RGB888);
  SDL_Surface* converted = nullptr;
  SDL_Color colours[16];
  for (int i = 0; i < 16; ++i) colours[i] = {colour_table[i][0], colour_table[i][1], colour_table[i][2], 255};
  SDL_SetPaletteColors(picture->format->palette, colours, 0, 16);
  auto* pixels = static_cast<std::uint8_t*>(picture->pixels);
  for (int i = 0; i < picture->pitch * PICTURE_HEIGHT; ++i) pixels[i] = static_cast<std::uint8_t>(i * 7 % 16);
  for (auto _ : state) {
    draw_picture(picture, target, converted);
    benchmark::DoNotOptimize(target->pixels);
  }
  state.SetBytesProcessed(state.iterations() * target->pitch * target->h);
  SDL_FreeSurface(converted);
  SDL_FreeSurface(target);
  SDL_FreeSurface(picture);
}
BENCHMARK(BM_DrawPicture)
    ->Args({640, 400})
    ->Args({1280, 800})
    ->Args({1920, 1080})
    ->Args({3200, 2000})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);
}  // namespace
