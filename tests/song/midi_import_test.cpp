// Bringing MIDI files in: the events each kind of input becomes, what is
// counted as changed, the files refused, and the loader taking MIDI files by
// their content.
#include <gtest/gtest.h>

#include <functional>

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

// Notes one after another on channel 1 at `division`: pitch, file ticks from the last change, length.
MidiTrack notes_at(std::initializer_list<std::array<int, 3>> notes, MidiTrack t = {}) {
  for (const auto& [pitch, delta, length] : notes)
    t.at(static_cast<std::uint32_t>(delta), {0x90, pitch, 100})
        .at(static_cast<std::uint32_t>(length), {0x80, pitch, 0});
  return t;
}

MidiBytes big_exclusive() {
  MidiBytes d(300, 1);
  d.back() = 0xF7;
  return d;
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

TEST_F(MidiImportTest, EventsOfEachKindOfInput) {
  const MidiBytes utf8_title{0xE3, 0x83, 0x86, 0xE3, 0x82, 0xB9, 0xE3, 0x83, 0x88, 0xE6, 0x9B, 0xB2};  // テスト曲
  MidiTrack unknown_chunk_head;
  const struct {
    const char* what;
    MidiBytes file;
    std::vector<std::pair<int, std::string>> tracks;  // track 1-18, its events
    std::string summary;
  } cases[] = {
      {"running status, velocity-0 note-offs",
       midi_file({MidiTrack().at(0, {0x90, 60, 100}).at(48, {60, 0}).at(0, {62, 80}).at(96, {0x80, 62, 64})}, 96, 0),
       {{1, "60,24,24,100 62,48,48,80"}},
       "1 track, 2 notes; nothing changed"},
      {"absolute times rounded, gates at least 1",
       midi_file({notes_at({{60, 0, 5}, {61, 0, 5}, {62, 0, 5}, {63, 0, 5}, {64, 0, 5}})}, 480),
       {{1, "60,1,1,100 61,0,1,100 62,1,1,100 63,0,1,100 64,1,1,100"}},
       "1 track, 5 notes; nothing changed"},
      {"long notes shortened, long gaps as rests",
       midi_file({notes_at({{60, 0, 256}, {62, 300, 10}}, MidiTrack().with_length(0, {0xFF, 0x58}, {8, 2, 24, 8}))}, 48,
                 0),
       {{1, "60,255,255,100 0,129,0,0 253,0,0,0 0,172,0,0 62,10,10,100"}},
       "1 track, 2 notes; changed: 1 note shortened to 255 ticks"},
      {"note-ons of one pitch at one tick merged",
       midi_file({MidiTrack().at(0, {0x91, 60, 100}).at(0, {60, 90}).at(24, {60, 0}).at(24, {60, 0})}, 48, 0),
       {{2, "60,48,48,100"}},
       "1 track, 1 note; changed: 1 note merged"},
      {"every other channel message, in the file's order",
       midi_file({MidiTrack()
                      .at(0, {0xB2, 7, 100})
                      .at(0, {0xC2, 5})
                      .at(0, {0xE2, 0, 64})
                      .at(0, {0xD2, 48})
                      .at(0, {0xA2, 60, 32})
                      .at(0, {0xB2, 10, 64})
                      .at(0, {0x92, 60, 100})
                      .at(24, {0x82, 60, 0})},
                 48, 0),
       {{3, "235,0,7,100 236,0,5,0 238,0,0,64 234,0,48,0 237,0,60,32 235,0,10,64 60,24,24,100"}},
       "1 track, 1 note; nothing changed"},
      {"GS and XG exclusives, a packet continued, an escape and a long one dropped",
       midi_file({MidiTrack()
                      .with_length(0, {0xF0}, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
                      .with_length(0, {0xF0}, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7})
                      .with_length(0, {0xF0}, {0x7E, 0x7F, 0x09})
                      .with_length(0, {0xF7}, {0x01, 0xF7})
                      .with_length(0, {0xF7}, {0xF8})
                      .with_length(0, {0xF0}, big_exclusive())},
                 48, 0),
       {{1,
         "152,0,0,0 247,0,65,16 247,0,66,18 247,0,64,0 247,0,127,0 247,0,65,247 "
         "152,0,0,0 247,0,67,16 247,0,76,0 247,0,0,126 247,0,0,247 152,0,0,0 247,0,126,127 247,0,9,1"}},
       "1 track, 0 notes; changed: 2 exclusives dropped"},
      {"time signatures 3/4, 5/4 and 6/8 as measures",
       midi_file({MidiTrack()
                      .with_length(0, {0xFF, 0x58}, {3, 2, 24, 8})
                      .with_length(144, {0xFF, 0x58}, {5, 2, 24, 8})
                      .with_length(240, {0xFF, 0x58}, {6, 3, 24, 8}),
                  notes_at({{60, 0, 10}}).at(374, {0xB0, 1, 0}).at(216, {0xB0, 2, 0})},
                 48),
       {{1, "60,144,10,100 253,0,0,0 0,240,0,0 253,0,0,0 235,144,1,0 253,0,0,0 0,72,0,0 235,0,2,0"}},
       "1 track, 1 note; nothing changed"},
      {"17 notes at once and a pitch still sounding go on to track 17",
       [] {
         MidiTrack t;
         for (int p = 40; p <= 56; ++p) t.at(0, {0x90, p, 100});
         return midi_file({t.at(48, {40, 100}).at(48, {40, 0}).at(48, {40, 0})}, 48, 0);
       }(),
       {{1,
         [] {
           std::string s = "40,0,96,100";
           for (int p = 41; p <= 55; ++p) s += " " + std::to_string(p) + (p < 55 ? ",0,144,100" : ",144,144,100");
           return s;
         }()},
        {17, "56,48,144,100 40,96,96,100"}},
       "2 tracks, 18 notes; changed: 16 notes without note-off ended"},
      {"key, title in UTF-8, track name, unknown chunk, metas dropped",
       [&] {
         MidiBytes f = midi_file({MidiTrack()
                                      .with_length(0, {0xFF, 0x03}, utf8_title)
                                      .with_length(0, {0xFF, 0x59}, {0xFD, 1})
                                      .meta(0, 0x01, "text")
                                      .meta(0, 0x7F, "xx")
                                      .with_length(24, {0xFF, 0x59}, {2, 0}),
                                  notes_at({{60, 0, 24}}).meta(0, 0x03, "Piano")},
                                 48);
         put_chunk(f, "XFIH", {1, 2, 3});
         return f;
       }(),
       {{1, "60,24,24,100 245,2,0,0"}},
       "1 track, 1 note; changed: 2 meta events dropped"},
      {"a tempo past 240 clamped",
       midi_file({notes_at({{60, 0, 48}}, MidiTrack().with_length(0, {0xFF, 0x51}, {0x03, 0x0D, 0x40}))}, 48, 0),
       {{1, "60,48,48,100"}},
       "1 track, 1 note; changed: 1 tempo clamped to 10-240"},
      {"RIFF RMID",
       rmid_file(midi_file({notes_at({{64, 0, 48}})}, 96, 0)),
       {{1, "64,24,24,100"}},
       "1 track, 1 note; nothing changed"},
      {"SMPTE time: 25 frames of 40 ticks",
       midi_file({notes_at({{60, 500, 500}}).with_length(0, {0xFF, 0x51}, {0x07, 0xA1, 0x20})}, 0xE728, 0),
       {{1, "0,48,0,0 60,48,48,100"}},
       "1 track, 1 note; changed: 1 meta event dropped, frame time taken at 120 quarter notes a minute"},
      {"a pitch struck again as its note ends stays on its track",
       midi_file({notes_at({{60, 0, 24}, {60, 0, 24}})}, 48, 0),
       {{1, "60,24,24,100 60,24,24,100"}},
       "1 track, 2 notes; nothing changed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(import(c.file), nullptr) << import(c.file);
    for (const auto& [t, text] : c.tracks) EXPECT_EQ(track_text(t - 1), text) << "track " << t;
    EXPECT_EQ(midi_import_summary(report), c.summary);
    EXPECT_EQ(song_damage(image(), used_length()), nullptr);
  }
  // The last but two: header and text fields.
  ASSERT_EQ(import(cases[8].file), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(image() + SONG_TITLE), 10), "\x83\x65\x83\x58\x83\x67\x8b\xc8  ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(image() + start[0] + TRACK_MEMO), 6), "Piano ");
  EXPECT_EQ(image()[SONG_KEY], 27);  // C minor
  ASSERT_EQ(import(cases[9].file), nullptr);
  EXPECT_EQ(image()[SONG_TEMPO], 240);
  ASSERT_EQ(import(cases[6].file), nullptr);
  EXPECT_EQ(image()[SONG_BEAT], 3);
  EXPECT_EQ(image()[SONG_BEAT + 1], 4);
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
    for (std::uint32_t p = first_event(tr); p < track_end(tr); p += 4) {
      if (image()[p] == EV_CONTROL) {
        EXPECT_EQ(image()[p + 3], values++ & 127);
      }
    }
  std::uint32_t p = first_event(16);  // rests and measure ends up to the change
  while (image()[p] == EV_MEASURE_END || (image()[p] == 0 && image()[p + 2] == 0)) p += 4;
  EXPECT_EQ(image()[p], EV_MIDI_CH);
  EXPECT_EQ(image()[p + 2], 1);
  EXPECT_EQ(values, 17000);
  EXPECT_EQ(midi_import_summary(report), "3 tracks, 1 note; nothing changed");
}

TEST_F(MidiImportTest, RefusedFiles) {
  MidiBytes good = midi_file({notes_at({{60, 0, 48}})});
  auto with = [&](std::size_t at, std::initializer_list<int> bytes) {
    MidiBytes f = good;
    std::size_t i = at;
    for (int b : bytes) f[i++] = static_cast<std::uint8_t>(b);
    return f;
  };
  MidiTrack overlapping;
  for (int i = 0; i < 19; ++i) overlapping.at(1, {0x90, 60, 100});
  overlapping.at(100, {0xB0, 1, 0});
  const struct {
    const char* what;
    MidiBytes file;
    std::string line;
  } cases[] = {
      {"format 2", midi_file({notes_at({{60, 0, 48}})}, 96, 2),
       "MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1"},
      {"header cut short", MidiBytes(good.begin(), good.begin() + 12), "MIDI file damaged: the header is cut short"},
      {"track cut short", MidiBytes(good.begin(), good.end() - 3),
       "MIDI file damaged: track 1 runs past the end of the file"},
      {"track length of 2 GB", with(18, {0x7F, 0xFF, 0xFF, 0xFF}),
       "MIDI file damaged: track 1 runs past the end of the file"},
      {"event cut at the track's end", midi_file({MidiTrack{{0x00, 0x90, 60}, false}}),
       "MIDI file damaged: track 1 is cut short"},
      {"unterminated number", midi_file({MidiTrack{{0x81, 0x81, 0x81, 0x81, 0x00}, true}}),
       "MIDI file damaged: track 1: a variable-length number does not end"},
      {"running status first", midi_file({MidiTrack().at(0, {60, 100})}),
       "MIDI file damaged: track 1: running status with no status before it"},
      {"fewer tracks than the header says", midi_file({notes_at({{60, 0, 48}})}, 96, 1, 2),
       "MIDI file damaged: the header says 2 tracks, the file holds 1"},
      {"more tracks than the header says", midi_file({MidiTrack(), MidiTrack()}, 96, 1, 1),
       "MIDI file damaged: the header says 1 track, the file holds 2"},
      {"system message in a file", midi_file({MidiTrack().at(0, {0xF4})}),
       "MIDI file damaged: track 1: unknown event byte F4"},
      {"data byte above 7F", midi_file({MidiTrack().at(0, {0x90, 60, 0xC0})}),
       "MIDI file damaged: track 1: a data byte above 7F in a channel message"},
      {"0 ticks a quarter", midi_file({MidiTrack()}, 0), "MIDI file damaged: 0 ticks a quarter note"},
      {"frame rate", midi_file({MidiTrack()}, 0xE928), "MIDI file damaged: bad frame rate in the header"},
      {"RIFF without data",
       {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'R', 'M', 'I', 'D'},
       "MIDI file damaged: a RIFF MIDI file without MIDI data"},
      {"longer than a track can reach", midi_file({notes_at({{60, 0, 10}}).at(2000000, {0xB0, 1, 0})}, 48, 0),
       "MIDI file too long for a song: its 10417 bars need more events than a track holds"},
      {"too many tracks", midi_file({overlapping}, 48, 0),
       "MIDI file does not fit the 18 tracks: channel 1 needs 19 tracks (19 in all)"},
  };
  image()[SONG_TEMPO] = 97;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const char* line = import(c.file);
    EXPECT_EQ(line ? std::string(line) : "imported", c.line);
    EXPECT_EQ(image()[SONG_TEMPO], 97);  // the song as it was
  }
}

TEST_F(MidiImportTest, LoaderTakesMidiFilesByContent) {
  TempDir dir;
  const MidiBytes midi = midi_file({notes_at({{60, 0, 48}})});
  const struct {
    std::string name;
    MidiBytes bytes;
    int loaded;
    std::string name_after, alert;
  } cases[] = {
      {"a.mid", midi, 1, "a.sqf", ""},
      {"b.sqf", rmid_file(midi), 1, "b.sqf.sqf", ""},  // never saved over the MIDI file
      {"c", midi, 1, "c.sqf", ""},
      {"d.mid", midi_file({}, 96, 2), 0, "d.mid",
       "MIDI format 2 (independent patterns) cannot be imported, only formats 0 and 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file(c.name), c.bytes);
    new_song();
    image()[SONG_TEMPO] = 97;
    headless_clear_alerts();
    set_file_name(dir.file(c.name).c_str());
    EXPECT_EQ(load_song(), c.loaded);
    char name[FILE_NAME_SIZE];
    copy_file_name(name);
    EXPECT_EQ(std::string(name), dir.file(c.name_after));
    EXPECT_EQ(headless_alerts().empty() ? "" : headless_alerts().back(), c.alert);
    EXPECT_EQ(image()[SONG_TEMPO], c.loaded ? 120 : 97);
  }
  EXPECT_EQ(imported_song_name("x.y/z"), "x.y/z.sqf");
  EXPECT_EQ(imported_song_name("z.SQF"), "z.SQF.sqf");
}

}  // namespace
