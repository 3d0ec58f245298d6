// The walker, the editor's shared state and the line buffer.
#include <cstring>

#include "editor/editor.h"
#include "editor/internal.h"

char line_buffer[LINE_BUFFER_SIZE];
const char NOTE_NAMES[25] = "C C#D D#E F F#G G#A BbB ";

std::uint32_t edit_pos = 0;
std::int32_t edit_meas = 1;
std::int32_t edit_step = 1;
int edit_mode = EDIT_OVERWRITE;
std::uint32_t window_top = 0;
int shown_track = -1;
int cursor_column = 10;
int cursor_row = 4;
int key_shift = 0;

std::uint32_t walk_pos = 0;
std::int32_t walk_measure = 1;
std::int32_t walk_step = 1;
std::int32_t walk_total = 0;

namespace editor_detail {

void clip_tail(char* text) {
  for (std::size_t i = 0; text[i] != 0; ++i) {
    if (!is_lead_byte(static_cast<std::uint8_t>(text[i]))) continue;
    if (text[i + 1] == 0) {
      text[i] = ' ';
      return;
    }
    ++i;
  }
}

void step_next(Walk& w) {
  const std::uint8_t* s = image();
  const std::uint8_t a = s[w.pos];
  const std::uint8_t b = s[w.pos + 1];
  // Only the end of track stops the walker; a 255 inside a track is stepped
  // over like any unknown code.
  if (a == EV_END) return;
  w.pos += 4;
  while (s[w.pos] == EV_CONTINUE) w.pos += 4;
  const std::uint8_t c = s[w.pos];
  if (ends_measure(a) || c == EV_SAME_MEASURE) {
    ++w.measure;
    w.step = 1;
    w.total = 0;
  } else if (takes_time(a)) {
    w.total += b;
    if (c != EV_REPEAT_END && b != 0) ++w.step;
  } else if (a == EV_REPEAT_END && c != EV_REPEAT_END && inside_measure(c)) {
    ++w.step;
  }
}

void step_back(Walk& w) {
  const std::uint8_t* s = image();
  const std::uint32_t first = first_event(current_track);
  if (w.pos <= first) return;
  w.pos -= 4;
  while (s[w.pos] == EV_CONTINUE && w.pos > first) w.pos -= 4;
  std::uint32_t y = w.pos + 4;
  while (s[y] == EV_CONTINUE) y += 4;
  if (ends_measure(s[w.pos]) || s[y] == EV_SAME_MEASURE) --w.measure;
}

void step_to_measure_start(Walk& w) {
  const std::uint8_t* s = image();
  const std::uint32_t first = first_event(current_track);
  w.step = 1;
  w.total = 0;
  if (s[w.pos] == EV_SAME_MEASURE) return;
  while (w.pos > first && !ends_measure(s[w.pos - 4])) w.pos -= 4;
}

void recount(Walk& w, std::uint32_t p) {
  w.pos = p;
  step_to_measure_start(w);
  while (w.pos < p) {
    const std::uint32_t before = w.pos;
    step_next(w);
    if (w.pos == before) break;
  }
}

Walk from_track_start() { return Walk{first_event(current_track), 1, 1, 0}; }

Walk load_walker() { return Walk{walk_pos, walk_measure, walk_step, walk_total}; }

void store_walker(const Walk& w) {
  walk_pos = w.pos;
  walk_measure = w.measure;
  walk_step = w.step;
  walk_total = w.total;
}

}  // namespace editor_detail

using namespace editor_detail;

void clip_double_byte_tail() { clip_tail(line_buffer); }

void walk_next() {
  Walk w = load_walker();
  step_next(w);
  store_walker(w);
}

void walk_back() {
  Walk w = load_walker();
  step_back(w);
  store_walker(w);
}

void walk_to_measure_start() {
  Walk w = load_walker();
  step_to_measure_start(w);
  store_walker(w);
}

void locate_edit_pos() {
  Walk w = from_track_start();
  for (;;) {
    if (w.measure == edit_meas && w.step == edit_step) break;
    if (w.measure > edit_meas || image()[w.pos] == EV_END) {
      edit_meas = w.measure;
      edit_step = 1;
      break;
    }
    step_next(w);
  }
  store_walker(w);
  edit_pos = w.pos;
}

void find_edit_meas() {
  Walk w = from_track_start();
  for (;;) {
    if (w.pos == edit_pos) {
      edit_meas = w.measure;
      edit_step = w.step;
      break;
    }
    if (image()[w.pos] == EV_END) {
      edit_meas = w.measure;
      edit_step = 1;
      break;
    }
    step_next(w);
  }
  store_walker(w);
}
