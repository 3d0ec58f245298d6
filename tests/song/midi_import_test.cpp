// Bringing MIDI files in: the events each kind of input becomes, what is
// counted as changed, the files refused and the loader taking MIDI files by
// their content (as cases in midi_import_cases.txt).
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/midi_builder.h"
#include "song/song_fixture.h"

namespace {

// A track's events but the end, as "code,step,byte2,byte3" separated by blanks.
std::string track_text(int t) {
  std::string out;
  for (std::uint32_t p = first_event(t); p + 4 < track_end(t); p += 4)
    for (int i = 0; i < 4; ++i) out += (i ? "," : out.empty() ? "" : " ") + std::to_string(image()[p + i]);
  return out;
}

// Bytes as midi_import_cases.txt writes them, up to a "]", a "|" or the end:
// hex, +N a delta time, [ ... ] data after its length, XX*N a byte N times.
MidiBytes parse_bytes(std::istream& in) {
  MidiBytes out;
  for (std::string w; in >> w && w != "]" && w != "|";) {
    const std::size_t star = w.find('*');
    if (w == "[") {
      const MidiBytes data = parse_bytes(in);
      put_vl(out, static_cast<std::uint32_t>(data.size()));
      out.insert(out.end(), data.begin(), data.end());
    } else if (w[0] == '+') {
      put_vl(out, static_cast<std::uint32_t>(std::stoul(w.substr(1))));
    } else {
      out.insert(out.end(), star == std::string::npos ? 1 : std::stoul(w.substr(star + 1)),
                 static_cast<std::uint8_t>(std::stoul(w, nullptr, 16)));
    }
  }
  return out;
}

struct Case {
  std::string what;
  MidiBytes file;
  std::vector<std::pair<int, std::string>> tracks;  // track 1-18, its events
  std::vector<std::pair<std::string, MidiBytes>> fields;
  std::string summary, refused, load, name;  // load: the file under this name through the loader
};

std::vector<Case> load_cases() {
  std::ifstream file(std::filesystem::path(__FILE__).parent_path() / "midi_import_cases.txt");
  std::vector<Case> cases;
  for (std::string line; std::getline(file, line);) {
    std::istringstream in(line);
    std::string key, word;
    in >> key >> std::ws;
    if (key == "case") cases.emplace_back();
    if (cases.empty()) continue;
    Case& c = cases.back();
    const std::map<std::string, std::string*> text{
        {"case", &c.what}, {"summary", &c.summary}, {"refused", &c.refused}, {"load", &c.load}, {"name", &c.name}};
    int n = 0, count = -1;
    if (key == "midi" || key == "rmid") {  // FORMAT DIVISION [COUNT] | track | ...
      std::vector<MidiTrack> tracks;
      in >> n >> word;
      for (std::string w; in >> w && w != "|";) count = std::stoi(w);
      while (in) tracks.push_back({parse_bytes(in)});
      c.file = midi_file(tracks, static_cast<unsigned>(std::stoul(word, nullptr, 0)), n, count);
      if (key == "rmid") c.file = rmid_file(c.file);
    } else if (key == "chunk" && in >> word) {
      put_chunk(c.file, word.c_str(), parse_bytes(in));
    } else if (key == "raw") {
      c.file = parse_bytes(in);
    } else if (key == "track" && in >> n >> std::ws && std::getline(in, word)) {
      c.tracks.push_back({n, word});
    } else if (key == "at" && in >> word) {
      c.fields.push_back({word, parse_bytes(in)});
    } else if (text.contains(key)) {
      std::getline(in, *text.at(key));
    }
  }
  return cases;
}

class MidiImportTest : public SongTest {
 protected:
  MidiImport report;
  const char* import(const MidiBytes& b) { return import_midi(b.data(), b.size(), report); }
};

// Each case of midi_import_cases.txt: a file imported, or refused with the song as it was.
TEST_F(MidiImportTest, Cases) {
  const std::vector<Case> cases = load_cases();
  ASSERT_EQ(cases.size(), 33u) << "midi_import_cases.txt read whole";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    image()[SONG_TEMPO] = 97;
    const char* imported = c.load.empty() ? import(c.file) : nullptr;
    std::string line = imported ? imported : "";
    if (!c.load.empty()) {  // its folder too, for a dot in a folder's name
      std::filesystem::create_directories(std::filesystem::path(dir.file(c.load)).parent_path());
      write_file(dir.file(c.load), c.file);
      EXPECT_EQ(load(dir.file(c.load)), c.refused.empty() ? 1 : 0);
      line = alert();
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
    EXPECT_EQ(c.load.empty() ? midi_import_summary(report) : c.summary, c.summary);
    EXPECT_EQ(song_damage(image(), used_length()), nullptr);
  }
}

TEST_F(MidiImportTest, DrumChannelAndFreeTracks) {
  // A drum part, and a channel whose events fill more than one block.
  MidiTrack t;
  t.at(0, {0x99, 36, 100}).at(10, {0x89, 36, 0});
  for (int i = 0; i < 17000; ++i) t.at(i == 0 ? 0 : 1, {0xB0, 1, i & 127});
  ASSERT_EQ(import(midi_file({t}, 48, 0)), nullptr);
  const std::uint8_t* drums = image() + start[9] + TRACK_RHYTHM;  // rhythm, channel, key+
  EXPECT_EQ(MidiBytes(drums, drums + 3), (MidiBytes{RHYTHM_NAMES_SHOWN, 9, KEY_PLUS_NONE}));
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

}  // namespace
