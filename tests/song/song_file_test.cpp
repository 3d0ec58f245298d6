// Saving and loading: the empty song, round trips, refused files, failed
// saves, and what a song's name may lead to (links, FIFOs and devices, long
// names, other owners, read-only folders and a full disk).
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <csignal>
#include <functional>

#include "song/song_fixture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
Bytes image_prefix(std::size_t n) { return {image(), image() + n}; }

class SongFile : public SongTest {
 protected:
  // Differs from the empty song in header and tracks; a continuation without
  // its exclusive or comment does nothing where it stands, so it is no damage.
  static void mark_song() {
    image()[SONG_TEMPO] = 97;
    set_tracks({{{60, 48, 40, 100}, {EV_CONTINUE, 0, 0, 0}}, {}, {{EV_CONTINUE, 0, 0, 0}}});
  }
  std::size_t entries(const std::string& sub = ".") const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.path / sub), {}));
  }
#ifndef _WIN32
  struct stat lstat_of(const std::string& name) const {
    struct stat st {};
    ::lstat(dir.file(name).c_str(), &st);
    return st;
  }
#endif
  std::string state(const std::string& name) const {  // what the name leads to, so that a change shows
#ifndef _WIN32
    const struct stat st = lstat_of(name);
    return std::to_string(st.st_ino) + " " + std::to_string(st.st_mode);
#else
    return std::to_string(int(fs::symlink_status(dir.path / name).type()));
#endif
  }
};

// The new song's file is the hex dump beside this test, and new_song restores every default.
TEST_F(SongFile, EmptySongIsByteExact) {
  std::ifstream in(fs::path(__FILE__).parent_path() / "empty_song.hex");
  Bytes e;
  in.ignore(1 << 20, '\n');  // its comment line
  for (unsigned b; in >> std::hex >> b;) e.push_back(static_cast<std::uint8_t>(b));
  EXPECT_EQ(image_prefix(used_length()), e);
  mark_song();
  std::memset(image(), 'x', SONG_HEADER_SIZE);
  new_song();
  EXPECT_EQ(image_prefix(used_length()), e);
}

// Bytes the loader does not read survive a round trip, stray continuations
// load; a full-size song saves and loads. file_name is UTF-8 on Windows: a
// name outside the system's code page saves and loads under exactly that name.
// A good save replaces the whole old file and keeps its permissions.
TEST_F(SongFile, RoundTripsReplaceTheOldFileAndKeepItsPermissions) {
  const std::u8string name = u8"\u66f2 \u00fc\u0439.sqf";
  for (bool full_size : {false, true}) {
    full_size ? make_full_song() : mark_song();
    for (std::size_t off : {28, 29, 30, 31, 432, 447, 450, 451, 454, 486, 517, 533})
      image()[off] = static_cast<std::uint8_t>(off * 7);  // 28, 29 are not compared on load
    const Bytes song = image_prefix(used_length());
    const fs::path file = dir.path / (full_size ? name : u8"a.sqf");
    std::ofstream(file) << std::string(3000, 'o');
#ifndef _WIN32
    fs::permissions(file, fs::perms(0640));
#endif
    const fs::perms before = fs::status(file).permissions();
    const std::u8string utf8 = file.u8string();
    ASSERT_EQ(save(std::string(utf8.begin(), utf8.end())), 0);
    EXPECT_EQ(fs::file_size(file), song.size());
    EXPECT_EQ(fs::status(file).permissions(), before);
    new_song();
    ASSERT_EQ(load(std::string(utf8.begin(), utf8.end())), 1);
    EXPECT_EQ(image_prefix(used_length()), song);
    EXPECT_TRUE(headless_alerts().empty());
  }
}

