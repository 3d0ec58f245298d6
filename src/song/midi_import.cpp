// Standard MIDI Files brought in as songs: every event at its time in the file
// on the song's 48-tick grid, a track per channel, the file's bars as
// measures, and relative tempo changes chosen so that each note sounds when
// the file plays it.
#include <algorithm>
#include <cmath>
#include <compare>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "song/internal.h"
#include "song/song.h"

namespace {

struct Refused {
  std::string line;
};
[[noreturn]] void refuse(const std::string& line) { throw Refused{line}; }
[[noreturn]] void damaged(const std::string& what) { refuse("MIDI file damaged: " + what); }

std::uint32_t be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
unsigned be16(const std::uint8_t* p) { return p[0] << 8 | p[1]; }
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}

// File times past this many ticks are no song's.
constexpr std::uint64_t TIME_LIMIT = std::uint64_t{1} << 40;
// A track needs an event every 255 ticks, so no song lasts longer.
constexpr std::uint64_t TICK_LIMIT = std::uint64_t{255} * MAX_TRACK_EVENTS * TRACK_COUNT;
constexpr int MAX_EXCLUSIVE = 253;  // bytes between F0 and F7
constexpr int DRUM_CHANNEL = 9;
constexpr int MAX_VOICES = 16;  // notes the player sounds at once on a track

// Where an event stands in the file: its time, then its track and place, so
// that events of one time keep the file's order.
struct Key {
  std::uint64_t time;
  std::uint32_t track, seq;
  friend auto operator<=>(const Key&, const Key&) = default;
};

struct ChannelMessage {
  Key key;
  std::uint8_t status, d1, d2;
};
struct Exclusive {
  Key key;
  std::vector<std::uint8_t> data;  // between F0 and F7
};
struct Tempo {
  Key key;
  std::uint32_t us;  // per quarter note
};
struct Signature {
  Key key;
  unsigned num, pow;
};
struct KeySignature {
  Key key;
  std::uint8_t code;
};

struct File {
  std::uint64_t quarter_num = 1, quarter_den = 1;  // file ticks a quarter note: num / den
  std::vector<ChannelMessage> messages;
  std::vector<Exclusive> exclusives;
  std::vector<Tempo> tempos;
  std::vector<Signature> signatures;
  std::vector<KeySignature> keys;
  std::vector<std::uint64_t> track_end;
  std::vector<std::string> names;  // each track's first name, as it is

  // A file time on the song's grid, rounded to the nearest tick.
  std::uint64_t tick(std::uint64_t time) const { return (time * 96 * quarter_den + quarter_num) / (2 * quarter_num); }
  double exact_tick(std::uint64_t time) const {
    return static_cast<double>(time) * 48.0 * static_cast<double>(quarter_den) / static_cast<double>(quarter_num);
  }
};

std::string hex(unsigned b) {
  const char* digits = "0123456789ABCDEF";
  return {digits[(b >> 4) & 15], digits[b & 15]};
}

void read_meta(File& f, MidiImport& r, const Key& key, std::uint8_t type, const std::uint8_t* d, std::uint32_t len) {
  switch (type) {
    case 0x03:
      if (f.names[key.track].empty()) {  // an empty name is no name
        f.names[key.track].assign(reinterpret_cast<const char*>(d), len);
        return;
      }
      break;
    case 0x51:
      // Frame-timed files keep one tempo: their times are in seconds.
      if (len == 3 && !r.smpte) {
        f.tempos.push_back({key, static_cast<std::uint32_t>(d[0] << 16 | d[1] << 8 | d[2])});
        return;
      }
      break;
    case 0x58:
      if (len >= 2 && d[0] > 0 && d[1] <= 6) {
        f.signatures.push_back({key, d[0], d[1]});
        return;
      }
      break;
    case 0x59:
      if (len >= 2 && d[1] <= 1) {
        const int sf = static_cast<std::int8_t>(d[0]);
        if (sf >= -7 && sf <= 7) {
          f.keys.push_back({key, static_cast<std::uint8_t>((sf < 0 ? 8 - sf : sf) | d[1] << 4)});
          return;
        }
      }
      break;
  }
  ++r.metas_dropped;
}

