// Enhanced mode through takto-cli session --enhanced: the live header and
// monitor cells, the mute and tempo keys, MIDI in (thru and step input) and
// MIDI clock, as dumps against tests/golden/enhanced_*.txt and as traces.
// TAKTO_UPDATE_GOLDEN=1 writes the dumps instead (review the diff).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/host.h"

namespace {
using Track = std::vector<Event>;
const Event M{EV_MEASURE_END, 0, 0, 0};

// Tempo 90, play bias -2, F# minor; track 1 measures of 144 ticks that change
// tempo and key and send every value the monitor shows; track 2 turns its
// channel off, track 3 to channel 5; tracks 4-6 quarter notes, 7 nothing.
bool make_live_song(const std::string& path) {
  new_song();
  rebuild_track_table();
  image()[SONG_TEMPO] = 90;
  image()[SONG_PLAY_BIAS] = 254;
  image()[SONG_KEY] = 19;
  std::vector<Track> tracks(7);
  tracks[0] = {{EV_TEMPO, 0, 128, 0},
               {EV_MUSIC_KEY, 7, 0, 0},
               {EV_BANK_PRG, 0, 5, 8},
               {EV_CONTROL, 0, 64, 127},
               {EV_CONTROL, 0, 1, 30},
               {EV_CONTROL, 0, 7, 100},
               {EV_CONTROL, 0, 11, 90},
               {EV_CONTROL, 0, 10, 20},
               {EV_PITCH, 0, 0, 80},
               {60, 48, 40, 100},
               {62, 48, 40, 100},
               {64, 48, 40, 100},
               M};
  for (int m = 0; m < 20; ++m) tracks[0].insert(tracks[0].end(), {{65, 72, 60, 90}, {67, 72, 60, 90}, M});
  tracks[1] = {{EV_MIDI_CH, 0, 0, 0}, {48, 192, 100, 80}, M};
  tracks[2] = {{EV_MIDI_CH, 0, 5, 0}, {EV_PROGRAM, 0, 40, 0}, {50, 96, 90, 80}, M};
  for (int t = 3; t < 6; ++t)
    for (int q = 0; q < 80; ++q) tracks[t].push_back({static_cast<std::uint8_t>(40 + 7 * t), 48, 40, 100});
  if (!set_tracks(tracks)) return false;
  image()[start[0] + TRACK_CHANNEL] = 2;  // thru on the edit screen goes to channel 3
  set_file_name(path.c_str());
  return save_song() == 0;
}

std::string read_text(const std::string& path) {
  std::vector<std::uint8_t> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

struct Played {
  std::string screen;  // the snap named "s", else the final screen
  std::vector<std::string> trace;
};

Played play(const std::string& options, const std::string& keys, bool (*song)(const std::string&) = make_live_song) {
  TempDir dir;
  EXPECT_TRUE(song(dir.file("s.sqf")));
  std::string script = keys;
  for (std::size_t at; (at = script.find("snap=s")) != std::string::npos;)
    script.replace(at, 6, "snap=" + dir.file("x"));
  CliResult r = run_cli("session " + dir.file("s.sqf") + " --enhanced " + options + " --keys '" + script +
                        "' --screen " + dir.file("end.txt") + " --trace " + dir.file("t"));
  EXPECT_EQ(r.status, 0) << keys << ": " << r.err;
  Played out;
  const bool snapped = script != keys;
  out.screen = read_text(dir.file(snapped ? "x.txt" : "end.txt"));
  std::istringstream lines(read_text(dir.file("t")));
  for (std::string line; std::getline(lines, line);) out.trace.push_back(line);
  return out;
}

// The fields of a trace line: ms, tick, then the bytes.
std::vector<std::string> fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> f;
  for (std::string w; in >> w;) f.push_back(w);
  return f;
}

// The bytes of the trace lines at or after ms `from`, as "90 3C 64".
std::vector<std::string> sent_from(const Played& r, unsigned from) {
  std::vector<std::string> out;
  for (const std::string& line : r.trace) {
    const std::size_t a = line.find(' '), b = line.find(' ', a + 1);
    if (std::stoul(line.substr(0, a)) >= from) out.push_back(line.substr(b + 1));
  }
  return out;
}

bool has(const std::vector<std::string>& sent, const std::string& what) {
  for (const std::string& s : sent)
    if (s == what) return true;
  return false;
}

// Note-ons (velocity not 0) on channel ch among sent.
int note_ons(const std::vector<std::string>& sent, int ch) {
  char status[3];
  std::snprintf(status, sizeof status, "9%X", ch);
  int n = 0;
  for (const std::string& s : sent)
    if (s.compare(0, 2, status) == 0 && s.substr(6) != "00") ++n;
  return n;
}
}  // namespace

