// User and track exclusive templates, checksums, the Roland templates per
// track, and the long-message send.
#include <cstring>

#include "player/player_fixture.h"

namespace {

using Exclusive = PlayerTest;
using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

void set_template(int n, const Bytes& bytes) {
  std::uint8_t* t = image() + SONG_USER_EXCLUSIVES + USER_EXCLUSIVE_SIZE * n + USER_EXCLUSIVE_TEMPLATE;
  std::memset(t, 0xF7, 24);
  if (!bytes.empty()) std::memcpy(t, bytes.data(), bytes.size());
}

// The track exclusive event and its continuation events for template bytes.
std::vector<Event> track_exclusive(int b2, int b3, const Bytes& bytes) {
  std::vector<Event> out{ev(EV_TRACK_EXCL, 0, b2, b3)};
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    out.push_back(ev(EV_CONTINUE, 0, bytes[i], i + 1 < bytes.size() ? bytes[i + 1] : 0xF7));
  return out;
}

TEST_F(Exclusive, UserTemplates) {
  struct Case {
    Bytes templ;
    int b2, b3, channel;
    std::string want;
  } cases[] = {
      {{0x41, 0x10, 0x42, 0x12, 0x83, 0x40, 0x00, 0x7F, 0x00, 0x84, 0xF7}, 0, 0, 0,
       "F0 41 10 42 12 40 00 7F 00 41 F7"},
      {{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x81, 0xF7}, 0, 127, 0, "F0 43 10 4C 00 00 7E 7F F7"},
      {{}, 0, 0, 0, "F0 F7"},
      {{0x82}, 0, 0, 9, "F0 09 F7"},
      // The second sum starts from the first checksum.
      {{0x83, 0x10, 0x84, 0x83, 0x05, 0x84}, 0, 0, 0, "F0 10 70 05 0B F7"},
      {{0x83, 0x80, 0x81, 0x82, 0x84}, 1, 2, 3, "F0 01 02 03 7A F7"},
      // A checksum without a start sums nothing; 83 twice does not clear.
      {{0x84, 0x83, 0x01, 0x83, 0x02, 0x84}, 0, 0, 0, "F0 00 01 02 7D F7"},
      // Values as stored, status bytes emitted unchanged, the rest after F7 unread.
      {{0x80, 0xF0, 0x90, 0xF7, 0x11}, 0xF7, 0, 0, "F0 F7 F0 90 F7"},
  };
  for (const Case& c : cases) {
    new_song();
    set_template(3, c.templ);
    tracks({{ev(EV_USER_EXCL0 + 3, 1, c.b2, c.b3)}});
    head(0, TRACK_CHANNEL, c.channel);
    headless_clear_midi();
    start_play();
    run_to_tick(12);
    EXPECT_EQ(sent(), (Strings{"10 " + c.want}));
  }
}

TEST_F(Exclusive, FullTemplateWithoutEnd) {
  Bytes templ;
  for (int i = 0; i < 24; ++i) templ.push_back(static_cast<std::uint8_t>(i + 1));
  set_template(7, templ);
  tracks({{ev(EV_USER_EXCL0 + 7)}});
  start_play();
  run_to_tick(10);
  auto all = headless_sent_midi();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].exclusive);
  ASSERT_EQ(all[0].bytes.size(), 26u);
  EXPECT_EQ(all[0].bytes.front(), 0xF0);
  EXPECT_EQ(all[0].bytes[24], 24);
  EXPECT_EQ(all[0].bytes.back(), 0xF7);
}

TEST_F(Exclusive, EachUserEntry) {
  std::vector<Event> events;
  for (int n = 0; n < 8; ++n) {
    set_template(n, {static_cast<std::uint8_t>(0x20 + n)});
    events.push_back(ev(EV_USER_EXCL0 + n));
  }
  tracks({events});
  start_play();
  run_to_tick(10);
  EXPECT_EQ(sent(), (Strings{"10 F0 20 F7", "10 F0 21 F7", "10 F0 22 F7", "10 F0 23 F7", "10 F0 24 F7",
                             "10 F0 25 F7", "10 F0 26 F7", "10 F0 27 F7"}));
}

TEST_F(Exclusive, TrackExclusiveThenTheNextEventInTheSameTick) {
  std::vector<Event> events =
      track_exclusive(0x20, 0, {0x41, 0x10, 0x42, 0x12, 0x83, 0x40, 0x00, 0x80, 0x84, 0xF7});
  events.push_back(note(60, 1, 1, 100));
  tracks({events});
  start_play();
  run_to_tick(10);
  EXPECT_EQ(sent(), (Strings{"10 F0 41 10 42 12 40 00 20 20 F7", "10 90 3C 64"}));
}

TEST_F(Exclusive, TrackExclusiveTakesItsOwnStepTime) {
  std::vector<Event> events = track_exclusive(0, 0, {0x01, 0x02, 0x03, 0x04});
  events[0].step = 7;
  events[1].step = 99;  // continuation steps are not used
  events.push_back(note(60, 1, 1, 100));
  tracks({events});
  start_play();
  run_to_tick(20);
  EXPECT_EQ(sent(), (Strings{"10 F0 01 02 03 04 F7", "17 90 3C 64", "18 90 3C 00"}));
}

