// Shared set-up of the player tests: an empty song, the headless recorder
// stamped with the player's tick and track, and short ways to build events and
// to play.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "player/player.h"

inline MidiStamp player_stamp() { return MidiStamp{tick.load(std::memory_order_relaxed), work_track}; }

inline Event note(int n, int step_time, int gate, int velocity) {
  return Event{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(step_time),
               static_cast<std::uint8_t>(gate), static_cast<std::uint8_t>(velocity)};
}
inline Event ev(int c, int s = 0, int b2 = 0, int b3 = 0) {
  return Event{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(b2),
               static_cast<std::uint8_t>(b3)};
}
inline Event rest(int s) { return ev(200, s); }
inline Event measure_end_ev() { return ev(EV_MEASURE_END); }
// A same-measure event referring to measure m (1-based); its link is set by relink.
inline Event same_measure_ev(int m) { return ev(EV_SAME_MEASURE, (m - 1) & 255, ((m - 1) >> 8) | 44, 0); }

// Bytes as "TICK HH HH ..." (or "HH HH ..." without the tick).
inline std::string format_message(const SentMidi& m, bool with_tick = true) {
  std::string s = with_tick ? std::to_string(m.tick) : std::string();
  char hex[4];
  for (std::uint8_t b : m.bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    if (!s.empty()) s += ' ';
    s += hex;
  }
  return s;
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_echo_alerts(false);
    ASSERT_EQ(new_song(), 0);
    rebuild_track_table();
    headless_set_clock(0);
    headless_clear_midi();
    headless_set_midi_stamp(player_stamp);
    screen_mode.store(MODE_COMMAND);
    paused.store(0);
    seek_target.store(0);
    current_track = 0;
    now = 0;
  }
  void TearDown() override {
    headless_set_midi_stamp(nullptr);
    screen_mode.store(MODE_EDIT);
  }

  static void tracks(const std::vector<std::vector<Event>>& lists) { ASSERT_TRUE(set_tracks(lists)); }
  static void head(int t, std::size_t field, int value) {
    image()[start[t] + field] = static_cast<std::uint8_t>(value);
  }

  // The command prompt's play start from `offset` of `track`, up to the
  // point where the clock would start; nothing of the clock has run.
  void prepare(int track = 0, std::uint32_t offset = 44, bool relink = true) {
    player_reset();
    current_track = track;
    if (relink) relink_measures();
    screen_mode.store(MODE_COMMAND);
    paused.store(0);
    seek_target.store(offset);
    prepare_play();
  }
  // prepare, then the clock's first call while stopped and the switch to the
  // play monitor, as takto-cli trace does.
  void start_play(int track = 0, std::uint32_t offset = 44, bool relink = true) {
    prepare(track, offset, relink);
    headless_set_clock(now);
    on_timer();
    screen_mode.store(MODE_PLAY_MONITOR, std::memory_order_release);
  }
  // Advances the virtual clock by 1 ms a timer call.
  void run_ms(int ms) {
    for (int i = 0; i < ms; ++i) {
      headless_set_clock(++now);
      on_timer();
    }
  }
  // Runs the clock until `tick` reaches `last`.
  void run_to_tick(std::int32_t last) {
    for (int guard = 0; tick.load() < last && guard < 100000000; ++guard) run_ms(1);
  }

  // What was sent, as "TICK HH HH ..." lines, optionally only one track's.
  static std::vector<std::string> sent(int track = -1) {
    std::vector<std::string> out;
    for (const SentMidi& m : headless_sent_midi())
      if (track < 0 || m.track == track) out.push_back(format_message(m));
    return out;
  }
  // Only the note-ons with a velocity, as "TICK NN" of the note number.
  static std::vector<std::string> note_ons(int track = -1) {
    std::vector<std::string> out;
    for (const SentMidi& m : headless_sent_midi())
      if ((track < 0 || m.track == track) && !m.exclusive && (m.bytes[0] & 0xF0) == 0x90 && m.bytes[2] != 0)
        out.push_back(std::to_string(m.tick) + " " + std::to_string(m.bytes[1]));
    return out;
  }

  std::uint32_t now = 0;
};