TEST(EnhancedScreens, GoldenDumps) {
  const bool update = std::getenv("TAKTO_UPDATE_GOLDEN") != nullptr;
  const struct {
    const char* name;
    const char* keys;
  } cases[] = {
      {"enhanced_main", "midi=B07B00"},  // an input port: thru on, input from MIDI
      // Track 2 muted in its monitor, back to all tracks, tempo raised by two.
      {"enhanced_play_monitor", "P wait=1200 2 S-VK189 SPACE NUM+ NUM+ wait=100 snap=s"},
      {"enhanced_track_monitor_muted", "P wait=300 2 S-VK189 wait=100 snap=s"},
      // Overwrite a note, then insert a note and a chord of two.
      {"enhanced_step_input",
       "RETURN 2 RETURN RETURN wait=20 midi=904570 midi=804500 wait=20 I midi=903C64 midi=803C00 midi=904050 "
       "midi=904360 "
       "midi=804000 midi=804300 wait=10"},
  };
  for (const auto& c : cases) {
    const std::string golden = std::string(TAKTO_SOURCE_DIR) + "/tests/golden/" + c.name + ".txt";
    const Played r = play("", c.keys);
    if (update) write_file(golden, std::vector<std::uint8_t>(r.screen.begin(), r.screen.end()));
    EXPECT_EQ(r.screen, read_text(golden)) << c.name << ": differs from " << golden;
  }
}

// Values on the screens: the TEMPO cell follows the song's own change and
// the keys within 10-240; positioning fills the cells; SYNC MODE shows the clock.
TEST(EnhancedScreens, LiveValues) {
  std::string many = "P wait=100";
  for (int i = 0; i < 70; ++i) many += " NUM+";
  const struct {
    const char* options;
    std::string keys;
    const char* shows;
  } cases[] = {
      {"", "P wait=100 snap=s", "TEMPO    :180 "},
      {"", "P wait=100 NUM- S-VK189 NUM- wait=50 snap=s", "TEMPO    :178 "},
      {"", many + " wait=50 snap=s", "TEMPO    :240 "},
      {"", "RETURN 3 RETURN RETURN P SPACE wait=20 snap=s", "PROGRAM:  5|---| 40"},
      {"", "RETURN 3 RETURN RETURN P SPACE wait=20 snap=s", "CHANNEL:  3|OFF|  5"},
      {"--midi-clock", "", "SYNC MODE: CLK "},
      {"", "", "MIDI THRU: OFF  "},  // no midi= token, no input port
      {"", "", "REC INPUT: MPU "},
  };
  for (const auto& c : cases) {
    const Played r = play(c.options, c.keys);
    // "LABEL:a|b|c": the row's first cells, without the columns between them.
    std::string seen = r.screen;
    if (std::string(c.shows).find('|') != std::string::npos) {
      const std::size_t row = r.screen.find(std::string(c.shows).substr(0, 8));
      seen = r.screen.substr(row, 8);
      for (int j = 0; row != std::string::npos && j < 3; ++j)
        seen += (j ? "|" : "") + r.screen.substr(row + 8 + 4 * j, 3);
    }
    EXPECT_NE(seen.find(c.shows), std::string::npos) << c.keys << "\n" << r.screen.substr(0, 1800);
  }
}

// BEAT counts track 1's first measure in the largest value that counts it whole.
Track first_track;
bool make_beat_song(const std::string& path) {
  new_song();
  if (!set_tracks({first_track})) return false;
  set_file_name(path.c_str());
  return save_song() == 0;
}

TEST(EnhancedScreens, BeatOfTheFirstMeasure) {
  const struct {
    Track track;
    const char* shows;
  } cases[] = {
      {{{60, 96, 10, 64}, {EV_REPEAT_START, 0, 0, 0}, {62, 48, 10, 64}, M}, "BEAT    : 3/4 "},
      {{{60, 168, 10, 64}, M}, "BEAT    : 7/8 "},
      {{{60, 60, 10, 64}, M, {60, 48, 10, 64}, M}, "BEAT    : 5/16"},
      {{{60, 47, 10, 64}, M}, "BEAT    :47/48"},
      {{{60, 101, 10, 64}, M}, "BEAT    :  ?  "},
      {{{60, 200, 10, 64}}, "BEAT    : 4/4 "},
      {{M, {60, 48, 10, 64}, M}, "BEAT    : 4/4 "},
  };
  for (const auto& c : cases) {
    first_track = c.track;
    const Played r = play("", "", make_beat_song);
    EXPECT_NE(r.screen.find(c.shows), std::string::npos) << c.shows << "\n" << r.screen.substr(0, 700);
  }
}

