#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>
#include <functional>

#include "common/song_builder.h"
#include "common/temp_dir.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes image_prefix(std::size_t n) { return {image(), image() + n}; }

class SongFile : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    headless_echo_alerts(false);
    ASSERT_EQ(new_song(), 0);
    rebuild_track_table();
  }
  std::string alert() const { return headless_alerts().empty() ? "" : headless_alerts().back(); }
  int load(const std::string& path) {
    headless_clear_alerts();
    set_file_name(path.c_str());
    int r = load_song();
    rebuild_track_table();
    return r;
  }
  int save(const std::string& path) {
    headless_clear_alerts();
    set_file_name(path.c_str());
    return save_song();
  }
  void mark_song() {  // differs from the empty song in header and tracks
    image()[SONG_TEMPO] = 97;
    set_tracks({{{60, 48, 40, 100}, {EV_MEASURE_END, 0, 0, 0}}, {}, {{EV_PROGRAM, 0, 5, 0}}});
  }
};

TEST_F(SongFile, EmptySongIsByteExact) {
  Bytes e(EMPTY_SONG_SIZE, 0);
  std::memcpy(&e[0], "SQF SONG FILE FOR TAKTO V1.0\r\n", 30);
  std::fill(&e[32], &e[432], ' ');
  std::fill(&e[432], &e[448], 64);
  const std::uint8_t fields[] = {48, 120, 4, 4};
  std::copy(fields, fields + 4, &e[448]);
  e[486] = 18;
  const char* rhythm[32] = {
      "HandClap      '", "MuteHighConga >", "OpenHighConga ?", "LowConga      @", "CrashCymbal1  1",
      "RideCymbal1   3", "PedalHi-hat   ,", "OpenHi-hat    .", "ClosedHi-hat  *", "HighTom2      0",
      "MidTom2       -", "LowTom2       )", "SideStick     %", "SnareDrum2    (", "SnareDrum1    &",
      "KickDrum1     $", "HighTimbale   A", "LowTimbale    B", "Cowbell       8", "HighBongo     <",
      "LowBongo      =", "HighAgogo     C", "LowAgogo      D", "Tambourine    6", "Claves        K",
      "Maracas       F", "LongLowWhistleH", "ShortHiWhistleG", "Cabasa        E", "ShortGuiro    I",
      "MuteTriangle  P", "OpenTriangle  Q"};
  for (int j = 0; j < 32; ++j) std::memcpy(&e[518 + 16 * j], rhythm[j], 15), e[533 + 16 * j] = 1;
  for (int n = 0; n < 8; ++n) {
    std::memcpy(&e[1030 + 48 * n], ("USER EXCLUSIVE " + std::to_string(n) + "        ").c_str(), 24);
    std::fill(&e[1054 + 48 * n], &e[1078 + 48 * n], 247);
  }
  for (int i = 0; i < 18; ++i) {
    std::uint8_t* b = &e[1414 + 48 * i];
    b[0] = 48, b[2] = i + 1, b[4] = i < 16 ? i : 255;
    std::fill(b + 8, b + 44, ' ');
    std::fill(b + 44, b + 48, 254);
  }
  EXPECT_EQ(image_prefix(EMPTY_SONG_SIZE), e);
  EXPECT_EQ(used_length(), EMPTY_SONG_SIZE);
  ASSERT_EQ(save(dir.file("e.sqf")), 0);
  EXPECT_EQ(read_file(dir.file("e.sqf")), e);
  mark_song();  // new_song restores every default
  std::memset(image(), 'x', SONG_HEADER_SIZE);
  new_song();
  EXPECT_EQ(image_prefix(EMPTY_SONG_SIZE), e);
}

TEST_F(SongFile, RoundTripKeepsEveryByteIncludingUnreadOnes) {
  mark_song();
  for (std::size_t off : {28, 29, 30, 31, 432, 447, 450, 451, 454, 486, 517, 533})
    image()[off] = static_cast<std::uint8_t>(off * 7);  // 28, 29 are not compared on load
  Bytes song = image_prefix(used_length());
  ASSERT_EQ(save(dir.file("a.sqf")), 0);
  EXPECT_EQ(read_file(dir.file("a.sqf")), song);
  new_song();
  ASSERT_EQ(load(dir.file("a.sqf")), 1);
  EXPECT_EQ(image_prefix(song.size()), song);
  EXPECT_TRUE(headless_alerts().empty());
}

