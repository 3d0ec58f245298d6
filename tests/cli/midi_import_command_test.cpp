// takto-cli import-midi as a user runs it: the report and the exit codes, the
// messages of an imported song against the file's, the round trips through
// export-midi, and note times under tempo maps against the file's times.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "common/midi_builder.h"
#include "common/run_cli.h"

namespace {

struct Sent {
  double ms;
  long tick;
  std::vector<int> bytes;
};

std::vector<Sent> trace(const std::string& song) {
  CliResult r = run_cli("trace " + song);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Sent> out;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    Sent s;
    f >> s.ms >> s.tick;
    for (std::string b; f >> b;) s.bytes.push_back(std::stoi(b, nullptr, 16));
    out.push_back(s);
  }
  return out;
}

// A message of the file: its file tick and bytes (F0 ... F7 for an exclusive).
struct FileMessage {
  long time;
  std::vector<int> bytes;
};

// Per channel (16 for exclusives) the messages other than notes in order, and
// the notes as "pitch velocity start end" in song ticks.
struct Heard {
  std::map<int, std::vector<std::vector<int>>> others;
  std::map<int, std::multiset<std::array<long, 4>>> notes;
};

Heard heard_in_trace(const std::vector<Sent>& sent) {
  Heard h;
  std::map<std::pair<int, int>, std::vector<std::array<long, 2>>> on;  // start, velocity
  const long first = sent.empty() ? 0 : sent.front().tick;
  for (const Sent& s : sent) {
    const int ch = s.bytes[0] == 0xF0 ? 16 : s.bytes[0] & 15;
    if ((s.bytes[0] & 0xF0) != 0x90) {
      h.others[ch].push_back(s.bytes);
    } else if (s.bytes[2] > 0) {
      on[{ch, s.bytes[1]}].push_back({s.tick - first, s.bytes[2]});
    } else {
      auto& open = on[{ch, s.bytes[1]}];
      EXPECT_FALSE(open.empty()) << "note-off without a note";
      if (open.empty()) continue;
      h.notes[ch].insert({s.bytes[1], open.front()[1], open.front()[0], s.tick - first});
      open.erase(open.begin());
    }
  }
  return h;
}

// What the file says, on the song's grid: times rounded from file ticks.
Heard heard_in_file(const std::vector<FileMessage>& messages, long division) {
  Heard h;
  auto tick = [&](long t) { return (t * 96 + division) / (2 * division); };
  std::map<std::pair<int, int>, std::vector<std::array<long, 2>>> on;
  for (const FileMessage& m : messages) {
    const int ch = m.bytes[0] == 0xF0 ? 16 : m.bytes[0] & 15;
    const int kind = m.bytes[0] & 0xF0;
    if (kind == 0x90 && m.bytes[2] > 0) {
      on[{ch, m.bytes[1]}].push_back({tick(m.time), m.bytes[2]});
    } else if (kind == 0x80 || kind == 0x90) {
      auto& open = on[{ch, m.bytes[1]}];
      h.notes[ch].insert({m.bytes[1], open.front()[1], open.front()[0], tick(m.time)});
      open.erase(open.begin());
    } else {
      h.others[ch].push_back(m.bytes);
    }
  }
  return h;
}

