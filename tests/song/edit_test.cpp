#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/song_builder.h"

namespace {

const Event NOTE{60, 48, 40, 100};
const Event MEND{EV_MEASURE_END, 0, 0, 0};
const Event END{EV_END, EV_END, EV_END, EV_END};

Event same(unsigned measure) {  // 1-based, link 44
  unsigned m = measure - 1;
  return {EV_SAME_MEASURE, static_cast<std::uint8_t>(m & 255), static_cast<std::uint8_t>((m >> 8) | 44), 0};
}

std::vector<Event> events_of(int t) {
  std::vector<Event> out;
  for (std::uint32_t p = first_event(t); p < track_end(t); p += 4) {
    const std::uint8_t* e = image() + p;
    out.push_back({e[0], e[1], e[2], e[3]});
  }
  return out;
}

// 1-based references of the track's same-measure events, in order.
std::vector<unsigned> refs_of(int t) {
  std::vector<unsigned> out;
  for (const Event& e : events_of(t))
    if (e.code == EV_SAME_MEASURE) out.push_back(e.step + 256u * (e.byte2 & 3) + 1);
  return out;
}

std::vector<unsigned> links_of(int t) {
  std::vector<unsigned> out;
  for (const Event& e : events_of(t))
    if (e.code == EV_SAME_MEASURE) out.push_back((e.byte2 & 252u) + 256u * e.byte3);
  return out;
}

std::uint32_t pos(int t, int index) { return first_event(t) + 4 * index; }

class Edit : public ::testing::Test {
 protected:
  void SetUp() override {
    new_song();
    rebuild_track_table();
    current_track = 0;
  }
  void expect_sound() {
    EXPECT_EQ(song_damage(image(), used_length()), nullptr);
    std::uint32_t table[TRACK_COUNT];
    std::memcpy(table, start, sizeof table);
    rebuild_track_table();
    EXPECT_EQ(std::memcmp(table, start, sizeof table), 0) << "track table out of step";
  }
};

TEST_F(Edit, OpenGapAtTheEndOfTrack18MovesOnlyTheEndEvent) {
  set_tracks({{NOTE}});
  current_track = 17;
  std::size_t used = used_length();
  std::vector<std::uint8_t> before(image(), image() + start[17]);
  ASSERT_EQ(open_gap(pos(17, 0), 3), 0);
  EXPECT_EQ(used_length(), used + 12);
  EXPECT_EQ(track_length(17), 60u);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), image()));
  std::vector<Event> ev = events_of(17);
  ASSERT_EQ(ev.size(), 4u);
  EXPECT_EQ(ev[0], (Event{0, 0, 0, 0}));
  EXPECT_EQ(ev[3], END);
  expect_sound();
}

TEST_F(Edit, GapsInTrack1MoveEveryLaterTrack) {
  set_tracks({{NOTE, MEND}, {NOTE}, {}, {NOTE, NOTE}});
  std::vector<std::vector<Event>> before;
  for (int t = 0; t < TRACK_COUNT; ++t) before.push_back(events_of(t));
  ASSERT_EQ(open_gap(pos(0, 1), 2), 0);
  for (int t = 1; t < TRACK_COUNT; ++t) EXPECT_EQ(events_of(t), before[t]) << t;
  EXPECT_EQ(events_of(0), (std::vector<Event>{NOTE, {}, {}, MEND, END}));
  expect_sound();
  ASSERT_EQ(close_gap(pos(0, 1), 2), 0);
  for (int t = 0; t < TRACK_COUNT; ++t) EXPECT_EQ(events_of(t), before[t]) << t;
  expect_sound();
}

TEST_F(Edit, CloseGapOnTrack18KeepsTheEndEventLast) {
  set_tracks({{}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {NOTE, MEND, NOTE, MEND}});
  current_track = 17;
  std::size_t used = used_length();
  ASSERT_EQ(close_gap(pos(17, 1), 2), 0);
  EXPECT_EQ(used_length(), used - 8);
  EXPECT_EQ(events_of(17), (std::vector<Event>{NOTE, MEND, END}));
  // Removing the end event, or reaching it, is refused.
  EXPECT_EQ(close_gap(pos(17, 2), 1), 1);
  EXPECT_EQ(close_gap(pos(17, 0), 3), 1);
  EXPECT_EQ(events_of(17), (std::vector<Event>{NOTE, MEND, END}));
  expect_sound();
}

