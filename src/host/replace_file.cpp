#include "host/replace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "host/host.h"

namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// The temporary name for a file named `base`: the name, cut where needed so
// that the whole fits in name_max bytes, and a random suffix.
std::string temp_name(const std::string& base, std::size_t name_max) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", std::random_device{}());
  const std::size_t room = name_max > std::strlen(suffix) ? name_max - std::strlen(suffix) : 0;
  return base.substr(0, std::min(base.size(), room)) + suffix;
}

// Hands the file to write and flushes it; errno of the first failure in err.
bool write_to(std::FILE* f, const std::function<bool(std::FILE*)>& write, int& err) {
  errno = 0;
  bool ok = write(f);
  ok = std::fflush(f) == 0 && !std::ferror(f) && ok;
  err = errno;
  return ok;
}

std::string why(int err) { return err ? std::strerror(err) : "write failed"; }

}  // namespace

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace {

constexpr const char* NOT_REGULAR = "not a regular file";

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows the symbolic links of the last name to the name the data lives
// under (which need not exist yet). False, with errno, on a loop.
bool resolve_links(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char to[4096];
    const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof to)) {
      if (n >= 0) errno = ENAMETOOLONG;
      return false;
    }
    const std::string link(to, static_cast<std::size_t>(n));
    path = link[0] == '/' ? link : folder_of(path) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// With a file-size limit the kernel's signal would kill the program half way
// through a write; ignored, the write fails with EFBIG and is reported.
void ignore_file_size_signal() {
  static const bool ignored = (std::signal(SIGXFSZ, SIG_IGN), true);
  (void)ignored;
}

void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The fallback when no temporary file can be made: the target itself is
// written from the start and cut to the new length.
bool write_in_place(int fd, const std::function<bool(std::FILE*)>& write, std::string* error) {
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    const int err = errno;
    ::close(fd);
    return fail(error, why(err));
  }
  int err = 0;
  bool ok = false;
  try {
    ok = write_to(f, write, err);
  } catch (...) {
    std::fclose(f);
    throw;
  }
  const off_t end = ::ftello(f);
  if (ok && (end < 0 || ::ftruncate(fd, end) != 0 || ::fsync(fd) != 0)) ok = false, err = errno;
  if (std::fclose(f) != 0 && ok) ok = false, err = errno;
  return ok || fail(error, why(err));
}

}  // namespace

bool replace_file(const std::string& target, const std::function<bool(std::FILE*)>& write, std::string* error) {
  if (target.empty()) return fail(error, "no file name");
  ignore_file_size_signal();
  struct stat old;
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return fail(error, std::strerror(errno));
  if (exists && S_ISDIR(old.st_mode)) return fail(error, std::strerror(EISDIR));
  if (exists && !S_ISREG(old.st_mode)) return fail(error, NOT_REGULAR);
  std::string path = target;
  if (!resolve_links(path)) return fail(error, std::strerror(errno));

  int target_fd = -1;
  if (exists) {
    // A file we may not write to stays as it is, although the folder would
    // let us replace it. The opened file must be the one the name led to.
    target_fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (target_fd < 0) return fail(error, errno == ELOOP ? NOT_REGULAR : std::strerror(errno));
    struct stat now;
    if (::fstat(target_fd, &now) != 0 || !S_ISREG(now.st_mode) || !same_file(now, old)) {
      ::close(target_fd);
      return fail(error, NOT_REGULAR);
    }
  }

  const std::string folder = folder_of(path);
  // The temporary name fits the folder's NAME_MAX, and its whole path PATH_MAX.
  const long name_max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  const std::size_t path_room = folder.size() + 1 < FILE_NAME_SIZE - 1 ? FILE_NAME_SIZE - 2 - folder.size() : 0;
  const std::size_t room = std::min(name_max > 0 ? static_cast<std::size_t>(name_max) : 255, path_room);
  std::string temp;
  int fd = -1;
  for (int tries = 0; tries < 100 && fd < 0; ++tries) {
    temp = folder + "/" + temp_name(base_of(path), room);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int err = errno;
    if (target_fd >= 0 && (err == EACCES || err == EPERM)) return write_in_place(target_fd, write, error);
    if (target_fd >= 0) ::close(target_fd);
    return fail(error, std::strerror(err));
  }
  if (target_fd >= 0) ::close(target_fd);

  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return fail(error, why(err));
  }
  int err = 0;
  bool ok = false;
  try {
    ok = write_to(f, write, err);
  } catch (...) {  // out of memory, say: nothing may be left behind
    std::fclose(f);
    ::unlink(temp.c_str());
    throw;
  }
  if (ok && exists) {
    // Owner and group as before where the user may set them (the group alone
    // when only that is allowed). Set-ID bits stay only on a file that still
    // belongs to the same owner and group, so no one's program becomes ours.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      // left with the user's own owner and group
    }
    struct stat now;
    mode_t mode = old.st_mode & 07777;
    if (::fstat(fd, &now) != 0 || now.st_uid != old.st_uid) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    if (now.st_gid != old.st_gid) mode &= ~static_cast<mode_t>(S_ISGID);
    if (::fchmod(fd, mode) != 0) ok = false, err = errno;
  }
  // On the disk before the rename, so a crash cannot leave an empty file.
  if (ok && ::fsync(fd) != 0) ok = false, err = errno;
  if (std::fclose(f) != 0 && ok) ok = false, err = errno;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false, err = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    return fail(error, why(err));
  }
  sync_folder(folder);
  return true;
}

