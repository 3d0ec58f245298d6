// The measure view right of the event list: keyboard, grand staff, the gate
// and velocity graph with controller curves, and the time cursor column.
#include <cstdio>

#include "editor/editor.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/internal.h"
#include "screens/screens.h"

int view_column = 0;
int shown_measure = -1;

namespace {

// The frame lives in pixel bit 2; notes, bars and curves in bits 0 and 1.
constexpr int FRAME_BIT = 4;
constexpr int MEASURE_X = 321;  // x of a measure's first tick, one pixel a tick
constexpr int LAST_X = 632;     // drawing stops past this x
constexpr int GRAPH_BOTTOM = 381;

// Treble clef in rows 0-44, bass clef in rows 45-65; the FFFF rows fall on staff lines.
constexpr std::uint16_t CLEF[66] = {
    0x00E0, 0x01E0, 0x01E0, 0x03F0, 0x0390, 0x0710, 0x0710, 0x0710, 0x0610, 0xFFFF, 0x0630, 0x0670, 0x02E0, 0x03E0,
    0x03E0, 0xFFFF, 0x07C0, 0x0F80, 0x1F80, 0x3D80, 0x7980, 0xFFFF, 0xF3F8, 0xE7FC, 0xEECE, 0xCCC7, 0xC863, 0xFFFF,
    0xE863, 0x7666, 0x3324, 0x19AC, 0x0E38, 0xFFFF, 0x0020, 0x0020, 0x0F10, 0x0F10, 0x1F90, 0x0F10, 0x0F10, 0x0420,
    0x03C0, 0x0000, 0x0000, 0xFFFF, 0x0F80, 0x31C2, 0x60E7, 0xF072, 0xFC70, 0xFFFF, 0xFC70, 0x7C72, 0x1077, 0x0072,
    0x00E0, 0xFFFF, 0x01C0, 0x0380, 0x0300, 0x0600, 0x0C00, 0xFFFF, 0x7000, 0xC000};

void set_pixel_bits(int x, int y, std::uint8_t bits) {
  if (x < 0 || x >= PICTURE_WIDTH || y < 0 || y >= PICTURE_HEIGHT) return;
  screen_bitmap[(PICTURE_HEIGHT - 1 - y) * PICTURE_WIDTH + x] |= bits;
}

// Staff line or space of a note: 3 pixels a diatonic step, 21 an octave; a
// sharp shares the place of the natural below it.
int diatonic_step(int note) {
  int p = note % 12;
  if (p > 4) ++p;
  return p / 2;
}

// The display point: the edit cursor, or in the track monitor where the
// player stands in the current track.
std::uint32_t display_point(std::int32_t& measure_number) {
  if (screen_mode.load() != MODE_TRACK_MONITOR) {
    measure_number = edit_meas;
    return edit_pos;
  }
  const int t = current_track;
  measure_number = measure[t].load(std::memory_order_relaxed);
  const std::uint32_t called = return_position[t].load(std::memory_order_relaxed);
  if (called != 0) return called;
  walk_pos = position[t].load(std::memory_order_relaxed);
  if (!ended[t].load(std::memory_order_relaxed)) walk_back();
  return walk_pos;
}

struct Curve {
  int pen;
  int last_x = 0;  // 0: no point yet
  int last_y = 0;

  void point(int x, int y) {
    if (last_x != 0) {
      set_pen(pen, pen);
      draw_hline(last_x, x, last_y);
      draw_vline(x, last_y, y);
    }
    last_x = x;
    last_y = y;
  }
};

int curve_value(int v) { return GRAPH_BOTTOM - (v > 127 ? 127 : v); }

void draw_note(int x, int note, int gate, int velocity) {
  set_pen(1, 1);
  draw_vline(x, GRAPH_BOTTOM - velocity, GRAPH_BOTTOM);
  draw_hline(x, x + gate, GRAPH_BOTTOM - velocity);
  draw_vline(x + gate, GRAPH_BOTTOM - velocity, GRAPH_BOTTOM);
  const int n = note < 17 ? 17 : note > 106 ? 106 : note;
  draw_glyph(x - 3, 253 - 21 * (n / 12) - 3 * diatonic_step(n), 1);
}

// The box of a key's marker: near the foot of a white key, inside a black one.
void key_marker(int note, bool marked) {
  int p = note % 12;
  if (p > 4) ++p;
  const int d = p / 2, b = p % 2;
  const int x = 2 * (35 * (note / 12) + 5 * d - 105) + 5 * b + 254;
  const int y = 37 - 12 * b;
  set_pen(7, marked ? 7 : (b ? 0 : 4));
  fill_rect(x, y, x + 4, y + 7);
}

}  // namespace

void draw_keyboard() {
  set_pen(7, 4);
  draw_hline(242, 639, 17);
  draw_vline(242, 17, 48);
  draw_vline(639, 17, 48);
  fill_rect(252, 19, 631, 45);
  set_pen(7, 0);
  for (int k = 5; k <= 190; k += 5) {
    draw_vline(2 * k + 251, 19, 45);
    if (k % 35 != 0 && k % 35 != 15) fill_rect(2 * k + 248, 19, 2 * k + 254, 35);
  }
  fill_rect(394, 45, 398, 45);
}

