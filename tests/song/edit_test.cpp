#include <gtest/gtest.h>

#include "common/song_builder.h"

namespace {

const Event N{60, 48, 40, 100}, M{EV_MEASURE_END, 0, 0, 0}, END{254, 254, 254, 254};
const Event X{EV_TRACK_EXCL, 0, 1, 2}, C{EV_CONTINUE, 0, 0x41, 0x10};

Event same(unsigned measure) {  // 1-based, link 44
  unsigned m = measure - 1;
  return {EV_SAME_MEASURE, static_cast<std::uint8_t>(m), static_cast<std::uint8_t>((m >> 8) | 44), 0};
}
std::vector<Event> events_of(int t) {
  std::vector<Event> out;
  for (std::uint32_t p = first_event(t); p < track_end(t); p += 4)
    out.push_back(*reinterpret_cast<Event*>(image() + p));
  return out;
}
std::vector<unsigned> refs_of(int t, bool links = false) {  // 1-based numbers, or links
  std::vector<unsigned> out;
  for (const Event& e : events_of(t))
    if (e.code == EV_SAME_MEASURE)
      out.push_back(links ? (e.byte2 & 252u) + 256u * e.byte3 : e.step + 256u * (e.byte2 & 3) + 1);
  return out;
}
std::uint32_t pos(int t, int index) { return first_event(t) + 4 * index; }

// The image keeps its invariants and the track table matches the lengths.
void expect_sound() {
  EXPECT_EQ(song_damage(image(), used_length()), nullptr);
  std::vector<std::uint32_t> table(start, start + TRACK_COUNT);
  rebuild_track_table();
  EXPECT_EQ(table, std::vector<std::uint32_t>(start, start + TRACK_COUNT));
}

void song(const std::vector<std::vector<Event>>& tracks, int track = 0) {
  new_song();
  set_tracks(tracks);
  current_track = track;
}

TEST(Gaps, MoveLaterTracksAndKeepTheEndEvent) {
  song({{N, M}, {N}, {}, {N, N}});
  std::vector<std::vector<Event>> before;
  for (int t = 0; t < TRACK_COUNT; ++t) before.push_back(events_of(t));
  ASSERT_EQ(open_gap(pos(0, 1), 2), 0);
  EXPECT_EQ(events_of(0), (std::vector<Event>{N, {}, {}, M, END}));
  for (int t = 1; t < TRACK_COUNT; ++t) EXPECT_EQ(events_of(t), before[t]);
  ASSERT_EQ(close_gap(pos(0, 1), 2), 0);
  EXPECT_EQ(events_of(0), before[0]);
  expect_sound();

  song({{N}}, 17);  // at the end of track 18 only the end event moves
  std::size_t used = used_length();
  ASSERT_EQ(open_gap(pos(17, 0), 3), 0);
  EXPECT_EQ(used_length(), used + 12);
  EXPECT_EQ(events_of(17), (std::vector<Event>{{}, {}, {}, END}));
  EXPECT_EQ(close_gap(pos(17, 1), 2), 0);
  EXPECT_EQ(events_of(17), (std::vector<Event>{{}, END}));
  EXPECT_EQ(close_gap(pos(17, 0), 2), 1);  // would reach the end event
  expect_sound();
}

TEST(Gaps, Refusals) {
  const struct {
    std::vector<Event> track;
    int index, n;
    bool open, refused;
  } cases[] = {
      {std::vector<Event>(16370, N), 0, 1, true, false},  // 65,528 -> 65,532
      {std::vector<Event>(16371, N), 0, 1, true, true},   // full
      {std::vector<Event>(16369, N), 0, 3, true, true},
      {{N, X, C, C}, 2, 1, true, true},   // between an exclusive and its continuations
      {{N, X, C, C}, 1, 1, false, true},  // the exclusive without them
      {{N, X, C, C}, 4, 1, false, true},  // the end event
      {{N, M}, -1, 1, true, true},        // inside the head
      {{N, M}, 3, 1, true, true},         // past the end event
  };
  for (const auto& c : cases) {
    song({c.track});
    std::vector<std::uint8_t> before(image(), image() + used_length());
    std::uint32_t p = c.index < 0 ? start[0] + 40 : pos(0, c.index);
    EXPECT_EQ(c.open ? open_gap(p, c.n) : close_gap(p, c.n), c.refused ? 1 : 0) << c.track.size() << " " << c.index;
    EXPECT_TRUE(!c.refused || std::equal(before.begin(), before.end(), image()));
    expect_sound();
  }
  make_full_song();  // the whole image moves within its bounds
  current_track = 0;
  ASSERT_EQ(close_gap(pos(0, 0), 1), 0);
  ASSERT_EQ(open_gap(pos(0, 100), 1), 0);
  EXPECT_EQ(used_length(), SONG_IMAGE_SIZE);
  expect_sound();
}

TEST(MeasureRefs, RenumberWrapsAndResetsLinks) {
  song({{same(2), N, same(3), same(1024), {EV_SAME_MEASURE, 4, 0xFC, 7}}, {same(5)}});
  renumber_measure_refs(3, +1);
  EXPECT_EQ(refs_of(0), (std::vector<unsigned>{2, 4, 1, 6}));
  EXPECT_EQ(refs_of(0, true), (std::vector<unsigned>{44, 44, 44, 44}));
  EXPECT_EQ(refs_of(1), std::vector<unsigned>{5});  // other tracks untouched
}

TEST(MeasureRefs, RelinkFollowsMeasureNumbers) {
  // Measures 1-4 at 44, 52, 60, 68; the reference is measure 5 (76); 6 is the end event.
  const unsigned cases[][2] = {{1, 44}, {2, 52}, {3, 60}, {4, 68}, {5, 76}, {6, 80}, {7, 44}, {1024, 44}};
  for (const auto& c : cases) {
    song({{N, M, N, M, N, M, N, M, same(c[0])}});
    relink_measures();
    EXPECT_EQ(refs_of(0, true), std::vector<unsigned>{c[1]}) << c[0];
  }
  std::vector<Event> track(299, M);  // measure 300 at 1,240: stored as 252, 43, 217, 4
  track.push_back({EV_SAME_MEASURE, 43, 1, 0});
  song({track});
  relink_track(0);
  EXPECT_EQ(events_of(0)[299], (Event{EV_SAME_MEASURE, 43, 217, 4}));
  track.assign(1200, M);  // the table ends at measure 999
  track.push_back(same(999));
  track.push_back(same(1000));
  song({track});
  relink_track(0);
  EXPECT_EQ(refs_of(0, true), (std::vector<unsigned>{44 + 4 * 998, 44}));
}

// Measures 1 = N N M, 2 = N N M, 3 = N N N M, 4 = N M, then references to 2, 3, 4.
const std::vector<Event> FOUR = {N, N, M, N, N, M, N, N, N, M, N, M, same(2), same(3), same(4)};

TEST(MeasureEdits, Inserts) {
  const struct {
    bool measure_end;
    std::vector<Event> track;
    int index, k;
    std::vector<unsigned> refs;  // the old references afterwards
    int new_k;
  } cases[] = {
      {true, FOUR, 7, 3, {2, 3, 5}, 4},                      // measure end inside measure 3
      {true, {N, same(1), N, M, same(3)}, 1, 1, {1, 3}, 1},  // closes what the reference closes
      {false, FOUR, 6, 3, {2, 4, 5}, 3},                     // same-measure at the start of measure 3
      {false, FOUR, 7, 3, {2, 5, 6}, 4},                     // inside: head, new measure, tail
  };
  for (const auto& c : cases) {
    song({c.track});
    int k = c.k;
    std::uint32_t p = pos(0, c.index);
    ASSERT_EQ(c.measure_end ? insert_measure_end(p, k) : insert_same_measure(p, k), 0);
    std::vector<unsigned> refs = refs_of(0);
    if (!c.measure_end) {
      EXPECT_EQ(events_of(0)[c.index], (Event{EV_SAME_MEASURE, 0, 44, 0}));
      refs.erase(refs.begin() + std::count_if(c.track.begin(), c.track.begin() + c.index,
                                              [](const Event& e) { return e.code == EV_SAME_MEASURE; }));
    }
    EXPECT_EQ(refs, c.refs) << c.index;
    EXPECT_EQ(k, c.new_k) << c.index;
    EXPECT_EQ(p, pos(0, c.index + c.measure_end));
    expect_sound();
  }
}

TEST(MeasureEdits, Deletes) {
  const struct {
    std::vector<Event> track;
    int index, k;
    std::vector<unsigned> refs;
    int new_k, removed;
  } cases[] = {
      {FOUR, 5, 2, {2, 2, 3}, 2, 1},                                  // measure end inside
      {{N, M, same(1), same(3)}, 1, 1, {1, 3}, 2, 1},                 // measure end before a reference
      {{N, M, same(1), N, M, same(3), same(4)}, 2, 2, {2, 3}, 2, 1},  // reference after a boundary
      {{N, same(1), N, M, N, M, same(1), same(2), same(3), same(4)}, 1, 2, {1, 1, 1, 2}, 1, 1},  // joins two
      {{N, N, same(1), same(3)}, 1, 1, {1, 3}, 2, 1},                                   // note before a reference
      {{N, M, N, same(1), N, M, same(2), same(3), same(4)}, 2, 2, {1, 2, 2, 3}, 2, 1},  // a measure's only note
      {{N, X, C, C, C, N}, 1, 1, {}, 1, 4},  // exclusive with its continuations
  };
  for (const auto& c : cases) {
    song({c.track});
    int k = c.k;
    ASSERT_EQ(delete_event(pos(0, c.index), k), 0);
    EXPECT_EQ(events_of(0).size(), c.track.size() + 1 - c.removed);
    EXPECT_EQ(refs_of(0), c.refs) << c.index;
    EXPECT_EQ(k, c.new_k) << c.index;
    expect_sound();
  }
}

// Refused edits change nothing, not even the measure number or the position.
TEST(MeasureEdits, Refusals) {
  std::vector<Event> full(MAX_TRACK_EVENTS - 1, N);
  full.push_back(same(3));
  const struct {
    std::vector<Event> track;
    int index;
    char op;
  } cases[] = {{full, 5, 's'},
               {full, 5, 'm'},                // a full track
               {{N, X, C, C, C, N}, 6, 'd'},  // the end event
               // A measure end or reference before a stray continuation: refused before any reference is renumbered.
               {{N, M, C, same(2)}, 1, 'd'},
               {{N, M, same(1), C, same(3)}, 2, 'd'}};
  for (const auto& c : cases) {
    song({c.track});
    const std::vector<std::uint8_t> before(image(), image() + used_length());
    int k = 2;
    std::uint32_t p = pos(0, c.index);
    EXPECT_EQ(c.op == 's' ? insert_same_measure(p, k) : c.op == 'm' ? insert_measure_end(p, k) : delete_event(p, k), 1);
    EXPECT_TRUE(k == 2 && p == pos(0, c.index) && used_length() == before.size() &&
                std::equal(before.begin(), before.end(), image()))
        << c.op << " " << c.index;
  }
}

}  // namespace
