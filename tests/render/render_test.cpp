// takto-cli render, run as a user runs it. Its audio is checked against the
// fluidsynth program playing the same song's export-midi file: two players
// agreeing shows that the timing and the messages reached the audio.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/host.h"
#include "host/synth/synth.h"

namespace {

using Tracks = std::vector<std::vector<Event>>;
const char* const PEER = "/usr/bin/fluidsynth";
const char* const PYTHON = "/usr/bin/python3";
const std::vector<std::uint8_t> KEEP = {'k', 'e', 'e', 'p'};

std::string save(const TempDir& dir, const Tracks& tracks, const char* name = "song.sqf") {
  new_song();
  EXPECT_TRUE(set_tracks(tracks));
  set_file_name(dir.file(name).c_str());
  EXPECT_EQ(save_song(), 0);
  return dir.file(name);
}

// Some 6 s: a GS reset and a GS drum part (taken only with device id 16),
// programs, controllers (one stored above 7F), pitch bend, a tempo change, a
// repeat, a rest and drums on channel 10. The voices keep apart in pitch: two
// voices in unison beat, and the beat in 10 ms windows moves with every
// millisecond that the peer's note starts differ from ours.
Tracks busy_song() {
  Tracks t(TRACK_COUNT);
  t[0] = {{EV_ROL_DEV, 0, 0x10, 0x42},  {EV_ROL_BASE, 0, 0x40, 0x00}, {EV_ROL_PARA, 0, 0x7F, 0x00},
          {EV_ROL_BASE, 0, 0x40, 0x13}, {EV_ROL_PARA, 0, 0x15, 0x01},  // part 3 (channel 3) plays drums
          {EV_PROGRAM, 0, 0, 0},        {EV_CONTROL, 0, 7, 0xE4},     {EV_REPEAT_START, 0, 0, 0}};
  for (int i = 0; i < 8; ++i) t[0].push_back({static_cast<std::uint8_t>(60 + (i * 7) % 12), 24, 24, 100});
  t[0].insert(t[0].end(), {{EV_REPEAT_END, 2, 0, 0},
                           {EV_TEMPO, 0, 80, 0},
                           {EV_PROGRAM, 0, 48, 0},
                           {72, 48, 48, 90},
                           {EV_PITCH, 48, 0, 0x50},
                           {EV_PITCH, 0, 0, 0x40},
                           {67, 96, 90, 100}});
  t[1] = {{EV_PROGRAM, 0, 4, 0}, {EV_CONTROL, 0, 10, 20}};
  for (int i = 0; i < 12; ++i)
    t[1].push_back({static_cast<std::uint8_t>(79 + (i % 3) * 4), 48, 36, static_cast<std::uint8_t>(60 + i * 5)});
  t[2] = {{EV_MIDI_CH, 0, 10, 0}};
  t[3] = {{EV_MIDI_CH, 0, 3, 0}, {EV_PROGRAM, 0, 0, 0}, {0, 24, 0, 0}};
  for (int i = 0; i < 12; ++i) {
    t[2].push_back({static_cast<std::uint8_t>(i % 2 == 0 ? 36 : 42), 48, 12, 50});
    t[3].push_back({38, 48, 12, 90});
  }
  return t;
}

// Renders SONG with render and with the fluidsynth program, and compares.
void expect_peer_agrees(const TempDir& dir, const std::string& song, int rate) {
  const std::string ours = dir.file("ours.wav"), peer = dir.file("peer.wav"), mid = dir.file("song.mid");
  CliResult c = run_cli("render " + song + " " + ours + " --rate " + std::to_string(rate));
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.err, "");  // no progress bar when stderr is no terminal
  ASSERT_EQ(run_cli("export-midi " + song + " " + mid).status, 0);
  const std::string run_peer = std::string(PEER) + " -ni -F " + peer + " -r " + std::to_string(rate) +
                               " -o synth.device-id=16 " + find_soundfont("") + " " + mid + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(run_peer.c_str()), 0) << run_peer;
  const std::string compare =
      std::string(PYTHON) + " " + TAKTO_SOURCE_DIR "/tests/render/compare_audio.py " + ours + " " + peer;
  const int status = std::system((compare + " >" + dir.file("compare")).c_str());
  const std::vector<std::uint8_t> said = read_file(dir.file("compare"));
  EXPECT_EQ(status, 0) << song << ": " << std::string(said.begin(), said.end());
  std::printf("%s at %d Hz: %.*s", std::filesystem::path(song).filename().c_str(), rate, int(said.size()), said.data());
}

