// takto-cli render, run as a user runs it, and the synthesizer it plays. The
// demo's audio is checked against the fluidsynth program playing the song's
// export-midi file: two players agreeing shows that the timing and the
// messages reached the audio.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "common/cli_case.h"
#include "host/synth/synth.h"

namespace {

const std::vector<std::uint8_t> KEEP = {'k', 'e', 'e', 'p'};
#define NEED_SOUNDFONT \
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed"

// A written file's first bytes, format and samples as libsndfile reads them,
// and what the render said.
struct Audio {
  std::string magic, said;
  SF_INFO info{};
  std::vector<short> samples;
};

Audio render(const std::string& song, const std::string& out, const std::string& args = "") {
  const CliResult c = run_cli("render " + song + " " + out + args);
  EXPECT_EQ(c.status, 0) << args << ": " << c.err;
  Audio a{file_text(out).substr(0, 4), c.err, {}, {}};
  SNDFILE* s = sf_open(out.c_str(), SFM_READ, &a.info);
  if (s == nullptr) return a;
  a.samples.resize(static_cast<std::size_t>(a.info.frames * a.info.channels));
  EXPECT_EQ(sf_readf_short(s, a.samples.data(), a.info.frames), a.info.frames) << out;
  sf_close(s);
  return a;
}

// The demo song has GS exclusives, programs, controllers, pitch bend, tempo
// changes, repeats and drums. --gain scales its default render, --normalize
// puts the peak at -1 dBFS, and samples that clip are counted in one line.
TEST(Render, DemoLevelsAndThePeer) {
  NEED_SOUNDFONT;
  TempDir dir;
  const std::string demo = TAKTO_SOURCE_DIR "/examples/demo.sqf", ours = dir.file("ours.wav");
  const Audio plain = render(demo, ours);
  EXPECT_EQ(plain.said, "");  // no progress bar when stderr is no terminal
  auto peak = [](const Audio& a) {
    const auto [low, high] = std::minmax_element(a.samples.begin(), a.samples.end());
    return std::max(-*low, +*high);
  };
  // Clipped samples are counted once, and no more than those at full scale.
  const Audio loud = render(demo, dir.file("loud.flac"), " --gain 40");
  const long long full = std::ranges::count_if(loud.samples, [](short v) { return std::abs(v) == 32767; }),
                  said = std::atoll(loud.said.c_str());
  EXPECT_TRUE(said > full * 0.99 && said <= full) << said << " of " << full;
  EXPECT_EQ(loud.said, std::to_string(said) +
                           " samples clipped at --gain +40.0 dB: a lower --gain, or --normalize, keeps them whole\n");
  const struct {
    std::string args;
    double factor;  // to the plain render's samples
  } rows[] = {{" --gain 6", 1.99526}, {" --gain -12.5", 0.237137}, {" --normalize", 29204.0 / peak(plain)}};
  for (const auto& r : rows) {
    const Audio a = render(demo, dir.file("out.flac"), r.args);
    EXPECT_EQ(a.said, "") << r.args;
    // The tail ends after 100 ms that are silent at the file's level.
    EXPECT_TRUE(r.args != " --normalize" || a.samples.size() == plain.samples.size());
    double worst = 0;
    for (std::size_t i = 0; i < std::min(a.samples.size(), plain.samples.size()); ++i)
      worst = std::max(worst, std::fabs(a.samples[i] - r.factor * plain.samples[i]));
    EXPECT_LE(worst, r.factor / 2 + 2) << r.args;  // the plain render's rounding, scaled
    EXPECT_TRUE(r.args != " --normalize" || std::abs(peak(a) - 29204) <= 1) << peak(a);  // -1 dBFS of 32767
  }
  if (access("/usr/bin/fluidsynth", X_OK) != 0) GTEST_SKIP() << "the fluidsynth program is not installed";
  if (std::system("/usr/bin/python3 -c 'import numpy' 2>/dev/null") != 0) GTEST_SKIP() << "no python3-numpy";
  const std::string mid = dir.file("song.mid"), peer = dir.file("peer.wav");
  ASSERT_EQ(run_cli("export-midi " + demo + " " + mid).status, 0);
  const CliResult p = run_shell("/usr/bin/fluidsynth -ni -F " + peer + " -r 44100 -o synth.device-id=16 " +
                                find_soundfont("") + " " + mid + " >/dev/null");
  ASSERT_EQ(p.status, 0) << p.err;
  const CliResult c =
      run_shell("/usr/bin/python3 " TAKTO_SOURCE_DIR "/tests/render/compare_audio.py " + ours + " " + peer);
  EXPECT_EQ(c.status, 0) << c.out << c.err;
}

// Every format holds the sound; a note's file ends 100 ms after it, and an
// organ held by the sustain pedal never falls silent and stops 10 s after the
// last message. Each note starts in the synthesizer's first 64-frame block at
// or after the frame where its millisecond begins (FluidSynth takes events per
// block).
TEST(Render, FormatsOnsetsAndTheTail) {
  NEED_SOUNDFONT;
  TempDir dir;
  std::vector<Event> notes;  // short notes, each followed by silence
  for (int i = 0; i < 4; ++i)
    notes.insert(notes.end(), {{EV_TEMPO, 0, static_cast<std::uint8_t>(40 + 9 * i), 0},
                               {static_cast<std::uint8_t>(60 + i), 3, 1, 120},
                               {0, 250, 0, 0}});
  const std::string song = save_tracks(dir, {notes}, "notes.sqf");
  const std::vector<long long> starts = note_on_ms(run_cli("trace " + song).out);
  ASSERT_EQ(starts.size(), 4u);
  const struct {
    std::string out, args, want;  // magic, rate, channels
  } rows[] = {{"a.wav", " --rate 48000", "RIFF 48000 2"},
              {"a.WAV", " --rate 22050", "RIFF 22050 2"},
              {"a.flac", "", "fLaC 44100 2"},
              {"a.ogg", "", "OggS 44100 2"}};
  long long wav_ms = 0;
  for (const auto& r : rows) {
    const Audio a = render(song, dir.file(r.out), r.args);
    const long long rate = a.info.samplerate, ms = a.info.frames * 1000 / std::max(rate, 1LL);
    EXPECT_EQ(a.magic + " " + std::to_string(rate) + " " + std::to_string(a.info.channels), r.want);
    EXPECT_TRUE(a.magic != "RIFF" || (a.info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16) << r.out;
    if (a.magic == "OggS") {  // lossy: as long as the others, and not silent
      EXPECT_NEAR(ms, wav_ms, 100);
      EXPECT_TRUE(std::ranges::any_of(a.samples, [](short v) { return v != 0; }));
      continue;
    }
    wav_ms = ms;
    std::vector<long long> onsets;  // first sounding frame after at least 0.5 s of zeros
    long long zeros = rate;
    for (std::size_t f = 0; f < a.samples.size() / 2; ++f) {
      const bool sound = a.samples[2 * f] != 0 || a.samples[2 * f + 1] != 0;
      if (sound && zeros >= rate / 2) onsets.push_back(static_cast<long long>(f));
      zeros = sound ? 0 : zeros + 1;
    }
    ASSERT_EQ(onsets.size(), starts.size()) << r.out;
    for (std::size_t i = 0; i < starts.size(); ++i) {
      const long long late = onsets[i] - (starts[i] * rate / 1000 + 63) / 64 * 64;
      EXPECT_TRUE(late >= 0 && late < 16) << rate << " Hz, note at " << starts[i] << " ms: " << late;
    }
  }
  const Audio note = render(save_tracks(dir, {{{60, 48, 48, 100}}}, "note.sqf"), dir.file("n.wav")),
              held = render(
                  save_tracks(dir, {{{EV_PROGRAM, 0, 16, 0}, {EV_CONTROL, 0, 64, 127}, {60, 48, 48, 100}}}, "held.sqf"),
                  dir.file("h.wav"));
  const auto sounding =
      std::ranges::find_if(note.samples.rbegin(), note.samples.rend(), [](short v) { return v != 0; });
  EXPECT_EQ((sounding - note.samples.rbegin()) / 2 * 1000 / note.info.samplerate, 100);
  EXPECT_NEAR(held.info.frames / 44.1, 10501.5, 1.5) << "the 10 s limit after the last message";
}

TEST(Render, RefusalsLeaveTheOutputAlone) {
  TempDir dir;
  const std::string song = save_tracks(dir, {{{60, 12, 12, 100}}}), out = dir.file("out.wav"), to = song + " " + out,
                    junk = dir.file("junk.sqf"), mp3 = dir.file("out.mp3"),
                    usage = "usage: takto-cli render SONG.sqf OUT.wav [--soundfont PATH]...";
  write_file(junk, std::vector<std::uint8_t>(40, 'x'));
  for (const CliCase& c : std::vector<CliCase>{
           {to + " --soundfont /none/x.sf2", 1, "",
            "No SoundFont found. Looked for:\n  /none/x.sf2\nGive the path of an existing .sf2 file.\n"},
           {junk + " " + out, 1, "", "Not SQF format file\n"},
           {song + " " + mp3, 2, "", "Unknown audio file type: " + mp3 + " (use .wav, .flac or .ogg)\n"},
           {song + " " + dir.file("out"), 2, "",
            "Unknown audio file type: " + dir.file("out") + " (use .wav, .flac or .ogg)\n"},
           {to + " --rate 1000", 1, "", "Cannot start the synthesizer: sample rate 1000 Hz is outside 8000-96000 Hz\n"},
           {to + " --soundfont " + junk, 1, "",
            "Cannot start the synthesizer: cannot load the SoundFont " + junk + "\n..."},
           {song + " /nonexistent-dir/out.wav", 1, "",
            "Cannot write /nonexistent-dir/out.wav: No such file or directory\n"},
           {to + " --rate x", 2, "", usage},
           {to + " --track 19", 2, "", usage},
           {to + " --soundfont", 2, "", usage},
           {to + " --gain 41", 2, "", "--gain must be a level in dB from -40 to 40, not '41'\n"},
           {to + " --gain 3 --normalize", 2, "",
            "--gain and --normalize do not go together: --normalize sets the level itself\n"},
           {song, 2, "", usage}}) {
    write_file(out, KEEP);
    expect_cli({"render " + c.args, c.status, c.out, c.err});
    EXPECT_EQ(read_file(out), KEEP) << c.args;
  }
  EXPECT_FALSE(std::filesystem::exists(mp3));
}

// Ctrl-C once the output is being written leaves it as it was; on a terminal
// a progress bar shows.
TEST(Render, InterruptedAndOnATerminal) {
  NEED_SOUNDFONT;
  TempDir dir;
  const std::string song = save_tracks(dir, {std::vector<Event>(460, Event{60, 255, 100, 100})}),
                    out = dir.file("out.wav");
  write_file(out, KEEP);
  const CliResult c = run_cli("render " + song + " " + out + " 2>&1 & for i in $(seq 400); do ls " + dir.file("*.tmp") +
                              " >/dev/null 2>&1 && break; sleep 0.05; done; kill -INT $!; wait $!");
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.out.find("Interrupted: " + out + " left as it was\n"), std::string::npos) << c.out;
  EXPECT_EQ(read_file(out), KEEP);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2) << "the song and out.wav alone";
  if (access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script (util-linux) is needed for a terminal";
  const CliResult tty = run_shell("/usr/bin/script -qec '" + std::string(TAKTO_CLI) + " render " +
                                  save_tracks(dir, {{{60, 96, 96, 100}}}) + " " + out + "' /dev/null");
  EXPECT_EQ(tty.status, 0);
  for (const char* part : {"[##############################]", "1.0 / 1.0 s", "x real time"})
    EXPECT_NE(tty.out.find(part), std::string::npos) << part << " in " << tty.out;
}

struct Timed {
  int ms;
  std::vector<std::uint8_t> bytes;
};

// A fresh synthesizer gets the messages at their times; 1.5 s of its audio.
std::vector<std::int16_t> synth_audio(const std::vector<Timed>& messages) {
  constexpr int RATE = 22050;
  std::string why;
  EXPECT_TRUE(synth_open(find_soundfont(""), RATE, &why, true)) << why;
  std::vector<std::int16_t> out(2 * RATE * 3 / 2);
  int done = 0;
  auto render_to = [&](int frame) { synth_render(out.data() + 2 * done, frame - done), done = frame; };
  for (const Timed& m : messages) {
    render_to(m.ms * RATE / 1000);
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < m.bytes.size() && i < 4; ++i) word |= std::uint32_t{m.bytes[i]} << (8 * i);
    m.bytes[0] == 0xF0 ? synth_long(m.bytes.data(), m.bytes.size()) : synth_short(word);
  }
  render_to(RATE * 3 / 2);
  synth_close();
  return out;
}

