// takto's sound: a MIDI port gets the messages takto-cli trace lists, a song
// closed while it plays is silenced first, and the built-in synthesizer
// renders audio (SDL's disk driver stands in for a sound card).
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "desktop/desktop_run.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

// Writes a song: tempo, then the events of tracks 1, 2, ...
std::string write_song(const TempDir& dir, const char* name, std::uint8_t tempo,
                       const std::vector<std::vector<Event>>& tracks) {
  headless_echo_alerts(false);
  new_song();
  image()[SONG_TEMPO] = tempo;
  set_tracks(tracks);
  const std::string path = dir.file(name);
  set_file_name(path.c_str());
  EXPECT_EQ(save_song(), 0);
  return path;
}

// A short song with a program, notes on two channels, a controller and a
// track exclusive (a GS reset with its checksum).
std::string short_song(const TempDir& dir) {
  return write_song(dir, "short.sqf", 240,
                    {{{EV_PROGRAM, 0, 10, 0},
                      {EV_TRACK_EXCL, 0, 0, 0},
                      {EV_CONTINUE, 0, 0x41, 0x10},
                      {EV_CONTINUE, 0, 0x42, 0x12},
                      {EV_CONTINUE, 0, 0x83, 0x40},
                      {EV_CONTINUE, 0, 0x00, 0x7F},
                      {EV_CONTINUE, 0, 0x00, 0x84},
                      {EV_CONTINUE, 0, 0xF7, 0xF7},
                      {60, 24, 20, 100},
                      {EV_CONTROL, 0, 7, 90},
                      {64, 24, 20, 100},
                      {67, 48, 40, 110},
                      {EV_MEASURE_END, 0, 0, 0}},
                     {{48, 96, 90, 80}}});
}

// Every message of the song in order, as takto-cli trace lists them.
std::vector<Bytes> traced(const std::string& song) {
  std::istringstream lines(run_cli("trace " + song).out);
  std::vector<Bytes> messages;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string hex;
    fields >> hex >> hex;  // milliseconds and tick
    Bytes bytes;
    while (fields >> hex) bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
    if (!bytes.empty()) messages.push_back(bytes);
  }
  return messages;
}

// A JACK server of the dummy driver, named for this test, and an input port
// "takto-test:in" on it whose messages land in `arrived`.
struct JackInput {
  pid_t server = -1;
  std::unique_ptr<RtMidiIn> in;
  std::mutex lock;
  std::vector<Bytes> arrived;
  JackInput() {
    const std::string name = "takto-test-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    // Long periods and a patient server: on a loaded machine a late cycle
    // would otherwise drop its messages.
    server = spawn({"jackd", "-n", name, "-r", "-t", "5000", "-d", "dummy", "-r", "48000", "-p", "2048"}, {});
    if (std::system("jack_wait -w -t 5 >/dev/null 2>&1") != 0) return;
    in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "takto-test");
    in->ignoreTypes(false, true, true);
    in->setCallback(
        [](double, Bytes* message, void* self) {
          auto* jack = static_cast<JackInput*>(self);
          std::lock_guard<std::mutex> hold(jack->lock);
          jack->arrived.push_back(*message);
        },
        this);
    in->openVirtualPort("in");
  }
  ~JackInput() {
    in.reset();
    if (server > 0) {
      kill(server, SIGTERM);
      wait_exit(server, 3000);
    }
  }
  // Takes what arrived once `count` messages are there and nothing more came
  // for 300 ms (or the time is up).
  std::vector<Bytes> receive(std::size_t count, int timeout_ms) {
    std::size_t seen = 0;
    int quiet = 0;
    for (int waited = 0; waited < timeout_ms; waited += 5) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::lock_guard<std::mutex> hold(lock);
      quiet = arrived.size() == seen ? quiet + 5 : 0;
      seen = arrived.size();
      if (seen >= count && quiet >= 300) break;
    }
    std::lock_guard<std::mutex> hold(lock);
    std::vector<Bytes> taken;
    taken.swap(arrived);
    return taken;
  }
};

