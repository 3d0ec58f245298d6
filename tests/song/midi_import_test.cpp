// Bringing MIDI files in: the events each kind of input becomes, what is
// counted as changed, the files refused and the loader taking MIDI files by
// their content (as cases in midi_import_cases.txt).
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/midi_builder.h"
#include "common/song_builder.h"
#include "common/temp_dir.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {

// A track's events but the end, as "code,step,byte2,byte3" separated by blanks.
std::string track_text(int t) {
  std::string out;
  for (std::uint32_t p = first_event(t); p + 4 < track_end(t); p += 4) {
    const std::uint8_t* e = image() + p;
    out += (out.empty() ? "" : " ") + std::to_string(e[0]) + "," + std::to_string(e[1]) + "," + std::to_string(e[2]) +
           "," + std::to_string(e[3]);
  }
  return out;
}

// Bytes as midi_import_cases.txt writes them: hex, +N a delta time, [ ... ]
// data after its length, XX*N a byte N times.
MidiBytes parse_bytes(const std::string& text) {
  std::istringstream in(text);
  std::vector<MidiBytes> open{{}};
  for (std::string w; in >> w;) {
    if (w[0] == '+') {
      put_vl(open.back(), static_cast<std::uint32_t>(std::stoul(w.substr(1))));
    } else if (w == "[") {
      open.emplace_back();
    } else if (w == "]") {
      const MidiBytes d = open.back();
      open.pop_back();
      put_vl(open.back(), static_cast<std::uint32_t>(d.size()));
      open.back().insert(open.back().end(), d.begin(), d.end());
    } else {
      const std::size_t star = w.find('*');
      open.back().insert(open.back().end(), star == std::string::npos ? 1 : std::stoul(w.substr(star + 1)),
                         static_cast<std::uint8_t>(std::stoul(w.substr(0, star), nullptr, 16)));
    }
  }
  return open.back();
}

struct Case {
  std::string what;
  MidiBytes file;
  std::vector<std::pair<int, std::string>> tracks;  // track 1-18, its events
  std::vector<std::pair<std::string, MidiBytes>> fields;
  std::string summary, refused, load, name;  // load: the file under this name through the loader
};

std::vector<Case> load_cases() {
  std::ifstream in(std::filesystem::path(__FILE__).parent_path() / "midi_import_cases.txt");
  std::vector<Case> cases;
  for (std::string line; std::getline(in, line);) {
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "case") cases.emplace_back().what = rest;
    if (cases.empty()) continue;
    Case& c = cases.back();
    if (key == "midi" || key == "rmid") {
      std::istringstream head(rest.substr(0, rest.find('|')));
      std::string division;
      int format, count;
      head >> format >> division;
      if (!(head >> count)) count = -1;
      std::vector<MidiTrack> tracks;
      for (std::size_t bar = rest.find('|'); bar != std::string::npos; bar = rest.find('|', bar + 1))
        tracks.push_back({parse_bytes(rest.substr(bar + 1, rest.find('|', bar + 1) - bar - 1))});
      c.file = midi_file(tracks, static_cast<unsigned>(std::stoul(division, nullptr, 0)), format, count);
      if (key == "rmid") c.file = rmid_file(c.file);
    } else if (key == "chunk") {
      put_chunk(c.file, rest.substr(0, 4).c_str(), parse_bytes(rest.substr(4)));
    } else if (key == "raw") {
      c.file = parse_bytes(rest);
    } else if (key == "track") {
      c.tracks.push_back({std::stoi(rest), rest.substr(rest.find(' ') + 1)});
    } else if (key == "at") {
      c.fields.push_back({rest.substr(0, rest.find(' ')), parse_bytes(rest.substr(rest.find(' ')))});
    } else if (const std::map<std::string, std::string*> text{
                   {"summary", &c.summary}, {"refused", &c.refused}, {"load", &c.load}, {"name", &c.name}};
               text.contains(key)) {
      *text.at(key) = rest;
    }
  }
  return cases;
}

class MidiImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_echo_alerts(false);
    ASSERT_EQ(new_song(), 0);
    rebuild_track_table();
  }
  MidiImport report;
  const char* import(const MidiBytes& b) { return import_midi(b.data(), b.size(), report); }
};

// Each case of midi_import_cases.txt: a file imported, or refused with the song as it was.
TEST_F(MidiImportTest, Cases) {
  const std::vector<Case> cases = load_cases();
  ASSERT_EQ(cases.size(), 33u) << "midi_import_cases.txt read whole";
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    image()[SONG_TEMPO] = 97;
    const char* imported = c.load.empty() ? import(c.file) : nullptr;
    std::string line = imported ? imported : "";
    if (!c.load.empty()) {
      write_file(dir.file(c.load), c.file);
      headless_clear_alerts();
      set_file_name(dir.file(c.load).c_str());
      EXPECT_EQ(load_song(), c.refused.empty() ? 1 : 0);
      line = headless_alerts().empty() ? "" : headless_alerts().back();
      char name[FILE_NAME_SIZE];
      copy_file_name(name);
      EXPECT_EQ(std::string(name), dir.file(c.name));
    }
    if (!c.refused.empty()) {
      EXPECT_EQ(line, c.refused);
      EXPECT_EQ(image()[SONG_TEMPO], 97);
      continue;
    }
    ASSERT_EQ(line, "");
    for (const auto& [t, text] : c.tracks) EXPECT_EQ(track_text(t - 1), text) << "track " << t;
    const std::map<std::string, std::size_t> at{{"title", SONG_TITLE},
                                                {"key", SONG_KEY},
                                                {"tempo", SONG_TEMPO},
                                                {"beat", SONG_BEAT},
                                                {"memo", start[0] + TRACK_MEMO}};
    for (const auto& [field, bytes] : c.fields)
      EXPECT_EQ(MidiBytes(image() + at.at(field), image() + at.at(field) + bytes.size()), bytes) << field;
    EXPECT_EQ(c.load.empty() ? std::string(midi_import_summary(report)) : c.summary, c.summary);
    EXPECT_EQ(song_damage(image(), used_length()), nullptr);
  }
}

TEST_F(MidiImportTest, DrumChannelAndFreeTracks) {
  // A drum part, and a channel whose events fill more than one block.
  MidiTrack t;
  t.at(0, {0x99, 36, 100}).at(10, {0x89, 36, 0});
  for (int i = 0; i < 17000; ++i) t.at(i == 0 ? 0 : 1, {0xB0, 1, i & 127});
  ASSERT_EQ(import(midi_file({t}, 48, 0)), nullptr);
  EXPECT_EQ(image()[start[9] + TRACK_RHYTHM], RHYTHM_NAMES_SHOWN);
  EXPECT_EQ(image()[start[9] + TRACK_KEY_PLUS], KEY_PLUS_NONE);
  EXPECT_EQ(image()[start[9] + TRACK_CHANNEL], 9);
  EXPECT_EQ(image()[start[16] + TRACK_CHANNEL], 0);
  EXPECT_GE(track_length(0), MAX_TRACK_SIZE - 8);  // filled
  // The controllers go on over track 17 after a change to channel 1, every value in order.
  int values = 0;
  for (int tr : {0, 16})
    for (std::uint32_t p = first_event(tr); p < track_end(tr); p += 4)
      values += image()[p] == EV_CONTROL && image()[p + 3] == (values & 127);
  std::uint32_t p = first_event(16);  // rests and measure ends up to the change
  while (image()[p] == EV_MEASURE_END || (image()[p] == 0 && image()[p + 2] == 0)) p += 4;
  EXPECT_EQ(image()[p], EV_MIDI_CH);
  EXPECT_EQ(image()[p + 2], 1);
  EXPECT_EQ(values, 17000);
  EXPECT_EQ(midi_import_summary(report), "3 tracks, 1 note; nothing changed");
}

TEST(MidiImport, SongNames) {
  EXPECT_EQ(imported_song_name("x.y/z"), "x.y/z.sqf");
  EXPECT_EQ(imported_song_name("z.SQF"), "z.SQF.sqf");
}

}  // namespace
