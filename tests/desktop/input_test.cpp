// What a user types reaches takto as it expects: SDL keys become the virtual
// keys Windows gives for the same physical key, and the command line parses
// as documented. The cases are rows of data files beside this one.
#include <gtest/gtest.h>

#include <fstream>
#include <iomanip>
#include <sstream>

#include "desktop/options.h"
#include "host/desktop/desktop.h"

namespace {
// The rows of a data file here, without its comment lines.
std::vector<std::istringstream> rows(const char* name) {
  std::ifstream file(std::string(TAKTO_SOURCE_DIR "/tests/desktop/") + name);
  std::vector<std::istringstream> found;
  for (std::string line; std::getline(file, line);)
    if (!line.empty() && line[0] != '#') found.emplace_back(line);
  EXPECT_GT(found.size(), 20u) << name;
  return found;
}

TEST(DesktopKeys, MappingForBothLayouts) {
  for (std::istringstream& row : rows("virtual_keys.txt")) {
    SCOPED_TRACE(row.str());
    int scancode = 0, num_lock = 0, us = -1, japanese = -1;
    std::string key;
    ASSERT_TRUE(row >> scancode >> key >> num_lock >> us >> japanese);
    const auto s = static_cast<SDL_Scancode>(scancode);
    const SDL_Keycode k = key == "-" ? 0 : SDL_GetKeyFromName(key.c_str());
    EXPECT_EQ(virtual_key(s, k, num_lock ? KMOD_NUM : 0, KeyLayout::us), us);
    EXPECT_EQ(virtual_key(s, k, num_lock ? KMOD_NUM : 0, KeyLayout::japanese), japanese);
  }
}

TEST(DesktopOptions, ParsedAsDocumented) {
  for (std::istringstream& row : rows("desktop_options.txt")) {
    SCOPED_TRACE(row.str());
    std::string parsed, env_scale;
    std::vector<std::string> args;
    row >> std::quoted(parsed) >> env_scale;
    for (std::string arg; row >> std::quoted(arg);) args.push_back(arg);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    DesktopOptions o;
    std::string error;
    const bool ok = parse_options(static_cast<int>(argv.size()), argv.data(),
                                  env_scale == "-" ? nullptr : env_scale.c_str(), o, error);
    std::ostringstream s;
    s << o.scale << ' ' << o.gain_db << '|' << o.song << '|' << o.midi_out << '|' << o.soundfont << '|' << o.midi_in
      << '|' << o.enhanced << o.midi_clock << o.help << o.version;
    EXPECT_EQ(ok ? s.str() : "refused", parsed);
    EXPECT_EQ(error.empty(), ok);
  }
}
}  // namespace