TEST(Render, AgreesWithTheFluidSynthProgram) {
  if (access(PEER, X_OK) != 0) GTEST_SKIP() << "the fluidsynth program is not installed";
  if (std::system((std::string(PYTHON) + " -c 'import numpy' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "python3-numpy is not installed";
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  TempDir dir;
  expect_peer_agrees(dir, save(dir, busy_song()), 44100);
  expect_peer_agrees(dir, save(dir, busy_song()), 22050);
  const std::string demo = TAKTO_SOURCE_DIR "/examples/demo.sqf";
  if (std::filesystem::exists(demo)) expect_peer_agrees(dir, demo, 44100);
}

// A written file's first bytes, format and samples, as libsndfile reads them.
struct Audio {
  std::string magic;
  SF_INFO info{};
  std::vector<short> samples;
};

Audio read_audio(const std::string& path) {
  const std::vector<std::uint8_t> f = read_file(path);
  Audio a;
  a.magic.assign(f.begin(), f.begin() + std::min<std::size_t>(4, f.size()));
  SNDFILE* s = sf_open(path.c_str(), SFM_READ, &a.info);
  if (s == nullptr) return a;
  a.samples.resize(static_cast<std::size_t>(a.info.frames * a.info.channels));
  EXPECT_EQ(sf_readf_short(s, a.samples.data(), a.info.frames), a.info.frames) << path;
  sf_close(s);
  return a;
}

TEST(Render, FormatsAndTheTail) {
  TempDir dir;
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  // One quarter note (500 ms at 120) from ms 1, ending at the song's end.
  const std::string note = save(dir, {{{60, 48, 48, 100}}}, "note.sqf");
  // An organ held by the sustain pedal never falls silent.
  const std::string held =
      save(dir, {{{EV_PROGRAM, 0, 16, 0}, {EV_CONTROL, 0, 64, 127}, {60, 48, 48, 100}}}, "held.sqf");
  const struct {
    std::string song, out, args, magic;
    int rate;
    long long min_ms, max_ms;
  } rows[] = {{note, "a.wav", "", "RIFF", 44100, 600, 6000},
              {note, "a.WAV", " --rate 22050", "RIFF", 22050, 600, 6000},
              {held, "h.wav", "", "RIFF", 44100, 10500, 10502},  // the 10 s limit after the last message
              {note, "a.flac", "", "fLaC", 44100, 0, 0},
              {note, "a.ogg", "", "OggS", 44100, 0, 0}};
  long long wav_frames = 0;
  for (const auto& r : rows) {
    CliResult c = run_cli("render " + r.song + " " + dir.file(r.out) + r.args);
    ASSERT_EQ(c.status, 0) << r.out << ": " << c.err;
    const Audio a = read_audio(dir.file(r.out));
    EXPECT_EQ(a.magic, r.magic) << r.out;
    EXPECT_EQ(a.info.samplerate, r.rate) << r.out;
    EXPECT_EQ(a.info.channels, 2) << r.out;
    EXPECT_TRUE(std::any_of(a.samples.begin(), a.samples.end(), [](short v) { return v != 0; })) << r.out;
    if (r.magic != "RIFF") {  // compressed: as long as the WAV
      EXPECT_NEAR(static_cast<double>(a.info.frames), static_cast<double>(wav_frames), 4410) << r.out;
      continue;
    }
    EXPECT_EQ(a.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16) << r.out;
    if (r.out == "a.wav") wav_frames = a.info.frames;
    const long long ms = a.info.frames * 1000 / r.rate;
    EXPECT_GE(ms, r.min_ms) << r.out;
    EXPECT_LE(ms, r.max_ms) << r.out;
    if (r.song != note) continue;
    // The file ends with 100 ms of silence after the sound.
    std::size_t last = a.samples.size();
    while (last > 0 && a.samples[last - 1] == 0) --last;
    EXPECT_EQ(static_cast<long long>(a.samples.size() - last) / 2 * 1000 / r.rate, 100) << r.out;
  }
}

// --gain scales the default render, --normalize puts its peak at -1 dBFS, and
// samples that clip are counted in one line.
TEST(Render, GainAndNormalize) {
  TempDir dir;
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  const std::string song = save(dir, busy_song());
  ASSERT_EQ(run_cli("render " + song + " " + dir.file("plain.wav")).status, 0);
  const Audio plain = read_audio(dir.file("plain.wav"));
  const short plain_peak = *std::max_element(plain.samples.begin(), plain.samples.end(),
                                             [](short a, short b) { return std::abs(a) < std::abs(b); });
  const double normal = 0.891250938 * 32767 / std::abs(plain_peak);
  const struct {
    std::string args;
    double factor;  // to the plain render's samples
    std::string err;
  } rows[] = {
      {" --gain 6", 1.99526, ""},
      {" --gain -12.5", 0.237137, ""},
      {" --normalize", normal, ""},
      {" --gain 40", 0, " samples clipped at --gain +40.0 dB: a lower --gain, or --normalize, keeps them whole\n"}};
  for (const auto& r : rows) {
    CliResult c = run_cli("render " + song + " " + dir.file("out.wav") + r.args);
    ASSERT_EQ(c.status, 0) << r.args << ": " << c.err;
    const Audio a = read_audio(dir.file("out.wav"));
    // The tail ends after 100 ms that are silent at the file's level.
    const std::size_t n = std::min(a.samples.size(), plain.samples.size());
    if (r.args == " --normalize") {
      EXPECT_EQ(a.samples.size(), plain.samples.size());
    }
    if (r.factor == 0) {  // clipped: counted once, no more than the samples at full scale
      const long long full =
          std::count_if(a.samples.begin(), a.samples.end(), [](short v) { return std::abs(v) == 32767; });
      const long long said = std::atoll(c.err.c_str());
      EXPECT_TRUE(said > full * 0.99 && said <= full) << said << " of " << full;
      EXPECT_EQ(c.err, std::to_string(said) + r.err);
      continue;
    }
    EXPECT_EQ(c.err, r.err) << r.args;
    double worst = 0;
    for (std::size_t i = 0; i < n; ++i) worst = std::max(worst, std::fabs(a.samples[i] - r.factor * plain.samples[i]));
    EXPECT_LE(worst, r.factor / 2 + 2) << r.args;  // the plain render's rounding, scaled
  }
  const Audio normalized =
      (run_cli("render " + song + " " + dir.file("n.flac") + " --normalize"), read_audio(dir.file("n.flac")));
  const auto [low, high] = std::minmax_element(normalized.samples.begin(), normalized.samples.end());
  EXPECT_NEAR(std::max(-*low, +*high), 29204, 1);  // -1 dBFS of 32767
}

// Each note starts in the synthesizer's first 64-frame block at or after the
// frame where its millisecond begins (FluidSynth takes events per block).
TEST(Render, NotesLandOnTheirMillisecond) {
  TempDir dir;
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  std::vector<Event> notes;  // short notes, each followed by silence
  for (int i = 0; i < 4; ++i)
    notes.insert(notes.end(), {{EV_TEMPO, 0, static_cast<std::uint8_t>(40 + 9 * i), 0},
                               {static_cast<std::uint8_t>(60 + i), 3, 1, 120},
                               {0, 250, 0, 0}});
  const std::string song = save(dir, {notes});
  std::vector<long long> starts;  // ms of each note-on, from the trace
  std::istringstream trace(run_cli("trace " + song).out);
  for (std::string line; std::getline(trace, line);) {
    long long ms = 0;
    unsigned status = 0, velocity = 0;  // the track and the key do not matter
    if (std::sscanf(line.c_str(), "%lld %*d %x %*x %x", &ms, &status, &velocity) == 3 && status == 0x90 && velocity > 0)
      starts.push_back(ms);
  }
  ASSERT_EQ(starts.size(), 4u);
  for (const unsigned rate : {44100u, 48000u, 22050u}) {
    ASSERT_EQ(run_cli("render " + song + " " + dir.file("t.wav") + " --rate " + std::to_string(rate)).status, 0);
    const Audio a = read_audio(dir.file("t.wav"));
    std::vector<long long> onsets;  // first sounding frame after at least 0.5 s of zeros
    long long zeros = rate;
    for (std::size_t f = 0; f < a.samples.size() / 2; ++f) {
      const bool sound = a.samples[2 * f] != 0 || a.samples[2 * f + 1] != 0;
      if (sound && zeros >= rate / 2) onsets.push_back(static_cast<long long>(f));
      zeros = sound ? 0 : zeros + 1;
    }
    ASSERT_EQ(onsets.size(), starts.size()) << rate;
    for (std::size_t i = 0; i < starts.size(); ++i) {
      const long long block = (starts[i] * rate / 1000 + 63) / 64 * 64;
      EXPECT_GE(onsets[i], block) << rate << " Hz, note at " << starts[i] << " ms";
      EXPECT_LT(onsets[i], block + 16) << rate << " Hz, note at " << starts[i] << " ms";
    }
  }
}

TEST(Render, RefusalsLeaveTheOutputAlone) {
  TempDir dir;
  const std::string song = save(dir, {{{60, 12, 12, 100}}}), out = dir.file("out.wav");
  write_file(dir.file("junk.sqf"), std::vector<std::uint8_t>(40, 'x'));
  const std::string usage = "usage: takto-cli render";
  const struct {
    std::string args;
    int status;
    std::string err;
  } rows[] = {{song + " " + out + " --soundfont /none/x.sf2", 1, "No SoundFont found. Looked for:\n  /none/x.sf2\n"},
              {dir.file("junk.sqf") + " " + out, 1, "Not SQF format file"},
              {song + " " + dir.file("out.mp3"), 2, "Unknown audio file type"},
              {song + " " + dir.file("out"), 2, "Unknown audio file type"},
              {song + " " + out + " --rate 1000", 1, "8000-96000 Hz"},
              {song + " " + out + " --soundfont " + dir.file("junk.sqf"), 1, "cannot load the SoundFont"},
              {song + " /nonexistent-dir/out.wav", 1, "Cannot write /nonexistent-dir/out.wav"},
              {song + " " + out + " --rate x", 2, usage},
              {song + " " + out + " --track 19", 2, usage},
              {song + " " + out + " --soundfont", 2, usage},
              {song + " " + out + " --gain 41", 2, "--gain must be a level in dB from -40 to 40, not '41'"},
              {song + " " + out + " --gain x", 2, "not 'x'"},
              {song + " " + out + " --gain 3 --normalize", 2, "--gain and --normalize do not go together"},
              {song, 2, usage}};
  for (const auto& r : rows) {
    write_file(out, KEEP);
    CliResult c = run_cli("render " + r.args);
    EXPECT_EQ(c.status, r.status) << r.args;
    EXPECT_NE(c.err.find(r.err), std::string::npos) << r.args << ": " << c.err;
    EXPECT_EQ(read_file(out), KEEP) << r.args;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mp3")));
}

TEST(Render, InterruptedLeavesTheOutputAlone) {
  TempDir dir;
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  std::vector<Event> notes(460, Event{60, 255, 100, 100});  // 20 minutes
  const std::string song = save(dir, {notes}), out = dir.file("out.wav");
  write_file(out, KEEP);
  const std::string err = dir.file("err");
  // Ctrl-C once the output is being written.
  const int status = std::system((std::string(TAKTO_CLI) + " render " + song + " " + out + " 2>" + err +
                                  " & for i in $(seq 400); do ls " + dir.file("*.tmp") +
                                  " >/dev/null 2>&1 && break; sleep 0.05; done; kill -INT $!; wait $!")
                                     .c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  const std::vector<std::uint8_t> said = read_file(err);
  EXPECT_NE(std::string(said.begin(), said.end()).find("Interrupted: " + out + " left as it was"), std::string::npos);
  EXPECT_EQ(read_file(out), KEEP);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(Render, ProgressBarOnATerminal) {
  TempDir dir;
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  if (access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script (util-linux) is needed for a terminal";
  const std::string song = save(dir, {{{60, 96, 96, 100}}});
  const std::string cmd = "/usr/bin/script -qec '" + std::string(TAKTO_CLI) + " render " + song + " " +
                          dir.file("out.wav") + "' /dev/null >" + dir.file("tty");
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  const std::vector<std::uint8_t> tty = read_file(dir.file("tty"));
  const std::string seen(tty.begin(), tty.end());
  for (const char* part : {"[##############################]", "1.0 / 1.0 s", "x real time"})
    EXPECT_NE(seen.find(part), std::string::npos) << part << " in " << seen;
}

}  // namespace
