// Reads a palette PNG back with libpng, for checking what the writer made.
#pragma once

#include <png.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct PngPicture {
  bool ok = false;
  unsigned width = 0, height = 0;
  int bit_depth = 0, colour_type = 0;
  std::vector<std::array<std::uint8_t, 3>> palette;
  std::vector<std::uint8_t> indices;  // one per pixel, rows top-down
};

inline PngPicture read_png(const std::string& path) {
  PngPicture pic;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return pic;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    pic.ok = false;
    return pic;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  pic.width = png_get_image_width(png, info);
  pic.height = png_get_image_height(png, info);
  pic.bit_depth = png_get_bit_depth(png, info);
  pic.colour_type = png_get_color_type(png, info);
  png_colorp pal = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &pal, &count))
    for (int i = 0; i < count; ++i) pic.palette.push_back({pal[i].red, pal[i].green, pal[i].blue});
  png_set_packing(png);
  png_read_update_info(png, info);
  pic.indices.assign(static_cast<std::size_t>(pic.width) * pic.height, 0);
  for (unsigned y = 0; y < pic.height; ++y) rows.push_back(pic.indices.data() + y * pic.width);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  pic.ok = true;
  return pic;
}