ReadStatus read_whole_file(const char* name, std::vector<std::uint8_t>& out, std::size_t limit) {
  out.clear();
  // Non-blocking, so that opening a FIFO returns at once; checked right after.
  const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadStatus::missing : ReadStatus::open_failed;
  struct stat st;
  ReadStatus status = ReadStatus::ok;
  if (::fstat(fd, &st) != 0) {
    status = ReadStatus::failed;
  } else if (S_ISDIR(st.st_mode)) {
    status = ReadStatus::directory;
  } else if (!S_ISREG(st.st_mode)) {
    status = ReadStatus::special;
  } else if (static_cast<std::uintmax_t>(st.st_size) > limit) {
    status = ReadStatus::too_big;
  } else {
    // One byte more than the file holds, to notice a file that grew since the
    // check; the buffer grows with it up to one byte more than allowed.
    out.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    while (got < out.size()) {
      const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) status = ReadStatus::failed;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
      if (got == out.size() && out.size() <= limit) out.resize(std::min(limit + 1, 2 * out.size()));
    }
    out.resize(got);
    if (status == ReadStatus::ok && got > limit) status = ReadStatus::too_big;
  }
  ::close(fd);
  if (status != ReadStatus::ok) out.clear();
  return status;
}

#else  // Windows: the standard library's view of files.

#include <filesystem>

namespace fs = std::filesystem;

bool replace_file(const std::string& target, const std::function<bool(std::FILE*)>& write, std::string* error) {
  std::error_code ec;
  if (target.empty()) return fail(error, "no file name");
  const fs::path target_path = host_path(target.c_str());
  const fs::file_status status = fs::status(target_path, ec);
  if (fs::is_directory(status)) return fail(error, std::strerror(EISDIR));
  const bool exists = fs::exists(status);
  if (exists && !fs::is_regular_file(status)) return fail(error, "not a regular file");
  if (exists) {
    // A file we may not write to stays as it is, although the folder would let us replace it.
    std::FILE* probe = host_open_file(target.c_str(), "r+b");
    if (!probe) return fail(error, std::strerror(errno));
    std::fclose(probe);
  }
  const std::size_t slash = target.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string temp = folder + temp_name(target.substr(folder.size()), 255);
  const fs::path temp_path = host_path(temp.c_str());
  std::FILE* f = host_open_file(temp.c_str(), "wb");
  if (!f) return fail(error, std::strerror(errno));
  int err = 0;
  bool ok = false;
  try {
    ok = write_to(f, write, err);
  } catch (...) {
    std::fclose(f);
    fs::remove(temp_path, ec);
    throw;
  }
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    fs::remove(temp_path, ec);
    return fail(error, why(err));
  }
  if (exists) fs::permissions(temp_path, fs::status(target_path, ec).permissions(), ec);
  fs::rename(temp_path, target_path, ec);
  if (ec) {
    std::string reason = ec.message();
    fs::remove(temp_path, ec);
    return fail(error, reason);
  }
  return true;
}

ReadStatus read_whole_file(const char* name, std::vector<std::uint8_t>& out, std::size_t limit) {
  out.clear();
  std::error_code ec;
  const fs::path path = host_path(name);
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) return ReadStatus::missing;
  if (fs::is_directory(status)) return ReadStatus::directory;
  if (!fs::is_regular_file(status)) return ReadStatus::special;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (!ec && size > limit) return ReadStatus::too_big;
  std::FILE* f = host_open_file(name, "rb");
  if (!f) return ReadStatus::open_failed;
  out.resize(ec ? limit + 1 : static_cast<std::size_t>(size) + 1);
  std::size_t got = 0;
  for (;;) {
    got += std::fread(out.data() + got, 1, out.size() - got, f);
    if (got < out.size() || out.size() > limit || std::ferror(f)) break;
    out.resize(std::min(limit + 1, 2 * out.size()));
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  out.resize(got);
  if (failed || got > limit) {
    out.clear();
    return failed ? ReadStatus::failed : ReadStatus::too_big;
  }
  return ReadStatus::ok;
}

#endif
