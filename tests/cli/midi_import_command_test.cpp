// takto-cli import-midi as a user runs it: the report and the exit codes, a
// refusal that leaves the output alone, the round trip through export-midi,
// and MIDI files opened wherever a song is.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/midi_builder.h"
#include "common/run_cli.h"

namespace {

const std::string DEMO = TAKTO_SOURCE_DIR "/examples/demo.sqf";

TEST(ImportMidiCommand, ReportsExitCodesAndRoundTrip) {
  TempDir dir;
  ASSERT_EQ(run_cli("export-midi " + DEMO + " " + dir.file("demo.mid")).status, 0);
  write_file(dir.file("text.mid"), {'h', 'i'});
  write_file(dir.file("f2.mid"), midi_file({}, 96, 2));
  const std::vector<std::uint8_t> keep = {'k', 'e', 'e', 'p'};
  write_file(dir.file("out.sqf"), keep);
  const std::string demo = dir.file("demo.mid"), out = " " + dir.file("out.sqf");
  const struct {
    std::string args;
    int status;
    std::string err;
  } cases[] = {
      {demo + " " + dir.file("demo.sqf"), 0, "4 tracks, 360 notes; nothing changed\n"},
      {dir.file("text.mid") + out, 1, "Not a MIDI file\n"},
      {dir.file("f2.mid") + out, 1, "MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1\n"},
      {dir.file("none.mid") + out, 1, "File not found\n"},
      {demo + " " + dir.path.string(), 1, "File save failed\n"},
      {demo, 2, "usage: takto-cli import-midi IN.mid OUT.sqf\n"},
  };
  for (const auto& c : cases) {
    CliResult r = run_cli("import-midi " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
  EXPECT_EQ(read_file(dir.file("out.sqf")), keep);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 5) << "no temporary file is left";
  EXPECT_EQ(run_cli("check " + dir.file("demo.sqf")).out, "ok\n");
  // Exported and brought in again, the demo song plays the same messages at
  // the same times, repeats, same-measure calls and Roland exclusives and all;
  // and every command that opens a song takes the MIDI file itself.
  const std::string played = run_cli("trace " + DEMO).out;
  EXPECT_EQ(run_cli("trace " + dir.file("demo.sqf")).out, played);
  EXPECT_EQ(run_cli("trace " + demo).out, played);
}

// On the command line and through the open dialog, as the imported song; a
// refusal is the message box.
TEST(ImportMidiCommand, SessionsOpenMidiFiles) {
  TempDir dir;
  ASSERT_EQ(run_cli("export-midi " + DEMO + " " + dir.file("a.mid")).status, 0);
  ASSERT_EQ(run_cli("import-midi " + dir.file("a.mid") + " " + dir.file("a.sqf")).status, 0);
  write_file(dir.file("f2.mid"), midi_file({}, 96, 2));
  auto session = [&](const std::string& song, const std::string& keys) {
    CliResult r = run_cli("session " + song + " --keys \"" + keys + "\" --screen " + dir.file("screen.txt"));
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::uint8_t> screen = read_file(dir.file("screen.txt"));
    return r.err + std::string(screen.begin(), screen.end());
  };
  const std::string want = session(dir.file("a.sqf"), "wait=10");
  EXPECT_NE(session("", "wait=10"), want);  // the song shows
  EXPECT_EQ(session(dir.file("a.mid"), "wait=10"), want);
  EXPECT_EQ(session("", "L open=" + dir.file("a.mid")), want);
  const std::string refused = session("", "L open=" + dir.file("f2.mid"));
  EXPECT_EQ(refused.rfind("alert: MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1\n", 0),
            0u)
      << refused;
}

}  // namespace
