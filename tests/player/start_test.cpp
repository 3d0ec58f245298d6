// Reset, the start tick, positioning with held-back values, pause and
// silence.
#include <cstring>

#include "player/player_fixture.h"

namespace {

using Start = PlayerTest;
using Strings = std::vector<std::string>;

constexpr std::uint32_t at_event(int n) { return static_cast<std::uint32_t>(TRACK_HEAD_SIZE + 4 * n); }

TEST_F(Start, ResetReadsHeaderAndHeads) {
  std::uint8_t* s = image();
  s[SONG_TEMPO] = 60;
  s[SONG_KEY] = 0x13;  // A minor key with 3 sharps: the tonic of A major
  s[SONG_PLAY_BIAS] = 7;
  s[SONG_RHYTHM_NAMES + RHYTHM_NAME_SIZE * 3 + RHYTHM_NAME_NOTE] = 38;
  s[SONG_RHYTHM_NAMES + RHYTHM_NAME_SIZE * 20 + RHYTHM_NAME_NOTE] = 38;
  s[SONG_RHYTHM_NAMES + RHYTHM_NAME_SIZE * 5 + RHYTHM_NAME_NOTE] = 200;  // names no note
  tracks({{note(60, 1, 1, 1)}, {note(60, 1, 1, 1)}});
  head(1, TRACK_RHYTHM, 0x80);
  head(1, TRACK_CHANNEL, 0x2C);
  head(1, TRACK_KEY_PLUS, 0x85);
  head(1, TRACK_STEP_PLUS, 0xFE);
  head(1, TRACK_MODE, 0x41);
  headless_clear_midi();
  player_reset();
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(base_tempo, 60u);
  EXPECT_EQ(us_per_tick.load(), 20833u);
  EXPECT_EQ(key_value.load(), 3);
  EXPECT_EQ(play_bias, 7);
  EXPECT_EQ(drum_map[38], 838u) << "entries 3 and 20 both name note 38: the later wins";
  EXPECT_EQ(drum_map[36], 758u);
  EXPECT_EQ(drum_map[51], 0u);
  EXPECT_EQ(drum_map[0], 0u);
  EXPECT_EQ(start[1], SONG_HEADER_SIZE + track_length(0));
  EXPECT_EQ(position[1].load(), start[1] + 44);
  EXPECT_EQ(rhythm[1], 0x80);
  EXPECT_EQ(channel[1].load(), 12);
  EXPECT_EQ(key_plus[1], 0x85);
  EXPECT_EQ(step_plus[1], -2);
  EXPECT_EQ(mode[1], 0x41);
  EXPECT_EQ(countdown[0].load(), 12);
  EXPECT_EQ(countdown[1].load(), 10);
  EXPECT_EQ(measure[1].load(), 1);
  EXPECT_EQ(tick.load(), 0);
  const std::uint8_t fresh[DT1_SIZE] = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x10, 0, 0, 0, 0, 0xF7};
  EXPECT_EQ(0, std::memcmp(dt1[17], fresh, DT1_SIZE));
}

TEST_F(Start, ResetForgetsTheLastPlay) {
  tracks({{ev(EV_REPEAT_START), note(60, 1, 100, 100), measure_end_ev(), same_measure_ev(1)}});
  start_play();
  run_to_tick(11);
  ASSERT_NE(return_position[0].load(), 0u);
  ASSERT_GT(repeat_depth[0], 0);
  ASSERT_EQ(ended[1].load(), 1);
  ASSERT_EQ(sounding[0].load(), 1);
  headless_clear_midi();
  player_reset();
  EXPECT_TRUE(sent().empty()) << "a reset ends no notes";
  EXPECT_EQ(return_position[0].load(), 0u);
  EXPECT_EQ(repeat_depth[0], 0);
  EXPECT_EQ(sounding[0].load(), 0);
  EXPECT_EQ(slots[0][0].gate_left.load(), 0);
  EXPECT_EQ(level[0].load(), 0);
  EXPECT_EQ(ended[1].load(), 0);
}