TEST_F(Edit, TrackLengthLimit) {
  const struct {
    int events;  // besides the end event
    int n;
    int result;
  } cases[] = {
      {16370, 1, 0},  // 65,528 -> 65,532
      {16371, 1, 1},  // full: 65,532
      {16369, 2, 0},
      {16369, 3, 1},
  };
  for (const auto& c : cases) {
    new_song();
    set_tracks({std::vector<Event>(c.events, NOTE)});
    unsigned len = track_length(0);
    std::size_t used = used_length();
    EXPECT_EQ(open_gap(pos(0, 0), c.n), c.result) << c.events << " + " << c.n;
    EXPECT_EQ(track_length(0), c.result ? len : len + 4 * c.n);
    EXPECT_EQ(used_length(), c.result ? used : used + 4 * c.n);
    expect_sound();
  }
}

TEST_F(Edit, FullImageMovesWithinBounds) {
  make_full_song();
  current_track = 0;
  ASSERT_EQ(close_gap(pos(0, 0), 1), 0);
  EXPECT_EQ(used_length(), SONG_IMAGE_SIZE - 4);
  ASSERT_EQ(open_gap(pos(0, 100), 1), 0);
  EXPECT_EQ(used_length(), SONG_IMAGE_SIZE);
  EXPECT_EQ(open_gap(pos(0, 100), 1), 1);
  current_track = 17;
  EXPECT_EQ(open_gap(pos(17, MAX_TRACK_EVENTS), 1), 1);
  expect_sound();
}

TEST_F(Edit, PositionsOutsideTheTrackAreRefused) {
  set_tracks({{NOTE, MEND}, {NOTE}});
  std::vector<std::uint8_t> before(image(), image() + used_length());
  const std::uint32_t bad[] = {start[0], start[0] + 45, pos(1, 0), pos(0, 3), 0, SONG_IMAGE_SIZE};
  for (std::uint32_t p : bad) {
    int k = 1;
    EXPECT_EQ(open_gap(p, 1), 1) << p;
    EXPECT_EQ(close_gap(p, 1), 1) << p;
    EXPECT_EQ(delete_event(p, k), 1) << p;
    EXPECT_EQ(insert_same_measure(p, k), 1) << p;
  }
  EXPECT_TRUE(std::equal(before.begin(), before.end(), image()));
}

TEST_F(Edit, ContinuationsStayWithTheirExclusive) {
  const Event excl{EV_TRACK_EXCL, 0, 1, 2}, cont{EV_CONTINUE, 0, 0x41, 0x10};
  set_tracks({{NOTE, excl, cont, cont, cont, NOTE}});
  int k = 1;
  // Nothing may be inserted between an exclusive and its continuations, nor
  // the exclusive removed alone.
  EXPECT_EQ(open_gap(pos(0, 2), 1), 1);
  EXPECT_EQ(close_gap(pos(0, 1), 1), 1);
  EXPECT_EQ(delete_event(pos(0, 1), k), 0);
  EXPECT_EQ(events_of(0), (std::vector<Event>{NOTE, NOTE, END}));
  EXPECT_EQ(k, 1);
  expect_sound();
}

TEST_F(Edit, RenumberShiftsReferencesFromANumberAndResetsLinks) {
  set_tracks({{same(2), NOTE, same(3), same(1), same(1024), {EV_SAME_MEASURE, 4, 0xFC, 7}}});
  renumber_measure_refs(3, +1);
  EXPECT_EQ(refs_of(0), (std::vector<unsigned>{2, 4, 1, 1, 6}));  // 1024 + 1 wraps to 1
  EXPECT_EQ(links_of(0), (std::vector<unsigned>{44, 44, 44, 44, 44}));
  renumber_measure_refs(2, -1);
  EXPECT_EQ(refs_of(0), (std::vector<unsigned>{1, 3, 1, 1, 5}));
}