// Every refused file leaves the song it names, and the image, as they say.
TEST_F(SongFile, RefusedFiles) {
  Bytes empty = image_prefix(EMPTY_SONG_SIZE);
  mark_song();
  Bytes good = image_prefix(used_length());
  std::size_t t1 = SONG_HEADER_SIZE, t3 = t1 + 56 + 48;  // note, measure end, end | end | program, end
  using Damage = std::function<void(Bytes&)>;
  const struct {
    Damage damage;
    std::string message;
    bool empty_after;  // else the previous song stays
  } cases[] = {
      {[](Bytes& f) { f.clear(); }, "File size 0 or directory", false},
      {[](Bytes& f) { f.resize(SONG_IMAGE_SIZE + 1); }, "Too big file", false},
      {[](Bytes& f) { f[27] = '1'; }, "Not SQF format file", true},
      {[](Bytes& f) { f.resize(3); }, "Not SQF format file", true},
      {[](Bytes& f) { f.resize(SONG_HEADER_SIZE); }, "Damaged SQF file (file too short for a song)", false},
      {[](Bytes& f) { f.pop_back(); }, "Damaged SQF file (track 18: block runs past the end of the file)", false},
      {[&](Bytes& f) { f[t1] = 44; }, "Damaged SQF file (track 1: bad block length)", false},
      {[&](Bytes& f) { f[t1] = 57; }, "Damaged SQF file (track 1: bad block length)", false},
      {[&](Bytes& f) { f[t1 + 1] = 9; }, "Damaged SQF file (track 1: block runs past the end of the file)", false},
      {[&](Bytes& f) { f[t1 + 52] = 253; }, "Damaged SQF file (track 1: no end of track)", false},
      {[&](Bytes& f) { f[t1 + 44] = 254; }, "Damaged SQF file (track 1: end of track before the block's end)", false},
  };
  for (const auto& c : cases) {
    mark_song();
    Bytes before = image_prefix(SONG_IMAGE_SIZE), file = good;
    c.damage(file);
    write_file(dir.file("x.sqf"), file);
    EXPECT_EQ(load(dir.file("x.sqf")), 0) << c.message;
    EXPECT_EQ(alert(), c.message);
    if (c.empty_after)
      EXPECT_EQ(image_prefix(EMPTY_SONG_SIZE), empty) << c.message;
    else
      EXPECT_EQ(image_prefix(SONG_IMAGE_SIZE), before) << c.message;
  }
  std::filesystem::create_directory(dir.file("folder.sqf"));
  EXPECT_EQ(load(dir.file("folder.sqf")), 0);
  EXPECT_EQ(alert(), "File size 0 or directory");
  EXPECT_EQ(load(dir.file("missing.sqf")), 0);
  EXPECT_EQ(alert(), "File not found");
  // A continuation event without its exclusive or comment does nothing where it stands: no damage.
  Bytes stray = good;
  stray[t1 + 48] = stray[t3 + 44] = EV_CONTINUE;
  write_file(dir.file("x.sqf"), stray);
  EXPECT_EQ(load(dir.file("x.sqf")), 1);
  EXPECT_EQ(image_prefix(stray.size()), stray);
}

TEST_F(SongFile, FullSizeSongLoads) {
  make_full_song();
  ASSERT_EQ(save(dir.file("full.sqf")), 0);
  ASSERT_EQ(std::filesystem::file_size(dir.file("full.sqf")), SONG_IMAGE_SIZE);
  new_song();
  EXPECT_EQ(load(dir.file("full.sqf")), 1);
  EXPECT_EQ(used_length(), SONG_IMAGE_SIZE);
}

// A save that fails (full disk, read-only file, no folder) leaves
// the previous file as it was and no temporary file behind.
TEST_F(SongFile, FailedSaveKeepsThePreviousFile) {
  Bytes old(3000, 'o');
  make_full_song();
  namespace fs = std::filesystem;
#ifndef _WIN32
  bool root = geteuid() == 0;  // as root, permissions bind only for another user
  if (root) {
    ASSERT_EQ(chown(dir.path.c_str(), 65534, 65534), 0);
  }
  const struct {
    const char* what;
    fs::perms folder, file;
    rlim_t size_limit;
  } cases[] = {
      {"full disk", fs::perms::all, fs::perms(0666), 64 * 1024},
      {"read-only file", fs::perms::all, fs::perms(0444), RLIM_INFINITY},
  };
  for (const auto& c : cases) {
    write_file(dir.file("song.sqf"), old);
    fs::permissions(dir.path, c.folder);
    fs::permissions(dir.file("song.sqf"), c.file);
    rlimit saved, limit;
    getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = std::min(c.size_limit, saved.rlim_max);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    if (root) {
      ASSERT_EQ(seteuid(65534), 0);
    }
    int result = save(dir.file("song.sqf"));
    if (root) {
      ASSERT_EQ(seteuid(0), 0);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    fs::permissions(dir.path, fs::perms::all);
    EXPECT_EQ(result, 1) << c.what;
    EXPECT_EQ(alert(), "File save failed") << c.what;
    EXPECT_EQ(read_file(dir.file("song.sqf")), old) << c.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1) << c.what;
    fs::permissions(dir.file("song.sqf"), fs::perms(0666));
  }
#endif
  for (std::string bad : {dir.path.string(), dir.file("no/such.sqf")}) EXPECT_EQ(save(bad), 1) << bad;
  // A good save replaces the whole old file and keeps its permissions.
  write_file(dir.file("song.sqf"), old);
#ifndef _WIN32
  fs::permissions(dir.file("song.sqf"), fs::perms(0640));
#endif
  const fs::perms before = fs::status(dir.file("song.sqf")).permissions();
  ASSERT_EQ(save(dir.file("song.sqf")), 0);
  EXPECT_EQ(read_file(dir.file("song.sqf")), image_prefix(SONG_IMAGE_SIZE));
  EXPECT_EQ(fs::status(dir.file("song.sqf")).permissions(), before);
}

#ifdef _WIN32
// Windows has no size limit or folder permissions to set; a read-only file
// must stay, although renaming over it would succeed.
TEST_F(SongFile, ReadOnlyFileStays) {
  namespace fs = std::filesystem;
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
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1);
  fs::permissions(dir.file("song.sqf"), fs::perms::all);
}
#endif

// file_name is UTF-8 on Windows: a name outside the system's code page saves
// and loads under exactly that name.
TEST_F(SongFile, NamesOutsideTheCodePage) {
  const std::u8string name = u8"\u66f2 \u00fc\u0439.sqf";
  const std::string utf8(name.begin(), name.end());
  const std::string full = dir.path.string() + "/" + utf8;
  make_full_song();
  ASSERT_EQ(save(full), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path / name));
  new_song();
  EXPECT_EQ(load(full), 1);
  EXPECT_EQ(used_length(), SONG_IMAGE_SIZE);
}

}  // namespace
