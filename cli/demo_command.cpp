// takto-cli demo: writes the demo song, an arrangement of the main theme of
// the last movement of Beethoven's ninth symphony (public domain) for flute,
// bass, strings and drums. The repository keeps its output as examples/demo.sqf.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "song/song.h"

namespace {
constexpr std::uint8_t QUARTER = 48;
constexpr std::uint8_t EIGHTH = 24;

using Track = std::vector<Event>;

struct Note {
  std::uint8_t pitch, length;
};

void note(Track& t, std::uint8_t pitch, std::uint8_t length, std::uint8_t velocity = 100) {
  // The gate leaves a short gap before the next note.
  t.push_back({pitch, length, static_cast<std::uint8_t>(length - length / 6), velocity});
}
// Notes sounding together: all but the last take no time.
void chord(Track& t, std::initializer_list<std::uint8_t> pitches, std::uint8_t length, std::uint8_t velocity) {
  std::size_t i = 0;
  for (std::uint8_t p : pitches) {
    ++i;
    t.push_back({p, i == pitches.size() ? length : std::uint8_t{0}, static_cast<std::uint8_t>(length - 6), velocity});
  }
}
void rest(Track& t, std::uint8_t length) { t.push_back({0, length, 0, 0}); }
void measure_end(Track& t) { t.push_back({EV_MEASURE_END, 0, 0, 0}); }
void program(Track& t, std::uint8_t number) { t.push_back({EV_PROGRAM, 0, number, 0}); }
void repeat_start(Track& t) { t.push_back({EV_REPEAT_START, 0, 0, 0}); }
void repeat_end(Track& t, std::uint8_t count) { t.push_back({EV_REPEAT_END, count, 0, 0}); }
// Plays measure `number` (1-based) of the same track here; the link is
// computed before play and save.
void same_measure(Track& t, unsigned number) {
  const unsigned ref = number - 1;
  t.push_back({EV_SAME_MEASURE, static_cast<std::uint8_t>(ref & 255), static_cast<std::uint8_t>((ref >> 8) & 3), 0});
}

void melody_measure(Track& t, std::initializer_list<Note> notes) {
  for (const Note& n : notes) note(t, n.pitch, n.length);
  measure_end(t);
}

// Measure 1 counts in; measures 2-9 are the theme, played twice by the repeat
// around them; measure 10 closes.
Track melody() {
  Track t;
  t.push_back({EV_USER_EXCL0, 0, 0, 0});  // GS reset, before every program change
  program(t, 73);                         // flute
  rest(t, 4 * QUARTER);
  repeat_start(t);
  measure_end(t);
  const std::uint8_t C = 72, D = 74, E = 76, F = 77, G = 79;
  melody_measure(t, {{E, QUARTER}, {E, QUARTER}, {F, QUARTER}, {G, QUARTER}});
  melody_measure(t, {{G, QUARTER}, {F, QUARTER}, {E, QUARTER}, {D, QUARTER}});
  melody_measure(t, {{C, QUARTER}, {C, QUARTER}, {D, QUARTER}, {E, QUARTER}});
  melody_measure(t, {{E, QUARTER + EIGHTH}, {D, EIGHTH}, {D, 2 * QUARTER}});
  // The second phrase begins as the first.
  same_measure(t, 2);
  same_measure(t, 3);
  melody_measure(t, {{C, QUARTER}, {C, QUARTER}, {D, QUARTER}, {E, QUARTER}});
  melody_measure(t, {{D, QUARTER + EIGHTH}, {C, EIGHTH}, {C, 2 * QUARTER}});
  repeat_end(t, 2);
  note(t, C, 4 * QUARTER);
  measure_end(t);
  return t;
}

Track bass() {
  Track t;
  program(t, 32);  // acoustic bass
  rest(t, 4 * QUARTER);
  repeat_start(t);
  measure_end(t);
  const std::uint8_t C = 36, G = 43;
  for (std::uint8_t root : {C, G, C, G, C, G, C, G}) {
    note(t, root, 2 * QUARTER, 90);
    note(t, root + 12, QUARTER, 80);
    note(t, root, QUARTER, 85);
    measure_end(t);
  }
  repeat_end(t, 2);
  note(t, C, 4 * QUARTER, 90);
  measure_end(t);
  return t;
}

Track strings() {
  Track t;
  program(t, 48);  // string ensemble
  rest(t, 4 * QUARTER);
  repeat_start(t);
  measure_end(t);
  for (int m = 0; m < 8; ++m) {
    if (m % 2 == 0) {
      chord(t, {55, 60, 64}, 4 * QUARTER, 60);
    } else {
      chord(t, {55, 59, 62}, 4 * QUARTER, 60);
    }
    measure_end(t);
  }
  repeat_end(t, 2);
  chord(t, {48, 55, 60, 64}, 4 * QUARTER, 64);
  measure_end(t);
  return t;
}

Track drums() {
  Track t;
  const std::uint8_t KICK = 36, SIDE = 37, SNARE = 38, HAT = 42, CRASH = 49;
  for (int beat = 0; beat < 4; ++beat) note(t, SIDE, QUARTER, 90);
  measure_end(t);
  repeat_start(t);
  for (int eighth = 0; eighth < 8; ++eighth) {
    if (eighth % 4 == 0) t.push_back({KICK, 0, 8, 110});
    if (eighth % 4 == 2) t.push_back({SNARE, 0, 8, 100});
    t.push_back({HAT, EIGHTH, 8, static_cast<std::uint8_t>(eighth % 2 ? 60 : 80)});
  }
  measure_end(t);
  repeat_end(t, 16);
  t.push_back({CRASH, 0, 96, 110});
  t.push_back({KICK, 4 * QUARTER, 8, 110});
  measure_end(t);
  return t;
}

void put_text(std::size_t offset, std::size_t size, const char* text) {
  std::memset(image() + offset, ' ', size);
  std::memcpy(image() + offset, text, std::min(size, std::strlen(text)));
}

// Replaces every track's events, keeping the heads.
bool set_events(const std::vector<Track>& tracks) {
  std::vector<std::uint8_t> heads(TRACK_COUNT * TRACK_HEAD_SIZE);
  for (int t = 0; t < TRACK_COUNT; ++t) {
    std::memcpy(&heads[t * TRACK_HEAD_SIZE], image() + start[t], TRACK_HEAD_SIZE);
  }
  std::size_t pos = SONG_HEADER_SIZE;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    const Track none;
    const Track& events = t < static_cast<int>(tracks.size()) ? tracks[t] : none;
    const std::size_t len = TRACK_HEAD_SIZE + 4 * (events.size() + 1);
    if (len > MAX_TRACK_SIZE || pos + len > SONG_IMAGE_SIZE) return false;
    std::uint8_t* b = image() + pos;
    std::memcpy(b, &heads[t * TRACK_HEAD_SIZE], TRACK_HEAD_SIZE);
    write16(b, static_cast<unsigned>(len));
    std::uint8_t* e = b + TRACK_HEAD_SIZE;
    for (const Event& ev : events) {
      *e++ = ev.code;
      *e++ = ev.step;
      *e++ = ev.byte2;
      *e++ = ev.byte3;
    }
    std::memset(e, EV_END, 4);
    pos += len;
  }
  rebuild_track_table();
  return true;
}