void read_track(File& f, MidiImport& r, const std::uint8_t* p, std::size_t n, std::uint32_t track) {
  const std::string where = "track " + std::to_string(track + 1);
  std::size_t at = 0;
  auto byte = [&]() -> std::uint8_t {
    if (at >= n) damaged(where + " is cut short");
    return p[at++];
  };
  auto varlen = [&]() -> std::uint32_t {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint8_t b = byte();
      v = v << 7 | (b & 0x7F);
      if (!(b & 0x80)) return v;
    }
    damaged(where + ": a variable-length number does not end");
  };
  auto take = [&](std::uint32_t len) {
    if (len > n - at) damaged(where + " is cut short");
    const std::uint8_t* q = p + at;
    at += len;
    return q;
  };
  std::uint64_t time = 0;
  std::uint32_t seq = 0;
  std::uint8_t status = 0;
  long open = -1;  // the exclusive that F7 packets continue
  while (at < n) {
    time += varlen();
    if (time > TIME_LIMIT) refuse("MIDI file too long for a song (" + where + ")");
    const Key key{time, track, seq++};
    std::uint8_t b = byte();
    if (b < 0x80) {
      if (!status) damaged(where + ": running status with no status before it");
      b = status;
      --at;
    }
    if (b < 0xF0) {
      status = b;
      const std::uint8_t d1 = byte();
      const std::uint8_t d2 = (b & 0xE0) == 0xC0 ? 0 : byte();  // program and channel pressure take one
      if ((d1 | d2) & 0x80) damaged(where + ": a data byte above 7F in a channel message");
      f.messages.push_back({key, b, d1, d2});
    } else if (b == 0xF0 || b == 0xF7) {
      const std::uint32_t len = varlen();
      const std::uint8_t* d = take(len);
      if (b == 0xF0) {
        if (open >= 0) ++r.exclusives_closed;
        f.exclusives.push_back({key, {}});
        open = static_cast<long>(f.exclusives.size()) - 1;
      } else if (open < 0) {
        ++r.exclusives_dropped;  // an escape: bytes of no exclusive
        continue;
      }
      std::vector<std::uint8_t>& data = f.exclusives[open].data;
      data.insert(data.end(), d, d + len);
      if (len > 0 && d[len - 1] == 0xF7) {
        data.pop_back();
        open = -1;
      }
    } else if (b == 0xFF) {
      const std::uint8_t type = byte();
      const std::uint32_t len = varlen();
      const std::uint8_t* d = take(len);
      if (type == 0x2F) break;
      read_meta(f, r, key, type, d, len);
    } else {
      damaged(where + ": unknown event byte " + hex(b));
    }
  }
  if (open >= 0) ++r.exclusives_closed;
  f.track_end.push_back(time);
}

// The MIDI data of a RIFF "RMID" file.
void riff_data(const std::uint8_t*& bytes, std::size_t& size) {
  const std::size_t end = std::min<std::uint64_t>(size, std::uint64_t{8} + le32(bytes + 4));
  for (std::size_t at = 12; at + 8 <= end;) {
    const std::uint32_t len = le32(bytes + at + 4);
    if (len > end - at - 8) damaged("a RIFF chunk runs past the end of the file");
    if (std::memcmp(bytes + at, "data", 4) == 0) {
      bytes += at + 8;
      size = len;
      if (size < 4 || std::memcmp(bytes, "MThd", 4) != 0) damaged("the RIFF file's data is no MIDI file");
      return;
    }
    at += 8 + std::size_t{len} + (len & 1);
  }
  damaged("a RIFF MIDI file without MIDI data");
}

File read_file(const std::uint8_t* bytes, std::size_t size, MidiImport& r) {
  if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0) riff_data(bytes, size);
  if (size < 4 || std::memcmp(bytes, "MThd", 4) != 0) refuse("Not a MIDI file");
  if (size < 14) damaged("the header is cut short");
  const std::uint32_t head = be32(bytes + 4);
  if (head < 6 || head > size - 8) damaged("bad header length");
  const unsigned format = be16(bytes + 8), tracks = be16(bytes + 10), division = be16(bytes + 12);
  if (format == 2) refuse("MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1");
  if (format > 2) refuse("Unknown MIDI file format " + std::to_string(format));
  File f;
  if (division & 0x8000) {
    const unsigned fps = 256 - (division >> 8), per_frame = division & 0xFF;
    if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || per_frame == 0) damaged("bad frame rate in the header");
    // Frames as seconds, at 120 quarter notes a minute: a quarter is half a second.
    r.smpte = true;
    f.quarter_num = fps == 29 ? 30000 * per_frame : fps * per_frame;
    f.quarter_den = fps == 29 ? 2002 : 2;
  } else {
    if (division == 0) damaged("0 ticks a quarter note");
    f.quarter_num = division;
  }
  unsigned found = 0;
  for (std::size_t at = 8 + std::size_t{head}; at + 8 <= size;) {
    const bool track = std::memcmp(bytes + at, "MTrk", 4) == 0;
    const std::uint32_t len = be32(bytes + at + 4);
    if (len > size - at - 8)
      damaged(track ? "track " + std::to_string(found + 1) + " runs past the end of the file"
                    : "a chunk runs past the end of the file");
    if (track) {
      f.names.emplace_back();
      read_track(f, r, bytes + at + 8, len, found++);
    }
    at += 8 + std::size_t{len};
  }
  if (found != tracks)
    damaged("the header says " + std::to_string(tracks) + (tracks == 1 ? " track" : " tracks") + ", the file holds " +
            std::to_string(found));
  return f;
}

