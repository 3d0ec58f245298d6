#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <cstring>
#include <string>
#include <vector>

#include "common/song_builder.h"
#include "common/temp_dir.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

std::vector<std::uint8_t> image_prefix(std::size_t n) { return {image(), image() + n}; }

class SongFile : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    headless_echo_alerts(false);
    headless_clear_alerts();
    ASSERT_EQ(new_song(), 0);
    rebuild_track_table();
  }
  std::string last_alert() const { return headless_alerts().empty() ? "" : headless_alerts().back(); }
  int load(const std::string& path) {
    set_file_name(path.c_str());
    int r = load_song();
    rebuild_track_table();
    return r;
  }
  int save(const std::string& path) {
    set_file_name(path.c_str());
    return save_song();
  }
  // A song that differs from the empty one in every part.
  void make_marked_song() {
    std::memcpy(image() + SONG_TITLE, "Marked", 6);
    image()[SONG_TEMPO] = 97;
    set_tracks({{{60, 48, 40, 100}, {EV_MEASURE_END, 0, 0, 0}}, {}, {{EV_PROGRAM, 0, 5, 0}}});
  }
};

struct Fill {
  std::size_t from, to;  // inclusive
  std::uint8_t value;
};

TEST_F(SongFile, EmptySongIsByteExact) {
  ASSERT_EQ(used_length(), 2278u);
  const std::uint8_t* s = image();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s), 28), "SQF SONG FILE FOR TAKTO V1.0");
  const Fill fills[] = {
      {28, 28, 13},  {29, 29, 10},  {30, 31, 0},    {32, 431, ' '}, {432, 447, 64}, {448, 448, 48},
      {449, 449, 120}, {450, 451, 4}, {452, 453, 0}, {454, 485, 0},  {486, 486, 18}, {487, 517, 0},
  };
  for (const Fill& f : fills)
    for (std::size_t i = f.from; i <= f.to; ++i) ASSERT_EQ(s[i], f.value) << "offset " << i;

  const int notes[32] = {39, 62, 63, 64, 49, 51, 44, 46, 42, 48, 45, 41, 37, 40, 38, 36,
                         65, 66, 56, 60, 61, 67, 68, 54, 75, 70, 72, 71, 69, 73, 80, 81};
  for (int j = 0; j < 32; ++j) {
    const std::uint8_t* e = s + 518 + 16 * j;
    EXPECT_EQ(e[14], notes[j]) << "rhythm entry " << j;
    EXPECT_EQ(e[15], 1) << "rhythm entry " << j;
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 518), 15), "HandClap      '");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 518 + 16 * 26), 14), "LongLowWhistle");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 518 + 16 * 31), 14), "OpenTriangle  ");

  for (int n = 0; n < 8; ++n) {
    const std::uint8_t* e = s + 1030 + 48 * n;
    std::string name = "USER EXCLUSIVE " + std::to_string(n) + "        ";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 24), name);
    for (int i = 24; i < 48; ++i) EXPECT_EQ(e[i], 247);
  }
  for (int i = 0; i < 18; ++i) {
    const std::uint8_t* b = s + 1414 + 48 * i;
    EXPECT_EQ(start[i], 1414u + 48 * i);
    const std::uint8_t head[8] = {48, 0, static_cast<std::uint8_t>(i + 1), 0,
                                  static_cast<std::uint8_t>(i < 16 ? i : 255), 0, 0, 0};
    EXPECT_EQ(std::memcmp(b, head, 8), 0) << "track " << i + 1;
    for (int j = 8; j < 44; ++j) EXPECT_EQ(b[j], ' ');
    for (int j = 44; j < 48; ++j) EXPECT_EQ(b[j], 254);
  }
}

TEST_F(SongFile, NewSongRestoresDefaultsOverAnEditedSong) {
  std::vector<std::uint8_t> empty = image_prefix(EMPTY_SONG_SIZE);
  make_marked_song();
  std::memset(image(), 'x', SONG_HEADER_SIZE);
  ASSERT_EQ(new_song(), 0);
  EXPECT_EQ(image_prefix(EMPTY_SONG_SIZE), empty);
}

TEST_F(SongFile, SaveWritesTheUsedLengthAndLoadsBack) {
  make_marked_song();
  std::vector<std::uint8_t> song = image_prefix(used_length());
  ASSERT_EQ(save(dir.file("a.sqf")), 0);
  EXPECT_EQ(read_file(dir.file("a.sqf")), song);
  new_song();
  ASSERT_EQ(load(dir.file("a.sqf")), 1);
  EXPECT_TRUE(headless_alerts().empty());
  EXPECT_EQ(image_prefix(song.size()), song);
}

