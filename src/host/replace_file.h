// Replacing a file whole: nothing is lost when a write fails half way.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Writes a file through `write` into a temporary file beside `target`, and
// renames it over the target only when `write` succeeded and everything was
// flushed and closed. On failure the temporary file is removed, the target is
// left as it was, and `error` (when given) says why. The new file keeps the
// permissions of the one it replaces. True when the target was replaced.
bool replace_file(const std::string& target, const std::function<bool(std::FILE*)>& write,
                  std::string* error = nullptr);
