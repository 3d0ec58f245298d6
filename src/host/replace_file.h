// Writing a file whole, and reading one whole: nothing is lost when a write
// fails half way, and nothing waits for ever on a file that is no file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Writes a file through `write` into a temporary file beside the target, and
// renames it over the target only when `write` succeeded and everything is
// flushed to the disk. On failure the temporary file is removed, the target
// is left as it was, and `error` (when given) says why. True when written.
//
// A symbolic link is followed: the file it names is replaced and the link
// stays (a dangling link gets the file it names). A target that exists but is
// no regular file (a folder, FIFO or device) is refused untouched. The new
// file keeps the permissions of the one it replaces, and its owner and group
// where the user may set them; set-user-ID and set-group-ID bits are kept only
// while the owner and group are. When the folder lets no new file be made but
// the target may be written, the target is written in place instead.
bool replace_file(const std::string& target, const std::function<bool(std::FILE*)>& write,
                  std::string* error = nullptr);

enum class ReadStatus { ok, missing, open_failed, directory, special, too_big, failed };
// Reads the whole file `name` into `out`: opens it first, then checks the
// opened file (a regular file of at most `limit` bytes) and reads from that
// same descriptor, so that a FIFO swapped in meanwhile cannot stall the read.
ReadStatus read_whole_file(const char* name, std::vector<std::uint8_t>& out, std::size_t limit);
