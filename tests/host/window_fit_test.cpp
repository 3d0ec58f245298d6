// The picture's whole-multiple scale in a window, and a window's start scale.
#include <gtest/gtest.h>

#include <tuple>

#include "host/window_fit.h"

namespace {
TEST(WindowFit, PictureCentredAtTheLargestWholeScale) {
  const struct {
    int width, height;
    PicturePlace place;
  } cases[] = {
      {640, 400, {1, 0, 0}},    {1280, 800, {2, 0, 0}},      {1279, 800, {1, 319, 200}}, {1280, 799, {1, 320, 199}},
      {1400, 900, {2, 60, 50}}, {1920, 1080, {2, 320, 140}}, {3840, 2160, {5, 320, 80}}, {1921, 1081, {2, 320, 140}},
      {600, 300, {1, 0, 0}},    {700, 300, {1, 30, 0}},      {0, 0, {1, 0, 0}},
  };
  for (const auto& c : cases) {
    const PicturePlace p = place_picture(c.width, c.height);
    EXPECT_EQ(std::tie(p.scale, p.x, p.y), std::tie(c.place.scale, c.place.x, c.place.y))
        << c.width << " x " << c.height;
  }
}

TEST(WindowFit, StartScaleCountsTheFrame) {
  const struct {
    int usable_width, usable_height, frame_width, frame_height, scale;
  } cases[] = {
      {1024, 768, 2, 30, 1},   {1920, 1080, 2, 30, 2}, {3840, 2160, 2, 30, 5}, {1920, 1040, 16, 39, 2},
      {1280, 800, 0, 0, 2},    {1280, 800, 0, 30, 1},  {1281, 830, 1, 30, 2},  {1282, 830, 3, 30, 1},
      {7680, 4320, 2, 30, 10}, {500, 300, 2, 30, 1},   {0, 0, 0, 0, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(start_scale(c.usable_width, c.usable_height, c.frame_width, c.frame_height), c.scale)
        << c.usable_width << " x " << c.usable_height << " frame " << c.frame_width << " x " << c.frame_height;
  }
}
}  // namespace
