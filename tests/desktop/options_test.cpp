// takto's command line: options begin with "--"; the rest is one file name.
#include <gtest/gtest.h>

#include <vector>

#include "desktop/options.h"

namespace {
struct OptionCase {
  std::vector<const char*> args;
  const char* env_scale;
  int scale;  // 0: fit the display; -1: refused
  const char* song = "";
  const char* midi_out = "";
  const char* soundfont = "";
  double gain_db = 0;
  const char* midi_in = "";
  bool enhanced = false;
  bool midi_clock = false;
};

const OptionCase option_cases[] = {
    {{}, nullptr, 0},
    {{"my", "song.sqf"}, nullptr, 0, "my song.sqf"},
    {{"a  b.sqf"}, nullptr, 0, "a  b.sqf"},
    {{"--scale", "2", "x.sqf"}, nullptr, 2, "x.sqf"},
    {{"--scale", "1"}, nullptr, 1},
    {{"--scale=3"}, "2", 3},
    {{}, "2", 2},
    {{"--midi-out", "list"}, nullptr, 0, "", "list"},
    {{"--midi-out=Synth A", "--soundfont", "/a b.sf2", "s"}, nullptr, 0, "s", "Synth A", "/a b.sf2"},
    {{"--scale", "0"}, nullptr, -1},
    {{"--scale", "8"}, nullptr, 8},
    {{"--scale", "9"}, nullptr, -1},
    {{"--scale", "2x"}, nullptr, -1},
    {{}, "big", -1},
    {{"--scale"}, nullptr, -1},
    {{"--midi-out="}, nullptr, -1},
    {{"--colour"}, nullptr, -1},
    {{"--help", "--version"}, nullptr, 0},
    {{"--gain", "-6.5"}, nullptr, 0, "", "", "", -6.5},
    {{"--gain=+40"}, nullptr, 0, "", "", "", 40},
    {{"--gain", "41"}, nullptr, -1},
    {{"--gain", "loud"}, nullptr, -1},
    {{"--enhanced", "s"}, nullptr, 0, "s", "", "", 0, "", true},
    {{"--midi-in", "Keys A", "--midi-clock"}, nullptr, 0, "", "", "", 0, "Keys A", true, true},
    {{"--midi-in=list"}, nullptr, 0, "", "", "", 0, "list", true},
    {{"--midi-in"}, nullptr, -1},
    {{"--enhanced=1"}, nullptr, -1},
};

TEST(DesktopOptions, ParsedAsDocumented) {
  for (const OptionCase& c : option_cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    DesktopOptions o;
    std::string error;
    ASSERT_EQ(parse_options(static_cast<int>(c.args.size()), c.args.data(), c.env_scale, o, error), c.scale >= 0);
    if (c.scale < 0) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(o.scale, c.scale);
    EXPECT_EQ(o.song, c.song);
    EXPECT_EQ(o.midi_out, c.midi_out);
    EXPECT_EQ(o.soundfont, c.soundfont);
    EXPECT_EQ(o.gain_db, c.gain_db);
    EXPECT_EQ(o.midi_in, c.midi_in);
    EXPECT_EQ(std::pair(o.enhanced, o.midi_clock), std::pair(c.enhanced, c.midi_clock));
    EXPECT_EQ(o.help && o.version, c.args.size() == 2 && c.args[0] == std::string("--help"));
  }
}
}  // namespace
