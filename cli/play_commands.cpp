// takto-cli: trace, export-midi. Both play a song on the virtual clock and
// take what the player sent.
#include <unistd.h>

#include <algorithm>
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

int play_start(SongPlay& p) {
  const PlayOptions& o = p.options;
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
  p.result.first_tick = tick.load() + 1;
  for (const SentMidi& m : headless_take_midi()) p.sink(m, p.result);
  p.tempo = us_per_tick.load();
  if (o.on_tempo) o.on_tempo({p.result.first_tick, p.tempo * 48});
  p.over = false;
  return 0;
}

void play_ms(SongPlay& p, long long now) {
  if (p.over) return;
  headless_set_clock(static_cast<std::uint32_t>(now));
  on_timer();
  // At most one tick runs per call (a tick is at least 5 ms), so a change
  // seen here belongs to the tick just run. That tick's interval was
  // scheduled before it ran: the new tempo times the ticks after it.
  if (us_per_tick.load() != p.tempo) {
    p.tempo = us_per_tick.load();
    if (p.options.on_tempo) p.options.on_tempo({tick.load() + 1, p.tempo * 48});
  }
  const bool end = all_ended();
  if (end) stop_play();
  for (const SentMidi& m : headless_take_midi()) p.sink(m, p.result);
  const long long limit = p.options.ms >= 0 ? p.options.ms : PLAY_LIMIT_MS;
  if (end || now >= limit) {
    p.over = true;
    screen_mode.store(MODE_COMMAND);
    headless_set_midi_stamp(nullptr);
  }
}

int play_song(const PlayOptions& o, PlayResult& result, const MidiSink& sink) {
  SongPlay p{o, sink, result};
  const int refused = play_start(p);
  for (long long now = 0; refused == 0 && !p.over; ++now) play_ms(p, now);
  return refused;
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

// A track chunk's length field has 32 bits.
constexpr std::uint64_t CHUNK_MAX = 0xFFFFFFFFu;

struct ChunkTooLong {
  int track;  // 0 for the tempo track, else the song track 1-18
};

// One MTrk chunk's events, written as they come into an unnamed temporary
// file, so that an export needs the same memory however long the song plays.
struct SpillChunk {
  std::FILE* f = nullptr;
  std::uint64_t size = 0;
  std::uint32_t now = 0;
  int track = 0;

  SpillChunk() = default;
  SpillChunk(const SpillChunk&) = delete;
  SpillChunk& operator=(const SpillChunk&) = delete;
  ~SpillChunk() {
    if (f) std::fclose(f);
  }
  void put(std::uint8_t b) {
    std::putc(b, f);
    ++size;
  }
  void put_varlen(std::uint32_t v) {
    std::uint8_t bytes[5];
    const int n = midi_varlen(v, bytes);
    for (int i = 0; i < n; ++i) put(bytes[i]);
  }
  void at(std::uint32_t time) {
    put_varlen(time - now);
    now = time;
  }
  // Room for the chunk's head and end, at most 4 + 36 + 4 bytes, is kept.
  void check() const {
    if (size + 64 > CHUNK_MAX) throw ChunkTooLong{track};
  }
};

std::uint32_t file_time(std::int32_t t, std::int32_t first) {
  std::int64_t d = static_cast<std::int64_t>(t) - first;
  return d < 0 ? 0 : static_cast<std::uint32_t>(d);
}

// Appends one sent message to its track's chunk.
void add_message(SpillChunk* tracks, const SentMidi& m, const PlayResult& r) {
  if (m.track < 0 || m.track >= TRACK_COUNT || m.bytes.empty()) return;
  SpillChunk& c = tracks[m.track];
  c.at(file_time(m.tick, r.first_tick));
  // A file cannot hold data bytes above 7F: they are masked here only.
  if (m.exclusive) {
    c.put(0xF0);
    c.put_varlen(static_cast<std::uint32_t>(m.bytes.size() - 1));
    for (std::size_t i = 1; i + 1 < m.bytes.size(); ++i) c.put(m.bytes[i] & 0x7F);
    c.put(0xF7);
  } else {
    c.put(m.bytes[0]);
    for (std::size_t i = 1; i < m.bytes.size(); ++i) c.put(m.bytes[i] & 0x7F);
  }
  c.check();
}

bool put_be(std::FILE* out, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    if (std::putc(static_cast<std::uint8_t>(v >> (8 * i)), out) == EOF) return false;
  return true;
}

// One chunk into the file: `head` (the track name), the spilled events, and
// the end of track with the last event.
bool copy_chunk(std::FILE* out, const std::vector<std::uint8_t>& head, SpillChunk& c) {
  const std::uint8_t end[] = {0x00, 0xFF, 0x2F, 0x00};
  if (std::fflush(c.f) != 0 || std::ferror(c.f) || std::fseek(c.f, 0, SEEK_SET) != 0) return false;
  if (std::fwrite("MTrk", 1, 4, out) != 4 || !put_be(out, static_cast<std::uint32_t>(head.size() + c.size + 4), 4))
    return false;
  if (std::fwrite(head.data(), 1, head.size(), out) != head.size()) return false;
  char buffer[65536];
  for (std::uint64_t left = c.size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof buffer));
    if (std::fread(buffer, 1, n, c.f) != n || std::fwrite(buffer, 1, n, out) != n) return false;
    left -= n;
  }
  return std::fwrite(end, 1, sizeof end, out) == sizeof end;
}

