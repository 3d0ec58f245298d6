// The picture into a window's surface: at the largest whole scale the surface
// takes, centred, the border black.
#include <SDL2/SDL.h>

#include "host/desktop/desktop.h"
#include "host/screen.h"
#include "host/window_fit.h"

void draw_picture(SDL_Surface* picture, SDL_Surface* target, SDL_Surface*& converted) {
  const PicturePlace place = place_picture(target->w, target->h);
  const int width = PICTURE_WIDTH * place.scale, height = PICTURE_HEIGHT * place.scale;
  // Only the border is filled: full screen, the picture is most of a large display.
  const Uint32 black = SDL_MapRGB(target->format, 0, 0, 0);
  const int below = place.y + height, beside = place.x + width;
  const SDL_Rect border[] = {{0, 0, target->w, place.y},
                             {0, below, target->w, target->h - below},
                             {0, place.y, place.x, height},
                             {beside, place.y, target->w - beside, height}};
  for (const SDL_Rect& r : border) {
    if (r.w > 0 && r.h > 0) SDL_FillRect(target, &r, black);
  }
  SDL_Rect to{place.x, place.y, width, height};
  if (place.scale == 1) {
    SDL_BlitSurface(picture, nullptr, target, &to);
    return;
  }
  // A scaled blit takes no palette: convert first, then stretch (nearest
  // neighbour, whole multiples: each pixel a square block).
  if (converted == nullptr || converted->format->format != target->format->format) {
    if (converted) SDL_FreeSurface(converted);
    converted = SDL_CreateRGBSurfaceWithFormat(0, PICTURE_WIDTH, PICTURE_HEIGHT, 32, target->format->format);
  }
  if (converted && SDL_BlitSurface(picture, nullptr, converted, nullptr) == 0) {
    SDL_BlitScaled(converted, nullptr, target, &to);
  }
}