TEST(DesktopSound, PortGetsWhatTraceListsAndCloseSilences) {
  SKIP_WITHOUT("Xvfb", "xdotool", "jackd", "jack_wait");
  TempDir dir;
  const std::string song = short_song(dir);
  // Long notes at tempo 30: the window is closed while the first sounds.
  const std::string long_song =
      write_song(dir, "long.sqf", 30, {{{60, 255, 255, 100}, {62, 255, 255, 100}}, {{43, 255, 255, 90}}});
  const std::vector<Bytes> expected = traced(song);
  ASSERT_GT(expected.size(), 8u);

  JackInput jack;
  ASSERT_TRUE(jack.in) << "the JACK server did not start";
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  {
    RunningProgram takto(display, {"--midi-out", "takto-test:in", song}, {}, dir.file("out1"));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    takto.keys("p");  // play from the command menu
    EXPECT_EQ(jack.receive(expected.size(), 10000), expected);
    takto.keys("Escape q");
    EXPECT_EQ(takto.wait(), 0);
  }
  {
    RunningProgram takto(display, {"--midi-out=takto-test", long_song}, {}, dir.file("out2"));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    takto.keys("p");
    const std::vector<Bytes> sounding = {{0x90, 60, 100}, {0x91, 43, 90}};
    ASSERT_EQ(jack.receive(2, 10000), sounding);
    EXPECT_EQ(takto.close(), 0);
    const std::vector<Bytes> ended = {{0x90, 60, 0}, {0x91, 43, 0}};
    EXPECT_EQ(jack.receive(2, 3000), ended) << "every note that sounded ends when the window closes";
  }
}

// Enhanced mode with a keyboard on a JACK port: thru goes out as it comes on
// the main screen, on the edited track's channel on the edit screen, and
// MIDI clock starts and stops with play.
TEST(DesktopSound, MidiInThruAndClock) {
  SKIP_WITHOUT("Xvfb", "xdotool", "jackd", "jack_wait");
  TempDir dir;
  const std::string song = write_song(dir, "s.sqf", 120, {{{60, 48, 20, 100}, {EV_MEASURE_END, 0, 0, 0}}});
  JackInput jack;
  ASSERT_TRUE(jack.in) << "the JACK server did not start";
  jack.in->ignoreTypes(false, false, true);  // the clock too
  RtMidiOut keyboard(RtMidi::UNIX_JACK, "takto-keys");
  keyboard.openVirtualPort("keys");
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  RunningProgram takto(display, {"--midi-out", "takto-test:in", "--midi-in", "takto-keys:keys", "--midi-clock", song},
                       {}, dir.file("out"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  // The input opens after the window shows: the keyboard plays until it is heard.
  const Bytes key = {0x95, 0x3C, 0x64};
  std::vector<Bytes> heard;
  for (int i = 0; i < 20 && heard.empty(); ++i) {
    keyboard.sendMessage(&key);
    heard = jack.receive(1, 500);
  }
  EXPECT_EQ(heard, std::vector<Bytes>{key}) << takto.output();
  takto.keys("Return Return Return");
  keyboard.sendMessage(&key);
  EXPECT_EQ(jack.receive(1, 5000), (std::vector<Bytes>{{0x90, 0x3C, 0x64}}));
  takto.keys("Escape Escape p");
  const std::vector<Bytes> played = jack.receive(8, 10000);
  ASSERT_GT(played.size(), 4u);
  EXPECT_EQ(played.front(), Bytes{0xFA});
  EXPECT_EQ(played.back(), Bytes{0xFC}) << "the song ends by itself";
  EXPECT_GT(std::count(played.begin(), played.end(), Bytes{0xF8}), 20);
  takto.keys("q");
  EXPECT_EQ(takto.wait(), 0);
}

// The loudest sample of stereo 16-bit audio.
int peak_of(const std::vector<std::uint8_t>& raw) {
  int peak = 0;
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
    const auto sample = static_cast<std::int16_t>(raw[i] | (raw[i + 1] << 8));
    peak = std::max(peak, std::abs(int{sample}));
  }
  return peak;
}

// Also run by the ThreadSanitizer build ("Threads"): the audio thread meets
// the timer thread in the synthesizer. At +40 dB the song clips, and takto
// says so once as it ends.
TEST(DesktopSynthThreads, RendersTheSong) {
  SKIP_WITHOUT("Xvfb", "xdotool");
  TempDir dir;
  const std::string song = short_song(dir);
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  const struct {
    std::vector<std::string> args;
    const char* clipped;  // what takto says at the end, "" nothing
  } rows[] = {{{song}, ""}, {{"--gain", "40", song}, " samples clipped at --gain +40.0 dB"}};
  for (const auto& r : rows) {
    const std::string audio = dir.file("audio.raw");
    std::filesystem::remove(audio);
    RunningProgram takto(display, r.args, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio},
                         dir.file("out" + std::to_string(r.args.size())));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    takto.keys("p");
    // The SoundFont loads first; the song plays once it has.
    for (int waited = 0; waited < 20000 && peak_of(read_file(audio)) <= 1000; waited += 200) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(takto.close(), 0);
    const std::string said = takto.output();
    EXPECT_EQ(said.find("without sound"), std::string::npos) << said;
    EXPECT_GT(peak_of(read_file(audio)), 1000) << "the synthesizer's audio is silent";
    std::size_t times = 0;
    for (std::size_t at = said.find("clipped"); at != std::string::npos; at = said.find("clipped", at + 1)) ++times;
    EXPECT_EQ(times, *r.clipped ? 1u : 0u) << said;
    EXPECT_NE(said.find(r.clipped), std::string::npos) << said;
  }
}

