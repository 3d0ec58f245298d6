// Notes, gates and slots, transposition, muting, channel changes and the
// bytes of the channel messages.
#include <algorithm>

#include "player/player_fixture.h"

namespace {

using Channel = PlayerTest;
using Strings = std::vector<std::string>;

TEST_F(Channel, NoteOnAndGatedNoteOff) {
  tracks({{}, {}, {note(60, 0, 12, 100)}});
  start_play(2);
  run_to_tick(40);
  EXPECT_EQ(sent(), (Strings{"10 92 3C 64", "22 92 3C 00"}));
}

TEST_F(Channel, Transposition) {
  struct Case {
    int code, key_plus, bias, sent;
  } cases[] = {
      {60, 0, 0, 60},   {60, 5, 254, 63}, {60, 133, 254, 60}, {125, 5, 0, 2},   {60, 116, 0, 48},
      {100, 64, 0, 36}, {0, 0, 255, 127}, {127, 128, 9, 127},  {120, 127, 0, 119}, {10, 0, 130, 12},
  };
  for (const Case& c : cases) {
    new_song();
    tracks({{note(c.code, 1, 1, 100)}});
    head(0, TRACK_KEY_PLUS, c.key_plus);
    image()[SONG_PLAY_BIAS] = static_cast<std::uint8_t>(c.bias);
    headless_clear_midi();
    start_play();
    run_to_tick(10);
    EXPECT_EQ(note_ons(), (Strings{"10 " + std::to_string(c.sent)}))
        << "note " << c.code << " key+ " << c.key_plus << " bias " << c.bias;
  }
}

TEST_F(Channel, SilentNotesTouchNothing) {
  tracks({{note(60, 1, 0, 100), note(61, 1, 10, 0), note(62, 1, 10, 1)}});
  start_play();
  run_to_tick(11);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(level[0].load(), 0);
  EXPECT_EQ(sounding[0].load(), 0);
  run_to_tick(12);
  EXPECT_EQ(sent(), (Strings{"12 90 3E 01"}));
  EXPECT_EQ(level[0].load(), 2);
}

TEST_F(Channel, SoundingNoteIsTiedNotRestruck) {
  tracks({{note(60, 24, 48, 100), note(60, 1, 10, 90)}});
  start_play();
  run_to_tick(60);
  EXPECT_EQ(sent(), (Strings{"10 90 3C 64", "44 90 3C 00"}));
}

TEST_F(Channel, GateEqualToStepRestrikes) {
  tracks({{note(60, 24, 24, 100), note(60, 1, 24, 100)}});
  start_play();
  run_to_tick(60);
  EXPECT_EQ(sent(), (Strings{"10 90 3C 64", "34 90 3C 00", "34 90 3C 64", "58 90 3C 00"}));
}

TEST_F(Channel, SeventeenthNoteIsDropped) {
  std::vector<Event> chord;
  for (int i = 0; i < 17; ++i) chord.push_back(note(40 + i, 0, 100, 100));
  tracks({chord});
  start_play();
  run_to_tick(10);
  EXPECT_EQ(note_ons().size(), 16u);
  EXPECT_EQ(note_ons().back(), "10 55");
  EXPECT_EQ(sounding[0].load(), 16);
  run_to_tick(110);
  EXPECT_EQ(sent().size(), 32u);
  EXPECT_EQ(sounding[0].load(), 0);
}

TEST_F(Channel, FreedSlotIsReused) {
  // 16 notes sound; one ends; a new note takes its slot and later ends on time.
  std::vector<Event> events;
  for (int i = 0; i < 15; ++i) events.push_back(note(40 + i, 0, 100, 100));
  events.push_back(note(70, 5, 5, 100));
  events.push_back(note(71, 0, 5, 100));
  events.push_back(note(72, 1, 5, 100));
  tracks({events});
  start_play();
  run_to_tick(30);
  EXPECT_EQ(note_ons(), (Strings{"10 40", "10 41", "10 42", "10 43", "10 44", "10 45", "10 46", "10 47", "10 48",
                                 "10 49", "10 50", "10 51", "10 52", "10 53", "10 54", "10 70", "15 71"}));
  Strings all = sent();
  EXPECT_EQ(std::count(all.begin(), all.end(), "20 90 47 00"), 1);
}

TEST_F(Channel, MutedTrackSendsEverythingButNotes) {
  for (int mode_byte : {1, 8, 9, 0xF9}) {
    new_song();
    tracks({{ev(EV_CONTROL, 0, 7, 90), note(60, 0, 10, 100), ev(EV_PROGRAM, 1, 5)}});
    head(0, TRACK_MODE, mode_byte);
    headless_clear_midi();
    start_play();
    run_to_tick(30);
    EXPECT_EQ(sent(), (Strings{"10 B0 07 5A", "10 C0 05"})) << "mode " << mode_byte;
    EXPECT_EQ(level[0].load(), 0);
  }
  new_song();
  tracks({{note(60, 1, 10, 100)}});
  head(0, TRACK_MODE, 0xF6);  // other bits do not matter
  headless_clear_midi();
  start_play();
  run_to_tick(10);
  EXPECT_EQ(note_ons(), (Strings{"10 60"}));
}

TEST_F(Channel, MessageBytes) {
  tracks({{ev(EV_BANK_PRG, 0, 10, 8), ev(EV_AFTER_C, 0, 33), ev(EV_CONTROL, 0, 200, 255), ev(EV_PROGRAM, 0, 127),
           ev(EV_AFTER_K, 0, 60, 70), ev(EV_PITCH, 0, 0, 64), ev(EV_PITCH, 0, 127, 127), ev(EV_MUSIC_KEY, 2),
           ev(EV_KEY_SCAN, 0, 9), ev(EV_TEMPO, 0, 64, 99)}});
  head(0, TRACK_KEY_PLUS, 5);  // aftertouch names the note untransposed
  start_play();
  run_to_tick(10);
  EXPECT_EQ(sent(), (Strings{"10 B0 00 08", "10 B0 20 00", "10 C0 0A", "10 D0 21", "10 B0 C8 FF", "10 C0 7F",
                             "10 A0 3C 46", "10 E0 00 40", "10 E0 7F 7F"}));
}

TEST_F(Channel, MusicKeySetsTheShownKey) {
  struct Case {
    int key_byte, value;
  } cases[] = {{0, 0}, {1, 5}, {2, 10}, {7, 11}, {8, 0}, {9, 7}, {15, 1}, {0x11, 5}, {0xFA, 2}};
  for (const Case& c : cases) {
    new_song();
    tracks({{ev(EV_MUSIC_KEY, c.key_byte)}});
    start_play();
    run_to_tick(10);
    EXPECT_EQ(key_value.load(), c.value) << "key " << c.key_byte;
    image()[SONG_KEY] = static_cast<std::uint8_t>(c.key_byte);
    player_reset();
    EXPECT_EQ(key_value.load(), c.value) << "header key " << c.key_byte;
  }
}

TEST_F(Channel, LevelRisesWithVelocityAndDecays) {
  tracks({{note(60, 3, 50, 40), note(61, 3, 50, 30), note(62, 3, 50, 100), note(63, 0, 50, 200)}});
  start_play();
  run_to_tick(10);
  EXPECT_EQ(level[0].load(), 80);
  run_to_tick(13);
  EXPECT_EQ(level[0].load(), 77) << "a softer note does not lower the meter";
  run_to_tick(16);
  EXPECT_EQ(level[0].load(), 200);
  run_to_tick(19);
  EXPECT_EQ(level[0].load(), 144) << "twice 200 kept in 8 bits";
  run_to_tick(19 + 144);
  EXPECT_EQ(level[0].load(), 0);
  run_to_tick(19 + 150);
  EXPECT_EQ(level[0].load(), 0);
}

TEST_F(Channel, ChannelChangeToAnotherChannel) {
  tracks({{}, {}, {}, {}, {}, {note(60, 1, 1, 100), ev(EV_MIDI_CH, 0, 17), note(61, 1, 1, 100),
                                ev(EV_MIDI_CH, 0, 32), note(62, 1, 1, 100)}});
  start_play(5);
  run_to_tick(20);
  EXPECT_EQ(sent(), (Strings{"10 95 3C 64", "11 95 3C 00", "11 90 3D 64", "12 90 3D 00", "12 9F 3E 64",
                             "13 9F 3E 00"}));
}

TEST_F(Channel, ChannelOffEndsNotesAndSilencesTheTrack) {
  tracks({{note(60, 0, 50, 100), note(64, 0, 50, 100), note(67, 2, 50, 100), ev(EV_MIDI_CH, 0, 0),
           ev(EV_CONTROL, 0, 7, 100), note(70, 2, 50, 100), ev(EV_MIDI_CH, 0, 4), note(72, 1, 5, 100)}});
  start_play();
  run_to_tick(30);
  EXPECT_EQ(sent(), (Strings{"10 90 3C 64", "10 90 40 64", "10 90 43 64", "12 90 3C 00", "12 90 40 00",
                             "12 90 43 00", "12 B0 07 64", "14 93 48 64", "19 93 48 00"}));
  EXPECT_EQ(mode[0], 0);
}

TEST_F(Channel, TwoTracksShareAChannel) {
  tracks({{note(60, 1, 5, 100)}, {note(60, 1, 9, 100)}});
  head(1, TRACK_CHANNEL, 0);
  start_play();
  run_to_tick(30);
  EXPECT_EQ(sent(), (Strings{"10 90 3C 64", "10 90 3C 64", "15 90 3C 00", "19 90 3C 00"}));
}

TEST_F(Channel, ChannelFromTheLowBitsOfTheHead) {
  tracks({{note(60, 1, 1, 100)}});
  head(0, TRACK_CHANNEL, 0xF3);
  start_play();
  run_to_tick(10);
  EXPECT_EQ(sent(), (Strings{"10 93 3C 64"}));
  player_reset();
  EXPECT_EQ(channel[16].load(), 15) << "255 in a new song's tracks 17 and 18";
}

TEST_F(Channel, DataBytesAboveSevenFGoOutAsStored) {
  tracks({{note(60, 1, 1, 200), ev(EV_CONTROL, 1, 7, 0x90)}});
  start_play();
  run_to_tick(20);
  EXPECT_EQ(sent(), (Strings{"10 90 3C C8", "11 90 3C 00", "11 B0 07 90"}));
}

}  // namespace
