// takto-cli: trace, export-midi. Both play a song on the virtual clock and
// take what the player sent.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/play.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "host/replace_file.h"
#include "player/player.h"
#include "song/song.h"

namespace {

constexpr const char* TRACE_USAGE = "trace SONG.sqf [--track N] [--offset BYTES] [--ms MS]";
constexpr const char* EXPORT_USAGE = "export-midi SONG.sqf OUT.mid [--track N] [--offset BYTES]";

MidiStamp player_stamp() { return MidiStamp{tick.load(std::memory_order_relaxed), work_track}; }

bool parse_number(const char* text, long long low, long long high, long long& out) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != 0 || v < low || v > high) return false;
  out = v;
  return true;
}

bool all_ended() {
  for (const auto& e : ended)
    if (!e.load(std::memory_order_relaxed)) return false;
  return true;
}

}  // namespace

int parse_play_option(int argc, char** argv, int i, bool allow_ms, PlayOptions& o) {
  const std::string name = argv[i];
  const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
  long long v = 0;
  if (name == "--track") {
    if (!parse_number(value, 1, TRACK_COUNT, v)) return -1;
    o.track = static_cast<int>(v);
  } else if (name == "--offset") {
    if (!parse_number(value, 0, 0x7FFFFFFF, v)) return -1;
    o.offset = v;
  } else if (allow_ms && name == "--ms") {
    if (!parse_number(value, 0, PLAY_LIMIT_MS, v)) return -1;
    o.ms = v;
  } else {
    return 0;
  }
  return 2;
}

bool parse_play_options(int argc, char** argv, int first, bool allow_ms, PlayOptions& o) {
  for (int i = first; i < argc;) {
    int took = parse_play_option(argc, argv, i, allow_ms, o);
    if (took <= 0) return false;
    i += took;
  }
  return true;
}

int play_song(const PlayOptions& o, PlayResult& result, const MidiSink& sink) {
  auto hand_on = [&] {
    for (const SentMidi& m : headless_take_midi()) sink(m, result);
  };
  if (start_song() != 0) return 1;
  if (std::strlen(o.song) >= FILE_NAME_SIZE) {
    std::fprintf(stderr, "File name too long\n");
    return 1;
  }
  set_file_name(o.song);
  headless_clear_alerts();
  if (!load_song()) {
    for (const std::string& text : headless_alerts()) std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
  }
  headless_set_clock(0);
  headless_clear_midi();
  headless_set_midi_stamp(player_stamp);

  // After a load the view is reset, which rebuilds the track table.
  player_reset();
  current_track = o.track - 1;
  // A timer call while stopped puts the schedule at clock 0, so the first
  // tick runs on the call at 1 ms.
  screen_mode.store(MODE_COMMAND);
  on_timer();
  start_play(static_cast<std::uint32_t>(o.offset), MODE_PLAY_MONITOR);
  result.first_tick = tick.load() + 1;
  hand_on();
  std::uint32_t tempo = us_per_tick.load();
  result.tempi.push_back({result.first_tick, tempo * 48});

  const long long limit = o.ms >= 0 ? o.ms : PLAY_LIMIT_MS;
  for (long long now = 0;; ++now) {
    headless_set_clock(static_cast<std::uint32_t>(now));
    on_timer();
    // At most one tick runs per call (a tick is at least 5 ms), so a change
    // seen here belongs to the tick just run.
    if (us_per_tick.load() != tempo) {
      tempo = us_per_tick.load();
      result.tempi.push_back({tick.load(), tempo * 48});
    }
    bool end = all_ended();
    if (end) stop_play();
    hand_on();
    if (end || now >= limit) break;
  }
  screen_mode.store(MODE_COMMAND);
  headless_set_midi_stamp(nullptr);
  return 0;
}

