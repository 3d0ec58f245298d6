// Editing the image: gaps opened and closed, measure references renumbered and
// relinked, measure ends and references put in or taken out (the plain cases
// as rows of edits.txt).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/song_builder.h"

namespace {

const Event N{60, 48, 40, 100}, M{EV_MEASURE_END, 0, 0, 0}, END{254, 254, 254, 254};
const Event X{EV_TRACK_EXCL, 0, 1, 2}, C{EV_CONTINUE, 0, 0x41, 0x10};
using Events = std::vector<Event>;
using Refs = std::vector<unsigned>;

Event same(unsigned measure) {  // 1-based, link 44
  return {EV_SAME_MEASURE, std::uint8_t(measure - 1), std::uint8_t((measure - 1) >> 8 | 44), 0};
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

TEST(Gaps, MoveLaterTracksAndKeepTheEndEvent) {
  song({{N, M}, {N}, {}, {N, N}});
  std::vector<Events> before;
  for (int t = 0; t < TRACK_COUNT; ++t) before.push_back(events_of(t));
  ASSERT_EQ(open_gap(pos(0, 1), 2), 0);
  EXPECT_EQ(events_of(0), (Events{N, {}, {}, M, END}));
  for (int t = 1; t < TRACK_COUNT; ++t) EXPECT_EQ(events_of(t), before[t]);
  ASSERT_EQ(close_gap(pos(0, 1), 2), 0);
  EXPECT_EQ(events_of(0), before[0]);
  expect_sound();
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

// A track as edits.txt writes it, up to the next "|".
Events parse_events(std::istream& in) {
  Events out;
  for (std::string w; in >> w && w != "|";) {
    const std::size_t star = w.find('*');
    const char c = w[0];
    const Event e = c == 'N' ? N : c == 'M' ? M : c == 'X' ? X : c == 'C' ? C : same(std::stoul(w.substr(1, star)));
    out.insert(out.end(), star == std::string::npos ? 1 : std::stoul(w.substr(star + 1)), e);
  }
  return out;
}

// Each edit of edits.txt: refused edits change nothing, not even k or p; the
// measure edits renumber the references after them and move k and p; a new
// reference is to measure 1, linked to the first event.
TEST(Edits, FromTheTable) {
  std::ifstream file(std::filesystem::path(__FILE__).parent_path() / "edits.txt");
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    ++rows;
    std::istringstream row(line.substr(0, line.find(" #")));
    char op;
    int index, n, new_k = 0, grown = 0;
    std::string bar, w;
    row >> op >> index >> n >> bar;
    const Events track = parse_events(row);
    bool refused = false;
    Refs want;
    while (row >> w && w != "/")
      w == "refused" ? void(refused = true) : w == "ok" ? void() : want.push_back(std::stoul(w));
    row >> new_k >> grown;
    song({track});
    const auto was = used();
    int k = n;
    std::uint32_t p = pos(0, index);
    const int r = op == 'o'   ? open_gap(p, n)
                  : op == 'c' ? close_gap(p, n)
                  : op == 's' ? insert_same_measure(p, k)
                  : op == 'm' ? insert_measure_end(p, k)
                              : delete_event(p, k);
    expect_sound();
    if (refused) {
      EXPECT_EQ(r, 1);
      EXPECT_TRUE(k == n && p == pos(0, index) && used() == was);
      continue;
    }
    ASSERT_EQ(r, 0);
    if (op == 'o' || op == 'c') continue;
    EXPECT_TRUE(op != 's' || events_of(0)[index] == (Event{EV_SAME_MEASURE, 0, 44, 0}));
    EXPECT_EQ(refs_of(0), want);
    EXPECT_EQ(k, new_k);
    EXPECT_EQ(p, pos(0, index + (op == 'm')));
    EXPECT_EQ(events_of(0).size(), track.size() + 1 + grown);
  }
  EXPECT_EQ(rows, 24);
}

}  // namespace
