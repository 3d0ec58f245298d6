#include "host/png/png_picture.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "host/replace_file.h"
#include "host/screen.h"
#include "host/screen_lock.h"

namespace {
struct PngFailure {
  std::jmp_buf jump;
  char message[256];
};

void on_png_error(png_structp png, png_const_charp message) {
  auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
  std::snprintf(failure->message, sizeof failure->message, "%s", message);
  std::longjmp(failure->jump, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp, so this function holds only plain data:
// nothing with a destructor may be skipped by the jump. Returns 0 or 1.
int write_png_stream(std::FILE* file, const std::uint8_t* pixels, const std::uint8_t colours[16][3],
                     PngFailure* failure) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, on_png_error, on_png_warning);
  if (png == nullptr) {
    std::snprintf(failure->message, sizeof failure->message, "out of memory");
    return 1;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(failure->message, sizeof failure->message, "out of memory");
    return 1;
  }
  if (setjmp(failure->jump)) {
    png_destroy_write_struct(&png, &info);
    return 1;
  }
  png_init_io(png, file);
  // Every index is 0..15, so four bits a pixel carry the picture whole.
  png_set_IHDR(png, info, PICTURE_WIDTH, PICTURE_HEIGHT, 4, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[16];
  for (int i = 0; i < 16; ++i) {
    palette[i].red = colours[i][0];
    palette[i].green = colours[i][1];
    palette[i].blue = colours[i][2];
  }
  png_set_PLTE(png, info, palette, 16);
  png_write_info(png, info);
  png_set_packing(png);
  png_byte row[PICTURE_WIDTH];
  for (int y = 0; y < PICTURE_HEIGHT; ++y) {
    // The picture is stored bottom-up; PNG rows go top-down.
    const std::uint8_t* src = pixels + (PICTURE_HEIGHT - 1 - y) * PICTURE_WIDTH;
    for (int x = 0; x < PICTURE_WIDTH; ++x) row[x] = static_cast<png_byte>(src[x] & 15);
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 0;
}
}  // namespace

int write_picture_png(const char* path, const std::uint8_t* pixels, const std::uint8_t colours[16][3],
                      std::string& error) {
  PngFailure failure{};
  std::string why;
  bool ok = replace_file(
      path,
      [&](std::FILE* file) {
        if (write_png_stream(file, pixels, colours, &failure) == 0) return true;
        errno = 0;  // the reason is libpng's
        return false;
      },
      &why);
  if (ok) return 0;
  error = std::string("cannot write ") + path + ": " + (failure.message[0] ? failure.message : why);
  return 1;
}

int save_picture_png(const char* path, std::string& error) {
  // A copy, so that the window thread's blink can go on while the file is written.
  std::vector<std::uint8_t> copy(PICTURE_SIZE);
  {
    std::lock_guard<std::mutex> hold(screen_lock);
    std::memcpy(copy.data(), screen_bitmap, PICTURE_SIZE);
  }
  return write_picture_png(path, copy.data(), colour_table, error);
}