// --- Tempo ---

constexpr std::uint32_t effective_tempo(unsigned base, unsigned r) {
  return std::clamp((base * r + 33) >> 6, 10u, 240u);
}
constexpr std::uint32_t tick_us(std::uint32_t effective) { return (12500000 / effective + 5) / 10; }

struct TempoEvent {
  std::uint32_t tick;
  std::uint8_t factor, effective;
};

// The file's time in microseconds at each song tick, piece by piece.
struct TempoMap {
  std::vector<double> from_tick, from_us, us_per_tick;
  std::size_t at = 0;
  double us(double tick) {
    while (at + 1 < from_tick.size() && from_tick[at + 1] <= tick) ++at;
    return from_us[at] + (tick - from_tick[at]) * us_per_tick[at];
  }
};

// Picks the base tempo and the tempo changes: tick by tick, the song's
// running time is held within a few milliseconds of the file's, alternating
// between the two representable tempos around the file's.
std::uint8_t fit_tempo(const File& f, MidiImport& r, std::uint32_t end, std::vector<TempoEvent>& changes) {
  TempoMap map;
  map.from_tick.push_back(0);
  map.from_us.push_back(0);
  map.us_per_tick.push_back(500000.0 / SONG_TICKS_PER_QUARTER);
  double fastest = 0, first = 120;
  std::vector<Tempo> tempos = f.tempos;
  std::stable_sort(tempos.begin(), tempos.end(), [](const Tempo& a, const Tempo& b) { return a.key < b.key; });
  for (const Tempo& t : tempos) {
    double bpm = t.us ? 60e6 / t.us : 1e9;
    if (bpm < 10 || bpm > 240) ++r.tempos_clamped, bpm = std::clamp(bpm, 10.0, 240.0);
    if (fastest == 0) first = bpm;
    fastest = std::max(fastest, bpm);
    const double at = f.exact_tick(t.key.time);
    if (at > map.from_tick.back()) {
      map.from_us.push_back(map.us(at));
      map.from_tick.push_back(at);
      map.us_per_tick.push_back(0);
    }
    map.us_per_tick.back() = 60e6 / bpm / SONG_TICKS_PER_QUARTER;
  }
  // The header tempo is the file's first.
  unsigned base = std::clamp(static_cast<unsigned>(std::lround(first)), 10u, 240u);
  // Factors reach about four times the base: raised where the file goes faster.
  while (base < 240 && effective_tempo(base, 255) < std::min(240.0, std::ceil(fastest - 1e-9))) ++base;

  struct Choice {
    std::uint32_t us;
    std::uint8_t factor, effective;
  };
  std::vector<Choice> choices;  // one factor per tempo, fastest first
  for (unsigned k = 0; k < 256; ++k) {
    const unsigned factor = (64 + k) & 255;  // 64 first: the factor at the start
    const std::uint32_t eff = effective_tempo(base, factor);
    if (std::none_of(choices.begin(), choices.end(), [&](const Choice& c) { return c.effective == eff; }))
      choices.push_back({tick_us(eff), static_cast<std::uint8_t>(factor), static_cast<std::uint8_t>(eff)});
  }
  std::sort(choices.begin(), choices.end(), [](const Choice& a, const Choice& b) { return a.us < b.us; });

  // The representable tempos on either side of `want` microseconds a tick.
  auto around = [&](double want) {
    auto hi = std::upper_bound(choices.begin(), choices.end(), want,
                               [](double w, const Choice& c) { return w < c.us; });  // first slower
    return std::pair<const Choice&, const Choice&>{hi == choices.end() ? choices.back() : *hi,
                                                   hi == choices.begin() ? choices.front() : *(hi - 1)};
  };
  map.at = 0;
  double song = 0;
  Choice now = *std::find_if(choices.begin(), choices.end(), [&](const Choice& c) { return c.factor == 64; });
  double file_next = 0;
  for (std::uint32_t k = 0; k < end; ++k) {
    const double file_now = file_next;
    file_next = map.us(k + 1.0);
    // A change made in a tick times the interval after the next one.
    if (k >= 1) {
      // The tempos around the file's; a lead or lag past the tolerance is won
      // back over a few ticks.
      const double tolerance = 6000 + 20e-6 * file_next;
      const double lag = song - file_now;
      const double want = file_next - file_now - (std::abs(lag) > tolerance ? lag / 16 : 0);
      const auto [slower, faster] = around(want);
      auto miss = [&](const Choice& c) { return std::abs(song + c.us - file_next); };
      if ((now.us != slower.us && now.us != faster.us) || miss(now) > tolerance) {
        const Choice& best = miss(faster) <= miss(slower) ? faster : slower;
        if (best.us != now.us) changes.push_back({k - 1, best.factor, best.effective});
        now = best;
      }
    }
    song += now.us;
    // While the file's tempo holds and the song stays inside the tolerance,
    // nothing changes: those ticks go by at once.
    const std::size_t piece = map.at;
    const double per = map.us_per_tick[piece], lag = song - file_next;
    const double tolerance = 6000 + 20e-6 * file_next, drift = now.us - per;
    const auto [slower, faster] = around(per);
    if (k >= 1 && std::abs(lag) <= tolerance && (now.us == slower.us || now.us == faster.us)) {
      double room = drift == 0 ? 1e18 : (tolerance - (drift > 0 ? lag : -lag)) / std::abs(drift) - 1;
      if (piece + 1 < map.from_tick.size()) room = std::min(room, map.from_tick[piece + 1] - (k + 2.0));
      room = std::min(room, static_cast<double>(end) - (k + 2.0));
      if (room >= 1) {
        const std::uint32_t skip = static_cast<std::uint32_t>(room);
        song += skip * now.us;
        k += skip;
        file_next = map.us(k + 1.0);
      }
    }
  }
  return static_cast<std::uint8_t>(base);
}

