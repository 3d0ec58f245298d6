// Repeats, same-measure calls and chains, measure numbers, ends of tracks,
// and damaged links.
#include "player/player_fixture.h"

namespace {

using Strings = std::vector<std::string>;

class Flow : public PlayerTest {
 protected:
  // Plays until track 1 ends and gives "NOTE/MEASURE" for each of its
  // note-ons, with the measure number the screens show after that step.
  // Every note of these tracks takes a tick or more.
  Strings notes_with_measures(int ticks = 2000) {
    Strings out;
    std::size_t seen = headless_sent_midi().size();
    for (int i = 0; i < ticks && !ended[0].load(); ++i) {
      run_to_tick(tick.load() + 1);
      auto all = headless_sent_midi();
      for (; seen < all.size(); ++seen) {
        const SentMidi& m = all[seen];
        if (m.track == 0 && (m.bytes[0] & 0xF0) == 0x90 && m.bytes[2] != 0)
          out.push_back(std::to_string(m.bytes[1]) + "/" + std::to_string(measure[0].load()));
      }
    }
    return out;
  }
};

TEST_F(Flow, RepeatPlaysItsSectionAndRestoresTheMeasure) {
  tracks({{ev(EV_REPEAT_START), note(60, 12, 1, 100), measure_end_ev(), ev(EV_REPEAT_END, 3), note(62, 12, 1, 100),
           measure_end_ev()}});
  start_play();
  EXPECT_EQ(notes_with_measures(), (Strings{"60/1", "60/1", "60/1", "62/2"}));
  EXPECT_EQ(measure[0].load(), 3);
}

TEST_F(Flow, RepeatCounts) {
  struct Case {
    int count;
    std::size_t plays;
  } cases[] = {{1, 1}, {2, 2}, {3, 3}, {255, 255}, {0, 256}};
  for (const Case& c : cases) {
    new_song();
    tracks({{ev(EV_REPEAT_START, 30), note(60, 1, 1, 100), ev(EV_REPEAT_END, c.count), note(61, 1, 1, 100)}});
    headless_clear_midi();
    start_play();
    run_to_tick(300);
    Strings ons = note_ons(0);
    EXPECT_EQ(ons.size(), c.plays + 1) << "count " << c.count;
    EXPECT_EQ(ons.back(), std::to_string(10 + c.plays) + " 61");
  }
}

TEST_F(Flow, UnmatchedRepeatEndIsIgnored) {
  tracks({{note(60, 1, 1, 100), ev(EV_REPEAT_END, 2), note(61, 1, 1, 100)}});
  start_play();
  run_to_tick(20);
  EXPECT_EQ(note_ons(), (Strings{"10 60", "11 61"}));
  EXPECT_EQ(repeat_depth[0], 0);
}

TEST_F(Flow, NestedRepeatsMultiply) {
  tracks({{ev(EV_REPEAT_START), ev(EV_REPEAT_START), ev(EV_REPEAT_START), note(60, 1, 1, 100),
           ev(EV_REPEAT_END, 2), ev(EV_REPEAT_END, 2), ev(EV_REPEAT_END, 2), note(61, 1, 1, 100)}});
  start_play();
  run_to_tick(30);
  Strings ons = note_ons();
  ASSERT_EQ(ons.size(), 9u);
  EXPECT_EQ(ons[7], "17 60");
  EXPECT_EQ(ons[8], "18 61");
}

TEST_F(Flow, SixthRepeatStartIsIgnored) {
  std::vector<Event> events(6, ev(EV_REPEAT_START));
  events.push_back(note(60, 1, 1, 100));
  for (int i = 0; i < 6; ++i) events.push_back(ev(EV_REPEAT_END, 2));
  events.push_back(note(61, 1, 1, 100));
  tracks({events});
  start_play();
  run_to_tick(100);
  Strings ons = note_ons();
  ASSERT_EQ(ons.size(), 33u) << "five levels of two passes";
  EXPECT_EQ(ons.back(), "42 61");
}

TEST_F(Flow, SameMeasurePlaysAnotherMeasure) {
  tracks({{note(60, 12, 1, 100), measure_end_ev(), same_measure_ev(1), note(62, 12, 1, 100), measure_end_ev()}});
  start_play();
  EXPECT_EQ(notes_with_measures(), (Strings{"60/1", "60/2", "62/3"}));
}

TEST_F(Flow, SameMeasureRightAfterNotesClosesTheirMeasure) {
  tracks({{note(60, 12, 1, 100), same_measure_ev(1), note(62, 12, 1, 100)}});
  start_play();
  EXPECT_EQ(notes_with_measures(), (Strings{"60/1", "60/2", "62/3"}));
}

TEST_F(Flow, CalledMeasureWithARepeatReturnsToTheCaller) {
  tracks({{ev(EV_REPEAT_START), note(60, 6, 1, 100), ev(EV_REPEAT_END, 2), measure_end_ev(), same_measure_ev(1),
           note(62, 6, 1, 100)}});
  start_play();
  EXPECT_EQ(notes_with_measures(), (Strings{"60/1", "60/1", "60/2", "60/2", "62/3"}));
}

TEST_F(Flow, LinkToASameMeasureEventIsFollowed) {
  tracks({{note(60, 6, 1, 100), measure_end_ev(), same_measure_ev(1), same_measure_ev(2), note(64, 6, 1, 100)}});
  start_play();
  EXPECT_EQ(notes_with_measures(), (Strings{"60/1", "60/2", "60/3", "64/4"}));
}

TEST_F(Flow, ChainOfElevenIsGivenUp) {
  // Measures 1-11 are same-measure events, each calling the next; measure 12
  // is a note. The first call meets a same-measure event at its tenth link
  // and is skipped; every later one reaches the note within ten links.
  std::vector<Event> events;
  for (int m = 1; m <= 11; ++m) events.push_back(same_measure_ev(m + 1));
  events.push_back(note(70, 1, 1, 100));
  events.push_back(measure_end_ev());
  tracks({events});
  start_play();
  run_to_tick(40);
  Strings ons = note_ons();
  ASSERT_EQ(ons.size(), 11u);
  EXPECT_EQ(ons.front(), "10 70");
  EXPECT_EQ(ons.back(), "20 70");
  EXPECT_EQ(ended[0].load(), 1);
}

TEST_F(Flow, CalledLastMeasureReturnsInsteadOfEnding) {
  tracks({{same_measure_ev(2), note(60, 6, 1, 100)}});
  start_play();
  EXPECT_EQ(notes_with_measures(), (Strings{"60/1", "60/2"}));
  EXPECT_EQ(ended[0].load(), 1);
  EXPECT_EQ(measure[0].load(), 2);
  EXPECT_EQ(position[0].load(), first_event(0) + 8);
}

TEST_F(Flow, EmptyTrackEndsOnItsFirstStep) {
  tracks({{note(60, 20, 1, 100)}});
  start_play();
  run_to_tick(9);
  EXPECT_EQ(ended[5].load(), 0);
  run_to_tick(10);
  EXPECT_EQ(ended[5].load(), 1);
  EXPECT_EQ(ended[0].load(), 0);
  EXPECT_EQ(position[5].load(), first_event(5));
}

TEST_F(Flow, LinksOutsideTheTrackCallTheFirstMeasure) {
  // Links are taken as stored here (no relink): damaged links must never
  // read outside the track. Track 2 holds a note that a link into its
  // events would play.
  tracks({{note(60, 6, 1, 100), measure_end_ev(), ev(EV_SAME_MEASURE), note(62, 6, 1, 100)},
          {note(90, 1, 1, 100)}});
  const std::uint32_t len0 = track_length(0);
  struct Case {
    std::uint32_t link;
    Strings want;
  } cases[] = {
      {0, {"60", "60", "62"}},
      {40, {"60", "60", "62"}},
      {len0, {"60", "60", "62"}},         // just past the end event
      {len0 + 44, {"60", "60", "62"}},    // the next track's first event
      {65532, {"60", "60", "62"}},
      {len0 - 4, {"60", "62"}},           // the end event itself: an empty call
      {52, {"60", "62"}},                 // itself: a chain that is given up
      {56, {"60", "62", "62"}},           // a sound link, for contrast
  };
  for (const Case& c : cases) {
    std::uint8_t* s = image() + first_event(0) + 8;
    s[2] = static_cast<std::uint8_t>(c.link & 252);
    s[3] = static_cast<std::uint8_t>(c.link >> 8);
    headless_clear_midi();
    start_play(0, 44, /*relink=*/false);
    run_to_tick(40);
    Strings got;
    for (const std::string& on : note_ons(0)) got.push_back(on.substr(on.find(' ') + 1));
    EXPECT_EQ(got, c.want) << "link " << c.link;
  }
}

}  // namespace
