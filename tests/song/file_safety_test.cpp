// Saving and loading against what a song's name may lead to: links, FIFOs and
// devices, long names, other owners, read-only folders and a full disk.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>

#include "common/song_builder.h"
#include "common/temp_dir.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct FileSafety : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    headless_echo_alerts(false);
    ASSERT_EQ(new_song(), 0);
    rebuild_track_table();
  }
  int save(const std::string& path) {
    headless_clear_alerts();
    set_file_name(path.c_str());
    return save_song();
  }
  int load(const std::string& path) {
    headless_clear_alerts();
    set_file_name(path.c_str());
    return load_song();
  }
  std::string alert() const { return headless_alerts().empty() ? "" : headless_alerts().back(); }
  Bytes song() const { return Bytes(image(), image() + used_length()); }
  std::size_t entries(const std::string& sub = ".") const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.path / sub), {}));
  }
  struct stat lstat_of(const std::string& name) const {
    struct stat st {};
    ::lstat(dir.file(name).c_str(), &st);
    return st;
  }
};

// Runs f with the effective user nobody when the test runs as root, for whom
// permissions do not bind.
template <class F>
auto as_user(F f) {
  const bool root = ::geteuid() == 0;
  if (root) {
    EXPECT_EQ(::seteuid(65534), 0);
  }
  auto result = f();
  if (root) {
    EXPECT_EQ(::seteuid(0), 0);
  }
  return result;
}

TEST_F(FileSafety, SavesThroughLinksAndKeepsThem) {
  fs::create_directory(dir.file("real"));
  write_file(dir.file("real/song.sqf"), {'o', 'l', 'd'});
  fs::create_symlink("real/song.sqf", dir.file("relative"));
  fs::create_symlink(dir.file("relative"), dir.file("chain"));  // absolute, to a link
  fs::create_symlink("real/new.sqf", dir.file("dangling"));
  fs::create_symlink("loop", dir.file("loop"));
  for (const char* link : {"relative", "chain"}) {
    image()[SONG_TEMPO] += 1;
    ASSERT_EQ(save(dir.file(link)), 0) << link;
    EXPECT_TRUE(fs::is_symlink(dir.file(link))) << link;
    EXPECT_EQ(read_file(dir.file("real/song.sqf")), song()) << link;
  }
  ASSERT_EQ(save(dir.file("dangling")), 0);
  EXPECT_TRUE(fs::is_symlink(dir.file("dangling")));
  EXPECT_EQ(read_file(dir.file("real/new.sqf")), song());
  EXPECT_EQ(save(dir.file("loop")), 1);
  EXPECT_EQ(alert(), "File save failed");
  EXPECT_TRUE(entries() == 5 && entries("real") == 2) << "nothing left behind";
}

TEST_F(FileSafety, TargetsThatAreNoRegularFileAreLeftAlone) {
  // Copies of /dev/null and /dev/full made here: the system's own are never at stake.
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0666), 0);
  fs::create_symlink("fifo", dir.file("to-fifo"));
  const bool devices = ::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                       ::mknod(dir.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  std::vector<std::string> names{"fifo", "to-fifo"};
  if (devices) names.insert(names.end(), {"null", "full"});
  for (const std::string& name : names) {
    const struct stat before = lstat_of(name);
    EXPECT_EQ(save(dir.file(name)), 1) << name;
    EXPECT_EQ(alert(), "File save failed") << name;
    const struct stat after = lstat_of(name);
    EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode) << name;
    EXPECT_EQ(load(dir.file(name)), 0) << name;  // at once, without waiting for a writer
    EXPECT_EQ(alert(), "Not a regular file") << name;
  }
  EXPECT_EQ(entries(), names.size()) << "nothing left behind";
  if (!devices) GTEST_SKIP() << "mknod is not permitted here: device targets untested";
}

TEST_F(FileSafety, NamesUpToTheFileSystemsLimitSave) {
  // Relative names: the whole path must fit file_name's 259 bytes.
  const fs::path was = fs::current_path();
  fs::current_path(dir.path);
  for (std::size_t n : {243, 250, 255}) {
    const std::string name = std::string(n - 4, 'n') + ".sqf";
    image()[SONG_TEMPO] = static_cast<std::uint8_t>(n);
    EXPECT_EQ(save(name), 0) << n;
    EXPECT_EQ(read_file(name), song()) << n;
    fs::remove(name);
  }
  EXPECT_EQ(save(std::string(256, 'n')), 1);  // too long for the file system
  fs::current_path(was);
  EXPECT_EQ(entries(), 0u);
}

TEST_F(FileSafety, OwnerGroupAndSetIdBits) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  const std::string path = dir.file("song.sqf");
  ASSERT_EQ(::chown(dir.path.c_str(), 65534, 65534), 0);
  write_file(path, {'o'});
  ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
  ASSERT_EQ(::chmod(path.c_str(), 06775), 0);
  ASSERT_EQ(save(path), 0);  // root may keep owner and group, and so the set-ID bits
  struct stat st = lstat_of("song.sqf");
  EXPECT_EQ(std::vector<unsigned>({st.st_uid, st.st_gid, st.st_mode & 07777u}),
            std::vector<unsigned>({1234, 5678, 06775}));
  // Another user may write the file but not give it away: the bits must go.
  ASSERT_EQ(::chmod(path.c_str(), 06777), 0);
  ASSERT_EQ(as_user([&] { return save(path); }), 0);
  st = lstat_of("song.sqf");
  EXPECT_EQ(std::vector<unsigned>({st.st_uid, st.st_mode & 07777u}), std::vector<unsigned>({65534, 0777}));
  EXPECT_EQ(read_file(path), song());
}

TEST_F(FileSafety, ReadOnlyFolderWritesAWritableFileInPlace) {
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir.path.c_str(), 65534, 65534), 0);
  }
  const std::string path = dir.file("song.sqf");
  const struct {
    const char* what;
    fs::perms file;
    bool full_song;
    rlim_t size_limit;
    int result;
  } cases[] = {
      {"shorter than the old file", fs::perms(0666), false, RLIM_INFINITY, 0},
      {"longer", fs::perms(0666), true, RLIM_INFINITY, 0},
      {"disk full on the way", fs::perms(0666), true, 64 * 1024, 1},
      {"read-only file", fs::perms(0444), false, RLIM_INFINITY, 1},
  };
  for (const auto& c : cases) {
    if (c.full_song) make_full_song();
    else new_song();
    fs::permissions(dir.path, fs::perms::all);
    write_file(path, Bytes(3000, 'o'));
    fs::permissions(path, c.file);
    fs::permissions(dir.path, fs::perms(0555));
    const ino_t inode = lstat_of("song.sqf").st_ino;
    rlimit saved, limit;
    ::getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = std::min(c.size_limit, saved.rlim_max);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const int result = as_user([&] { return save(path); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(result, c.result) << c.what;
    if (c.result == 0) {
      EXPECT_EQ(read_file(path), song()) << c.what;
    } else {
      EXPECT_EQ(alert(), "File save failed") << c.what;
    }
    EXPECT_TRUE(entries() == 1 && lstat_of("song.sqf").st_ino == inode) << c.what;
  }
  fs::permissions(dir.path, fs::perms::all);
}

}  // namespace
#endif