TEST_F(Start, FromTheFirstEvent) {
  tracks({{note(60, 1, 1, 100)}, {ev(EV_PROGRAM, 1, 3)}});
  prepare();
  EXPECT_EQ(tick.load(), 9);
  EXPECT_EQ(seek_target.load(), 0u);
  EXPECT_TRUE(sent().empty());
  start_play();
  run_ms(1);
  EXPECT_EQ(sent(), (Strings{"10 90 3C 64", "10 C1 03"}));
}

TEST_F(Start, OnlyTheLastHeldBackValueIsSent) {
  std::vector<Event> events;
  for (int v = 1; v <= 10; ++v) events.push_back(ev(EV_CONTROL, 1, 7, v));
  events.push_back(note(60, 1, 1, 100));
  tracks({events});
  start_play(0, at_event(10));
  EXPECT_EQ(sent(), (Strings{"19 B0 07 0A"}));
  run_ms(1);
  EXPECT_EQ(sent().back(), "20 90 3C 64");
}

TEST_F(Start, HeldBackValuesGoOutOnTheLastChannel) {
  tracks({{ev(EV_CONTROL, 0, 7, 90), ev(EV_MIDI_CH, 1, 5), note(60, 1, 1, 100)}});
  prepare(0, at_event(2));
  EXPECT_EQ(sent(), (Strings{"10 B4 07 5A"}));
}

TEST_F(Start, HeldBackValuesInTheirFixedOrder) {
  tracks({{ev(EV_CONTROL, 0, 11, 1), ev(EV_CONTROL, 0, 10, 2), ev(EV_CONTROL, 0, 1, 3), ev(EV_PITCH, 0, 4, 5),
           ev(EV_CONTROL, 0, 7, 6), ev(EV_PITCH, 1, 0, 64), note(60, 1, 1, 100)},
          {ev(EV_CONTROL, 1, 10, 64), note(60, 1, 1, 100)}});
  prepare(0, at_event(6));
  EXPECT_EQ(sent(), (Strings{"10 E0 00 40", "10 B0 01 03", "10 B0 07 06", "10 B0 0A 02", "10 B0 0B 01",
                             "10 B1 0A 40"}));
}

TEST_F(Start, OtherMessagesGoOutInTheirPlace) {
  tracks({{ev(EV_PROGRAM, 1, 5), ev(EV_CONTROL, 1, 64, 127), ev(EV_CONTROL, 1, 7, 100), ev(EV_BANK_PRG, 0, 6, 1),
           ev(EV_AFTER_C, 0, 9), ev(EV_AFTER_K, 0, 60, 9), ev(EV_TEMPO, 1, 96), note(60, 1, 1, 100)}});
  prepare(0, at_event(7));
  EXPECT_EQ(sent(), (Strings{"10 C0 05", "11 B0 40 7F", "13 B0 00 01", "13 B0 20 00", "13 C0 06", "13 D0 09",
                             "13 A0 3C 09", "13 B0 07 64"}));
  EXPECT_EQ(us_per_tick.load(), 6944u) << "play starts at the changed tempo";
}

TEST_F(Start, ExclusivesBeforeTheStartAreAllSent) {
  std::vector<Event> events;
  for (int i = 0; i < 10; ++i) events.push_back(ev(EV_ROL_PARA, 1, i, 0));
  events.push_back(note(60, 1, 1, 100));
  tracks({events});
  prepare(0, at_event(10));
  EXPECT_EQ(sent().size(), 10u);
  EXPECT_EQ(sent().back(), "19 F0 41 10 16 12 10 00 09 00 67 F7");
}

TEST_F(Start, InsideARepeatedSection) {
  tracks({{ev(EV_REPEAT_START), note(60, 12, 1, 100), measure_end_ev(), note(62, 12, 1, 100), measure_end_ev(),
           ev(EV_REPEAT_END, 3), note(64, 12, 1, 100)}});
  start_play(0, at_event(3));
  EXPECT_EQ(tick.load(), 21);
  run_to_tick(100);
  EXPECT_EQ(note_ons(), (Strings{"22 62", "34 60", "46 62", "58 60", "70 62", "82 64"}));
}

TEST_F(Start, AfterASameMeasureCall) {
  tracks({{note(60, 12, 1, 100), measure_end_ev(), same_measure_ev(1), note(62, 12, 1, 100)}});
  prepare(0, at_event(3));
  EXPECT_EQ(tick.load(), 33);
  EXPECT_EQ(measure[0].load(), 2);
  EXPECT_NE(return_position[0].load(), 0u) << "the called measure is still playing at tick 33";
}

