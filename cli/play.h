// Playing a song for takto-cli: loaded and started as the command prompt's
// play start does, on a virtual clock that advances 1 ms a timer call. Every
// command that plays a song (trace, export-midi, render) goes through
// play_song, so they all hear the same play.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/headless/headless.h"

// Play stops here at the latest, in virtual milliseconds.
constexpr long long PLAY_LIMIT_MS = 100000000;

struct TempoChange {
  std::int32_t tick;
  std::uint32_t us_per_quarter;
};

struct PlayOptions {
  const char* song = nullptr;  // file name
  int track = 1;               // 1-18: the track whose event starts the play
  long long offset = 44;       // byte offset of that event from its block's start
  long long ms = -1;           // how long to play; -1: until the song ends (or PLAY_LIMIT_MS)
  // When set, gets the tempo after positioning, then every change, as it comes.
  std::function<void(const TempoChange&)> on_tempo;
};

// What a play gives besides its messages.
struct PlayResult {
  std::int32_t first_tick = 0;  // the first tick that the clock ran
};

// Gets every sent message as it is sent: its virtual ms, the tick and track
// that sent it, and its bytes. result is filled as far as the play has come.
using MidiSink = std::function<void(const SentMidi& message, const PlayResult& result)>;

// Reads the play option at argv[i] (--track N, --offset BYTES, and --ms MS
// when allow_ms): 2 when it took the option and its value, 0 when argv[i] is
// no play option, -1 when the value is bad.
int parse_play_option(int argc, char** argv, int i, bool allow_ms, PlayOptions& o);
// Reads the options from argv[first] on, all of which must be play options;
// false on bad usage.
bool parse_play_options(int argc, char** argv, int first, bool allow_ms, PlayOptions& o);

// A play in progress, stepped one virtual millisecond at a time.
struct SongPlay {
  PlayOptions options;
  MidiSink sink;
  PlayResult& result;  // filled as the play goes
  std::uint32_t tempo = 0;
  bool over = false;  // the song ended, or the time is up
};
// Loads the song and starts it as play_song does; 1 when it was refused.
int play_start(SongPlay& p);
// The timer call at virtual millisecond `now` (0, 1, 2, ... in turn) and the
// messages it sent; at the end the notes are silenced and p.over set.
void play_ms(SongPlay& p, long long now);

// Loads o.song and plays it, handing each message to sink after the timer
// call that sent it (so a long play needs no more memory than a short one).
// At the song's end the sounding notes are silenced. 0 when played; 1 when the
// song was refused, with the reason on stderr.
int play_song(const PlayOptions& o, PlayResult& result, const MidiSink& sink);

// An unnamed temporary file for what a command holds until its output is
// whole: in OUT's folder, else in TMPDIR or /tmp; null when none can be made.
std::FILE* open_spill(const std::string& out);