// The whole file: the tempo track, then each song track named by its memo.
bool write_smf(std::FILE* out, SpillChunk* chunks) {
  const std::uint8_t head[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, TRACK_COUNT + 1, 0, SONG_TICKS_PER_QUARTER};
  if (std::fwrite(head, 1, sizeof head, out) != sizeof head || !copy_chunk(out, {}, chunks[0])) return false;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    const std::uint8_t* memo = image() + start[t] + TRACK_MEMO;
    std::size_t n = TRACK_MEMO_LEN;
    while (n > 0 && memo[n - 1] == ' ') --n;
    std::vector<std::uint8_t> name = {0x00, 0xFF, 0x03, static_cast<std::uint8_t>(n)};  // at time 0
    name.insert(name.end(), memo, memo + n);
    if (!copy_chunk(out, name, chunks[t + 1])) return false;
  }
  return true;
}

int cmd_export(int argc, char** argv) {
  PlayOptions o;
  if (argc < 3 || !parse_play_options(argc, argv, 3, false, o)) return usage_error(EXPORT_USAGE);
  o.song = argv[1];
  const std::string out = argv[2];
  // The tempo track, then the 18 song tracks.
  SpillChunk chunks[TRACK_COUNT + 1];
  SpillChunk& tempo = chunks[0];
  for (int t = 0; t <= TRACK_COUNT; ++t) {
    chunks[t].track = t;
    if (!(chunks[t].f = open_spill(out))) {
      std::fprintf(stderr, "Cannot write %s: no temporary file (%s)\n", out.c_str(), std::strerror(errno));
      return 1;
    }
  }
  PlayResult r;
  o.on_tempo = [&](const TempoChange& c) {
    tempo.at(file_time(c.tick, r.first_tick));
    for (std::uint8_t b : {0xFF, 0x51, 0x03}) tempo.put(b);
    for (int i = 2; i >= 0; --i) tempo.put(static_cast<std::uint8_t>(c.us_per_quarter >> (8 * i)));
    tempo.check();
  };
  try {
    if (play_song(o, r, [&](const SentMidi& m, const PlayResult& result) { add_message(chunks + 1, m, result); }) != 0)
      return 1;
  } catch (const ChunkTooLong& e) {
    std::fprintf(stderr, "Cannot write %s: track %d passes the 4 GiB a MIDI track can hold\n", out.c_str(), e.track);
    return 1;
  }
  std::string why;
  if (!replace_file(
          out, [&](std::FILE* f) { return write_smf(f, chunks); }, &why)) {
    std::fprintf(stderr, "Cannot write %s: %s\n", out.c_str(), why.c_str());
    return 1;
  }
  return 0;
}

const bool registered =
    register_command("trace", TRACE_USAGE, cmd_trace,
                     "plays the song on a virtual clock and prints every MIDI message sent") &&
    register_command("export-midi", EXPORT_USAGE, cmd_export,
                     "plays the song as trace does and writes what was sent as a Standard MIDI File");

}  // namespace

// Made in the output's folder, else in TMPDIR or /tmp, and unlinked at once:
// nothing is left behind, however the program ends.
std::FILE* open_spill(const std::string& out) {
  const std::size_t slash = out.find_last_of('/');
  std::vector<std::string> folders{slash == std::string::npos ? "." : slash == 0 ? "/" : out.substr(0, slash)};
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) folders.push_back(tmp);
  folders.push_back("/tmp");
  for (const std::string& folder : folders) {
    std::string name = folder + "/.takto-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) continue;
    ::unlink(name.c_str());
    if (std::FILE* f = ::fdopen(fd, "w+b")) return f;
    ::close(fd);
  }
  return nullptr;
}
