// The program's command line: options begin with "--"; every other argument
// is part of the song file name, so a path with blanks works quoted or not.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "desktop/options.h"

const OptionHelp DESKTOP_OPTIONS[] = {
    {"--scale N", "draws the screen N times larger (1-8); without it, the largest whole scale that fits the display"},
    {"--soundfont PATH", "the SoundFont of the built-in synthesizer"},
    {"--gain DB", "the built-in synthesizer's level in dB (-40 to 40, default 0); clipped samples are counted"},
    {"--midi-out NAME", "sends to the MIDI port NAME instead of the built-in synthesizer"},
    {"--midi-out list", "prints the MIDI ports and exits"},
    {"--enhanced", "live song header and monitor cells, mute and tempo keys, MIDI in"},
    {"--midi-in NAME", "takes MIDI from the port NAME (implies --enhanced)"},
    {"--midi-in list", "prints the MIDI input ports and exits"},
    {"--midi-clock", "sends MIDI clock, start, continue and stop while playing"},
    {"--help", "prints this and exits"},
    {"--version", "prints the version and exits"},
};
const std::size_t DESKTOP_OPTION_COUNT = std::size(DESKTOP_OPTIONS);

namespace {
// Sections are lines ending in ':', their entries indented; the manual page
// is made from this text.
std::string usage_text() {
  std::string text =
      "usage: takto [OPTIONS] [SONG.sqf]\n"
      "A keyboard-driven MIDI step sequencer for SQF songs, on an 80 x 25 text screen.\n\n"
      "options:\n";
  for (const OptionHelp& o : DESKTOP_OPTIONS) {
    std::string name = o.name;
    text += "  " + name + std::string(name.size() < 18 ? 18 - name.size() : 2, ' ') + o.text + "\n";
  }
  return text +
         "\nenvironment:\n"
         "  TAKTO_SCALE       the scale when --scale is not given\n\n"
         "Every other argument is part of the song file name, joined by single blanks.\n";
}
}  // namespace

const std::string DESKTOP_USAGE = usage_text();

namespace {
bool read_gain(const char* text, double& db) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != 0 || !std::isfinite(v) || std::fabs(v) > MAX_GAIN_DB) return false;
  db = v;
  return true;
}

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
    if (name != "--scale" && name != "--soundfont" && name != "--midi-out" && name != "--midi-in" && name != "--gain") {
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
    } else if (name == "--gain") {
      if (!read_gain(value.c_str(), out.gain_db)) {
        error = "--gain must be a level in dB from -40 to 40, not '" + value + "'";
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
