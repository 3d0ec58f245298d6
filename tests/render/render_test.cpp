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
const std::vector<std::uint8_t> KEEP = {'k', 'e', 'e', 'p'};
#define NEED_SOUNDFONT \
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed"

std::string save(const TempDir& dir, const Tracks& tracks, const char* name = "song.sqf") {
  new_song();
  EXPECT_TRUE(set_tracks(tracks));
  set_file_name(dir.file(name).c_str());
  EXPECT_EQ(save_song(), 0);
  return dir.file(name);
}

// The demo song: GS exclusives, programs, controllers, pitch bend, tempo
// changes, repeats and drums.
const std::string DEMO = TAKTO_SOURCE_DIR "/examples/demo.sqf";

TEST(Render, AgreesWithTheFluidSynthProgram) {
  if (access("/usr/bin/fluidsynth", X_OK) != 0) GTEST_SKIP() << "the fluidsynth program is not installed";
  if (std::system("/usr/bin/python3 -c 'import numpy' 2>/dev/null") != 0) GTEST_SKIP() << "no python3-numpy";
  NEED_SOUNDFONT;
  TempDir dir;
  const std::string song = DEMO, ours = dir.file("ours.wav"), peer = dir.file("peer.wav");
  CliResult c = run_cli("render " + song + " " + ours);
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.err, "");  // no progress bar when stderr is no terminal
  ASSERT_EQ(run_cli("export-midi " + song + " " + dir.file("song.mid")).status, 0);
  const std::string run_peer = "/usr/bin/fluidsynth -ni -F " + peer + " -r 44100 -o synth.device-id=16 " +
                               find_soundfont("") + " " + dir.file("song.mid") + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(run_peer.c_str()), 0) << run_peer;
  const std::string compare = "/usr/bin/python3 " TAKTO_SOURCE_DIR "/tests/render/compare_audio.py " + ours + " " +
                              peer + " >" + dir.file("said");
  const int status = std::system(compare.c_str());
  const std::vector<std::uint8_t> said = read_file(dir.file("said"));
  EXPECT_EQ(status, 0) << std::string(said.begin(), said.end());
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
  NEED_SOUNDFONT;
  TempDir dir;
  // One quarter note (500 ms at 120); an organ held by the sustain pedal never falls silent.
  const std::string note = save(dir, {{{60, 48, 48, 100}}}, "note.sqf");
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
    ASSERT_EQ(run_cli("render " + r.song + " " + dir.file(r.out) + r.args).status, 0) << r.out;
    const Audio a = read_audio(dir.file(r.out));
    EXPECT_EQ(a.magic + " " + std::to_string(a.info.samplerate) + " " + std::to_string(a.info.channels),
              r.magic + " " + std::to_string(r.rate) + " 2");
    EXPECT_TRUE(std::any_of(a.samples.begin(), a.samples.end(), [](short v) { return v != 0; })) << r.out;
    if (r.magic != "RIFF") {  // compressed: as long as the WAV
      EXPECT_NEAR(static_cast<double>(a.info.frames), static_cast<double>(wav_frames), 4410) << r.out;
      continue;
    }
    EXPECT_EQ(a.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16) << r.out;
    if (r.out == "a.wav") wav_frames = a.info.frames;
    const long long ms = a.info.frames * 1000 / r.rate;
    EXPECT_TRUE(ms >= r.min_ms && ms <= r.max_ms) << r.out << ": " << ms;
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
  NEED_SOUNDFONT;
  TempDir dir;
  const std::string song = DEMO;
  ASSERT_EQ(run_cli("render " + song + " " + dir.file("plain.wav")).status, 0);
  const Audio plain = read_audio(dir.file("plain.wav"));
  auto peak = [](const Audio& a) {
    const auto [low, high] = std::minmax_element(a.samples.begin(), a.samples.end());
    return std::max(-*low, +*high);
  };
  const struct {
    std::string args;
    double factor;  // to the plain render's samples; 0 when clipped
  } rows[] = {
      {" --gain 6", 1.99526}, {" --gain -12.5", 0.237137}, {" --normalize", 29204.0 / peak(plain)}, {" --gain 40", 0}};
  for (const auto& r : rows) {
    CliResult c = run_cli("render " + song + " " + dir.file("out.flac") + r.args);
    ASSERT_EQ(c.status, 0) << r.args << ": " << c.err;
    const Audio a = read_audio(dir.file("out.flac"));
    if (r.factor == 0) {  // counted once, no more than the samples at full scale
      const long long full = std::count_if(a.samples.begin(), a.samples.end(), [](short v) { return v == 32767; }) +
                             std::count(a.samples.begin(), a.samples.end(), -32767);
      const long long said = std::atoll(c.err.c_str());
      EXPECT_TRUE(said > full * 0.99 && said <= full) << said << " of " << full;
      EXPECT_EQ(c.err, std::to_string(said) +
                           " samples clipped at --gain +40.0 dB: a lower --gain, or --normalize, keeps them whole\n");
      continue;
    }
    EXPECT_EQ(c.err, "") << r.args;
    // The tail ends after 100 ms that are silent at the file's level.
    EXPECT_TRUE(r.args != " --normalize" || a.samples.size() == plain.samples.size());
    double worst = 0;
    for (std::size_t i = 0; i < std::min(a.samples.size(), plain.samples.size()); ++i)
      worst = std::max(worst, std::fabs(a.samples[i] - r.factor * plain.samples[i]));
    EXPECT_LE(worst, r.factor / 2 + 2) << r.args;  // the plain render's rounding, scaled
    EXPECT_TRUE(r.args != " --normalize" || std::abs(peak(a) - 29204) <= 1) << peak(a);  // -1 dBFS of 32767
  }
}

