// Pictures as PNG files: the 640 x 400 picture as a 16-colour palette image.
#pragma once

#include <cstdint>
#include <string>

// Writes the current picture (screen_bitmap with colour_table) to path,
// replacing the file whole (replace_file), so a failure leaves an existing
// file as it was. 0 done; 1 refused, with the
// reason in error.
int save_picture_png(const char* path, std::string& error);

// The same for any bottom-up 640 x 400 picture of colour-table indices.
int write_picture_png(const char* path, const std::uint8_t* pixels, const std::uint8_t colours[16][3],
                      std::string& error);
