// The step editor as its keys drive it, where the screen does not show it
// (sessions.txt checks what it shows): INSERT modes, a full track, track
// changes and point play, the measure view's pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/song_builder.h"
#include "editor/editor.h"
#include "host/headless/headless.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/internal.h"
#include "screens/screens.h"

namespace {

// Short names for the keys the tables below type.
constexpr int RET = KEY_RETURN, INS = KEY_INS, PGUP = KEY_PAGE_UP, ESC = KEY_ESC, UP = KEY_UP, DOWN = KEY_DOWN,
              SPACE = KEY_SPACE, SHIFT = KEY_SHIFT_BIT;
const Event N{60, 48, 40, 100}, M{EV_MEASURE_END, 0, 0, 0};

void song(const std::vector<std::vector<Event>>& tracks, int track = 0) {
  headless_echo_alerts(false);
  new_song();
  set_tracks(tracks);
  player_reset();
  init_text_screen();
  reset_keys();
  current_track = track;
  screen_mode.store(MODE_EDIT);
  window_top = edit_pos = first_event(track);
  edit_meas = edit_step = 1;
  edit_mode = EDIT_OVERWRITE;
  cursor_column = 10;
  shown_track = -1;
  draw_event_list();
}

void queue(int value) {
  const int w = key_queue.write_index.load();
  key_queue.slots[w] = value;
  key_queue.write_index.store((w + 1) % KEY_QUEUE_SLOTS);
}

// Keys as the edit screen's loop gives them to the editor, each followed by
// the redraw.
void keys(const std::vector<int>& values) {
  for (int v : values) queue(v);
  while (int v = poll_key()) {
    key_shift = v >> 8;
    int c = v & 255;
    if (c >= 'A' && c <= 'Z') c += 32;
    edit_screen_key(c);
    draw_event_list();
    shown_track = current_track;
  }
}

std::vector<Event> events(int t = 0) {
  std::vector<Event> out;
  for (std::uint32_t p = first_event(t); p + 4 < track_end(t); p += 4)
    out.push_back(*reinterpret_cast<Event*>(image() + p));
  return out;
}
int cursor_index() { return static_cast<int>(edit_pos - first_event(current_track)) / 4; }

// A repeat start's step field takes no value, typed or stepped; the screen
// shows none (sessions.txt types into the fields it shows).
TEST(ValueEntry, RepeatStartHasNoStepField) {
  for (const std::vector<int>& typed : {std::vector<int>{'5', RET}, std::vector<int>{PGUP}}) {
    song({{{EV_REPEAT_START, 3, 0, 0}, N}});
    cursor_column = 20;
    keys(typed);
    EXPECT_EQ(events()[0], (Event{EV_REPEAT_START, 3, 0, 0})) << typed.size();
  }
}

TEST(InsertModes, TypedNotesAndCopies) {
  song({{N}});
  keys({DOWN, '6', '2',
        RET});  // onto the end: INSERT  // note 62 with the previous note's values, cursor on a new empty line
  EXPECT_EQ(events(), (std::vector<Event>{N, {62, 48, 40, 100}}));
  EXPECT_EQ(std::pair(cursor_index(), edit_mode), std::pair(2, int(EDIT_INSERT_EMPTY)));
  keys({'6', '4', UP});  // cursor up inserts nothing and leaves INSERT
  EXPECT_EQ(std::pair(events().size(), edit_mode), std::pair(std::size_t{2}, int(EDIT_OVERWRITE)));
  keys({INS, RET});  // a copy of the previous note in front of the cursor
  EXPECT_EQ(events(), (std::vector<Event>{N, N, {62, 48, 40, 100}}));
  keys({SPACE});  // stays on the copy, on its step
  EXPECT_EQ(std::tuple(edit_mode, cursor_column, cursor_index()), std::tuple(int(EDIT_INSERT_FILLING), 20, 2));
  keys({'1', '2', DOWN});  // down from filling goes back to an empty line
  EXPECT_EQ(std::pair(events()[2], edit_mode), std::pair(Event{60, 12, 40, 100}, int(EDIT_INSERT_EMPTY)));
}

TEST(MeasureStructure, AFullTrackTakesNoInsert) {
  song({std::vector<Event>(MAX_TRACK_EVENTS, N)});
  const std::size_t used = used_length();
  keys({'[', ']', '*', '\\', INS, RET, INS, SPACE, INS, '6', RET, '/', 'P'});
  EXPECT_EQ(used_length(), used);
  EXPECT_EQ(events(), std::vector<Event>(MAX_TRACK_EVENTS, N));
  EXPECT_EQ(song_damage(image(), used_length()), nullptr);
}

TEST(EditScreen, TrackChangeAndPointPlayReturn) {
  song({{N, M, N, N, M}, {}, {{64, 48, 40, 100}, M, {65, 48, 40, 100}, {67, 48, 40, 100}, N}});
  edit_meas = 2, edit_step = 2;
  locate_edit_pos();
  for (int v : std::vector<int>{SHIFT + 35, 'P', ESC, ESC}) queue(v);  // Shift+3 gives code 35
  ASSERT_EQ(run_edit_screen(), ESC);
  EXPECT_EQ(current_track, 2);
  EXPECT_EQ(std::pair(cursor_index(), edit_meas), std::pair(3, 2));  // the same measure and step of track 3
  EXPECT_EQ(std::pair(int(screen_mode.load()), int(paused.load())),
            std::pair(int(MODE_EDIT), 1));  // the point play stopped
}

// The measure view's pixels that no screen dump shows: a curve at 127 on the
// graph's top row, a black key's marker from row 25.
TEST(MeasureView, CurveTopAndKeyMarkerRows) {
  song({{{EV_CONTROL, 0, 7, 127}, M}});
  std::memset(screen_bitmap, 0, PICTURE_SIZE);
  walk_pos = first_event(0);
  draw_measure();
  mark_key(61);
  auto pixel = [](int x, int y) { return screen_bitmap[(PICTURE_HEIGHT - 1 - y) * PICTURE_WIDTH + x]; };
  EXPECT_EQ(std::vector<int>({pixel(600, 253), pixel(600, 254) != 0, pixel(600, 255)}), std::vector<int>({0, 1, 0}));
  EXPECT_EQ(std::vector<int>({pixel(401, 24), pixel(401, 25), pixel(401, 32), pixel(401, 33)}),
            std::vector<int>({0, 7, 7, 0}));
}

}  // namespace
