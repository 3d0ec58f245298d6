// The picture's whole-multiple scale in a window, and a window's start scale.
#include <gtest/gtest.h>

#include "host/rows.h"
#include "host/window_fit.h"

TEST(WindowFit, PictureCentredAtTheLargestWholeScaleAndStartScaleCountsTheFrame) {
  for (const auto& r : numbers("place")) {
    const PicturePlace p = place_picture(int(r[0]), int(r[1]));
    EXPECT_EQ((std::vector<long long>{p.scale, p.x, p.y}), std::vector<long long>(r.begin() + 2, r.end()))
        << r[0] << " x " << r[1];
  }
  for (const auto& r : numbers("start"))
    EXPECT_EQ(start_scale(int(r[0]), int(r[1]), int(r[2]), int(r[3])), r[4])
        << r[0] << " x " << r[1] << " frame " << r[2] << " x " << r[3];
}