// --- Tracks ---

struct Note {
  std::uint32_t start, end;
  std::uint8_t pitch, velocity;
  Key key;
};

// One event (or exclusive) of a song track at its tick.
struct Item {
  std::uint32_t tick;
  Key key;
  Event ev;
  long exclusive = -1;
};
bool before(const Item& a, const Item& b) { return a.tick != b.tick ? a.tick < b.tick : a.key < b.key; }

// A song track in the making: a channel's main track (its channel messages)
// or one more voice of its notes.
struct Part {
  int channel;
  std::vector<Item> items;
  std::vector<std::vector<Event>> blocks;  // as it goes into one or more track blocks
};

struct Cut {
  std::uint32_t tick;
  std::size_t events, item;  // events before the items of the tick; the first item there
};

// The events of items[0..count), with measure ends at the bar lines and rests
// between, up to `end`. `cuts`, when given, gets every tick where the events
// could be split.
std::vector<Event> lay_out(const std::vector<Item>& items, std::size_t count, std::uint32_t end,
                           const std::vector<std::uint32_t>& bars, const File& f, std::vector<Cut>* cuts) {
  std::vector<Event> out;
  long last = -1;  // the event whose step grows while time passes
  std::uint32_t pos = 0;
  std::size_t bar = 0;
  auto fill = [&](std::uint32_t gap) {
    while (gap > 0) {
      if (last < 0 || out[last].step == 255) {
        out.push_back({0, 0, 0, 0});  // a rest: gate and velocity 0
        last = static_cast<long>(out.size()) - 1;
      }
      const std::uint32_t add = std::min<std::uint32_t>(gap, 255 - out[last].step);
      out[last].step = static_cast<std::uint8_t>(out[last].step + add);
      gap -= add;
    }
  };
  // Up to tick t, where item `next` is due; a measure end is a place to cut too.
  auto advance = [&](std::uint32_t t, std::size_t next) {
    for (; bar < bars.size() && bars[bar] <= t; ++bar) {
      fill(bars[bar] - pos);
      pos = bars[bar];
      out.push_back({EV_MEASURE_END, 0, 0, 0});
      last = -1;
      if (cuts && pos < t) cuts->push_back({pos, out.size(), next});
    }
    fill(t - pos);
    pos = t;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const Item& it = items[i];
    if (i == 0 || it.tick != items[i - 1].tick) {
      advance(it.tick, i);
      if (cuts) cuts->push_back({it.tick, out.size(), i});
    }
    out.push_back(it.ev);
    last = takes_time(it.ev.code) ? static_cast<long>(out.size()) - 1 : -1;
    if (it.exclusive >= 0) {
      const std::vector<std::uint8_t>& d = f.exclusives[it.exclusive].data;
      for (std::size_t k = 0; k < d.size(); k += 2)
        out.push_back({EV_CONTINUE, 0, d[k], k + 1 < d.size() ? d[k + 1] : static_cast<std::uint8_t>(0xF7)});
    }
  }
  advance(end, count);
  return out;
}

