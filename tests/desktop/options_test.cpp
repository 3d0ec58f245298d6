// takto's command line: options begin with "--"; the rest is one file name.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "desktop/options.h"

namespace {
// The options as "scale gain|song|midi out|soundfont|midi in|enhanced clock
// help version"; scale 0 fits the display.
std::string shown(const DesktopOptions& o) {
  std::ostringstream s;
  s << o.scale << ' ' << o.gain_db << '|' << o.song << '|' << o.midi_out << '|' << o.soundfont << '|' << o.midi_in
    << '|' << o.enhanced << o.midi_clock << o.help << o.version;
  return s.str();
}

TEST(DesktopOptions, ParsedAsDocumented) {
  const struct {
    std::vector<const char*> args;
    const char* env_scale;
    const char* parsed;  // "" refused
  } cases[] = {
      {{}, nullptr, "0 0|||||0000"},
      {{"my", "song.sqf"}, nullptr, "0 0|my song.sqf||||0000"},
      {{"a  b.sqf"}, nullptr, "0 0|a  b.sqf||||0000"},
      {{"--scale", "2", "x.sqf"}, nullptr, "2 0|x.sqf||||0000"},
      {{"--scale=3"}, "2", "3 0|||||0000"},
      {{}, "2", "2 0|||||0000"},
      {{"--midi-out", "list"}, nullptr, "0 0||list|||0000"},
      {{"--midi-out=Synth A", "--soundfont", "/a b.sf2", "s"}, nullptr, "0 0|s|Synth A|/a b.sf2||0000"},
      {{"--scale", "8"}, nullptr, "8 0|||||0000"},
      {{"--help", "--version"}, nullptr, "0 0|||||0011"},
      {{"--gain", "-6.5"}, nullptr, "0 -6.5|||||0000"},
      {{"--gain=+40"}, nullptr, "0 40|||||0000"},
      {{"--enhanced", "s"}, nullptr, "0 0|s||||1000"},
      {{"--midi-in", "Keys A", "--midi-clock"}, nullptr, "0 0||||Keys A|1100"},
      {{"--midi-in=list"}, nullptr, "0 0||||list|1000"},
      {{"--scale", "0"}, nullptr, ""},
      {{"--scale", "9"}, nullptr, ""},
      {{"--scale", "2x"}, nullptr, ""},
      {{}, "big", ""},
      {{"--scale"}, nullptr, ""},
      {{"--midi-out="}, nullptr, ""},
      {{"--colour"}, nullptr, ""},
      {{"--gain", "41"}, nullptr, ""},
      {{"--gain", "loud"}, nullptr, ""},
      {{"--midi-in"}, nullptr, ""},
      {{"--enhanced=1"}, nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    DesktopOptions o;
    std::string error;
    const bool ok = parse_options(static_cast<int>(c.args.size()), c.args.data(), c.env_scale, o, error);
    EXPECT_EQ(ok ? shown(o) : "", c.parsed);
    EXPECT_EQ(error.empty(), ok);
  }
}
}  // namespace
