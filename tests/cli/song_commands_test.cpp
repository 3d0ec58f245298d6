// takto-cli's song commands as a user runs them: messages and exit codes,
// dump and resave, output that cannot be written, safe saves and long paths.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <sstream>

#include "common/cli_case.h"

namespace {

// The last cases take every path the system takes: folders with long Japanese
// names past 1,100 bytes and a 250-byte file name, through the commands and a
// session's dialogs.
TEST(SongCommands, ExitCodesMessagesAndLongPaths) {
  TempDir dir;
  ASSERT_EQ(run_cli("new " + dir.file("new.sqf")).status, 0);
  std::vector<std::uint8_t> song = read_file(dir.file("new.sqf"));
  EXPECT_EQ(song.size(), EMPTY_SONG_SIZE);
  song[4] = 'X';  // a song but for a byte of the magic
  write_file(dir.file("text.sqf"), song);
  write_file(dir.file("empty.sqf"), {});
  std::string folder = dir.path.string(), long_name, name;
  for (int i = 0; i < 9; ++i) long_name += "長い名前のフォルダ";
  while (folder.size() < 1100) std::filesystem::create_directory(folder += "/" + long_name);
  while (name.size() < 246) name += "曲";
  const std::string long_song = folder + "/" + name + ".sqf", copy = folder + "/copy.sqf";
  for (const CliCase& c : std::vector<CliCase>{
           {"check " + dir.file("new.sqf"), 0, "ok\n", ""},
           {"check " + dir.file("text.sqf"), 1, "", "Not SQF format file\n"},
           {"check " + dir.file("empty.sqf"), 1, "", "File size 0 or directory\n"},
           {"resave " + dir.file("new.sqf") + " " + dir.file("no/dir.sqf"), 1, "", "File save failed\n"},
           {"new /dev/stdout", 1, "", "File save failed\n"},  // a pipe here: refused, not replaced
           {"check", 2, "", "usage: takto-cli check FILE\n"},
           {"resave " + dir.file("new.sqf"), 2, "", "usage: takto-cli resave IN.sqf OUT.sqf\n"},
           {"", 2, "", "usage: takto-cli COMMAND [ARGUMENTS]\n..."},
           {"frobnicate", 2, "", "takto-cli: unknown command 'frobnicate'\nusage: takto-cli COMMAND..."},
           {"new " + long_song, 0, "", ""},
           {"check " + long_song, 0, "ok\n", ""},
           {"session --keys 'L open=" + long_song + " S save=" + copy + " Q'", 0, "", ""},
           {"check " + copy, 0, "ok\n", ""},
           {"check " + folder + std::string(FILE_NAME_SIZE, 'x'), 1, "", "File name too long\n"}})
    expect_cli(c);
  EXPECT_EQ(read_file(copy), read_file(long_song));
}

// The title's bytes that are no text are escaped: a forged event line, a colour
// escape, a backslash, a DEL and stray bytes; Shift-JIS and half-width kana stay.
TEST(SongCommands, DumpAndResave) {
  TempDir dir;
  // Measure 2 starts at offset 52; the reference's link (44) is stale.
  const std::string in = save_tracks(
      dir, {{{60, 48, 40, 100}, {EV_MEASURE_END, 0, 0, 0}, {62, 48, 40, 100}, {EV_SAME_MEASURE, 1, 44, 0}}}, "in.sqf");
  const char title[] = "A\n1 44 60 0 0 0\x1B[31m\\ \x83\x73\x83\x41\x83\x6D \xB1\xB2 \x7F\x80\xFF\x83";
  std::memcpy(image() + SONG_TITLE, title, sizeof title - 1);
  image()[SONG_TEMPO] = 96, image()[SONG_KEY] = 10, image()[SONG_PLAY_BIAS] = 3;
  ASSERT_EQ(save_song(), 0);
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
  const std::string song = save_tracks(dir, {std::vector<Event>(400, Event{60, 1, 1, 100})});  // kilobytes of MIDI
  for (std::string command : {"check", "dump", "trace"})
    for (std::string to : {" >/dev/full", " >&-"}) expect_cli({command + " " + song + to, 1, "", "write failed\n"});
  auto inherited = std::signal(SIGXFSZ, SIG_DFL);  // saves in this process ignore it
  expect_cli({"new " + dir.file("new.sqf"), 1, "", "File save failed\n"}, "ulimit -f 1; ");
  const std::string mid = dir.file("s.mid");
  expect_cli({"export-midi " + song + " " + mid, 1, "", "Cannot write " + mid + ": File too large\n"}, "ulimit -f 1; ");
  std::signal(SIGXFSZ, inherited);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1) << "the song alone";
}

// takto-cli ARGS under strace: one "NAME(ARGUMENTS" a call of CALLS.
std::vector<std::string> traced_calls(const std::string& calls, const std::string& args) {
  TempDir dir;
  // LeakSanitizer cannot run under ptrace.
  const CliResult r = run_cli(
      args + " >/dev/null", "ASAN_OPTIONS=detect_leaks=0 strace -f -o " + dir.file("log") + " -e trace=" + calls + " ");
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream in(file_text(dir.file("log")));
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

}  // namespace