int cmd_demo(int argc, char** argv) {
  if (argc != 2) return usage_error("demo OUT.sqf");
  if (start_song() != 0) return 1;
  if (std::strlen(argv[1]) >= FILE_NAME_SIZE) {
    std::fprintf(stderr, "File name too long\n");
    return 1;
  }
  std::uint8_t* s = image();
  put_text(SONG_TITLE, SONG_TITLE_LEN, "Ode to Joy (L. v. Beethoven) - TAKTO demo");
  const char* memo[] = {"Theme of the last movement", "of the 9th symphony, 1824.", "Tr.1 flute: a repeat and two",
                        "same-measure calls.",        "Tr.2 bass, Tr.3 strings,",   "Tr.4 drums by rhythm names."};
  for (std::size_t i = 0; i < std::size(memo); ++i) {
    put_text(SONG_MEMO + SONG_MEMO_LINE * i, SONG_MEMO_LINE, memo[i]);
  }
  s[SONG_TEMPO] = 132;
  // User exclusive 0: GS reset, with its checksum.
  std::uint8_t* gs = s + SONG_USER_EXCLUSIVES;
  put_text(SONG_USER_EXCLUSIVES, USER_EXCLUSIVE_TEMPLATE, "GS RESET");
  const std::uint8_t reset[] = {0x41, 0x10, 0x42, 0x12, 0x83, 0x40, 0x00, 0x7F, 0x00, 0x84, 0xF7};
  std::memset(gs + USER_EXCLUSIVE_TEMPLATE, 0xF7, USER_EXCLUSIVE_SIZE - USER_EXCLUSIVE_TEMPLATE);
  std::memcpy(gs + USER_EXCLUSIVE_TEMPLATE, reset, sizeof reset);

  const char* names[] = {"Melody: flute", "Bass", "Strings", "Drums"};
  for (int t = 0; t < 4; ++t) put_text(start[t] + TRACK_MEMO, TRACK_MEMO_LEN, names[t]);
  std::uint8_t* drum_head = image() + start[3];
  drum_head[TRACK_CHANNEL] = 9;
  drum_head[TRACK_RHYTHM] |= 0x80;   // notes shown by rhythm name
  drum_head[TRACK_KEY_PLUS] = 0x80;  // never transposed
  if (!set_events({melody(), bass(), strings(), drums()})) {
    std::fprintf(stderr, "the demo does not fit\n");
    return 1;
  }
  set_file_name(argv[1]);
  if (save_song() != 0) {
    for (const std::string& text : headless_alerts()) std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
  }
  return 0;
}

const bool registered = register_command("demo", "demo OUT.sqf", cmd_demo, "writes the demo song");
}  // namespace
