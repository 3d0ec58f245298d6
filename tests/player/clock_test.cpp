// The schedule, the tempo arithmetic, the start countdowns and the order of
// work within a tick.
#include "player/player_fixture.h"

namespace {

using Clock = PlayerTest;

TEST_F(Clock, RelativeTempoTable) {
  struct Case {
    std::uint32_t base;
    unsigned r;
    std::uint32_t us;
  } cases[] = {
      {120, 64, 10417}, {120, 32, 20833}, {120, 128, 5208}, {120, 0, 125000}, {120, 255, 5208},
      {0, 64, 125000},  {250, 64, 5208},  {255, 255, 5208}, {60, 64, 20833},  {10, 64, 125000},
      {9, 64, 125000},  {100, 64, 12500}, {240, 64, 5208},  {241, 64, 5208},  {120, 65, 10246},
  };
  for (const Case& c : cases) {
    base_tempo = c.base;
    set_relative_tempo(c.r);
    EXPECT_EQ(us_per_tick.load(), c.us) << "base " << c.base << " r " << c.r;
  }
}

TEST_F(Clock, TempoFactorsDoNotCompound) {
  tracks({{ev(EV_TEMPO, 0, 32), note(60, 48, 1, 1), ev(EV_TEMPO, 0, 64), note(60, 48, 1, 1)}});
  start_play();
  run_to_tick(10);
  EXPECT_EQ(us_per_tick.load(), 20833u);
  run_to_tick(58);
  EXPECT_EQ(us_per_tick.load(), 10417u);
}

TEST_F(Clock, HeaderTempoSetsTheBase) {
  image()[SONG_TEMPO] = 0;
  player_reset();
  EXPECT_EQ(us_per_tick.load(), 125000u);
  image()[SONG_TEMPO] = 250;
  player_reset();
  EXPECT_EQ(base_tempo, 250u);
  EXPECT_EQ(us_per_tick.load(), 5208u);
}

TEST_F(Clock, TicksFollowTheWholeMilliseconds) {
  start_play();
  std::vector<std::uint32_t> at;
  std::int32_t seen = tick.load();
  while (at.size() < 6) {
    run_ms(1);
    if (tick.load() != seen) {
      EXPECT_EQ(tick.load(), seen + 1) << "one tick per call at this tempo";
      seen = tick.load();
      at.push_back(now);
    }
  }
  EXPECT_EQ(at, (std::vector<std::uint32_t>{1, 11, 21, 32, 42, 53}));
}

TEST_F(Clock, FortyEightTicksTakeHalfASecond) {
  start_play();
  run_ms(1);
  std::int32_t first = tick.load();
  std::uint32_t t0 = now;
  run_to_tick(first + 48);
  EXPECT_NEAR(static_cast<double>(now - t0), 500.0, 1.0);
}

TEST_F(Clock, LateCallRunsEveryOverdueTick) {
  start_play();
  next_tick_ms = 100;
  remainder_us = 0;
  std::int32_t before = tick.load();
  headless_set_clock(135);
  on_timer();
  EXPECT_EQ(tick.load() - before, 4);
  EXPECT_EQ(next_tick_ms, 141u);
  EXPECT_EQ(remainder_us, 668u);
}

TEST_F(Clock, StoppedClockFollowsTime) {
  player_reset();
  const std::uint8_t modes[] = {MODE_EDIT, MODE_COMMAND, 7};
  for (std::uint8_t m : modes) {
    screen_mode.store(m);
    remainder_us = 123;
    headless_set_clock(5000 + m);
    on_timer();
    EXPECT_EQ(next_tick_ms, 5000u + m);
    EXPECT_EQ(remainder_us, 0u);
    EXPECT_EQ(tick.load(), 0);
  }
}

TEST_F(Clock, PausedTicksAreConsumedWithoutEffect) {
  tracks({{note(60, 1, 1, 100), note(61, 1, 1, 100), note(62, 1, 1, 100), note(63, 1, 1, 100)}});
  start_play();
  run_to_tick(10);
  paused.store(1);
  silence_sounding_notes();
  std::int32_t held = tick.load();
  headless_clear_midi();
  run_ms(1000);
  EXPECT_EQ(tick.load(), held);
  EXPECT_TRUE(sent().empty());
  paused.store(0);
  while (tick.load() == held) run_ms(1);
  EXPECT_EQ(tick.load(), held + 1) << "no burst of catch-up ticks after a pause";
  EXPECT_EQ(sent(), (std::vector<std::string>{"11 90 3C 00", "11 90 3D 64"}));
}

TEST_F(Clock, StartCountdowns) {
  struct Case {
    std::vector<int> step_plus;  // per track, the rest 0
    std::vector<int> first_tick;
    int current;  // play starts from this track's first event
  } cases[] = {
      {{0, 0, 0}, {10, 10, 10}, 0},
      {{0, -5, 0}, {15, 10, 15}, 1},
      {{3, 7, 0}, {13, 17, 10}, 2},
      {{127, -128, 0}, {265, 10, 138}, 1},
  };
  for (const Case& c : cases) {
    new_song();
    std::vector<std::vector<Event>> lists;
    for (int t = 0; t < 3; ++t) lists.push_back({note(60 + t, 5, 1, 100)});
    tracks(lists);
    for (std::size_t t = 0; t < c.step_plus.size(); ++t) head(static_cast<int>(t), TRACK_STEP_PLUS, c.step_plus[t]);
    headless_clear_midi();
    start_play(c.current);
    run_to_tick(300);
    std::vector<std::string> want;
    for (std::size_t t = 0; t < c.first_tick.size(); ++t)
      want.push_back(std::to_string(c.first_tick[t]) + " " + std::to_string(60 + t));
    std::vector<std::string> got;
    for (std::size_t t = 0; t < c.first_tick.size(); ++t) {
      auto ons = note_ons(static_cast<int>(t));
      ASSERT_EQ(ons.size(), 1u) << "track " << t << " case " << c.step_plus[0] << " " << c.step_plus[1];
      got.push_back(ons[0]);
    }
    EXPECT_EQ(got, want);
  }
}

TEST_F(Clock, StepTimes) {
  // Zero-step events share a tick; codes 240 and up never take time, whatever
  // their step byte; unassigned codes below 240 are rests.
  tracks({{note(60, 0, 1, 100), note(61, 0, 1, 100), note(62, 12, 1, 100), ev(EV_REPEAT_START, 30),
           ev(241, 50), ev(EV_COMMENT, 99), ev(EV_CONTINUE, 99), note(63, 0, 1, 100), rest(24),
           ev(EV_KEY_SCAN, 6), ev(128, 1), note(64, 1, 1, 100)}});
  start_play();
  run_to_tick(100);
  EXPECT_EQ(note_ons(), (std::vector<std::string>{"10 60", "10 61", "10 62", "22 63", "53 64"}));
}

TEST_F(Clock, OrderWithinATick) {
  // Track 0's note-off precedes its own new note; track 0 precedes track 1.
  tracks({{note(60, 4, 4, 100), note(62, 4, 1, 100)}, {note(70, 4, 9, 100)}});
  start_play();
  run_to_tick(20);
  EXPECT_EQ(sent(), (std::vector<std::string>{"10 90 3C 64", "10 91 46 64", "14 90 3C 00", "14 90 3E 64",
                                               "15 90 3E 00", "19 91 46 00"}));
}

TEST_F(Clock, EndedTrackStillEndsItsNotes) {
  tracks({{note(60, 0, 30, 100)}});
  start_play();
  run_to_tick(10);
  EXPECT_EQ(ended[0].load(), 1);
  EXPECT_EQ(position[0].load(), first_event(0) + 4);
  run_to_tick(60);
  EXPECT_EQ(sent(), (std::vector<std::string>{"10 90 3C 64", "40 90 3C 00"}));
  EXPECT_EQ(countdown[0].load(), -50) << "an ended track's countdown keeps falling";
}

TEST_F(Clock, SelectedStepsCountsTheCurrentTrack) {
  tracks({{note(60, 2, 1, 1), note(60, 2, 1, 1)}, {note(60, 1, 1, 1), note(60, 1, 1, 1)}});
  start_play(1);
  selected_steps.store(0);
  run_to_tick(20);
  EXPECT_EQ(selected_steps.load(), 3) << "two notes and the end of track 2";
}

TEST_F(Clock, ZeroTimeLoopCannotHoldTheTimer) {
  // Five nested repeats of 256 passes around zero-time events would run for
  // days in one tick; the track is held one tick per 65,536 events instead.
  std::vector<Event> events(5, ev(EV_REPEAT_START));
  events.push_back(ev(EV_CONTROL, 0, 64, 0));
  for (int i = 0; i < 5; ++i) events.push_back(ev(EV_REPEAT_END, 0));
  tracks({events, {note(60, 1, 1, 100), note(61, 1, 1, 100)}});
  headless_record_midi(false);
  start_play();
  run_to_tick(12);
  headless_record_midi(true);
  EXPECT_EQ(tick.load(), 12);
  EXPECT_EQ(ended[0].load(), 0);
  EXPECT_EQ(ended[1].load(), 1) << "the other tracks go on";
  // 3 steps of 65,536 events, nearly half of them the controller.
  std::size_t n = headless_sent_count();
  EXPECT_GT(n, 3u * 65536 / 2 - 400);
  EXPECT_LE(n, 3u * 65536 / 2);
}

}  // namespace
