#include <gtest/gtest.h>

#include "common/song_builder.h"

namespace {

const Event N{60, 48, 40, 100}, M{EV_MEASURE_END, 0, 0, 0}, END{254, 254, 254, 254};
const Event X{EV_TRACK_EXCL, 0, 1, 2}, C{EV_CONTINUE, 0, 0x41, 0x10};
using Events = std::vector<Event>;
using Refs = std::vector<unsigned>;

Event same(unsigned measure) {  // 1-based, link 44
  unsigned m = measure - 1;
  return {EV_SAME_MEASURE, static_cast<std::uint8_t>(m), static_cast<std::uint8_t>((m >> 8) | 44), 0};
}
Events events_of(int t) {
  Events out;
  for (std::uint32_t p = first_event(t); p < track_end(t); p += 4)
    out.push_back(*reinterpret_cast<Event*>(image() + p));
  return out;
}
Refs refs_of(int t, bool links = false) {  // 1-based numbers, or links
  Refs out;
  for (const Event& e : events_of(t))
    if (e.code == EV_SAME_MEASURE)
      out.push_back(links ? (e.byte2 & 252u) + 256u * e.byte3 : e.step + 256u * (e.byte2 & 3) + 1);
  return out;
}
std::uint32_t pos(int t, int index) { return first_event(t) + 4 * index; }
std::vector<std::uint8_t> used() { return {image(), image() + used_length()}; }

// The image keeps its invariants and the track table matches the lengths.
void expect_sound() {
  EXPECT_EQ(song_damage(image(), used_length()), nullptr);
  std::vector<std::uint32_t> table(start, start + TRACK_COUNT);
  rebuild_track_table();
  EXPECT_EQ(table, std::vector<std::uint32_t>(start, start + TRACK_COUNT));
}

void song(const std::vector<Events>& tracks, int track = 0) {
  new_song();
  set_tracks(tracks);
  current_track = track;
}

TEST(Gaps, MoveLaterTracksKeepTheEndEventAndRefuseWhatWouldBreak) {
  song({{N, M}, {N}, {}, {N, N}});
  std::vector<Events> before;
  for (int t = 0; t < TRACK_COUNT; ++t) before.push_back(events_of(t));
  ASSERT_EQ(open_gap(pos(0, 1), 2), 0);
  EXPECT_EQ(events_of(0), (Events{N, {}, {}, M, END}));
  for (int t = 1; t < TRACK_COUNT; ++t) EXPECT_EQ(events_of(t), before[t]);
  ASSERT_EQ(close_gap(pos(0, 1), 2), 0);
  EXPECT_EQ(events_of(0), before[0]);
  expect_sound();
  const struct {
    Events track;
    int index, n;
    bool open, refused;
  } cases[] = {
      {Events(16370, N), 0, 1, true, false},  // 65,528 -> 65,532
      {Events(16371, N), 0, 1, true, true},   // full
      {Events(16369, N), 0, 3, true, true},
      {{N, X, C, C}, 2, 1, true, true},   // between an exclusive and its continuations
      {{N, X, C, C}, 1, 1, false, true},  // the exclusive without them
      {{N, X, C, C}, 4, 1, false, true},  // the end event
      {{N, M}, -1, 1, true, true},        // inside the head
      {{N, M}, 3, 1, true, true},         // past the end event
  };
  for (const auto& c : cases) {
    song({c.track});
    const auto was = used();
    std::uint32_t p = c.index < 0 ? start[0] + 40 : pos(0, c.index);
    EXPECT_EQ(c.open ? open_gap(p, c.n) : close_gap(p, c.n), c.refused ? 1 : 0) << c.track.size() << " " << c.index;
    EXPECT_TRUE(!c.refused || used() == was);
    expect_sound();
  }
  song({{N}}, 17);  // at the end of track 18 only the end event moves
  ASSERT_EQ(open_gap(pos(17, 0), 3), 0);
  EXPECT_EQ(close_gap(pos(17, 1), 2), 0);
  EXPECT_EQ(events_of(17), (Events{{}, END}));
  EXPECT_EQ(close_gap(pos(17, 0), 2), 1);  // would reach the end event
  make_full_song();                        // the whole image moves within its bounds
  current_track = 0;
  ASSERT_EQ(close_gap(pos(0, 0), 1), 0);
  ASSERT_EQ(open_gap(pos(0, 100), 1), 0);
  EXPECT_EQ(used_length(), SONG_IMAGE_SIZE);
  expect_sound();
}

TEST(MeasureRefs, RenumberAndRelink) {
  song({{same(2), N, same(3), same(1024), {EV_SAME_MEASURE, 4, 0xFC, 7}}, {same(5)}});
  renumber_measure_refs(3, +1);  // wraps, resets the links, leaves other tracks
  EXPECT_EQ(refs_of(0), (Refs{2, 4, 1, 6}));
  EXPECT_EQ(refs_of(0, true), (Refs{44, 44, 44, 44}));
  EXPECT_EQ(refs_of(1), Refs{5});
  // Measures 1-4 at 44, 52, 60, 68; the reference is measure 5 (76); 6 is the end event.
  for (auto [ref, link] : {std::pair{1u, 44u}, {4, 68}, {5, 76}, {6, 80}, {7, 44}, {1024, 44}}) {
    song({{N, M, N, M, N, M, N, M, same(ref)}});
    relink_measures();
    EXPECT_EQ(refs_of(0, true), Refs{link}) << ref;
  }
  Events track(299, M);  // measure 300 at 1,240: stored as 252, 43, 217, 4
  track.push_back({EV_SAME_MEASURE, 43, 1, 0});
  song({track});
  relink_track(0);
  EXPECT_EQ(events_of(0)[299], (Event{EV_SAME_MEASURE, 43, 217, 4}));
  track.assign(1200, M);  // the table ends at measure 999
  track.insert(track.end(), {same(999), same(1000)});
  song({track});
  relink_track(0);
  EXPECT_EQ(refs_of(0, true), (Refs{44 + 4 * 998, 44}));
}

// Measures 1 = N N M, 2 = N N M, 3 = N N N M, 4 = N M, then references to 2, 3, 4.
const Events FOUR = {N, N, M, N, N, M, N, N, N, M, N, M, same(2), same(3), same(4)};

// Measure ends and references put in or taken out: the references after them
// renumbered, the measure number k and the position p moved. Refused edits
// change nothing, not even k or p.
TEST(MeasureEdits, InsertsDeletesAndRefusals) {
  Events full(MAX_TRACK_EVENTS - 1, N);
  full.push_back(same(3));
  const struct {
    char op;  // measure end, same-measure reference, delete
    Events track;
    int index, k;
    Refs refs;  // the old references afterwards; refused when empty and k is 0
    int new_k, grown;
  } cases[] = {
      {'m', FOUR, 7, 3, {2, 3, 5}, 4, 1},                                   // measure end inside measure 3
      {'m', {N, same(1), N, M, same(3)}, 1, 1, {1, 3}, 1, 1},               // closes what the reference closes
      {'s', FOUR, 6, 3, {2, 4, 5}, 3, 1},                                   // at the start of measure 3
      {'s', FOUR, 7, 3, {2, 5, 6}, 4, 1},                                   // inside: head, new measure, tail
      {'d', FOUR, 5, 2, {2, 2, 3}, 2, -1},                                  // measure end inside
      {'d', {N, M, same(1), same(3)}, 1, 1, {1, 3}, 2, -1},                 // measure end before a reference
      {'d', {N, M, same(1), N, M, same(3), same(4)}, 2, 2, {2, 3}, 2, -1},  // reference after a boundary
      {'d', {N, same(1), N, M, N, M, same(1), same(2), same(3), same(4)}, 1, 2, {1, 1, 1, 2}, 1, -1},  // joins two
      {'d', {N, N, same(1), same(3)}, 1, 1, {1, 3}, 2, -1},                                   // before a reference
      {'d', {N, M, N, same(1), N, M, same(2), same(3), same(4)}, 2, 2, {1, 2, 2, 3}, 2, -1},  // a measure's only note
      {'d', {N, X, C, C, C, N}, 1, 1, {}, 1, -4},  // exclusive with its continuations
      {'s', full, 5, 2, {}, 0, 0},                 // a full track
      {'m', full, 5, 2, {}, 0, 0},
      {'d', {N, X, C, C, C, N}, 6, 2, {}, 0, 0},  // the end event
      // Before a stray continuation: refused before any reference is renumbered.
      {'d', {N, M, C, same(2)}, 1, 2, {}, 0, 0},
      {'d', {N, M, same(1), C, same(3)}, 2, 2, {}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.op) + " at " + std::to_string(c.index));
    song({c.track});
    const auto was = used();
    int k = c.k;
    std::uint32_t p = pos(0, c.index);
    const int r = c.op == 's' ? insert_same_measure(p, k) : c.op == 'm' ? insert_measure_end(p, k) : delete_event(p, k);
    if (c.new_k == 0) {
      EXPECT_EQ(r, 1);
      EXPECT_TRUE(k == c.k && p == pos(0, c.index) && used() == was);
      continue;
    }
    ASSERT_EQ(r, 0);
    Refs refs = refs_of(0);
    if (c.op == 's') {
      EXPECT_EQ(events_of(0)[c.index], (Event{EV_SAME_MEASURE, 0, 44, 0}));
      refs.erase(refs.begin() + std::count_if(c.track.begin(), c.track.begin() + c.index,
                                              [](const Event& e) { return e.code == EV_SAME_MEASURE; }));
    }
    EXPECT_EQ(refs, c.refs);
    EXPECT_EQ(k, c.new_k);
    EXPECT_EQ(p, pos(0, c.index + (c.op == 'm')));
    if (c.op == 'd') {
      EXPECT_EQ(events_of(0).size(), c.track.size() + 1 + c.grown);
    }
    expect_sound();
  }
}

}  // namespace
