// Enhanced mode's live values: the song header block, the top row's counts
// and the play monitor's per-track cells, drawn over the fixed layouts.
#include <cstdio>
#include <cstring>

#include "editor/editor.h"
#include "host/host.h"
#include "host/screen.h"
#include "player/player.h"
#include "screens/internal.h"
#include "screens/screens.h"

namespace {

bool playing() {
  const std::uint8_t m = screen_mode.load();
  return m == MODE_TRACK_MONITOR || m == MODE_PLAY_MONITOR;
}

// "C MAJOR ", "F# MINOR": the name without its padding, then the mode.
void format_key(std::uint8_t key) {
  const char* name = key_name(key);
  const int n = name[1] == ' ' ? 1 : 2;
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%.*s %-*s", n, name, 7 - n, (key & 16) ? "MINOR" : "MAJOR");
}

// The first measure of track 1 as a time signature, in the largest note
// value that counts it whole (else in ticks, 48ths); 4/4 when the track has
// no measure end.
void format_beat() {
  const std::uint8_t* s = image();
  std::uint32_t ticks = 0;
  bool ended = false;
  for (std::uint32_t p = first_event(0); p < track_end(0) && s[p] != EV_END; p += 4) {
    if (ends_measure(s[p])) {
      ended = true;
      break;
    }
    ticks += ticks_of(s[p], s[p + 1]);
  }
  unsigned count = 4, unit = 4;
  if (ended && ticks != 0) {
    static constexpr unsigned UNITS[3][2] = {{48, 4}, {24, 8}, {12, 16}};
    count = ticks;
    unit = 48;
    for (const auto& [length, value] : UNITS) {
      if (ticks % length == 0) {
        count = ticks / length;
        unit = value;
        break;
      }
    }
  }
  // Five cells: a signature that does not fit is not cut into another one.
  if (std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%2u/%-2u", count, unit) > 5)
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, "  ?  ");
}

}  // namespace

void draw_header_values() {
  const std::uint8_t* s = image();
  const bool now = playing();
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%3d ",
                now ? current_tempo.load(std::memory_order_relaxed) : s[SONG_TEMPO]);
  print_at(10, 4, line_buffer, ATTR_WHITE);
  std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%3d ", static_cast<std::int8_t>(s[SONG_PLAY_BIAS]));
  print_at(10, 5, line_buffer, ATTR_WHITE);
  format_key(now ? current_key.load(std::memory_order_relaxed) : s[SONG_KEY]);
  print_at(6, 6, line_buffer, ATTR_WHITE);
  format_beat();
  print_at(9, 7, line_buffer, ATTR_WHITE);
  const bool input = midi_in_open.load();
  // Thru works while no song plays.
  print_at(25, 4, input && !now ? " ON  " : " OFF ", ATTR_WHITE);
  print_at(25, 5, midi_clock ? " CLK " : " INT ", ATTR_WHITE);
  print_at(25, 6, input ? " MIDI" : " MPU ", ATTR_WHITE);
}

void draw_live_cells() {
  static constexpr int KINDS[8] = {LIVE_BANK,       LIVE_PROGRAM, LIVE_BENDER,     LIVE_PEDAL,
                                   LIVE_MODULATION, LIVE_VOLUME,  LIVE_EXPRESSION, LIVE_PAN};
  const std::int32_t now = tick.load(std::memory_order_relaxed);
  auto cell = [](int j, int row, int value) {
    std::snprintf(line_buffer, LINE_BUFFER_SIZE, "%3d", value);
    print_at(8 + 4 * j, row, line_buffer, ATTR_WHITE);
  };
  // Three cells a value: larger counts stop at 999.
  auto capped = [](std::int64_t v) { return static_cast<int>(v < 0 ? 0 : v > 999 ? 999 : v); };
  for (int j = 0; j < TRACK_COUNT; ++j) {
    if (ended[j].load(std::memory_order_relaxed)) {
      print_at(8 + 4 * j, 10, "END", ATTR_WHITE);
      print_at(8 + 4 * j, 11, "---", ATTR_WHITE);
    } else {
      cell(j, 10, capped(measure[j].load(std::memory_order_relaxed)));
      cell(j, 11, capped(static_cast<std::int64_t>(now) - measure_tick[j].load(std::memory_order_relaxed)));
    }
    const int ch = live[j][LIVE_CHANNEL].load(std::memory_order_relaxed);
    if (ch == LIVE_NONE)
      print_at(8 + 4 * j, 13, "OFF", ATTR_WHITE);
    else
      cell(j, 13, ch + 1);
    for (int k = 0; k < 8; ++k) {
      const int v = live[j][KINDS[k]].load(std::memory_order_relaxed);
      if (v == LIVE_NONE)
        print_at(8 + 4 * j, 14 + k, "---", ATTR_WHITE);
      else
        cell(j, 14 + k, v);
    }
  }
}