// Splits a part's events into blocks: a part too long for one goes on in
// another, which changes to the part's channel first.
void split(Part& p, std::uint32_t end, const std::vector<std::uint32_t>& bars, const File& f) {
  std::vector<Item> items = std::move(p.items);
  for (std::uint32_t from = 0;;) {
    std::vector<Cut> cuts;
    std::vector<Event> all = lay_out(items, items.size(), end, bars, f, &cuts);
    if (all.size() <= static_cast<std::size_t>(MAX_TRACK_EVENTS)) {
      p.blocks.push_back(std::move(all));
      return;
    }
    // The latest place that leaves a full block and gets further than the last one.
    const Cut* cut = nullptr;
    std::uint32_t over = end;
    for (const Cut& c : cuts)
      if (c.events > static_cast<std::size_t>(MAX_TRACK_EVENTS))
        over = std::min(over, c.tick);
      else if (c.tick > from)
        cut = &c;
    if (!cut) {
      const auto bar = std::upper_bound(bars.begin(), bars.end(), over) - bars.begin() + 1;
      refuse("MIDI file does not fit a song: channel " + std::to_string(p.channel + 1) +
             " needs more than a track's events up to bar " + std::to_string(bar));
    }
    p.blocks.push_back(lay_out(items, cut->item, cut->tick, bars, f, nullptr));
    from = cut->tick;
    const Item change{from, Key{0, 0, 0}, {EV_MIDI_CH, 0, static_cast<std::uint8_t>(p.channel + 1), 0}};
    items.erase(items.begin(), items.begin() + static_cast<long>(cut->item));
    items.insert(items.begin(), change);
  }
}

// The bar lines after 0 up to `end`, from the time signatures (4/4 before the first).
std::vector<std::uint32_t> bar_lines(const File& f, std::uint32_t end) {
  std::vector<Signature> sigs = f.signatures;
  std::stable_sort(sigs.begin(), sigs.end(), [](const Signature& a, const Signature& b) { return a.key < b.key; });
  unsigned num = 4, pow = 2;
  std::size_t i = 0;
  auto apply = [&](double at) {
    for (; i < sigs.size() && f.exact_tick(sigs[i].key.time) <= at + 1e-6; ++i) num = sigs[i].num, pow = sigs[i].pow;
  };
  apply(0);
  std::vector<std::uint32_t> bars;
  for (double pos = 0;;) {
    double next = pos + num * 192.0 / (1u << pow);
    // A signature inside a bar starts a bar of its own there.
    if (i < sigs.size()) next = std::min(next, f.exact_tick(sigs[i].key.time));
    pos = next;
    apply(pos);
    const double t = std::floor(pos + 0.5);
    if (t > end) return bars;
    if (bars.empty() || t > bars.back()) bars.push_back(static_cast<std::uint32_t>(t));
    // Every track holds a measure end a bar.
    if (bars.size() > static_cast<std::size_t>(MAX_TRACK_EVENTS))
      refuse("MIDI file too long for a song: more bars than a track holds");
  }
}

struct Song {
  std::uint8_t tempo, key = 0, beat_num = 4, beat_den = 4;
  std::string title;
  std::vector<Part> parts;
  std::vector<int> track_of_block;  // filled when the blocks get their tracks
};