// Every refused load leaves the song as its message says: a file not of this
// format a new song, any other the song before, and at once: a FIFO without a
// writer does not hold it. A name that leads to no regular file fails to save
// as well and stays as it was, with nothing beside it. Copies of /dev/null and
// /dev/full made here: the system's own are never at stake.
TEST_F(SongFile, RefusedLoadsAndNamesOfNoRegularFile) {
  const Bytes empty = image_prefix(EMPTY_SONG_SIZE);
  mark_song();
  const Bytes good = image_prefix(used_length());
  const std::size_t t1 = SONG_HEADER_SIZE;  // note, continuation, end
  const struct {
    std::string name;  // a folder, nothing, a FIFO, a device, links; or a song damaged so:
    std::function<void(Bytes&)> damage;
    std::string alert;
  } cases[] = {
      {"", [](Bytes& f) { f.clear(); }, "File size 0 or directory"},
      {"", [](Bytes& f) { f.resize(SONG_IMAGE_SIZE + 1); }, "Too big file"},
      {"", [](Bytes& f) { f[27] = '1'; }, "Not SQF format file"},
      {"", [](Bytes& f) { f.resize(3); }, "Not SQF format file"},
      {"", [](Bytes& f) { f.resize(SONG_HEADER_SIZE); }, "Damaged SQF file (file too short for a song)"},
      {"", [](Bytes& f) { f.pop_back(); }, "Damaged SQF file (track 18: block runs past the end of the file)"},
      {"", [&](Bytes& f) { f[t1] = 44; }, "Damaged SQF file (track 1: bad block length)"},
      {"", [&](Bytes& f) { f[t1] = 58; }, "Damaged SQF file (track 1: bad block length)"},
      {"", [&](Bytes& f) { f[t1 + 1] = 9; }, "Damaged SQF file (track 1: block runs past the end of the file)"},
      {"", [&](Bytes& f) { f[t1 + 52] = 253; }, "Damaged SQF file (track 1: no end of track)"},
      {"", [&](Bytes& f) { f[t1 + 44] = 254; }, "Damaged SQF file (track 1: end of track before the block's end)"},
      {"folder", {}, "File size 0 or directory"},
      {"no/such.sqf", {}, "File not found"},
#ifndef _WIN32
      {"fifo", {}, "Not a regular file"},
      {"to-fifo", {}, "Not a regular file"},
      {"null", {}, "Not a regular file"},
      {"full", {}, "Not a regular file"},
      {"loop", {}, "File open failed"},
#endif
  };
  bool devices = true;
  for (const auto& c : cases) {
    const std::string name = c.damage ? "x.sqf" : c.name, path = dir.file(name);
    if (Bytes file = good; c.damage) c.damage(file), write_file(path, file);
    if (c.name == "folder") fs::create_directory(path);
#ifndef _WIN32
    EXPECT_TRUE(c.name != "fifo" || ::mkfifo(path.c_str(), 0666) == 0);
    if (c.name == "to-fifo" || c.name == "loop") fs::create_symlink(c.name == "loop" ? "loop" : "fifo", path);
    const bool device = c.name == "null" || c.name == "full";
    if (device && ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, c.name == "null" ? 3 : 7)) != 0) {
      devices = false;
      continue;
    }
#endif
    mark_song();
    const Bytes before = image_prefix(SONG_IMAGE_SIZE);
    const std::string was = state(name) + " " + std::to_string(entries());
    EXPECT_EQ(load(path), 0) << c.alert;
    EXPECT_EQ(alert(), c.alert) << name;
    const bool fresh = c.alert == "Not SQF format file";
    EXPECT_EQ(image_prefix(fresh ? EMPTY_SONG_SIZE : SONG_IMAGE_SIZE), fresh ? empty : before) << c.alert;
    if (c.damage) continue;
    EXPECT_EQ(save(path), 1) << name;
    EXPECT_EQ(alert(), "File save failed") << name;
    EXPECT_EQ(state(name) + " " + std::to_string(entries()), was) << name;
  }
  if (!devices) GTEST_SKIP() << "mknod is not permitted here: device targets untested";
}

#ifdef _WIN32
// Windows has no size limit or folder permissions to set; a read-only file
// must stay, although renaming over it would succeed.
TEST_F(SongFile, ReadOnlyFileStays) {
  Bytes old(3000, 'o');
  make_full_song();
  write_file(dir.file("song.sqf"), old);
  fs::permissions(dir.file("song.sqf"), fs::perms::owner_read);
  // Wine run as root writes read-only files; Windows does not.
  if (std::FILE* f = host_open_file(dir.file("song.sqf").c_str(), "r+b")) {
    std::fclose(f);
    GTEST_SKIP() << "this system lets the process write a read-only file";
  }
  EXPECT_EQ(save(dir.file("song.sqf")), 1);
  EXPECT_EQ(alert(), "File save failed");
  EXPECT_EQ(read_file(dir.file("song.sqf")), old);
  EXPECT_EQ(entries(), 1u);
  fs::permissions(dir.file("song.sqf"), fs::perms::all);
}
#else
// Runs f with the effective user nobody when the test runs as root, for whom
// permissions do not bind.
template <class F>
auto as_user(F f) {
  const bool root = ::geteuid() == 0;
  EXPECT_EQ(root ? ::seteuid(65534) : 0, 0);
  auto result = f();
  EXPECT_EQ(root ? ::seteuid(0) : 0, 0);
  return result;
}

