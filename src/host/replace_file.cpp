#include "host/replace_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "host/host.h"

namespace fs = std::filesystem;

bool replace_file(const std::string& target, const std::function<bool(std::FILE*)>& write,
                  std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::error_code ec;
  if (target.empty()) return fail("no file name");
  const fs::path target_path = host_path(target.c_str());
  if (fs::is_directory(target_path, ec)) return fail(std::strerror(EISDIR));
  bool exists = fs::exists(target_path, ec);
  if (exists) {
    // A file we may not write to stays as it is, although the folder would let us replace it.
    std::FILE* probe = host_open_file(target.c_str(), "r+b");
    if (!probe) return fail(std::strerror(errno));
    std::fclose(probe);
  }
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", std::random_device{}());
  const std::string temp = target + suffix;
  const fs::path temp_path = host_path(temp.c_str());
  std::FILE* f = host_open_file(temp.c_str(), "wb");
  if (!f) return fail(std::strerror(errno));
  errno = 0;
  bool ok = write(f);
  ok = std::fflush(f) == 0 && !std::ferror(f) && ok;
  int saved_errno = errno;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    fs::remove(temp_path, ec);
    return fail(saved_errno ? std::strerror(saved_errno) : "write failed");
  }
  if (exists) fs::permissions(temp_path, fs::status(target_path, ec).permissions(), ec);
  fs::rename(temp_path, target_path, ec);
  if (ec) {
    std::string why = ec.message();
    fs::remove(temp_path, ec);
    return fail(why);
  }
  return true;
}