void build(const File& f, MidiImport& r, Song& s) {
  std::vector<ChannelMessage> messages = f.messages;
  std::stable_sort(messages.begin(), messages.end(),
                   [](const ChannelMessage& a, const ChannelMessage& b) { return a.key < b.key; });
  std::uint64_t last = 0;
  for (std::uint64_t e : f.track_end) last = std::max(last, f.tick(e));
  if (last > TICK_LIMIT) refuse("MIDI file too long for a song");
  auto tick = [&](std::uint64_t time) { return static_cast<std::uint32_t>(f.tick(time)); };

  // Notes: each note-on with the first note-off of its pitch after it, in its track.
  std::vector<std::vector<Note>> notes(16);
  std::map<std::uint64_t, std::deque<std::size_t>> sounding;
  std::vector<Item> others[16];
  for (const ChannelMessage& m : messages) {
    const int ch = m.status & 15, kind = m.status >> 4;
    const std::uint64_t slot = (std::uint64_t{m.key.track} << 11) | ch << 7 | m.d1;
    if (kind == 9 && m.d2 > 0) {
      sounding[slot].push_back(notes[ch].size());
      notes[ch].push_back({tick(m.key.time), 0, m.d1, m.d2, m.key});
    } else if (kind == 8 || kind == 9) {
      auto it = sounding.find(slot);
      if (it == sounding.end() || it->second.empty()) continue;
      notes[ch][it->second.front()].end = tick(m.key.time);
      it->second.pop_front();
    } else {
      static const std::uint8_t CODES[] = {EV_AFTER_K, EV_CONTROL, EV_PROGRAM, EV_AFTER_C, EV_PITCH};
      const bool two = kind == 0xA || kind == 0xB || kind == 0xE;
      others[ch].push_back({tick(m.key.time), m.key, {CODES[kind - 0xA], 0, m.d1, two ? m.d2 : std::uint8_t{0}}});
    }
  }
  for (const auto& [slot, open] : sounding)
    for (std::size_t n : open) {
      const int ch = (slot >> 7) & 15;
      notes[ch][n].end = tick(f.track_end[slot >> 11]);
      ++r.notes_unended;
    }

  std::uint32_t end = static_cast<std::uint32_t>(last);
  std::vector<int> main_part(16, -1);
  auto part_of = [&](int ch) {
    if (main_part[ch] < 0) {
      main_part[ch] = static_cast<int>(s.parts.size());
      s.parts.push_back({ch, {}, {}});
    }
    return main_part[ch];
  };
  for (int ch = 0; ch < 16; ++ch) {
    std::vector<Note>& list = notes[ch];
    std::stable_sort(list.begin(), list.end(), [](const Note& a, const Note& b) { return a.key < b.key; });
    // Voices: a note goes to the first track of its channel where its pitch
    // is not sounding and fewer than 16 notes are.
    struct Voice {
      int part;
      std::vector<std::pair<std::uint32_t, std::uint8_t>> sounding;  // end, pitch
    };
    std::vector<Voice> voices;
    std::uint32_t group_tick = 0;
    std::vector<long> at_tick(128, -1);  // the note of each pitch begun at group_tick
    std::vector<Note> kept;
    for (const Note& n : list) {
      if (n.start != group_tick) std::fill(at_tick.begin(), at_tick.end(), -1), group_tick = n.start;
      if (at_tick[n.pitch] >= 0) {
        Note& first = kept[at_tick[n.pitch]];
        first.end = std::max(first.end, n.end);
        ++r.notes_merged;
        continue;
      }
      at_tick[n.pitch] = static_cast<long>(kept.size());
      kept.push_back(n);
    }
    for (const Note& n : kept) {
      std::uint32_t gate = n.end - n.start;
      if (gate > 255) gate = 255, ++r.notes_shortened;
      gate = std::max(gate, 1u);
      const std::uint32_t stop = n.start + gate;
      end = std::max(end, stop);
      Voice* v = nullptr;
      for (Voice& c : voices) {
        std::erase_if(c.sounding, [&](const auto& e) { return e.first <= n.start; });
        if (c.sounding.size() < MAX_VOICES &&
            std::none_of(c.sounding.begin(), c.sounding.end(), [&](const auto& e) { return e.second == n.pitch; })) {
          v = &c;
          break;
        }
      }
      if (!v) {
        const int part = voices.empty() ? part_of(ch) : static_cast<int>(s.parts.size());
        if (!voices.empty()) s.parts.push_back({ch, {}, {}});
        voices.push_back({part, {}});
        v = &voices.back();
      }
      v->sounding.push_back({stop, n.pitch});
      s.parts[v->part].items.push_back({n.start, n.key, {n.pitch, 0, static_cast<std::uint8_t>(gate), n.velocity}});
      ++r.notes;
    }
    if (!others[ch].empty()) {
      std::vector<Item>& items = s.parts[part_of(ch)].items;
      items.insert(items.end(), others[ch].begin(), others[ch].end());
    }
  }

  // Every track runs from the start to the end, so none can be longer than a block holds.
  const std::vector<std::uint32_t> bars = bar_lines(f, end);
  if (bars.size() + end / 255 > static_cast<std::size_t>(MAX_TRACK_EVENTS))
    refuse("MIDI file too long for a song: its " + std::to_string(bars.size() + 1) +
           " bars need more events than a track holds");

  // Tempo, later keys and exclusives go on the first track: it plays first in every tick.
  std::vector<Item> first;
  std::vector<TempoEvent> changes;
  s.tempo = fit_tempo(f, r, end, changes);
  for (const TempoEvent& c : changes) first.push_back({c.tick, Key{0, 0, 0}, {EV_TEMPO, 0, c.factor, c.effective}});
  std::vector<KeySignature> keys = f.keys;
  std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (i == 0)
      s.key = keys[0].code;
    else
      first.push_back({tick(keys[i].key.time), keys[i].key, {EV_MUSIC_KEY, keys[i].code, 0, 0}});
  for (std::size_t i = 0; i < f.exclusives.size(); ++i) {
    const Exclusive& x = f.exclusives[i];
    if (x.data.size() > static_cast<std::size_t>(MAX_EXCLUSIVE) ||
        std::any_of(x.data.begin(), x.data.end(), [](std::uint8_t b) { return b & 0x80; })) {
      ++r.exclusives_dropped;
      continue;
    }
    first.push_back({tick(x.key.time), x.key, {EV_TRACK_EXCL, 0, 0, 0}, static_cast<long>(i)});
  }
  if (!first.empty()) {
    std::vector<Item>& items = s.parts[part_of(0)].items;
    items.insert(items.end(), first.begin(), first.end());
  }
  std::vector<Signature> sigs = f.signatures;
  std::stable_sort(sigs.begin(), sigs.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
  if (!sigs.empty())
    s.beat_num = static_cast<std::uint8_t>(sigs[0].num), s.beat_den = static_cast<std::uint8_t>(1 << sigs[0].pow);

  for (Part& p : s.parts) {
    std::stable_sort(p.items.begin(), p.items.end(), before);
    split(p, end, bars, f);
  }

  // Tracks 1-16 keep their channels; the further tracks of a channel take
  // tracks 17 and 18, then those of channels the file does not use.
  int needed = 0;
  int per_channel[16] = {};
  for (const Part& p : s.parts) per_channel[p.channel] += static_cast<int>(p.blocks.size());
  for (int n : per_channel) needed += n;
  if (needed > TRACK_COUNT) {
    std::string line = "MIDI file does not fit the 18 tracks:";
    const char* sep = " ";
    for (int ch = 0; ch < 16; ++ch)
      if (per_channel[ch] > 1) {
        line += sep + ("channel " + std::to_string(ch + 1) + " needs " + std::to_string(per_channel[ch]) + " tracks");
        sep = ", ";
      }
    refuse(line + " (" + std::to_string(needed) + " in all)");
  }
  std::vector<int> free_tracks = {16, 17};
  for (int ch = 0; ch < 16; ++ch)
    if (main_part[ch] < 0) free_tracks.push_back(ch);
  for (std::size_t i = 0; i < s.parts.size(); ++i) {
    const Part& p = s.parts[i];
    for (std::size_t b = 0; b < p.blocks.size(); ++b) {
      if (b == 0 && main_part[p.channel] == static_cast<int>(i)) {
        s.track_of_block.push_back(p.channel);
        continue;
      }
      // A later track plays after the main one in a tick, as the file's order has it.
      auto it = std::find_if(free_tracks.begin(), free_tracks.end(), [&](int t) { return t > p.channel; });
      if (it == free_tracks.end()) it = free_tracks.begin();
      s.track_of_block.push_back(*it);
      free_tracks.erase(it);
    }
  }

  // The sequence name, else the first track's, is the title.
  if (!f.names.empty()) s.title = f.names[0];
  r.tracks = needed;
}

void write_song(const File& f, const Song& s) {
  new_song();
  std::uint8_t* img = image();
  const std::string title =
      field_text(reinterpret_cast<const std::uint8_t*>(s.title.data()), s.title.size(), SONG_TITLE_LEN);
  std::memcpy(img + SONG_TITLE, title.data(), SONG_TITLE_LEN);
  img[SONG_TEMPO] = s.tempo;
  img[SONG_KEY] = s.key;
  img[SONG_BEAT] = s.beat_num;
  img[SONG_BEAT + 1] = s.beat_den;
  std::vector<std::vector<Event>> events(TRACK_COUNT);
  std::vector<int> channel_of(TRACK_COUNT, -1);
  std::size_t b = 0;
  for (const Part& p : s.parts)
    for (const std::vector<Event>& block : p.blocks) {
      events[s.track_of_block[b]] = block;
      channel_of[s.track_of_block[b++]] = p.channel;
    }
  // Track names: of the first named track (after the one that named the song) with the channel's messages.
  std::vector<std::string> memo(16);
  for (int ch = 0; ch < 16; ++ch)
    for (const ChannelMessage& m : f.messages)
      if ((m.status & 15) == ch && m.key.track > 0 && !f.names[m.key.track].empty()) {
        memo[ch] = f.names[m.key.track];
        break;
      }
  std::uint8_t heads[TRACK_COUNT][TRACK_HEAD_SIZE];
  for (int t = 0; t < TRACK_COUNT; ++t) {
    std::memcpy(heads[t], img + SONG_HEADER_SIZE + EMPTY_TRACK_SIZE * t, TRACK_HEAD_SIZE);
    const int ch = channel_of[t];
    if (ch < 0) continue;
    heads[t][TRACK_CHANNEL] = static_cast<std::uint8_t>(ch);
    if (ch == DRUM_CHANNEL) {
      heads[t][TRACK_RHYTHM] = RHYTHM_NAMES_SHOWN;
      heads[t][TRACK_KEY_PLUS] = KEY_PLUS_NONE;
    }
    const std::string name =
        field_text(reinterpret_cast<const std::uint8_t*>(memo[ch].data()), memo[ch].size(), TRACK_MEMO_LEN);
    std::memcpy(heads[t] + TRACK_MEMO, name.data(), TRACK_MEMO_LEN);
  }
  std::size_t pos = SONG_HEADER_SIZE;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    std::uint8_t* block = img + pos;
    const std::size_t len = TRACK_HEAD_SIZE + 4 * (events[t].size() + 1);
    std::memcpy(block, heads[t], TRACK_HEAD_SIZE);
    write16(block + TRACK_LENGTH, static_cast<unsigned>(len));
    std::uint8_t* e = block + TRACK_HEAD_SIZE;
    for (const Event& ev : events[t]) {
      e[0] = ev.code, e[1] = ev.step, e[2] = ev.byte2, e[3] = ev.byte3;
      e += 4;
    }
    std::memset(e, EV_END, 4);
    pos += len;
  }
  rebuild_track_table();
}