// A muted track's notes end at once and no new one sounds; its other messages
// still go out; "=" in the play monitor brings every track back.
TEST(EnhancedKeys, MuteAndUnmute) {
  // Track 4 (channel 3) plays a quarter note every 48 ticks at 180 a minute.
  const Played muted = play("", "P wait=500 4 S-VK189 wait=1500");
  // "=" comes at 560 ms.
  const std::vector<std::string> after = sent_from(muted, 570);
  EXPECT_EQ(note_ons(after, 3), 0);
  EXPECT_GT(note_ons(after, 4), 3);
  const Played back = play("", "P wait=500 4 S-VK189 SPACE wait=500 S-VK189 wait=1000");
  EXPECT_EQ(note_ons(sent_from(back, 570), 3) - note_ons(sent_from(back, 1120), 3), 0);
  EXPECT_GT(note_ons(sent_from(back, 1120), 3), 3);
  // Muting ends the sounding note within the tick: its note-off comes at once.
  bool ended_at_once = false;
  for (const std::string& line : muted.trace) {
    const std::vector<std::string> f = fields(line);
    const unsigned ms = std::stoul(f[0]);
    if (ms >= 560 && ms < 575 && f[2] == "93" && f[4] == "00") ended_at_once = true;
  }
  EXPECT_TRUE(ended_at_once);
}

// Thru: as it comes on the main screen, on the edited track's channel on the
// edit screen, nothing while a song plays.
TEST(EnhancedMidiIn, Thru) {
  const struct {
    const char* keys;
    const char* sent;  // null: nothing of it goes out
  } cases[] = {
      {"midi=953C64 wait=5", "95 3C 64"},
      {"midi=C505 wait=5", "C5 05"},
      {"RETURN RETURN RETURN midi=903C64 wait=5", "92 3C 64"},
      {"RETURN RETURN RETURN midi=B50740 wait=5", "B2 07 40"},
      {"P wait=100 midi=957F01 wait=5", nullptr},
  };
  for (const auto& c : cases) {
    const Played r = play("", c.keys);
    const std::vector<std::string> all = sent_from(r, 0);
    EXPECT_EQ(has(all, c.sent ? c.sent : "95 7F 01"), c.sent != nullptr) << c.keys;
  }
}

// Clock: start, a clock every 2 ticks, stop at a pause, continue after it and
// stop at the end; from elsewhere a song position pointer and continue.
TEST(EnhancedClock, MessagesInTheirOrder) {
  const struct {
    const char* keys;
    const char* order;  // the realtime and position messages, runs of F8 as one
  } cases[] = {
      {"P wait=500 HOME wait=100 HOME wait=300 ESC", "FA F8 FC FB F8 FC"},
      {"RETURN 2 RETURN RETURN P wait=300 ESC", "F2 0C 00 FB F8 FC"},
  };
  for (const auto& c : cases) {
    const Played r = play("--midi-clock", c.keys);
    std::string order;
    std::int32_t last_clock = -1;
    for (const std::string& line : r.trace) {
      const std::vector<std::string> f = fields(line);
      if (f[2] < "F0") continue;
      if (f[2] == "F8") {
        if (last_clock >= 0) {
          EXPECT_EQ(std::stoi(f[1]) - last_clock, 2) << line;
        }
        last_clock = std::stoi(f[1]);
        if (order.size() >= 2 && order.compare(order.size() - 2, 2, "F8") == 0) continue;
      } else {
        last_clock = -1;
      }
      for (std::size_t i = 2; i < f.size(); ++i) order += (order.empty() ? "" : " ") + f[i];
    }
    EXPECT_EQ(order, c.order) << c.keys;
  }
  // Without the option no clock goes out.
  for (const std::string& line : play("", "P wait=300 HOME wait=50 HOME ESC").trace)
    EXPECT_LT(fields(line)[2], "F0") << line;
}