TEST_F(SongFile, RoundTripKeepsBytesNothingReads) {
  const std::size_t unread[] = {28, 29, 30, 31, 432, 447, 450, 451, 454, 486, 517};
  for (std::size_t off : unread) image()[off] = static_cast<std::uint8_t>(off * 7);
  image()[SONG_RHYTHM_NAMES + 15] = 99;
  ASSERT_EQ(save(dir.file("b.sqf")), 0);
  new_song();
  ASSERT_EQ(load(dir.file("b.sqf")), 1);  // bytes 28, 29 are not compared
  for (std::size_t off : unread) EXPECT_EQ(image()[off], static_cast<std::uint8_t>(off * 7)) << off;
  EXPECT_EQ(image()[SONG_RHYTHM_NAMES + 15], 99);
}

TEST_F(SongFile, FullSizeFileLoadsAndOneByteMoreIsTooBig) {
  make_full_song();
  ASSERT_EQ(used_length(), SONG_IMAGE_SIZE);
  ASSERT_EQ(save(dir.file("full.sqf")), 0);
  std::vector<std::uint8_t> full = read_file(dir.file("full.sqf"));
  ASSERT_EQ(full.size(), SONG_IMAGE_SIZE);

  new_song();
  make_marked_song();
  std::vector<std::uint8_t> before = image_prefix(SONG_IMAGE_SIZE);
  full.push_back(0);
  write_file(dir.file("big.sqf"), full);
  EXPECT_EQ(load(dir.file("big.sqf")), 0);
  EXPECT_EQ(last_alert(), "Too big file");
  EXPECT_EQ(image_prefix(SONG_IMAGE_SIZE), before);

  EXPECT_EQ(load(dir.file("full.sqf")), 1);
  EXPECT_EQ(used_length(), SONG_IMAGE_SIZE);
}

// Refusals that keep the song that was loaded before.
TEST_F(SongFile, RefusedFilesKeepThePreviousSong) {
  make_marked_song();
  std::vector<std::uint8_t> before = image_prefix(SONG_IMAGE_SIZE);
  write_file(dir.file("zero.sqf"), {});
  std::filesystem::create_directory(dir.file("folder.sqf"));
  struct Case {
    std::string name, message;
  } cases[] = {
      {"zero.sqf", "File size 0 or directory"},
      {"folder.sqf", "File size 0 or directory"},
      {"missing.sqf", "File not found"},
  };
  for (const Case& c : cases) {
    headless_clear_alerts();
    EXPECT_EQ(load(dir.file(c.name)), 0) << c.name;
    EXPECT_EQ(last_alert(), c.message) << c.name;
    EXPECT_EQ(image_prefix(SONG_IMAGE_SIZE), before) << c.name;
  }
}

TEST_F(SongFile, WrongMagicLeavesTheEmptySong) {
  std::vector<std::uint8_t> empty = image_prefix(EMPTY_SONG_SIZE);
  std::vector<std::uint8_t> bytes(empty);
  bytes[27] = '1';  // "V1.1"
  const std::vector<std::vector<std::uint8_t>> files = {
      bytes,
      {'S', 'Q', 'F'},                        // shorter than the magic
      std::vector<std::uint8_t>(5000, 'x'),   // not a song at all
  };
  for (const auto& file : files) {
    make_marked_song();
    headless_clear_alerts();
    write_file(dir.file("bad.sqf"), file);
    EXPECT_EQ(load(dir.file("bad.sqf")), 0);
    EXPECT_EQ(last_alert(), "Not SQF format file");
    EXPECT_EQ(image_prefix(EMPTY_SONG_SIZE), empty);
  }
}

// Files that carry the magic but break the layout are refused whole.
TEST_F(SongFile, DamagedFilesAreRefused) {
  make_marked_song();
  std::vector<std::uint8_t> good = image_prefix(used_length());
  std::vector<std::uint8_t> before = image_prefix(SONG_IMAGE_SIZE);
  std::size_t t1 = SONG_HEADER_SIZE;  // track 1: note, measure end, end
  std::size_t t3 = t1 + 56 + 48;  // track 3: program change, end
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    const char* detail;
  };
  const Case cases[] = {
      {"header only", [](auto& f) { f.resize(SONG_HEADER_SIZE); }, "file too short"},
      {"last track cut", [](auto& f) { f.resize(f.size() - 4); }, "track 18: block runs past"},
      {"length 0", [&](auto& f) { f[t1] = 0; }, "track 1: bad block length"},
      {"length 44", [&](auto& f) { f[t1] = 44; }, "track 1: bad block length"},
      {"length not a multiple of 4", [&](auto& f) { f[t1] = 57; }, "track 1: bad block length"},
      {"length past the end", [&](auto& f) { f[t1 + 1] = 200; }, "track 1: block runs past"},
      {"no end event", [&](auto& f) { f[t1 + 52] = 253; }, "track 1: no end of track"},
      {"early end event", [&](auto& f) { f[t1 + 44] = 254; }, "track 1: end of track before"},
      {"lone continuation", [&](auto& f) { f[t1 + 48] = 247; }, "track 1: continuation"},
      {"continuation first", [&](auto& f) { f[t3 + 44] = 247; }, "track 3: continuation"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> file = good;
    c.damage(file);
    write_file(dir.file("damaged.sqf"), file);
    headless_clear_alerts();
    EXPECT_EQ(load(dir.file("damaged.sqf")), 0) << c.what;
    EXPECT_EQ(last_alert().rfind("Damaged SQF file (", 0), 0u) << c.what << ": " << last_alert();
    EXPECT_NE(last_alert().find(c.detail), std::string::npos) << c.what << ": " << last_alert();
    EXPECT_EQ(image_prefix(SONG_IMAGE_SIZE), before) << c.what;
  }
}