std::string refusal_text;

}  // namespace

int midi_varlen(std::uint32_t value, std::uint8_t out[5]) {
  std::uint8_t tmp[5];
  int n = 0;
  tmp[n++] = value & 0x7F;
  while (value >>= 7) tmp[n++] = static_cast<std::uint8_t>(0x80 | (value & 0x7F));
  for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  return n;
}

bool is_midi_file(const std::uint8_t* bytes, std::size_t size) {
  return (size >= 4 && std::memcmp(bytes, "MThd", 4) == 0) ||
         (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "RMID", 4) == 0);
}

const char* import_midi(const std::uint8_t* bytes, std::size_t size, MidiImport& report) {
  report = MidiImport{};
  try {
    const File f = read_file(bytes, size, report);
    Song s;
    build(f, report, s);
    write_song(f, s);
    return nullptr;
  } catch (const Refused& r) {
    refusal_text = r.line;
    return refusal_text.c_str();
  }
}

std::string midi_import_summary(const MidiImport& r) {
  std::string line = std::to_string(r.tracks) + (r.tracks == 1 ? " track, " : " tracks, ") + std::to_string(r.notes) +
                     (r.notes == 1 ? " note" : " notes");
  std::string changed;
  auto add = [&](int n, const char* one, const char* many) {
    if (n == 0) return;
    changed += (changed.empty() ? "" : ", ") + std::to_string(n) + " " + (n == 1 ? one : many);
  };
  add(r.notes_shortened, "note shortened to 255 ticks", "notes shortened to 255 ticks");
  add(r.notes_merged, "note merged", "notes merged");
  add(r.notes_unended, "note without note-off ended", "notes without note-off ended");
  add(r.tempos_clamped, "tempo clamped to 10-240", "tempos clamped to 10-240");
  add(r.metas_dropped, "meta event dropped", "meta events dropped");
  add(r.exclusives_dropped, "exclusive dropped", "exclusives dropped");
  add(r.exclusives_closed, "unterminated exclusive closed", "unterminated exclusives closed");
  if (r.smpte) changed += std::string(changed.empty() ? "" : ", ") + "frame time taken at 120 quarter notes a minute";
  return line + (changed.empty() ? "; nothing changed" : "; changed: " + changed);
}

std::string imported_song_name(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.find_last_of('.');
  const bool has_ext = dot != std::string::npos && dot > base;
  std::string ext = has_ext ? name.substr(dot) : "";
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".sqf") return name + ".sqf";
  return (has_ext ? name.substr(0, dot) : name) + ".sqf";
}
