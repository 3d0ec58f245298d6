// takto's command line.
#pragma once

#include <string>

struct DesktopOptions {
  int scale = 1;          // --scale N or TAKTO_SCALE
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
extern const char DESKTOP_USAGE[];

// Reads the arguments after the program name; env_scale is TAKTO_SCALE or
// null. false, with a one-line reason in error, for a bad option.
bool parse_options(int argc, const char* const* argv, const char* env_scale, DesktopOptions& out, std::string& error);