TEST_F(Edit, RenumberStopsAtTheEndOfTheCurrentTrack) {
  set_tracks({{same(5)}, {same(5)}});
  renumber_measure_refs(1, +1);
  EXPECT_EQ(refs_of(0), (std::vector<unsigned>{6}));
  EXPECT_EQ(refs_of(1), (std::vector<unsigned>{5}));
}

TEST_F(Edit, RelinkFollowsMeasureNumbers) {
  // Measures 1-4 start at 44, 52, 60, 68; the reference is measure 5 itself (76),
  // and the empty measure 6 after it is the end event (80).
  const struct {
    unsigned ref, link;
  } cases[] = {{1, 44}, {2, 52}, {3, 60}, {4, 68}, {5, 76}, {6, 80}, {7, 44}, {1024, 44}};
  for (const auto& c : cases) {
    new_song();
    set_tracks({{NOTE, MEND, NOTE, MEND, NOTE, MEND, NOTE, MEND, same(c.ref)}});
    relink_track(0);
    EXPECT_EQ(links_of(0), std::vector<unsigned>{c.link}) << "measure " << c.ref;
    EXPECT_EQ(refs_of(0), std::vector<unsigned>{c.ref});
  }
}

TEST_F(Edit, RelinkLinksReachBeyond255) {
  // Measure 300 starts at offset 1,240: stored as 252, 43, 217, 4.
  std::vector<Event> track;
  for (int m = 1; m < 300; ++m) track.push_back(MEND);
  track.push_back(NOTE);
  track.push_back(MEND);
  track.push_back({EV_SAME_MEASURE, 43, 1, 0});
  set_tracks({track});
  ASSERT_EQ(299 * 4 + 44, 1240);
  relink_track(0);
  EXPECT_EQ(events_of(0)[301], (Event{EV_SAME_MEASURE, 43, 217, 4}));
}

TEST_F(Edit, RelinkOfMeasure2) {
  set_tracks({{NOTE, NOTE, MEND, NOTE, MEND, same(2)}});
  relink_track(0);
  EXPECT_EQ(events_of(0)[5], (Event{EV_SAME_MEASURE, 1, 56, 0}));
  // Relinking again changes nothing.
  relink_measures();
  EXPECT_EQ(events_of(0)[5], (Event{EV_SAME_MEASURE, 1, 56, 0}));
}

TEST_F(Edit, RelinkStopsAt999Measures) {
  std::vector<Event> track(1200, MEND);
  track.push_back(same(999));
  track.push_back(same(1000));
  set_tracks({track});
  relink_track(0);
  EXPECT_EQ(links_of(0), (std::vector<unsigned>{44 + 4 * 998, 44}));
}

// Measures: 1 = N N |, 2 = N N |, 3 = N N N |, 4 = N |, then references to 2, 3, 4.
std::vector<Event> four_measures() {
  return {NOTE, NOTE, MEND, NOTE, NOTE, MEND, NOTE, NOTE, NOTE, MEND, NOTE, MEND, same(2), same(3), same(4)};
}

TEST_F(Edit, InsertMeasureEndInsideAMeasure) {
  set_tracks({four_measures()});
  std::uint32_t p = pos(0, 7);  // second note of measure 3
  int k = 3;
  ASSERT_EQ(insert_measure_end(p, k), 0);
  EXPECT_EQ(refs_of(0), (std::vector<unsigned>{2, 3, 5}));
  EXPECT_EQ(k, 4);
  EXPECT_EQ(p, pos(0, 8));
  EXPECT_EQ(events_of(0)[7].code, EV_MEASURE_END);
  expect_sound();
}

TEST_F(Edit, InsertMeasureEndBeforeASameMeasureEventAddsNoMeasure) {
  set_tracks({{NOTE, same(1), NOTE, MEND, same(3)}});
  std::uint32_t p = pos(0, 1);
  int k = 1;
  ASSERT_EQ(insert_measure_end(p, k), 0);
  EXPECT_EQ(k, 1);
  EXPECT_EQ(refs_of(0), (std::vector<unsigned>{1, 3}));
}

