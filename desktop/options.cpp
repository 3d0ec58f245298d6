// The program's command line: options begin with "--"; every other argument
// is part of the song file name, so a path with blanks works quoted or not.
#include <cstdlib>
#include <cstring>
#include <string>

#include "desktop/options.h"

const char DESKTOP_USAGE[] =
    "usage: takto [OPTIONS] [SONG.sqf]\n"
    "  --scale N         draw the 640 x 400 screen N times larger (1-8; also TAKTO_SCALE)\n"
    "  --soundfont PATH  SoundFont of the built-in synthesizer\n"
    "  --midi-out NAME   send to the MIDI port NAME instead of the built-in synthesizer\n"
    "  --midi-out list   print the MIDI ports and exit\n"
    "  --enhanced        live song header and monitor cells, mute and tempo keys, MIDI in\n"
    "  --midi-in NAME    take MIDI from the port NAME (implies --enhanced); list: print the ports\n"
    "  --midi-clock      send MIDI clock, start, continue and stop while playing\n"
    "  --help            print this and exit\n"
    "  --version         print the version and exit\n";

namespace {
bool read_scale(const char* text, int& scale) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != 0 || n < 1 || n > MAX_SCALE) return false;
  scale = static_cast<int>(n);
  return true;
}
}  // namespace

bool parse_options(int argc, const char* const* argv, const char* env_scale, DesktopOptions& out, std::string& error) {
  out = DesktopOptions{};
  if (env_scale && *env_scale && !read_scale(env_scale, out.scale)) {
    error = "TAKTO_SCALE must be a whole number from 1 to 8, not '" + std::string(env_scale) + "'";
    return false;
  }
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      if (!out.song.empty()) out.song += ' ';
      out.song += arg;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool has_value = false;
    if (std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    if (name == "--help" || name == "--version") {
      (name == "--help" ? out.help : out.version) = true;
      continue;
    }
    if (name == "--enhanced" || name == "--midi-clock") {
      if (has_value) {
        error = name + " takes no value";
        return false;
      }
      (name == "--enhanced" ? out.enhanced : out.midi_clock) = true;
      continue;
    }
    if (name != "--scale" && name != "--soundfont" && name != "--midi-out" && name != "--midi-in") {
      error = "unknown option '" + arg + "'";
      return false;
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (name == "--scale") {
      if (!read_scale(value.c_str(), out.scale)) {
        error = "--scale must be a whole number from 1 to 8, not '" + value + "'";
        return false;
      }
    } else if (value.empty()) {
      error = name + " needs a value";
      return false;
    } else if (name == "--midi-in") {
      out.midi_in = value;
      out.enhanced = true;
    } else {
      (name == "--soundfont" ? out.soundfont : out.midi_out) = value;
    }
  }
  return true;
}