// A file of every kind of message; `messages` gets them in the order a player of the file sends them.
MidiBytes rich_file(std::vector<FileMessage>& messages) {
  const long division = 480;
  std::vector<MidiTrack> tracks(3);
  std::vector<long> now(3, 0);
  auto add = [&](int track, long time, std::vector<int> bytes) {
    MidiTrack& t = tracks[track];
    put_vl(t.body, static_cast<std::uint32_t>(time - now[track]));
    now[track] = time;
    if (bytes[0] == 0xF0) {
      t.body.push_back(0xF0);
      put_vl(t.body, static_cast<std::uint32_t>(bytes.size() - 1));
      t.body.insert(t.body.end(), bytes.begin() + 1, bytes.end());
    } else {
      t.body.insert(t.body.end(), bytes.begin(), bytes.end());
    }
    messages.push_back({time, bytes});
  };
  tracks[0].with_length(0, {0xFF, 0x51}, {0x07, 0xA1, 0x20}).with_length(0, {0xFF, 0x58}, {3, 2, 24, 8});
  add(0, 0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  add(0, 0, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
  add(1, 0, {0xC0, 5});
  add(1, 0, {0xB0, 7, 100});
  add(1, 10, {0xE0, 0, 80});
  add(1, 20, {0xD0, 30});
  add(1, 30, {0xA0, 60, 40});
  // Overlapping notes of one pitch, then 17 voices at once.
  add(1, 100, {0x90, 60, 100});
  add(1, 700, {0x90, 60, 90});
  add(1, 1000, {0x80, 60, 0});
  add(1, 1500, {0x80, 60, 0});
  for (int p = 0; p < 17; ++p) add(1, 2000 + 7 * p, {0x90, 40 + p, 50 + p});
  for (int p = 0; p < 17; ++p) add(1, 4000 + 13 * p, {0x90, 40 + p, 0});
  add(1, 4500, {0xB0, 11, 64});
  for (int i = 0; i < 24; ++i) {
    add(2, 240 * i, {0x99, 36 + i % 3, 100});
    add(2, 240 * i + 120, {0x89, 36 + i % 3, 0});
  }
  tracks[0].with_length(6000 - now[0], {0xFF, 0x51}, {0x09, 0x27, 0xC0});  // 100 a minute
  add(1, 6100, {0x90, 72, 70});
  add(1, 7000, {0x80, 72, 0});
  std::stable_sort(messages.begin(), messages.end(),
                   [](const FileMessage& a, const FileMessage& b) { return a.time < b.time; });
  return midi_file(tracks, division);
}

TEST(ImportMidiCommand, ReportsAndExitCodes) {
  TempDir dir;
  std::vector<FileMessage> messages;
  write_file(dir.file("rich.mid"), rich_file(messages));
  write_file(dir.file("text.mid"), {'h', 'i'});
  write_file(dir.file("f2.mid"), midi_file({}, 96, 2));
  const struct {
    std::string args;
    int status;
    std::string err;
  } cases[] = {
      {"import-midi " + dir.file("rich.mid") + " " + dir.file("rich.sqf"), 0, "3 tracks, 44 notes; nothing changed\n"},
      {"import-midi " + dir.file("text.mid") + " " + dir.file("out.sqf"), 1, "Not a MIDI file\n"},
      {"import-midi " + dir.file("f2.mid") + " " + dir.file("out.sqf"), 1,
       "MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1\n"},
      {"import-midi " + dir.file("none.mid") + " " + dir.file("out.sqf"), 1, "File not found\n"},
      {"import-midi " + dir.file("rich.mid") + " " + dir.path.string(), 1, "File save failed\n"},
      {"import-midi " + dir.file("rich.mid"), 2, "usage: takto-cli import-midi IN.mid OUT.sqf\n"},
  };
  for (const auto& c : cases) {
    CliResult r = run_cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.sqf")));
  EXPECT_EQ(run_cli("check " + dir.file("rich.sqf")).out, "ok\n");
  // Every command that opens a song takes the MIDI file itself.
  EXPECT_EQ(run_cli("trace " + dir.file("rich.mid")).out, run_cli("trace " + dir.file("rich.sqf")).out);
}

TEST(ImportMidiCommand, SessionsOpenMidiFiles) {
  // On the command line and through the open dialog, as the imported song; a refusal is the message box.
  TempDir dir;
  std::vector<FileMessage> messages;
  write_file(dir.file("a.mid"), rich_file(messages));
  write_file(dir.file("f2.mid"), midi_file({}, 96, 2));
  ASSERT_EQ(run_cli("import-midi " + dir.file("a.mid") + " " + dir.file("a.sqf")).status, 0);
  auto session = [&](const std::string& song, const std::string& keys) {
    const std::string screen = dir.file("screen.txt"), played = dir.file("trace.txt");
    CliResult r =
        run_cli("session " + song + " --keys \"" + keys + " P wait=1500\" --screen " + screen + " --trace " + played);
    EXPECT_EQ(r.status, 0) << r.err;
    // The screen, and what was played without the times (the keys before P differ).
    const std::vector<std::uint8_t> a = read_file(screen), b = read_file(played);
    std::string seen(a.begin(), a.end());
    std::istringstream lines(std::string(b.begin(), b.end()));
    for (std::string line; std::getline(lines, line);) seen += line.substr(line.find(' ')) + "\n";
    return std::pair{r.err, seen};
  };
  const auto [none, want] = session(dir.file("a.sqf"), "wait=10");
  const std::string refused = "alert: MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1\n";
  const struct {
    std::string song, keys, err;
    bool same;
  } cases[] = {
      {dir.file("a.mid"), "wait=10", "", true},
      {"", "L open=" + dir.file("a.mid"), "", true},
      {"", "L open=" + dir.file("f2.mid"), refused, false},
  };
  for (const auto& c : cases) {
    const auto [err, got] = session(c.song, c.keys);
    EXPECT_EQ(err, c.err) << c.keys;
    EXPECT_EQ(got == want, c.same) << c.keys;
  }
}

TEST(ImportMidiCommand, RoundTripsKeepTheMessages) {
  TempDir dir;
  std::vector<FileMessage> messages;
  write_file(dir.file("a.mid"), rich_file(messages));
  ASSERT_EQ(run_cli("import-midi " + dir.file("a.mid") + " " + dir.file("a.sqf")).status, 0);
  const Heard file = heard_in_file(messages, 480);
  const Heard song = heard_in_trace(trace(dir.file("a.sqf")));
  EXPECT_EQ(song.others, file.others);
  ASSERT_EQ(song.notes.size(), file.notes.size());
  for (const auto& [ch, notes] : file.notes) {
    ASSERT_EQ(song.notes.at(ch).size(), notes.size()) << "channel " << ch;
    auto played = song.notes.at(ch).begin();
    for (const auto& n : notes) {
      SCOPED_TRACE("channel " + std::to_string(ch) + " note " + std::to_string(n[0]));
      const auto& p = *played++;
      EXPECT_EQ(p[0], n[0]);
      EXPECT_EQ(p[1], n[1]);
      EXPECT_LE(std::abs(p[2] - n[2]), 1);
      EXPECT_LE(std::abs((p[3] - p[2]) - (n[3] - n[2])), 1);
    }
  }
  // Exported and brought in again, the song plays the same messages.
  ASSERT_EQ(run_cli("export-midi " + dir.file("a.sqf") + " " + dir.file("b.mid")).status, 0);
  ASSERT_EQ(run_cli("import-midi " + dir.file("b.mid") + " " + dir.file("b.sqf")).status, 0);
  const Heard again = heard_in_trace(trace(dir.file("b.sqf")));
  EXPECT_EQ(again.others, song.others);
  EXPECT_EQ(again.notes, song.notes);
  // So does the demo song, with its repeats, same-measure calls and Roland exclusives.
  const std::string demo = std::string(TAKTO_SOURCE_DIR) + "/examples/demo.sqf";
  ASSERT_EQ(run_cli("export-midi " + demo + " " + dir.file("demo.mid")).status, 0);
  EXPECT_EQ(run_cli("import-midi " + dir.file("demo.mid") + " " + dir.file("demo.sqf")).err,
            "4 tracks, 360 notes; nothing changed\n");
  const Heard demo_heard = heard_in_trace(trace(demo)), back = heard_in_trace(trace(dir.file("demo.sqf")));
  EXPECT_EQ(back.others, demo_heard.others);
  EXPECT_EQ(back.notes, demo_heard.notes);
}

TEST(ImportMidiCommand, NotesSoundAtTheFilesTimes) {
  // Tempo maps: (file tick, microseconds a quarter), and how long the notes go on.
  struct Map {
    const char* what;
    std::vector<std::pair<long, long>> tempos;
    long notes, step;  // note count, file ticks apart
  };
  Map many{"65 fractional tempos, some inside a beat", {}, 400, 120};
  for (long i = 0; i < 65; ++i) many.tempos.push_back({i * 730, 60000000 / (70 + (i * 37) % 150) + i * 13});
  const Map maps[] = {
      many,
      {"96.1 a minute for ten minutes", {{0, 624350}}, 961, 480},
      {"a slow and a fast part", {{0, 5000000}, {4800, 260000}}, 120, 240},
  };
  for (const Map& m : maps) {
    SCOPED_TRACE(m.what);
    TempDir dir;
    const long division = 480;
    MidiTrack t;
    long now = 0, tempo_at = 0;
    std::size_t next_tempo = 0;
    for (long i = 0; i < m.notes; ++i) {
      const long time = i * m.step;
      for (; next_tempo < m.tempos.size() && m.tempos[next_tempo].first <= time; ++next_tempo) {
        const long us = m.tempos[next_tempo].second;
        tempo_at = m.tempos[next_tempo].first;
        t.with_length(
            static_cast<std::uint32_t>(tempo_at - now), {0xFF, 0x51},
            {static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8), static_cast<std::uint8_t>(us)});
        now = tempo_at;
      }
      t.at(static_cast<std::uint32_t>(time - now), {0x90, 60, 100}).at(10, {0x80, 60, 0});
      now = time + 10;
    }
    write_file(dir.file("t.mid"), midi_file({t}, division, 0));
    ASSERT_EQ(run_cli("import-midi " + dir.file("t.mid") + " " + dir.file("t.sqf")).status, 0);
    // The file's time of a tick, through its tempo map.
    auto file_ms = [&](double tick) {
      double ms = 0, at = 0, us = 500000;
      for (const auto& [from, tempo] : m.tempos) {
        if (from > tick) break;
        ms += (from - at) * us / division / 1000;
        at = from, us = tempo;
      }
      return std::pair{ms + (tick - at) * us / division / 1000, us};
    };
    std::vector<double> starts;
    for (const Sent& s : trace(dir.file("t.sqf")))
      if (s.bytes[0] == 0x90 && s.bytes[2] > 0) starts.push_back(s.ms);
    ASSERT_EQ(starts.size(), static_cast<std::size_t>(m.notes));
    double worst = 0;
    for (long i = 0; i < m.notes; ++i) {
      const auto [want, us] = file_ms(static_cast<double>(i * m.step));
      const double off = std::abs(starts[i] - starts[0] - want);
      const double allowed = 20 + 1e-4 * want + us / 48.0 / 2000;  // and half a tick of rounding
      EXPECT_LE(off, allowed) << "note " << i << " at " << want << " ms";
      worst = std::max(worst, off);
    }
    std::printf("%s: worst %.1f ms\n", m.what, worst);
  }
}

}  // namespace
