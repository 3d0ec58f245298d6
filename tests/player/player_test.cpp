// The player, grouped by what can break: schedule and tempo, countdowns and
// the order within a tick, notes and channel messages, exclusives, repeats and
// same-measure calls, reset and positioning, pause, and the threaded protocol.
// Most cases play a small song and compare the messages it sent; the plain
// ones are rows of plays.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <sstream>
#include <thread>

#include "common/song_builder.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "player/player.h"

namespace {

using namespace std::chrono_literals;
using Tracks = std::vector<std::vector<Event>>;
using Bytes = std::vector<std::uint8_t>;

Event ev(int c, int s = 0, int b2 = 0, int b3 = 0) {
  return Event{std::uint8_t(c), std::uint8_t(s), std::uint8_t(b2), std::uint8_t(b3)};
}
Event note(int n, int s, int gate, int velocity = 100) { return ev(n, s, gate, velocity); }
Event prog(int s, int p) { return ev(EV_PROGRAM, s, p); }  // a marker of when a step ran
Event cc(int s, int c, int v) { return ev(EV_CONTROL, s, c, v); }
Event call(int m) { return ev(EV_SAME_MEASURE, m - 1, 44); }  // measure m; relink sets the link
Event rend(int count) { return ev(EV_REPEAT_END, count); }
const Event RS = ev(EV_REPEAT_START), ME = ev(EV_MEASURE_END);
constexpr std::uint32_t at(int n) { return TRACK_HEAD_SIZE + 4 * n; }

std::string hex(const Bytes& bytes) {
  std::string s;
  for (std::uint8_t b : bytes) s += {' ', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s.substr(s.empty() ? 0 : 1);
}

// Every message is recorded with the player's tick and track.
const bool stamped = (headless_set_midi_stamp([] { return MidiStamp{tick.load(), work_track}; }), true);

void run_ms(int ms) {
  while (ms-- > 0) headless_advance_clock(1), on_timer();
}
void run_to_tick(std::int32_t last) {
  for (int guard = 0; tick.load() < last && guard < 1 << 24; ++guard) run_ms(1);
}
// "MS:TICK " for each tick up to `last`, before the clock reads `ms` (signed: it may wrap).
std::string tick_times(std::int32_t last, std::int32_t ms) {
  std::string times;
  for (std::int32_t seen = tick.load(), now = 0; seen < last && (now = std::int32_t(host_time_ms())) < ms; run_ms(1))
    if (tick != seen) seen = tick, times += std::to_string(now) + ":" + std::to_string(seen) + " ";
  return times;
}

// What was sent, as "TICK HH HH|...".
std::string sent() {
  std::string s;
  for (const auto& m : headless_sent_midi()) s += (s.empty() ? "" : "|") + std::to_string(m.tick) + " " + hex(m.bytes);
  return s;
}

// One play of a new song: its tracks, how far to run, a change to the song,
// the start track and offset, and whether the change is made after the start
// (links damaged after the start's relink).
struct Play {
  Tracks tracks;
  int until;
  std::function<void()> setup = {};
  int track = 0;
  std::uint32_t offset = at(0);
  bool after_start = false;
};

// The command prompt's play start. As takto-cli trace does: a timer call while
// stopped puts the schedule at the clock, then the play, 1 ms a call.
std::string play(const Play& p) {
  new_song();
  EXPECT_TRUE(set_tracks(p.tracks));
  headless_clear_midi();
  if (p.setup && !p.after_start) p.setup();
  player_reset();
  current_track = p.track;
  screen_mode.store(MODE_COMMAND);
  on_timer();
  start_play(p.offset, MODE_PLAY_MONITOR);
  if (p.setup && p.after_start) p.setup();
  run_to_tick(p.until);
  return sent();
}

// The plays of plays.txt, beside this test: each a Play, the bytes written
// into the song before it (track or -1 for the song's header, offset, value),
// what it sends, and what the player shows at the end.
struct PlayCase {
  std::string what, want;
  Play play;
  std::vector<std::array<int, 3>> writes;
  std::vector<std::pair<std::string, std::int64_t>> shown;
};

Event parse_event(std::string word) {
  static const std::map<std::string, int> names{
      {"prog", EV_PROGRAM},   {"cc", EV_CONTROL},      {"bend", EV_PITCH},      {"ch", EV_MIDI_CH},
      {"tempo", EV_TEMPO},    {"key", EV_MUSIC_KEY},   {"rs", EV_REPEAT_START}, {"re", EV_REPEAT_END},
      {"me", EV_MEASURE_END}, {"excl", EV_TRACK_EXCL}, {"cont", EV_CONTINUE},   {"scan", EV_KEY_SCAN},
      {"bank", EV_BANK_PRG},  {"afterc", EV_AFTER_C},  {"afterk", EV_AFTER_K},  {"rdev", EV_ROL_DEV},
      {"rbase", EV_ROL_BASE}, {"rpara", EV_ROL_PARA}};
  std::replace(word.begin(), word.end(), ':', ' ');
  std::istringstream in(word);
  std::string name;
  int v[3] = {};
  in >> name >> std::setbase(0) >> v[0] >> v[1] >> v[2];  // the missing ones stay 0
  if (name == "call") return call(v[0]);
  return ev(names.contains(name) ? names.at(name) : std::stoi(name, nullptr, 0), v[0], v[1], v[2]);
}

std::vector<PlayCase> load_plays() {
  static const std::map<std::string, int> fields{
      {"channel", TRACK_CHANNEL}, {"keyplus", TRACK_KEY_PLUS}, {"stepplus", TRACK_STEP_PLUS}, {"mode", TRACK_MODE}};
  std::ifstream file(std::filesystem::path(__FILE__).parent_path() / "plays.txt");
  std::vector<PlayCase> plays;
  for (std::string line; std::getline(file, line);) {
    std::istringstream in(line);
    std::string key, name;
    int a = 0, b = 0;
    in >> key >> std::ws >> std::setbase(0);
    if (key == "play") plays.emplace_back();
    if (plays.empty()) continue;
    PlayCase& c = plays.back();
    Play& p = c.play;
    if (key == "play" || key == "want") std::getline(in, key == "play" ? c.what : c.want);
    if (key == "track") p.tracks.emplace_back();
    for (std::string w; key == "track" && in >> w;) p.tracks.back().push_back(parse_event(w));
    if (key == "head" && in >> a >> name >> b)
      c.writes.push_back({a - 1, fields.contains(name) ? fields.at(name) : std::stoi(name), b});
    if (key == "bias" && in >> b) c.writes.push_back({-1, int(SONG_PLAY_BIAS), b});
    if (key == "user" && in >> a) {  // the template, the rest F7
      const int t = int(SONG_USER_EXCLUSIVES + (a - 1) * USER_EXCLUSIVE_SIZE + USER_EXCLUSIVE_TEMPLATE);
      for (int i = 0; i < 24; ++i) c.writes.push_back({-1, t + i, 0xF7});
      for (int i = 0; in >> std::hex >> b; ++i) c.writes.push_back({-1, t + i, b});
    }
    if (key == "start" && in >> a >> b) p.track = a - 1, p.offset = at(b);
    if (key == "until") in >> p.until;
    p.after_start |= key == "after";
    for (std::int64_t v; key == "show" && in >> name >> v;) c.shown.push_back({name, v});
  }
  return plays;
}

TEST(Plays, FromTheTable) {
  const std::vector<PlayCase> plays = load_plays();
  ASSERT_EQ(plays.size(), 44u) << "plays.txt read whole";
  for (PlayCase c : plays) {
    SCOPED_TRACE(c.what);
    c.play.setup = [&c] {
      for (auto [t, offset, v] : c.writes) image()[(t < 0 ? 0 : start[t]) + offset] = std::uint8_t(v);
      selected_steps.store(0);
    };
    EXPECT_EQ(play(c.play), c.want);
    const std::map<std::string, std::int64_t> now{
        {"measure", measure[0]}, {"steps", selected_steps}, {"us", us_per_tick}, {"keyvalue", key_value}};
    for (const auto& [name, v] : c.shown) EXPECT_EQ(now.at(name), v) << name;
  }
}

TEST(Clock, RelativeTempo) {
  const std::uint32_t rows[][3] = {{120, 64, 10417}, {31, 65, 39063}, {120, 32, 20833}, {120, 0, 125000},
                                   {9, 64, 125000},  {241, 64, 5208}};  // base tempo, factor, microseconds
  for (const auto& r : rows) {
    base_tempo = r[0];
    set_relative_tempo(r[1]);
    EXPECT_EQ(us_per_tick.load(), r[2]) << r[0] << " x " << r[1];
  }
}

TEST(Clock, ScheduleFollowsTheClockUntilTheHostStartsItThenCarriesMicroseconds) {
  // Stale schedule values, 21 ms before the millisecond counter wraps: the
  // clock replaces them while it stands, and the host holds the first tick
  // back twice. The track monitor is the other mode in which the clock runs.
  headless_hold_clock_start(2);
  play({{}, 0, [] { next_tick_ms = 12345, remainder_us = 999, headless_set_clock(0u - 21); }});
  screen_mode.store(MODE_TRACK_MONITOR);
  EXPECT_EQ(tick_times(15, 1000), "-18:10 -8:11 2:12 13:13 23:14 34:15 ");
  next_tick_ms = 100, remainder_us = 0;  // a call 35 ms late runs every overdue tick
  headless_set_clock(135);
  on_timer();
  EXPECT_EQ(std::vector<std::int64_t>({tick, next_tick_ms, remainder_us}), std::vector<std::int64_t>({19, 141, 668}));
  paused.store(1), run_ms(5), paused.store(0), run_ms(5);  // a pause does not ask the host again
  EXPECT_EQ(headless_clock_start_asks(), 3);
  // A stop and a start do.
  screen_mode.store(MODE_COMMAND), run_ms(1), screen_mode.store(MODE_TRACK_MONITOR), run_ms(1);
  EXPECT_EQ(headless_clock_start_asks(), 4);
}

TEST(Clock, PauseSilencesEachTrackAndResumesWithoutBurst) {
  play({{{note(60, 0, 30), note(64, 20, 30), note(67, 1, 1)}, {note(61, 1, 50)}}, 15});
  EXPECT_EQ(level[0].load(), 195) << "twice the velocity, less one a tick";
  stop_play();
  run_ms(500);
  paused.store(0);
  for (int i = 0; i < 20 && tick.load() == 15; ++i) run_ms(1);
  EXPECT_EQ(tick.load(), 16);
  run_to_tick(41);  // the silenced notes still end on their gates, also after their track has ended
  EXPECT_EQ(sent(),
            "10 90 3C 64|10 90 40 64|10 91 3D 64|15 90 3C 00|15 90 40 00|15 91 3D 00|"
            "30 90 43 64|31 90 43 00|40 90 3C 00|40 90 40 00");
}

TEST(Clock, ZeroTimeLoopCannotHoldTheTimer) {
  // Five nested repeats of 256 passes around a zero-time event would run for
  // days in one tick; the track waits a tick after 65,536 events instead.
  play({{{RS, RS, RS, RS, RS, cc(0, 64, 0), rend(0), rend(0), rend(0), rend(0), rend(0)}, {prog(2, 1)}}, 12});
  EXPECT_EQ(ended[0].load() * 2 + ended[1].load(), 1) << "the other tracks go on";
  EXPECT_NEAR(headless_sent_count(), 3 * 65536 / 2, 400) << "3 steps, nearly half of them controllers";
}

TEST(Events, TrackExclusivesAreCutAndGoOnceThroughABusyDriver) {
  // Whole at 253 bytes; longer ones are cut to 253 (also between the two
  // bytes of one event), and an F7 or a checksum past the cut is not read. A
  // busy driver: unprepare is retried until it lets go; prepared and sent once.
  for (int length : {253, 255, 400}) {
    Bytes body;
    for (int i = 0; i < length; ++i) body.push_back(std::uint8_t(i == 300 ? 0x84 : i == 301 ? 0xF7 : i % 100));
    std::vector<Event> e{ev(EV_TRACK_EXCL)};
    for (int i = 0; i < length; i += 2) e.push_back(ev(EV_CONTINUE, 0, body[i], i + 1 < length ? body[i + 1] : 0xF7));
    e.push_back(prog(1, 9));
    std::string got = play({{e}, 10, [] { headless_midi_busy(3); }});
    body.resize(length > 253 ? 253 : length);
    EXPECT_EQ(got, "10 F0 " + hex(body) + " F7|10 C0 09") << length;
    const MidiHeaderCalls c = headless_midi_header_calls();
    EXPECT_EQ(std::vector<int>({c.prepare, c.send, c.unprepare, c.faults}), std::vector<int>({1, 1, 4, 0})) << length;
  }
}

TEST(Start, ResetReadsTheHeaderAndForgetsTheLastPlay) {
  play({{{RS, note(60, 1, 100), ME, call(1)}}, 11});
  ASSERT_TRUE(return_position[0] && repeat_depth[0] && sounding[0] && level[0] && ended[1]);
  std::uint8_t* names = image() + SONG_RHYTHM_NAMES + RHYTHM_NAME_NOTE;
  names[RHYTHM_NAME_SIZE * 3] = names[RHYTHM_NAME_SIZE * 20] = 38, names[RHYTHM_NAME_SIZE * 5] = 128;  // 128: no note
  image()[SONG_TEMPO] = 60, image()[SONG_KEY] = 0x19;
  headless_clear_midi();
  player_reset();
  EXPECT_EQ(sent(), "") << "a reset ends no notes";
  EXPECT_EQ(std::vector<std::int64_t>({us_per_tick, key_value, drum_map[38], drum_map[36], drum_map[51], measure[0]}),
            std::vector<std::int64_t>({20833, 7, 838, 758, 0, 1}));
  EXPECT_EQ(return_position[0] + repeat_depth[0] + sounding[0] + ended[1] + slots[0][0].gate_left + tick, 0u);
}

TEST(Start, EndlessRepeatsDoNotHangTheStart) {
  // Five nested repeats of 256 passes around a 255-tick rest, or around a
  // zero-time event: a start point after them (the end) is beyond any reach.
  for (Event inner : {ev(200, 255), ev(EV_MUSIC_KEY, 1)}) {
    play({{{RS, RS, RS, RS, RS, inner, rend(0), rend(0), rend(0), rend(0), rend(0)}}, 0, {}, 0, at(11)});
    EXPECT_TRUE(seek_target == 0 && !ended[0] && tick <= START_TICK_LIMIT) << tick;
  }
}

TEST(Start, StartEventPlaysOnTheClocksFirstTick) {
  // Zero-time events beyond the per-step limit make the track wait a tick; the start search counts that too.
  const Tracks song{{ev(200, 5), RS, RS, cc(0, 64, 0), rend(0), rend(0), note(60, 2, 1), note(62, 2, 1)}};
  auto tick_of_62 = [](const std::string& s) {
    std::size_t end = s.find(" 90 3E 64"), begin = s.rfind('|', end);
    return s.substr(begin + 1, end - begin - 1);
  };
  std::string whole = tick_of_62(play({song, 40}));
  EXPECT_EQ(tick_of_62(play({song, 40, {}, 0, at(7)})), whole);
  play({song, 0, {}, 0, at(7)});
  EXPECT_EQ(std::to_string(tick.load() + 1), whole) << "the clock's first tick";
}

// The play start, pause and stop protocol with a real 1 ms timer thread, while
// the test reads what the play monitor reads.
TEST(PlayerThreads, StartPauseStop) {
  constexpr auto relaxed = std::memory_order_relaxed;  // as the play monitor reads
  Tracks song(TRACK_COUNT);
  for (int t = 0; t < TRACK_COUNT; ++t)  // chords of three, gates of 1 to 9 ticks, an exclusive every 8 ticks
    for (int i = 0; i < 1200; ++i)
      song[t].push_back(i % 24 ? note(40 + (t + i) % 40, i % 3 / 2, 1 + i % 9) : ev(EV_USER_EXCL0));
  play({song, 0, [] { image()[SONG_TEMPO] = 240; }});  // ticks of about 5 ms
  screen_mode.store(MODE_COMMAND);                     // stopped again, to start while the timer runs
  std::atomic<bool> quit{false};
  std::thread timer([&] {
    while (!quit.load()) headless_advance_clock(1), on_timer(), std::this_thread::sleep_for(1ms);
  });
  player_reset();
  for (bool stop : {false, true}) {
    stop ? paused.store(0) : start_play(at(0), MODE_PLAY_MONITOR);  // the second time, resumed after the pause
    for (std::int32_t until = tick + 40, ms = 0; tick < until && ms++ < 20000; std::this_thread::sleep_for(1ms))
      for (int t = 0; t < TRACK_COUNT; ++t)  // positions before the track's end, levels up to twice velocity 100
        EXPECT_TRUE(position[t].load(relaxed) < track_end(t) && level[t].load(relaxed) <= 200) << t;
    // A pause, then a stop, while a tick waits for the driver to take an exclusive: the stop must wait for
    // that tick, whose later tracks start notes. Every struck key has had its note-off last; nothing follows.
    const int spinning = headless_midi_header_calls().unprepare + 1000;
    headless_midi_busy(1 << 18);
    for (int i = 0; i < 1 << 24 && headless_midi_header_calls().unprepare < spinning; ++i) std::this_thread::yield();
    stop_play();
    if (stop) screen_mode.store(MODE_COMMAND);
    const std::size_t count = headless_sent_count();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(headless_sent_count(), count);
    std::map<int, int> last;  // channel << 8 | note -> last velocity
    for (const SentMidi& m : headless_sent_midi())
      if ((m.bytes[0] & 0xF0) == 0x90) last[(m.bytes[0] & 15) << 8 | m.bytes[1]] = m.bytes[2];
    EXPECT_FALSE(last.empty());
    for (const auto& [key, velocity] : last) EXPECT_EQ(velocity, 0) << std::hex << key;
  }
  quit.store(true);
  timer.join();
}

}  // namespace