TEST_F(Edit, InsertSameMeasure) {
  const struct {
    int index, k;
    std::vector<unsigned> refs;
    int new_k;
  } cases[] = {
      {6, 3, {2, 4, 5}, 3},   // at the first event of measure 3
      {7, 3, {2, 5, 6}, 4},   // inside measure 3: head, new measure, tail (refs to 3 go with the tail)
      {0, 1, {3, 4, 5}, 1},   // at the first event
  };
  for (const auto& c : cases) {
    new_song();
    set_tracks({four_measures()});
    int k = c.k;
    ASSERT_EQ(insert_same_measure(pos(0, c.index), k), 0);
    std::vector<unsigned> refs = refs_of(0);
    ASSERT_EQ(refs.size(), 4u);
    // The new event refers to measure 1 with link 44.
    EXPECT_EQ(events_of(0)[c.index], (Event{EV_SAME_MEASURE, 0, 44, 0}));
    std::vector<unsigned> old(refs.begin() + 1, refs.end());
    EXPECT_EQ(old, c.refs) << "index " << c.index;
    EXPECT_EQ(k, c.new_k) << "index " << c.index;
    expect_sound();
  }
}

TEST_F(Edit, InsertIntoAFullTrackChangesNothing) {
  std::vector<Event> track(MAX_TRACK_EVENTS - 1, NOTE);
  track.push_back(same(3));
  set_tracks({track});
  std::vector<std::uint8_t> before(image(), image() + used_length());
  std::uint32_t p = pos(0, 5);
  int k = 1;
  EXPECT_EQ(insert_same_measure(p, k), 1);
  EXPECT_EQ(insert_measure_end(p, k), 1);
  EXPECT_EQ(k, 1);
  EXPECT_EQ(p, pos(0, 5));
  EXPECT_TRUE(std::equal(before.begin(), before.end(), image()));
}

TEST_F(Edit, DeleteEvent) {
  const struct {
    const char* what;
    std::vector<Event> track;
    int index, k;
    std::vector<unsigned> refs;
    int new_k;
    size_t events_left;
  } cases[] = {
      {"measure end inside", four_measures(), 5, 2, {2, 2, 3}, 2, 14},
      {"measure end before same", {NOTE, MEND, same(1), same(3)}, 1, 1, {1, 3}, 2, 4},
      {"same after measure end", {NOTE, MEND, same(1), NOTE, MEND, same(3), same(4)}, 2, 2, {2, 3}, 2, 7},
      {"same joining two measures", {NOTE, same(1), NOTE, MEND, NOTE, MEND, same(1), same(2), same(3), same(4)},
       1, 2, {1, 1, 1, 2}, 1, 10},
      {"note", four_measures(), 0, 1, {2, 3, 4}, 1, 15},
      {"note before same", {NOTE, NOTE, same(1), same(3)}, 1, 1, {1, 3}, 2, 4},
      {"only note of a measure", {NOTE, MEND, NOTE, same(1), NOTE, MEND, same(2), same(3), same(4)}, 2, 2,
       {1, 2, 2, 3}, 2, 9},
  };
  for (const auto& c : cases) {
    new_song();
    set_tracks({c.track});
    std::size_t before = events_of(0).size();
    int k = c.k;
    ASSERT_EQ(delete_event(pos(0, c.index), k), 0) << c.what;
    EXPECT_EQ(events_of(0).size(), before - 1) << c.what;
    EXPECT_EQ(refs_of(0), c.refs) << c.what;
    EXPECT_EQ(k, c.new_k) << c.what;
    (void)c.events_left;
    expect_sound();
  }
}

TEST_F(Edit, DeleteTheEndEventIsRefused) {
  set_tracks({{NOTE}});
  int k = 1;
  EXPECT_EQ(delete_event(pos(0, 1), k), 1);
  EXPECT_EQ(events_of(0), (std::vector<Event>{NOTE, END}));
}

}  // namespace
