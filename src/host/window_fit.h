// Where the 640 x 400 picture goes in a window or on a screen: always a whole
// multiple, so that each of its pixels stays a square block, never blurred.
#pragma once

struct PicturePlace {
  int scale;  // 1 or more
  int x, y;   // the picture's top left in the area; 0 where it does not fit
};

// The largest whole scale at which the picture fits an area of width x height,
// centred in it; scale 1 at the top left when not even that fits.
PicturePlace place_picture(int width, int height);

// The scale a window starts at: the largest whose window, the picture plus a
// frame of frame_width x frame_height, fits the usable area; at least 1.
int start_scale(int usable_width, int usable_height, int frame_width, int frame_height);
