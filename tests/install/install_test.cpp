// cmake --install into a folder of its own, checked as the desktop and a
// user meet what it put there: the programs run from it, the desktop entry
// validates, the icons have their sizes, the song type is known by name and
// by content, and the manual pages render cleanly and list every option and
// command of --help.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "common/run_cli.h"

namespace {
CliResult run(const std::string& command) { return run_shell(command); }
bool on_path(const std::string& tool) { return run("command -v " + tool).status == 0; }

class Install : public ::testing::Test {
 protected:
  static inline TempDir prefix;
  static void SetUpTestSuite() {
    const CliResult r = run(std::string("cmake --install ") + TAKTO_BUILD_DIR + " --prefix " + prefix.path.string());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  std::string at(const std::string& sub) const { return prefix.file(sub); }
};

TEST_F(Install, ProgramsRunFromThePrefix) {
  const std::string cli = at("bin/takto-cli"), song = at("song.sqf");
  const std::pair<std::string, std::string> rows[] = {{cli + " new " + song, ""},
                                                      {cli + " check " + song, "ok\n"},
                                                      {at("bin/takto") + " --help", run(TAKTO_PROGRAM " --help").out},
                                                      {cli + " --help", run(TAKTO_CLI " --help").out}};
  for (const auto& [command, out] : rows) {
    const CliResult c = run(command);
    EXPECT_EQ(c.status, 0) << command << ": " << c.err;
    EXPECT_EQ(c.out, out) << command;
  }
}

TEST_F(Install, DesktopEntryAndIcons) {
  const std::string entry = at("share/applications/takto.desktop"), text = file_text(entry);
  for (const char* line : {"\nExec=takto %f\n", "\nIcon=takto\n", "\nCategories=AudioVideo;Audio;Midi;Sequencer;\n",
                           "\nMimeType=application/x-takto-song;audio/midi;\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  if (on_path("desktop-file-validate")) {
    const CliResult v = run("desktop-file-validate " + entry);
    EXPECT_EQ(std::to_string(v.status) + v.out + v.err, "0");
  }
  // The PNG signature and a header of that width and height.
  for (int size : {32, 48, 64, 128, 256}) {
    const std::string n = std::to_string(size), side = {0, 0, static_cast<char>(size >> 8), static_cast<char>(size)};
    EXPECT_EQ(file_text(at("share/icons/hicolor/" + n + "x" + n + "/apps/takto.png")).substr(0, 24),
              std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + side + side)
        << size;
  }
}

// The database built from the installed package tells a song by its name, and
// by its first 28 bytes under any name.
TEST_F(Install, SongTypeByNameAndByContent) {
  if (!on_path("gio")) GTEST_SKIP() << "gio (libglib2.0-bin) is needed to ask for a file's type";
  ASSERT_TRUE(std::filesystem::exists(at("share/mime/mime.cache"))) << "the install builds the database";
  TempDir dir;
  ASSERT_EQ(run_cli("new " + dir.file("song.sqf")).status, 0);
  std::filesystem::copy_file(dir.file("song.sqf"), dir.file("no-name"));
  write_file(dir.file("other"), {'S', 'Q', 'F', ' ', 'S', 'O', 'N', 'G'});
  for (const auto& [file, song] : {std::pair{"song.sqf", true}, {"no-name", true}, {"other", false}}) {
    const CliResult c =
        run("XDG_DATA_DIRS=" + at("share") + ":/usr/share gio info -a standard::content-type " + dir.file(file));
    EXPECT_EQ(c.out.find("application/x-takto-song") != std::string::npos, song) << file << ": " << c.out;
  }
}

// Each page renders without a warning and holds every term of its --help:
// the lines that name an option or a command, the term before its text.
TEST_F(Install, ManualPagesAgreeWithHelp) {
  if (!on_path("man")) GTEST_SKIP() << "man-db is needed to render the pages";
  auto squeeze = [](const std::string& s) { return std::regex_replace(s, std::regex("\\s+"), " "); };
  const std::regex term("  (takto-cli [^ ].*|--[a-z-]+(?: [A-Za-z]+)?)( {2,}.*)?");
  for (const std::string program : {"takto", "takto-cli"}) {
    const CliResult shown = run("MANWIDTH=80 man --warnings -l " + at("share/man/man1/" + program + ".1"));
    const std::string page = squeeze(std::regex_replace(shown.out, std::regex(".\b"), ""));  // overstruck bold
    EXPECT_EQ(std::to_string(shown.status) + shown.err, "0") << program;
    std::istringstream help(run(at("bin/" + program) + " --help").out);
    int terms = 0;
    for (std::string line; std::getline(help, line);) {
      if (std::smatch m; std::regex_match(line, m, term)) {
        ++terms;
        EXPECT_NE(page.find(squeeze(m[1])), std::string::npos) << program << ": " << m[1];
      }
    }
    EXPECT_GE(terms, 7) << program;
  }
}
}  // namespace