// --- Live play against the render ---

// The louder channel of each frame of 16-bit stereo samples, appended to level.
void add_levels(const std::uint8_t* bytes, std::size_t n, std::vector<int>& level) {
  auto sample = [&](std::size_t at) { return std::abs(static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8))); };
  for (std::size_t i = 0; i < n / 4; ++i) level.push_back(std::max(sample(4 * i), sample(4 * i + 2)));
}

// The samples of a WAV file that takto-cli render wrote.
std::vector<int> wav_samples(const std::string& path) {
  const std::vector<std::uint8_t> f = read_file(path);
  for (std::size_t at = 12; at + 8 <= f.size();) {
    const std::size_t size = f[at + 4] | f[at + 5] << 8 | f[at + 6] << 16 | std::size_t{f[at + 7]} << 24;
    std::vector<int> level;
    if (std::memcmp(&f[at], "data", 4) == 0)
      return add_levels(&f[at + 8], std::min(size, f.size() - at - 8), level), level;
    at += 8 + size + (size & 1);
  }
  return {};
}

// Frames at which a click starts: the first sample above the quiet level
// after 50 ms of quiet, when a loud one follows within 5 ms. Fed as the
// audio comes, so that a long capture is read once.
struct Onsets {
  static constexpr int LOUD = 2000, QUIET = 400;
  static constexpr std::size_t QUIET_FRAMES = 2205, RISE_FRAMES = 220;
  std::vector<int> level;
  std::size_t next = 0, quiet = QUIET_FRAMES;
  std::vector<long> found;
  // Looks at what came; the last RISE_FRAMES wait for more unless `all`.
  const std::vector<long>& scan(bool all) {
    for (; next < level.size() && (all || next + RISE_FRAMES <= level.size()); ++next) {
      if (level[next] < QUIET) {
        ++quiet;
        continue;
      }
      if (quiet >= QUIET_FRAMES &&
          std::any_of(level.begin() + static_cast<long>(next),
                      level.begin() + static_cast<long>(std::min(level.size(), next + RISE_FRAMES)),
                      [](int v) { return v >= LOUD; }))
        found.push_back(static_cast<long>(next));
      quiet = 0;
    }
    return found;
  }
};