// A failed save (full disk, read-only file) leaves no temporary file, and in a
// writable folder the previous file as it was. A read-only folder makes the
// save write a writable file in place, whether shorter or longer.
TEST_F(SongFile, FailedSavesAndReadOnlyFolders) {
  ASSERT_EQ(::geteuid() == 0 ? ::chown(dir.path.c_str(), 65534, 65534) : 0, 0);
  const std::string path = dir.file("song.sqf");
  const Bytes old(3000, 'o');
  auto handler = std::signal(SIGXFSZ, SIG_IGN);  // a write past the size limit fails instead
  rlimit saved;
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const struct {
    const char* what;
    int folder, file;
    bool full_song;
    rlim_t size_limit;
    int result;
  } cases[] = {
      {"full disk", 0777, 0666, true, 64 * 1024, 1},
      {"read-only file", 0777, 0444, true, RLIM_INFINITY, 1},
      {"read-only folder, shorter than the old file", 0555, 0666, false, RLIM_INFINITY, 0},
      {"read-only folder, longer", 0555, 0666, true, RLIM_INFINITY, 0},
      {"read-only folder, disk full on the way", 0555, 0666, true, 64 * 1024, 1},
      {"read-only folder, read-only file", 0555, 0444, false, RLIM_INFINITY, 1},
  };
  for (const auto& c : cases) {
    c.full_song ? make_full_song() : void(new_song());
    fs::permissions(dir.path, fs::perms::all);
    fs::remove(path);  // the last case's may be read-only
    write_file(path, old);
    fs::permissions(path, fs::perms(c.file));
    fs::permissions(dir.path, fs::perms(c.folder));
    const ino_t inode = lstat_of("song.sqf").st_ino;
    const rlimit limit{std::min(c.size_limit, saved.rlim_max), saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const int result = as_user([&] { return save(path); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(alert(), c.result ? "File save failed" : "") << c.what;
    const Bytes now = read_file(path);
    EXPECT_TRUE(c.result ? c.folder != 0777 || now == old : now == image_prefix(used_length())) << c.what;
    EXPECT_TRUE(entries() == 1 && lstat_of("song.sqf").st_ino == inode) << c.what;
  }
  fs::permissions(dir.path, fs::perms::all);
  std::signal(SIGXFSZ, handler);
}

// A save through a link writes where the link leads and keeps the link:
// relative, absolute to another link, or dangling.
TEST_F(SongFile, SavesThroughLinksAndKeepsThem) {
  fs::create_directory(dir.file("real"));
  write_file(dir.file("real/song.sqf"), {'o', 'l', 'd'});
  fs::create_symlink("real/song.sqf", dir.file("relative"));
  fs::create_symlink(dir.file("relative"), dir.file("chain"));  // absolute, to a link
  fs::create_symlink("real/new.sqf", dir.file("dangling"));
  for (std::string link : {"relative", "chain", "dangling"}) {
    image()[SONG_TEMPO] += 1;
    ASSERT_EQ(save(dir.file(link)), 0) << link;
    EXPECT_TRUE(fs::is_symlink(dir.file(link))) << link;
    EXPECT_EQ(read_file(dir.file(link == "dangling" ? "real/new.sqf" : "real/song.sqf")), image_prefix(used_length()));
  }
  EXPECT_TRUE(entries() == 4 && entries("real") == 2) << "nothing left behind";
}

TEST_F(SongFile, NamesUpToTheFileSystemsLimitSave) {
  // Relative names, saved by a user who may write here only: the temporary
  // file goes beside the song, not elsewhere.
  ASSERT_EQ(::geteuid() == 0 ? ::chown(dir.path.c_str(), 65534, 65534) : 0, 0);
  const fs::path was = fs::current_path();
  fs::current_path(dir.path);
  for (std::size_t n : {243, 250, 255}) {
    const std::string name = std::string(n - 4, 'n') + ".sqf";
    image()[SONG_TEMPO] = static_cast<std::uint8_t>(n);
    EXPECT_EQ(as_user([&] { return save(name); }), 0) << n;
    EXPECT_EQ(read_file(name), image_prefix(used_length())) << n;
    fs::remove(name);
  }
  EXPECT_EQ(save(std::string(256, 'n')), 1);  // too long for the file system
  fs::current_path(was);
  EXPECT_EQ(entries(), 0u);
}

TEST_F(SongFile, OwnerGroupAndSetIdBits) {
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
  EXPECT_EQ(read_file(path), image_prefix(used_length()));
}

#endif

}  // namespace