namespace {

int cmd_trace(int argc, char** argv) {
  PlayOptions o;
  if (argc < 2 || !parse_play_options(argc, argv, 2, true, o)) return usage_error(TRACE_USAGE);
  o.song = argv[1];
  PlayResult r;
  auto print = [](const SentMidi& m, const PlayResult&) {
    std::printf("%u %d", m.ms, m.tick);
    for (std::uint8_t b : m.bytes) std::printf(" %02X", b);
    std::putchar('\n');
  };
  // A failed write is reported by main.
  return play_song(o, r, print);
}

// --- Standard MIDI File ---

void put_varlen(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while (v >>= 7) tmp[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
  while (n) out.push_back(tmp[--n]);
}

void put_be(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One MTrk chunk being written: events with absolute times.
struct TrackChunk {
  std::vector<std::uint8_t> data;
  std::uint32_t now = 0;

  void at(std::uint32_t time) {
    put_varlen(data, time - now);
    now = time;
  }
  void append_to(std::vector<std::uint8_t>& file) {
    at(now);  // end of track, with the last event
    data.insert(data.end(), {0xFF, 0x2F, 0x00});
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put_be(file, static_cast<std::uint32_t>(data.size()), 4);
    file.insert(file.end(), data.begin(), data.end());
  }
};

std::uint32_t file_time(std::int32_t t, std::int32_t first) {
  std::int64_t d = static_cast<std::int64_t>(t) - first;
  return d < 0 ? 0 : static_cast<std::uint32_t>(d);
}

// Appends one sent message to its track's chunk.
void add_message(std::vector<TrackChunk>& tracks, const SentMidi& m, const PlayResult& r) {
  if (m.track < 0 || m.track >= TRACK_COUNT || m.bytes.empty()) return;
  TrackChunk& c = tracks[m.track];
  c.at(file_time(m.tick, r.first_tick));
  // A file cannot hold data bytes above 7F: they are masked here only.
  if (m.exclusive) {
    c.data.push_back(0xF0);
    put_varlen(c.data, static_cast<std::uint32_t>(m.bytes.size() - 1));
    for (std::size_t i = 1; i + 1 < m.bytes.size(); ++i) c.data.push_back(m.bytes[i] & 0x7F);
    c.data.push_back(0xF7);
  } else {
    c.data.push_back(m.bytes[0]);
    for (std::size_t i = 1; i < m.bytes.size(); ++i) c.data.push_back(m.bytes[i] & 0x7F);
  }
}

// The whole file: a tempo track, then each song track named by its memo.
std::vector<std::uint8_t> build_smf(const PlayResult& r, const std::vector<TrackChunk>& tracks) {
  std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
  put_be(file, TRACK_COUNT + 1, 2);
  put_be(file, 48, 2);

  TrackChunk tempo;
  for (const TempoChange& c : r.tempi) {
    tempo.at(file_time(c.tick, r.first_tick));
    tempo.data.insert(tempo.data.end(), {0xFF, 0x51, 0x03});
    put_be(tempo.data, c.us_per_quarter, 3);
  }
  tempo.append_to(file);

  for (int t = 0; t < TRACK_COUNT; ++t) {
    const std::uint8_t* memo = image() + start[t] + TRACK_MEMO;
    std::size_t n = TRACK_MEMO_LEN;
    while (n > 0 && memo[n - 1] == ' ') --n;
    TrackChunk named;  // the name at time 0, then the messages
    named.at(0);
    named.data.insert(named.data.end(), {0xFF, 0x03});
    put_varlen(named.data, static_cast<std::uint32_t>(n));
    named.data.insert(named.data.end(), memo, memo + n);
    named.data.insert(named.data.end(), tracks[t].data.begin(), tracks[t].data.end());
    named.now = tracks[t].now;
    named.append_to(file);
  }
  return file;
}

int cmd_export(int argc, char** argv) {
  PlayOptions o;
  if (argc < 3 || !parse_play_options(argc, argv, 3, false, o)) return usage_error(EXPORT_USAGE);
  o.song = argv[1];
  PlayResult r;
  std::vector<TrackChunk> tracks(TRACK_COUNT);
  auto add = [&](const SentMidi& m, const PlayResult& result) { add_message(tracks, m, result); };
  if (play_song(o, r, add) != 0) return 1;
  const std::vector<std::uint8_t> smf = build_smf(r, tracks);
  std::string why;
  if (!replace_file(argv[2], [&](std::FILE* f) { return std::fwrite(smf.data(), 1, smf.size(), f) == smf.size(); },
                    &why)) {
    std::fprintf(stderr, "Cannot write %s: %s\n", argv[2], why.c_str());
    return 1;
  }
  return 0;
}

const bool registered = register_command("trace", TRACE_USAGE, cmd_trace) &&
                        register_command("export-midi", EXPORT_USAGE, cmd_export);

}  // namespace