TEST_F(SongFile, ContinuationsAfterExclusiveOrCommentAreSound) {
  set_tracks({{{EV_TRACK_EXCL, 0, 0, 0}, {EV_CONTINUE, 0, 1, 2}, {EV_CONTINUE, 0, 3, 4}},
              {{EV_COMMENT, 0, 'a', 'b'}, {EV_CONTINUE, 0, 'c', 'd'}}});
  EXPECT_EQ(song_damage(image(), used_length()), nullptr);
  ASSERT_EQ(save(dir.file("c.sqf")), 0);
  EXPECT_EQ(load(dir.file("c.sqf")), 1);
}

TEST_F(SongFile, SaveEmptySongIs2278Bytes) {
  ASSERT_EQ(save(dir.file("empty.sqf")), 0);
  EXPECT_EQ(read_file(dir.file("empty.sqf")), image_prefix(2278));
}

TEST_F(SongFile, SaveOverwritesAnExistingFileWhole) {
  write_file(dir.file("old.sqf"), std::vector<std::uint8_t>(100000, 'z'));
  ASSERT_EQ(save(dir.file("old.sqf")), 0);
  EXPECT_EQ(read_file(dir.file("old.sqf")), image_prefix(2278));
  // No temporary file is left beside it.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path)) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(SongFile, SaveIntoAFolderOrNowhereFails) {
  std::filesystem::create_directory(dir.file("folder.sqf"));
  const std::string targets[] = {dir.file("folder.sqf"), dir.file("no/such/folder.sqf")};
  for (const std::string& t : targets) {
    headless_clear_alerts();
    EXPECT_EQ(save(t), 1) << t;
    EXPECT_EQ(last_alert(), "File save failed") << t;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.sqf")));
}

// A write that runs out of room leaves the previous file as it was.
TEST_F(SongFile, FailedWriteKeepsThePreviousFile) {
  std::vector<std::uint8_t> old(3000, 'o');
  write_file(dir.file("song.sqf"), old);
  make_full_song();

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 64 * 1024;  // the disk is "full" after 64 KiB
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = save(dir.file("song.sqf"));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(result, 1);
  EXPECT_EQ(last_alert(), "File save failed");
  EXPECT_EQ(read_file(dir.file("song.sqf")), old);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path)) files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "temporary file left behind";
}

// A read-only folder or file refuses the save and keeps the previous file.
TEST_F(SongFile, ReadOnlyPlaceKeepsThePreviousFile) {
  std::vector<std::uint8_t> old(3000, 'o');
  write_file(dir.file("song.sqf"), old);
  // As root, permissions bind only once the effective user is someone else.
  bool as_root = geteuid() == 0;
  if (as_root) ASSERT_EQ(chown(dir.path.c_str(), 65534, 65534), 0);
  for (int readonly_file = 0; readonly_file < 2; ++readonly_file) {
    namespace fs = std::filesystem;
    fs::permissions(dir.path, readonly_file ? fs::perms::all : fs::perms(0555));
    fs::permissions(dir.file("song.sqf"), readonly_file ? fs::perms(0444) : fs::perms(0666));
    headless_clear_alerts();
    if (as_root) ASSERT_EQ(seteuid(65534), 0);
    int result = save(dir.file("song.sqf"));
    if (as_root) ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(result, 1) << (readonly_file ? "read-only file" : "read-only folder");
    EXPECT_EQ(last_alert(), "File save failed");
    EXPECT_EQ(read_file(dir.file("song.sqf")), old);
  }
}

TEST_F(SongFile, SavePreservesTheTargetsPermissions) {
  write_file(dir.file("p.sqf"), {1, 2, 3});
  std::filesystem::permissions(dir.file("p.sqf"), std::filesystem::perms(0640));
  ASSERT_EQ(save(dir.file("p.sqf")), 0);
  EXPECT_EQ(std::filesystem::status(dir.file("p.sqf")).permissions(), std::filesystem::perms(0640));
}

TEST(KeyTables, NamesAndTonics) {
  struct Case {
    std::uint8_t key;
    const char* name;
    int tonic;
  } cases[] = {
      {0, "C ", 0}, {1, "G ", 7}, {6, "F#", 6}, {7, "C#", 1}, {9, "F ", 5}, {15, "Cb", 11},
      {16, "A ", 0}, {23, "A#", 1}, {24, "A ", 0}, {31, "Ab", 11}, {0xE2, "D ", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(key_name(c.key), 2), c.name) << int(c.key);
    EXPECT_EQ(TONIC_PITCH[c.key & 15], c.tonic) << int(c.key);
  }
}

}  // namespace