// The built-in synthesizer takes messages as a MIDI device gets them: two
// message lists that a device treats alike render the same samples, and two
// it treats differently do not.
TEST(Synth, MessagesAsADeviceGetsThem) {
  NEED_SOUNDFONT;
  // GS: part 1 (channel 0) becomes a drum part; device id 10 is 16.
  const std::vector<std::uint8_t> drums = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};
  std::vector<std::uint8_t> drums_other_id = drums, drums_high_byte = drums;
  drums_other_id[2] = 0x11;
  drums_high_byte[7] = 0x95;  // cut to 15, as an exported file holds it
  const Timed O{0, {0xC0, 16}}, N{10, {0x90, 0x3C, 0x64}}, D{10, {0x90, 38, 100}}, OFF{500, {0x90, 0x3C, 0x00}};
  const std::vector<Timed> held = {O, N};
  const struct {
    std::vector<Timed> a, b;
    bool same;
    const char* what;
  } rows[] = {
      {{O, N, OFF}, {O, N, {500, {0x80, 0x3C, 0x00}}}, true, "velocity 0 is a note-off"},
      {{O, N, OFF}, held, false, "the note-off is heard"},
      {{O, {10, {0x90, 0xBC, 0xE4}}}, held, true, "data bytes above 7F are cut to 7 bits"},
      {{O, {10, {0x3C, 0x64}}, {10, {0xF8}}, {10, {0xF0, 0x41}}, {10, {0x41, 0x10, 0xF7}}, N},
       held,
       true,
       "no status byte, a real-time byte and broken exclusives do nothing"},
      {{{0, drums}, D}, {D}, false, "a GS part exclusive for device 16 is taken"},
      {{{0, drums_other_id}, D}, {D}, true, "other devices' exclusives are not"},
      {{{0, drums_high_byte}, D}, {{0, drums}, D}, true, "exclusive data above 7F is cut to 7 bits"},
      {{O, N, {400, {0xE0, 0x00, 0x60}}}, held, false, "pitch bend"},
      {{O, N, {400, {0xB0, 0x07, 0x20}}}, held, false, "control change"},
  };
  for (const auto& r : rows) {
    const std::vector<std::int16_t> a = synth_audio(r.a), b = synth_audio(r.b);
    EXPECT_EQ(a == b, r.same) << r.what;
    EXPECT_TRUE(std::any_of(a.begin(), a.end(), [](std::int16_t v) { return v != 0; })) << r.what;
  }
}

// Closed, as a SoundFont it cannot load leaves it, it takes messages and
// renders silence.
TEST(Synth, TheClosedSynthesizer) {
  EXPECT_FALSE(synth_open("/none/x.sf2", 44100, nullptr));
  EXPECT_FALSE(synth_is_open());
  synth_short(0x643C90);
  std::vector<std::int16_t> out(256, 7);
  synth_render(out.data(), 128);
  EXPECT_EQ(out, std::vector<std::int16_t>(256, 0));
  EXPECT_EQ(synth_last_peak(), 0);
}

}  // namespace
