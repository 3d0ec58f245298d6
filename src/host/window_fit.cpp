#include "host/window_fit.h"

#include <algorithm>

#include "host/screen.h"

namespace {
int fitting_scale(int width, int height) {
  return std::max(1, std::min(width / PICTURE_WIDTH, height / PICTURE_HEIGHT));
}
}  // namespace

PicturePlace place_picture(int width, int height) {
  const int scale = fitting_scale(width, height);
  return {scale, std::max(0, (width - PICTURE_WIDTH * scale) / 2), std::max(0, (height - PICTURE_HEIGHT * scale) / 2)};
}

int start_scale(int usable_width, int usable_height, int frame_width, int frame_height) {
  return fitting_scale(usable_width - frame_width, usable_height - frame_height);
}
