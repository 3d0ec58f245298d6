// takto's command line.
#pragma once

#include <cstddef>
#include <string>

struct DesktopOptions {
  int scale = 0;          // --scale N or TAKTO_SCALE; 0: the largest that fits the display
  double gain_db = 0;     // --gain DB: the built-in synthesizer's level
  std::string soundfont;  // --soundfont PATH; "" the installed General MIDI font
  std::string midi_out;   // --midi-out NAME; "" the built-in synthesizer; "list"
  std::string midi_in;    // --midi-in NAME; "list"
  bool enhanced = false;  // --enhanced (also implied by --midi-in)
  bool midi_clock = false;
  bool help = false;
  bool version = false;
  std::string song;  // every other argument, joined by single blanks
};
constexpr int MAX_SCALE = 8;
constexpr double MAX_GAIN_DB = 40;

// One line of --help, and of the manual page made from it.
struct OptionHelp {
  const char* name;  // with its value, "--scale N"
  const char* text;
};
extern const OptionHelp DESKTOP_OPTIONS[];
extern const std::size_t DESKTOP_OPTION_COUNT;
// The whole --help text: the usage line, a summary, the options table.
extern const std::string DESKTOP_USAGE;

// Reads the arguments after the program name; env_scale is TAKTO_SCALE or
// null. false, with a one-line reason in error, for a bad option.
bool parse_options(int argc, const char* const* argv, const char* env_scale, DesktopOptions& out, std::string& error);