TEST_F(Exclusive, TrackExclusiveEndsAtF7AndLeavesTheRest) {
  // Continuations after the F7 are played as events of their own: nothing.
  tracks({{ev(EV_TRACK_EXCL, 2), ev(EV_CONTINUE, 0, 0x11, 0xF7), ev(EV_CONTINUE, 5, 0x22, 0x33),
           ev(EV_CONTINUE, 0, 0xF7, 0x44), note(60, 1, 1, 100)}});
  start_play();
  run_to_tick(12);
  EXPECT_EQ(sent(), (Strings{"10 F0 11 F7", "12 90 3C 64"}));
}

TEST_F(Exclusive, TrackExclusiveWithoutContinuations) {
  tracks({{ev(EV_TRACK_EXCL, 1), note(60, 1, 1, 100), ev(EV_COMMENT), ev(EV_CONTINUE, 0, 1, 2)}});
  start_play();
  run_to_tick(12);
  EXPECT_EQ(sent(), (Strings{"10 F0 F7", "11 90 3C 64", "12 90 3C 00"}));
}

TEST_F(Exclusive, LongestTrackExclusiveIsWhole) {
  Bytes body(253, 0x55);
  tracks({track_exclusive(0, 0, body)});
  start_play();
  run_to_tick(10);
  auto all = headless_sent_midi();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].bytes.size(), 255u);
  EXPECT_EQ(all[0].bytes.back(), 0xF7);
}

TEST_F(Exclusive, OverlongTrackExclusiveIsCutAndItsRestSkipped) {
  // 400 template bytes, with an F7 and a checksum far past the cut: the
  // message is the first 253 bytes closed by F7, and play goes on after the
  // last continuation event.
  Bytes body;
  for (int i = 0; i < 400; ++i) body.push_back(static_cast<std::uint8_t>(i % 100));
  body[300] = 0x84;
  body[301] = 0xF7;
  std::vector<Event> events = track_exclusive(0, 0, body);
  events.push_back(ev(EV_PROGRAM, 1, 9));
  tracks({events});
  start_play();
  run_to_tick(12);
  auto all = headless_sent_midi();
  ASSERT_EQ(all.size(), 2u);
  ASSERT_EQ(all[0].bytes.size(), 255u);
  EXPECT_EQ(all[0].bytes[0], 0xF0);
  for (int i = 0; i < 253; ++i) ASSERT_EQ(all[0].bytes[1 + i], i % 100) << i;
  EXPECT_EQ(all[0].bytes[254], 0xF7);
  EXPECT_EQ(format_message(all[1]), "10 C0 09");
}

TEST_F(Exclusive, CutFallsBetweenTheTwoBytesOfAnEvent) {
  // 252 bytes and then two that both would need room: only one fits.
  Bytes body(252, 0x01);
  body.push_back(0x02);
  body.push_back(0x03);
  body.push_back(0x04);
  tracks({track_exclusive(0, 0, body)});
  start_play();
  run_to_tick(10);
  auto all = headless_sent_midi();
  ASSERT_EQ(all.size(), 1u);
  ASSERT_EQ(all[0].bytes.size(), 255u);
  EXPECT_EQ(all[0].bytes[253], 0x02);
  EXPECT_EQ(all[0].bytes[254], 0xF7);
}

TEST_F(Exclusive, RolandMessages) {
  tracks({{ev(EV_ROL_DEV, 0, 0x10, 0x42), ev(EV_ROL_BASE, 0, 0x40, 0x00), ev(EV_ROL_PARA, 1, 0x7F, 0x00),
           ev(EV_ROL_PARA, 1, 0x04, 0x7F)},
          {ev(EV_ROL_PARA, 2, 0x21, 0x05)}});
  start_play();
  run_to_tick(12);
  EXPECT_EQ(sent(0), (Strings{"10 F0 41 10 42 12 40 00 7F 00 41 F7", "11 F0 41 10 42 12 40 00 04 7F 3D F7"}));
  // Each track has its own template.
  EXPECT_EQ(sent(1), (Strings{"10 F0 41 10 16 12 10 00 21 05 4A F7"}));
}

TEST_F(Exclusive, RolandTemplatesAreResetAtEveryStart) {
  tracks({{ev(EV_ROL_DEV, 0, 0x11, 0x22), ev(EV_ROL_BASE, 0, 0x33, 0x44), ev(EV_ROL_PARA, 1, 0, 0)}});
  start_play();
  run_to_tick(10);
  new_song();
  tracks({{ev(EV_ROL_PARA, 1, 0x90, 0x80)}});  // data as stored, above 7F too
  headless_clear_midi();
  start_play();
  run_to_tick(10);
  EXPECT_EQ(sent(), (Strings{"10 F0 41 10 16 12 10 00 90 80 60 F7"}));
}

TEST_F(Exclusive, SendLongWaitsForTheDriver) {
  set_template(0, {0x01});
  tracks({{ev(EV_USER_EXCL0, 1)}});
  start_play();
  headless_midi_busy(3);
  run_to_tick(10);
  MidiHeaderCalls calls = headless_midi_header_calls();
  EXPECT_EQ(calls.prepare, 1);
  EXPECT_EQ(calls.send, 1);
  EXPECT_EQ(calls.unprepare, 4);
  EXPECT_EQ(calls.faults, 0);
  // The header is free again for the next message.
  headless_clear_midi();
  const std::uint8_t msg[] = {0xF0, 0x7E, 0xF7};
  EXPECT_EQ(send_long(msg, 3), 0u);
  EXPECT_EQ(headless_midi_header_calls().faults, 0);
  EXPECT_EQ(sent(), (Strings{"10 F0 7E F7"}));
}

}  // namespace