// Each note starts in the synthesizer's first 64-frame block at or after the
// frame where its millisecond begins (FluidSynth takes events per block).
TEST(Render, NotesLandOnTheirMillisecond) {
  NEED_SOUNDFONT;
  TempDir dir;
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
    unsigned status = 0, velocity = 0;
    if (std::sscanf(line.c_str(), "%lld %*d %x %*x %x", &ms, &status, &velocity) == 3 && status == 0x90 && velocity > 0)
      starts.push_back(ms);
  }
  ASSERT_EQ(starts.size(), 4u);
  for (const unsigned rate : {48000u, 22050u}) {
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
      const long long late = onsets[i] - (starts[i] * rate / 1000 + 63) / 64 * 64;
      EXPECT_TRUE(late >= 0 && late < 16) << rate << " Hz, note at " << starts[i] << " ms: " << late;
    }
  }
}

TEST(Render, RefusalsLeaveTheOutputAlone) {
  TempDir dir;
  const std::string song = save(dir, {{{60, 12, 12, 100}}}), out = dir.file("out.wav"),
                    usage = "usage: takto-cli render";
  write_file(dir.file("junk.sqf"), std::vector<std::uint8_t>(40, 'x'));
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

// Ctrl-C once the output is being written leaves it as it was; on a terminal
// a progress bar shows.
TEST(Render, InterruptedAndOnATerminal) {
  NEED_SOUNDFONT;
  TempDir dir;
  const std::string song = save(dir, {std::vector<Event>(460, Event{60, 255, 100, 100})}), out = dir.file("out.wav");
  write_file(out, KEEP);
  const int status = std::system((std::string(TAKTO_CLI) + " render " + song + " " + out + " 2>" + dir.file("err") +
                                  " & for i in $(seq 400); do ls " + dir.file("*.tmp") +
                                  " >/dev/null 2>&1 && break; sleep 0.05; done; kill -INT $!; wait $!")
                                     .c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  const std::vector<std::uint8_t> said = read_file(dir.file("err"));
  EXPECT_NE(std::string(said.begin(), said.end()).find("Interrupted: " + out + " left as it was"), std::string::npos);
  EXPECT_EQ(read_file(out), KEEP);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3) << "song, out.wav, err";
  if (access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script (util-linux) is needed for a terminal";
  const std::string cmd = "/usr/bin/script -qec '" + std::string(TAKTO_CLI) + " render " +
                          save(dir, {{{60, 96, 96, 100}}}) + " " + out + "' /dev/null >" + dir.file("tty");
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  const std::vector<std::uint8_t> tty = read_file(dir.file("tty"));
  const std::string seen(tty.begin(), tty.end());
  for (const char* part : {"[##############################]", "1.0 / 1.0 s", "x real time"})
    EXPECT_NE(seen.find(part), std::string::npos) << part << " in " << seen;
}

}  // namespace