TEST_F(Start, InsideALongNote) {
  tracks({{note(60, 24, 48, 100), note(62, 1, 1, 100)}});
  start_play(0, at_event(1));
  run_to_tick(100);
  EXPECT_EQ(sent(), (Strings{"34 90 3E 64", "35 90 3E 00"}));
}

TEST_F(Start, OtherTracksFirstEventsBeforeTheStartAreSilent) {
  tracks({{note(60, 1, 1, 100)}, {ev(EV_PROGRAM, 0, 4), note(70, 1, 1, 100), note(71, 1, 1, 100)}});
  head(1, TRACK_STEP_PLUS, -5);
  start_play();
  EXPECT_EQ(sent(), (Strings{"10 C1 04"}));
  run_to_tick(20);
  EXPECT_EQ(note_ons(), (Strings{"15 60"}));
}

TEST_F(Start, BeyondTheEndOfTheTrack) {
  tracks({{note(60, 5, 1, 100), note(61, 5, 1, 100)}, {note(70, 10, 1, 100), note(71, 5, 1, 100)}});
  start_play(0, 10000);
  EXPECT_EQ(tick.load(), 19);
  run_to_tick(20);
  EXPECT_EQ(ended[0].load(), 1);
  EXPECT_EQ(note_ons(), (Strings{"20 71"}));
}

TEST_F(Start, StartTrackAndOffsetFromAnotherTrack) {
  tracks({{note(60, 10, 1, 100), note(61, 10, 1, 100)}, {note(70, 3, 1, 100), note(71, 3, 1, 100)}});
  start_play(1, at_event(1));
  EXPECT_EQ(tick.load(), 12);
  run_to_tick(30);
  EXPECT_EQ(note_ons(), (Strings{"13 71", "20 61"}));
}

TEST_F(Start, EndlessRepeatsDoNotHangTheStart) {
  // Five nested repeats of 256 passes around a 255-tick rest, and around a
  // zero-time event: a start point after them is beyond any reach.
  for (int step_time : {255, 0}) {
    new_song();
    std::vector<Event> events(5, ev(EV_REPEAT_START));
    events.push_back(step_time ? rest(step_time) : ev(EV_MUSIC_KEY, 1));
    for (int i = 0; i < 5; ++i) events.push_back(ev(EV_REPEAT_END, 0));
    events.push_back(note(60, 1, 1, 100));
    tracks({events});
    headless_record_midi(false);
    prepare(0, at_event(11));
    headless_record_midi(true);
    EXPECT_EQ(seek_target.load(), 0u);
    EXPECT_LE(tick.load(), START_TICK_LIMIT);
    EXPECT_EQ(ended[0].load(), 0);
  }
}

TEST_F(Start, PauseSilencesAndResumeContinues) {
  tracks({{note(60, 0, 30, 100), note(64, 20, 30, 100), note(67, 1, 1, 100)}});
  start_play();
  run_to_tick(15);
  paused.store(1);
  silence_sounding_notes();
  EXPECT_EQ(sent(), (Strings{"10 90 3C 64", "10 90 40 64", "15 90 3C 00", "15 90 40 00"}));
  EXPECT_EQ(sounding[0].load(), 2) << "silencing leaves the slots";
  headless_clear_midi();
  run_ms(500);
  EXPECT_EQ(tick.load(), 15);
  paused.store(0);
  run_to_tick(41);
  // The resumed notes still end on their gates: redundant note-offs.
  EXPECT_EQ(sent(), (Strings{"30 90 43 64", "31 90 43 00", "40 90 3C 00", "40 90 40 00"}));
}

TEST_F(Start, SilenceUsesTheTracksCurrentChannels) {
  tracks({{note(60, 1, 50, 100), ev(EV_PROGRAM, 30, 1)}, {note(61, 1, 50, 100)}});
  start_play();
  run_to_tick(11);
  headless_clear_midi();
  screen_mode.store(MODE_COMMAND);  // a stop by leaving the monitor
  silence_sounding_notes();
  EXPECT_EQ(sent(), (Strings{"11 90 3C 00", "11 91 3D 00"}));
}

}  // namespace
