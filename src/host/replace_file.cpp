#include "host/replace_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

bool replace_file(const std::string& target, const std::function<bool(std::FILE*)>& write,
                  std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::error_code ec;
  if (target.empty()) return fail("no file name");
  if (fs::is_directory(target, ec)) return fail(std::strerror(EISDIR));
  bool exists = fs::exists(target, ec);
  if (exists) {
    // A file we may not write to stays as it is, although the folder would let us replace it.
    std::FILE* probe = std::fopen(target.c_str(), "r+b");
    if (!probe) return fail(std::strerror(errno));
    std::fclose(probe);
  }
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", std::random_device{}());
  const std::string temp = target + suffix;
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return fail(std::strerror(errno));
  errno = 0;
  bool ok = write(f);
  ok = std::fflush(f) == 0 && !std::ferror(f) && ok;
  int saved_errno = errno;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    fs::remove(temp, ec);
    return fail(saved_errno ? std::strerror(saved_errno) : "write failed");
  }
  if (exists) fs::permissions(temp, fs::status(target, ec).permissions(), ec);
  fs::rename(temp, target, ec);
  if (ec) {
    std::string why = ec.message();
    fs::remove(temp, ec);
    return fail(why);
  }
  return true;
}