void draw_staff_frame() {
  set_pen(15, 4);
  draw_hline(242, 639, 48);
  draw_hline(242, 639, 382);
  draw_vline(242, 48, 382);
  draw_vline(639, 48, 382);
  draw_hline(242, 639, 253);
  for (int i = 0; i < 66; ++i)
    for (int j = 0; j < 16; ++j)
      if (CLEF[i] & (0x8000 >> j)) set_pixel_bits(244 + j, 111 + i, FRAME_BIT);
  for (int y : {78, 84, 90, 96, 102, 198, 204, 210, 216, 222}) {
    for (int x = 303; x <= 635; x += 4) {
      set_pixel_bits(x, y, FRAME_BIT);
      set_pixel_bits(x + 1, y, FRAME_BIT);
    }
  }
  for (int x = 244; x <= 638; x += 2) set_pixel_bits(x, 317, FRAME_BIT);
  for (int y : {120, 126, 132, 138, 144, 156, 162, 168, 174, 180}) draw_hline(242, 639, y);
  for (int x = 321; x <= 561; x += 12) draw_vline(x, (x - 321) % 48 == 0 ? 247 : 250, 253);
}

void update_measure_view() {
  std::int32_t m = 0;
  const std::uint32_t p = display_point(m);
  walk_pos = p;
  walk_to_measure_start();
  while (walk_pos < p && image()[walk_pos] != EV_END) walk_next();
  const int s = walk_total;
  if (m != shown_measure || shown_track != current_track) {
    shown_measure = m;
    if (view_column != 0) {
      invert_column(view_column);
      view_column = 0;
    }
    set_pen(3, 0);
    fill_rect(240, 64, 639, 382);
    draw_measure();
    char tonic[3] = {NOTE_NAMES[2 * ((12 - key_value.load()) % 12)], NOTE_NAMES[2 * ((12 - key_value.load()) % 12) + 1],
                     0};
    print_at(32, 6, tonic, ATTR_WHITE);
  }
  if (MEASURE_X + s != view_column) {
    if (view_column != 0) invert_column(view_column);
    view_column = MEASURE_X + s > 630 ? 630 : MEASURE_X + s;
    invert_column(view_column);
    char text[12];
    std::snprintf(text, sizeof text, "%3d", s);
    print_at(26, 2, text, ATTR_WHITE);
  }
}

void draw_measure() {
  walk_to_measure_start();
  Curve curves[5] = {{2}, {3}, {2}, {3}, {2}};  // tempo, modulation, volume, expression, bend
  Curve& tempo = curves[0];
  Curve& modulation = curves[1];
  Curve& volume = curves[2];
  Curve& expression = curves[3];
  Curve& bend = curves[4];
  const std::uint8_t* s = image();
  const std::uint32_t last = track_end(current_track) - 4;
  int x = MEASURE_X;
  for (std::uint32_t p = walk_pos; p <= last && x <= LAST_X; p += 4) {
    const int c = s[p], t = s[p + 1], g = s[p + 2], v = s[p + 3];
    int advance = ticks_of(c, t);
    if (is_note(c) && g != 0 && v != 0) {
      draw_note(x, c, g, v);
    } else if (c == EV_TEMPO) {
      tempo.point(x, curve_value(g));
    } else if (c == EV_CONTROL) {
      if (g == 1) modulation.point(x, curve_value(v));
      if (g == 7) volume.point(x, curve_value(v));
      if (g == 11) expression.point(x, curve_value(v));
    } else if (c == EV_PITCH) {
      bend.point(x, curve_value(v));
    } else if (c == EV_SAME_MEASURE || c == EV_MEASURE_END) {
      set_pen(1, 1);
      draw_vline(x, 121, 179);
      draw_vline(x, 254, GRAPH_BOTTOM);
      advance = 10;
    } else if (c == EV_END) {
      break;
    }
    x += advance;
  }
  for (Curve& curve : curves) {
    if (curve.last_x == 0) continue;
    set_pen(curve.pen, curve.pen);
    draw_hline(curve.last_x, 638, curve.last_y);
  }
}

void draw_held_keys() {
  std::int32_t m = 0;
  const std::uint32_t p = display_point(m);
  int remaining[128] = {};
  walk_pos = p;
  walk_to_measure_start();
  const std::uint8_t* s = image();
  const std::uint32_t last = track_end(current_track) - 4;
  // quirk: the scan stops at the display point, so a chord's later notes are not marked.
  for (std::uint32_t q = walk_pos; q <= last; q += 4) {
    const int c = s[q], t = s[q + 1];
    if (!inside_measure(c)) break;
    if (is_note(c) && s[q + 2] != 0 && s[q + 3] != 0) remaining[c] = s[q + 2];
    if (q == p) break;
    if (ticks_of(c, t) != 0) {
      for (int& r : remaining) r = r > t ? r - t : 0;
    }
  }
  for (int note = 36; note <= 100; ++note) {
    if (remaining[note] != 0)
      mark_key(note);
    else
      unmark_key(note);
  }
}

void mark_key(int note) { key_marker(note, true); }
void unmark_key(int note) { key_marker(note, false); }
