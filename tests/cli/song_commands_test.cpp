#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

TEST(SongCommands, ExitCodesAndMessages) {
  TempDir dir;
  write_file(dir.file("empty.sqf"), {});
  ASSERT_EQ(run_cli("new " + dir.file("new.sqf")).status, 0);
  std::vector<std::uint8_t> cut = read_file(dir.file("new.sqf"));
  EXPECT_EQ(cut.size(), EMPTY_SONG_SIZE);
  std::vector<std::uint8_t> forged = cut;
  forged[4] = 'X';  // a song but for a byte of the magic
  write_file(dir.file("text.sqf"), forged);
  cut.resize(2000);
  write_file(dir.file("cut.sqf"), cut);
  const struct {
    std::string args;
    int status;
    std::string out, err;
  } cases[] = {
      {"check " + dir.file("new.sqf"), 0, "ok\n", ""},
      {"check " + dir.file("text.sqf"), 1, "", "Not SQF format file\n"},
      {"check " + dir.file("missing.sqf"), 1, "", "File not found\n"},
      {"check " + dir.file("empty.sqf"), 1, "", "File size 0 or directory\n"},
      {"check " + dir.file("cut.sqf"), 1, "", "Damaged SQF file (file too short for a song)\n"},
      {"resave " + dir.file("new.sqf") + " " + dir.file("no/dir.sqf"), 1, "", "File save failed\n"},
      {"new /dev/stdout", 1, "", "File save failed\n"},  // a pipe here: refused, not replaced
      {"check", 2, "", "usage: takto-cli check FILE\n"},
      {"resave " + dir.file("new.sqf"), 2, "", "usage: takto-cli resave IN.sqf OUT.sqf\n"},
  };
  for (const auto& c : cases) {
    CliResult r = run_cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
  for (std::string args : {"", "frobnicate"}) EXPECT_EQ(run_cli(args).status, 2) << args;
}

// Saves the image as DIR/NAME.
std::string save_as(const TempDir& dir, const char* name) {
  headless_echo_alerts(false);
  set_file_name(dir.file(name).c_str());
  EXPECT_EQ(save_song(), 0);
  return dir.file(name);
}

// The title's bytes that are no text are escaped: a forged event line, a colour
// escape, a backslash, a DEL and stray bytes; Shift-JIS and half-width kana stay.
TEST(SongCommands, DumpAndResave) {
  TempDir dir;
  new_song();
  const char title[] = "A\n1 44 60 0 0 0\x1B[31m\\ \x83\x73\x83\x41\x83\x6D \xB1\xB2 \x7F\x80\xFF\x83";
  std::memcpy(image() + SONG_TITLE, title, sizeof title - 1);
  image()[SONG_TEMPO] = 96, image()[SONG_KEY] = 10, image()[SONG_PLAY_BIAS] = 3;
  // Measure 2 starts at offset 52; the reference's link (44) is stale.
  set_tracks({{{60, 48, 40, 100}, {EV_MEASURE_END, 0, 0, 0}, {62, 48, 40, 100}, {EV_SAME_MEASURE, 1, 44, 0}}});
  const std::string in = save_as(dir, "in.sqf");
  std::string expected =
      "title A\\x0A1 44 60 0 0 0\\x1B[31m\\x5C \x83\x73\x83\x41\x83\x6D \xB1\xB2 \\x7F\\x80\\xFF\\x83\n"
      "tempo 96\nkey 10 Bb\nplay_bias 3\nused 2294\n"
      "1 44 60 48 40 100\n1 48 253 0 0 0\n1 52 62 48 40 100\n1 56 252 1 44 0\n1 60 254 254 254 254\n";
  for (int t = 2; t <= 18; ++t) expected += std::to_string(t) + " 44 254 254 254 254\n";
  EXPECT_EQ(run_cli("dump " + in).out, expected);

  ASSERT_EQ(run_cli("resave " + in + " " + dir.file("out.sqf")).status, 0);
  std::vector<std::uint8_t> relinked = read_file(in);
  relinked[SONG_HEADER_SIZE + 56 + 2] = 52;
  EXPECT_EQ(read_file(dir.file("out.sqf")), relinked);
}

// Output that cannot be written fails. Under a file-size limit the write fails
// and is reported; the limit's signal must not kill the program and leave its
// temporary files.
TEST(SongCommands, OutputThatCannotBeWrittenFails) {
  TempDir dir;
  new_song();
  set_tracks({std::vector<Event>(400, Event{60, 1, 1, 100})});  // a few kilobytes of MIDI
  const std::string song = save_as(dir, "s.sqf");
  for (std::string command : {"check", "dump", "trace"})
    for (std::string to : {" >/dev/full", " >&-"}) {
      CliResult r = run_cli(command + " " + song + to);
      EXPECT_EQ(r.status, 1) << command << to;
      EXPECT_EQ(r.err, "write failed\n") << command << to;
    }
  const struct {
    std::string args, err;
  } rows[] = {{"new " + dir.file("new.sqf"), "File save failed\n"},
              {"export-midi " + dir.file("s.sqf") + " " + dir.file("s.mid"),
               "Cannot write " + dir.file("s.mid") + ": File too large\n"}};
  for (const auto& r : rows) {
    const std::string cmd = "ulimit -f 1; " + std::string(TAKTO_CLI) + " " + r.args + " 2>" + dir.file("err");
    auto inherited = std::signal(SIGXFSZ, SIG_DFL);  // saves in this process ignore it
    const int st = std::system(("sh -c '" + cmd + "'").c_str());
    std::signal(SIGXFSZ, inherited);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1) << r.args << ": " << st;
    const std::vector<std::uint8_t> err = read_file(dir.file("err"));
    EXPECT_EQ(std::string(err.begin(), err.end()), r.err);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2) << "the song and the messages";
  }
}