std::vector<long> onsets(const std::vector<int>& level) {
  Onsets o;
  o.level = level;
  return o.scan(true);
}

// Claves on the drum channel, one every 12 ticks for `seconds` at tempo 120.
std::string clave_song(const TempDir& dir, int seconds) {
  std::vector<Event> claves(static_cast<std::size_t>(seconds) * 8, Event{75, 12, 3, 120});
  const std::string path = write_song(dir, "claves.sqf", 120, {claves});
  image()[start[0] + TRACK_CHANNEL] = 9;
  EXPECT_EQ(save_song(), 0);
  return path;
}

// Plays the song in takto (P at the "TR:" prompt) into SDL's disk driver and
// renders it with takto-cli; returns live minus render, note by note, in frames.
std::vector<long> live_minus_render(const TempDir& dir, const std::string& song, const std::string& delay_ms) {
  const std::string wav = dir.file("render.wav");
  const CliResult rr = run_cli("render " + song + " " + wav + " --rate 44100");
  EXPECT_EQ(rr.status, 0) << rr.err;
  const std::vector<long> rendered = onsets(wav_samples(wav));
  EXPECT_GT(rendered.size(), 10u);
  const std::string audio = dir.file("live.raw");
  VirtualDisplay display;
  EXPECT_FALSE(display.name.empty()) << "Xvfb did not start";
  std::vector<long> live;
  {
    std::vector<std::string> env = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio};
    if (!delay_ms.empty()) env.push_back("SDL_DISKAUDIODELAY=" + delay_ms);
    RunningProgram takto(display, {song}, env, dir.file("out"));
    EXPECT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    takto.keys("p");
    const long tail = 44100 / 2;
    Onsets scan;
    std::vector<std::uint8_t> chunk(1 << 20);
    std::ifstream in;
    for (int waited = 0; waited < 180000; waited += 100) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!in.is_open()) in.open(audio, std::ios::binary);  // made once the device opens
      in.clear();
      for (std::streamsize got = 1; in.is_open() && got > 0;) {
        in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        got = in.gcount() / 4 * 4;  // whole frames; the rest again next time
        in.clear();
        in.seekg(got - in.gcount(), std::ios::cur);
        add_levels(chunk.data(), static_cast<std::size_t>(got), scan.level);
      }
      live = scan.scan(false);
      if (!live.empty() && live.size() >= rendered.size() && static_cast<long>(scan.level.size()) > live.back() + tail)
        break;
    }
    EXPECT_EQ(takto.close(), 0);
  }
  EXPECT_EQ(live.size(), rendered.size()) << "every note sounds once";
  std::vector<long> d;
  for (std::size_t i = 0; i < std::min(live.size(), rendered.size()); ++i) d.push_back(live[i] - rendered[i]);
  return d;
}

// Also run by the ThreadSanitizer build: the audio thread steps the player.
TEST(DesktopLiveThreads, NotesFallWhereTheRenderPutsThem) {
  SKIP_WITHOUT("Xvfb", "xdotool");
  // Each note on the same place in its synthesizer block (64 frames) as in
  // the render: what is left is the onset search's sample or two.
  constexpr long SAME_PLACE = 8;
  // Real-time pace on a short song; a device asking some ten times faster than
  // real time (its own clock, not the system's) on a minute of claves.
  const struct {
    int seconds;
    const char* delay_ms;
  } runs[] = {{12, ""}, {60, "1"}};
  for (const auto& run : runs) {
    TempDir dir;
    const std::vector<long> d = live_minus_render(dir, clave_song(dir, run.seconds), run.delay_ms);
    ASSERT_FALSE(d.empty());
    const auto [low, high] = std::minmax_element(d.begin(), d.end());
    std::printf("%d s song: live - render %.2f .. %.2f ms over %zu notes\n", run.seconds, *low / 44.1, *high / 44.1,
                d.size());
    EXPECT_LE(*high - *low, SAME_PLACE) << run.seconds << " s song";
  }
}
}  // namespace
