// takto's command line: options begin with "--"; the rest is one file name.
#include <gtest/gtest.h>

#include <vector>

#include "host/desktop/desktop.h"

namespace {
struct OptionCase {
  std::vector<const char*> args;
  const char* env_scale;
  bool ok;
  int scale;
  const char* song;
  const char* midi_out;
  const char* soundfont;
};

const OptionCase option_cases[] = {
    {{}, nullptr, true, 1, "", "", ""},
    {{"my", "song.sqf"}, nullptr, true, 1, "my song.sqf", "", ""},
    {{"a  b.sqf"}, nullptr, true, 1, "a  b.sqf", "", ""},
    {{"--scale", "2", "x.sqf"}, nullptr, true, 2, "x.sqf", "", ""},
    {{"--scale=3"}, "2", true, 3, "", "", ""},
    {{}, "2", true, 2, "", "", ""},
    {{"--midi-out", "list"}, nullptr, true, 1, "", "list", ""},
    {{"--midi-out=Synth A", "--soundfont", "/a b.sf2", "s"}, nullptr, true, 1, "s", "Synth A",
     "/a b.sf2"},
    {{"--scale", "0"}, nullptr, false, 0, "", "", ""},
    {{"--scale", "9"}, nullptr, false, 0, "", "", ""},
    {{"--scale", "2x"}, nullptr, false, 0, "", "", ""},
    {{}, "big", false, 0, "", "", ""},
    {{"--scale"}, nullptr, false, 0, "", "", ""},
    {{"--midi-out="}, nullptr, false, 0, "", "", ""},
    {{"--colour"}, nullptr, false, 0, "", "", ""},
};

TEST(DesktopOptions, ParsedAsDocumented) {
  for (const OptionCase& c : option_cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    DesktopOptions o;
    std::string error;
    ASSERT_EQ(parse_options(static_cast<int>(c.args.size()), c.args.data(), c.env_scale, o, error),
              c.ok);
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(o.scale, c.scale);
    EXPECT_EQ(o.song, c.song);
    EXPECT_EQ(o.midi_out, c.midi_out);
    EXPECT_EQ(o.soundfont, c.soundfont);
  }
  DesktopOptions o;
  std::string error;
  const char* flags[] = {"--help", "--version"};
  ASSERT_TRUE(parse_options(2, flags, nullptr, o, error));
  EXPECT_TRUE(o.help && o.version);
}
}  // namespace