// takto-cli ARGS under strace: one "NAME(ARGUMENTS" a call of CALLS.
std::vector<std::string> traced_calls(const std::string& calls, const std::string& args) {
  TempDir dir;
  // LeakSanitizer cannot run under ptrace.
  const std::string cmd = "ASAN_OPTIONS=detect_leaks=0 strace -f -o " + dir.file("log") + " -e trace=" + calls + " " +
                          TAKTO_CLI + " " + args + " >/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const std::vector<std::uint8_t> bytes = read_file(dir.file("log"));
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::vector<std::string> out;
  const std::regex call(R"(^(\d+ +)?(\w+\(.*)\) += )");
  for (std::string line; std::getline(in, line);)
    if (std::smatch m; std::regex_search(line, m, call) && m[2].str().rfind("execve", 0) != 0) out.push_back(m[2]);
  return out;
}

// The new file reaches the disk before it replaces the old one, and the
// folder after, so that a crash cannot leave an empty song. A song is opened
// before anything asks about it, and then checked and read through that
// descriptor: a FIFO put in its place meanwhile cannot make the load wait.
TEST(SongCommands, SaveSyncsBeforeTheRenameAndLoadOpensFirst) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  std::string names;
  for (const std::string& c : traced_calls("fsync,fdatasync,rename,renameat,renameat2", "new " + dir.file("s.sqf")))
    names += (c.rfind("rename", 0) == 0 ? "rename" : c.substr(0, c.find('('))) + " ";  // rename, renameat...
  EXPECT_EQ(names, "fsync rename fsync ");
  std::vector<std::string> touching;
  for (const std::string& c : traced_calls("%file,%stat", "check " + dir.file("s.sqf")))
    if (c.find(dir.file("s.sqf")) != std::string::npos) touching.push_back(c);
  ASSERT_EQ(touching.size(), 1u);
  EXPECT_TRUE(touching[0].rfind("openat(", 0) == 0 && touching[0].find("O_NONBLOCK") != std::string::npos)
      << touching[0];
}

// Every path the system takes: folders with long Japanese names past 1,100
// bytes and a 250-byte file name, through the commands and a session's dialogs.
TEST(SongCommands, LongPathsSaveAndLoad) {
  TempDir dir;
  auto times = [](const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
  };
  std::string folder = dir.path.string();
  while (folder.size() < 1100) std::filesystem::create_directory(folder += "/" + times("長い名前のフォルダ", 9));
  const std::string song = folder + "/" + times("曲", 82) + ".sqf", copy = folder + "/copy.sqf";
  const struct {
    std::string args;
    int status;
    std::string out, err;
  } cases[] = {
      {"new " + song, 0, "", ""},
      {"check " + song, 0, "ok\n", ""},
      {"session --keys 'L open=" + song + " S save=" + copy + " Q'", 0, "", ""},
      {"check " + copy, 0, "ok\n", ""},
      {"check " + folder + std::string(FILE_NAME_SIZE, 'x'), 1, "", "File name too long\n"},
  };
  for (const auto& c : cases) {
    CliResult r = run_cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.size();
    EXPECT_EQ(r.out, c.out) << c.args.size();
    EXPECT_EQ(r.err, c.err) << c.args.size();
  }
  EXPECT_EQ(read_file(copy), read_file(song));
}

}  // namespace
