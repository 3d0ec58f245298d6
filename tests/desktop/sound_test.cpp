// takto's sound: a MIDI port gets the messages takto-cli trace lists, a song
// closed while it plays is silenced first, and the built-in synthesizer
// renders audio (SDL's disk driver stands in for a sound card).
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "desktop/desktop_run.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<Bytes>;

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

// A JACK server of the dummy driver, named for this test, and an input port
// "takto-test:in" on it whose messages land in `arrived`.
struct JackInput {
  pid_t server = -1;
  std::unique_ptr<RtMidiIn> in;
  std::mutex lock;
  Messages arrived;
  JackInput() {
    const std::string name = "takto-test-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    // Long periods and a patient server: on a loaded machine a late cycle
    // would otherwise drop its messages.
    server = spawn({"jackd", "-n", name, "-r", "-t", "5000", "-d", "dummy", "-r", "48000", "-p", "2048"}, {});
    if (std::system("jack_wait -w -t 5 >/dev/null 2>&1") != 0) return;
    in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "takto-test");
    in->ignoreTypes(false, false, true);  // the clock too
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
    if (server > 0) kill(server, SIGTERM), wait_exit(server, 3000);
  }
  // Takes what arrived once `count` messages are there and nothing more came
  // for 300 ms (or the time is up).
  Messages receive(std::size_t count, int timeout_ms) {
    std::size_t seen = 0;
    for (int waited = 0, quiet = 0; waited < timeout_ms && (seen < count || quiet < 300); waited += 5) {
      sleep_ms(5);
      std::lock_guard<std::mutex> hold(lock);
      quiet = arrived.size() == seen ? quiet + 5 : 0;
      seen = arrived.size();
    }
    std::lock_guard<std::mutex> hold(lock);
    return std::move(arrived);
  }
};

// Plain mode plays what trace lists and ends every sounding note when the
// window closes; enhanced mode with a keyboard on a JACK port sends thru as
// it comes on the main screen, on the edited track's channel on the edit
// screen, and MIDI clock starts and stops with play.
TEST(DesktopSound, MidiOutAndIn) {
  SKIP_WITHOUT("Xvfb", "xdotool", "jackd", "jack_wait");
  TempDir dir;
  const std::string song = short_song(dir);
  // Long notes at tempo 30: the window is closed while the first sounds.
  const std::string long_song =
      write_song(dir, "long.sqf", 30, {{{60, 255, 255, 100}, {62, 255, 255, 100}}, {{43, 255, 255, 90}}});
  const std::string clocked = write_song(dir, "s.sqf", 120, {{{60, 48, 20, 100}, {EV_MEASURE_END, 0, 0, 0}}});
  Messages expected;  // every message of the song in order, as trace lists them
  std::istringstream lines(run_cli("trace " + song).out);
  for (std::string line, hex; std::getline(lines, line);) {
    std::istringstream fields(line);
    Bytes bytes;
    for (fields >> hex >> hex; fields >> hex;) bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
    if (!bytes.empty()) expected.push_back(bytes);
  }
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
    ASSERT_EQ(jack.receive(2, 10000), (Messages{{0x90, 60, 100}, {0x91, 43, 90}}));
    EXPECT_EQ(takto.close(), 0);
    EXPECT_EQ(jack.receive(2, 3000), (Messages{{0x90, 60, 0}, {0x91, 43, 0}})) << "sounding notes end on close";
  }
  RtMidiOut keyboard(RtMidi::UNIX_JACK, "takto-keys");
  keyboard.openVirtualPort("keys");
  RunningProgram takto(display,
                       {"--midi-out", "takto-test:in", "--midi-in", "takto-keys:keys", "--midi-clock", clocked}, {},
                       dir.file("out3"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  // The input opens after the window shows: the keyboard plays until it is heard.
  const Bytes key = {0x95, 0x3C, 0x64};
  Messages heard;
  for (int i = 0; i < 20 && heard.empty(); ++i) keyboard.sendMessage(&key), heard = jack.receive(1, 500);
  EXPECT_EQ(heard, Messages{key}) << takto.output();
  takto.keys("Return Return Return");
  keyboard.sendMessage(&key);
  EXPECT_EQ(jack.receive(1, 5000), (Messages{{0x90, 0x3C, 0x64}}));
  takto.keys("Escape Escape p");
  const Messages played = jack.receive(8, 10000);
  ASSERT_GT(played.size(), 4u);
  EXPECT_EQ(played.front(), Bytes{0xFA});
  EXPECT_EQ(played.back(), Bytes{0xFC}) << "the song ends by itself";
  EXPECT_GT(std::count(played.begin(), played.end(), Bytes{0xF8}), 20);
  takto.keys("q");
  EXPECT_EQ(takto.wait(), 0);
}

// The louder channel of each frame of a file's 16-bit stereo samples, from
// the byte `from` on.
std::vector<int> levels(const std::string& path, std::size_t from = 0) {
  const Bytes raw = read_file(path);
  auto sample = [&](std::size_t at) { return std::abs(static_cast<std::int16_t>(raw[at] | (raw[at + 1] << 8))); };
  std::vector<int> level;
  for (std::size_t at = from; at + 4 <= raw.size(); at += 4) level.push_back(std::max(sample(at), sample(at + 2)));
  return level;
}

// Also run by the ThreadSanitizer build ("Threads"): the audio thread meets
// the timer thread in the synthesizer. At +40 dB the song clips, and takto
// says so once as it ends.
TEST(DesktopSynthThreads, RendersTheSong) {
  SKIP_WITHOUT("Xvfb", "xdotool");
  TempDir dir;
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  const std::string audio = dir.file("audio.raw");
  RunningProgram takto(display, {"--gain", "40", short_song(dir)},
                       {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio}, dir.file("out"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  takto.keys("p");
  auto peak = [&] {
    const std::vector<int> level = levels(audio);
    return level.empty() ? 0 : *std::max_element(level.begin(), level.end());
  };
  // The SoundFont loads first; the song plays once it has.
  for (int waited = 0; waited < 20000 && peak() <= 1000; waited += 200) sleep_ms(200);
  EXPECT_EQ(takto.close(), 0);
  const std::string said = takto.output();
  EXPECT_GT(peak(), 1000) << "the synthesizer's audio is silent";
  const std::string clipped = " samples clipped at --gain +40.0 dB";
  EXPECT_NE(said.find(clipped), std::string::npos) << said;
  EXPECT_EQ(said.find(clipped), said.rfind(clipped)) << said;
  EXPECT_EQ(said.find("without sound"), std::string::npos) << said;
}

// Frames at which a click starts: the first sample above the quiet level
// after 50 ms of quiet, when a loud one follows within 5 ms.
std::vector<long> onsets(const std::vector<int>& level) {
  std::vector<long> found;
  for (std::size_t i = 0, quiet = 2205; i < level.size(); ++i) {
    if (level[i] < 400) {
      ++quiet;
      continue;
    }
    const auto from = level.begin() + static_cast<long>(i);
    if (quiet >= 2205 && *std::max_element(from, from + std::min<std::size_t>(level.size() - i, 220)) >= 2000)
      found.push_back(static_cast<long>(i));
    quiet = 0;
  }
  return found;
}

// Plays claves on the drum channel, one every 12 ticks for `seconds` at tempo
// 120, in takto (P at the "TR:" prompt) into SDL's disk driver and renders
// them with takto-cli; returns live minus render, note by note, in frames.
std::vector<long> live_minus_render(const TempDir& dir, int seconds, const std::string& delay_ms) {
  const std::string song = write_song(dir, "claves.sqf", 120, {std::vector<Event>(seconds * 8, Event{75, 12, 3, 120})});
  image()[start[0] + TRACK_CHANNEL] = 9;
  EXPECT_EQ(save_song(), 0);
  const std::string wav = dir.file("render.wav"), audio = dir.file("live.raw");
  const CliResult rr = run_cli("render " + song + " " + wav + " --rate 44100");
  EXPECT_EQ(rr.status, 0) << rr.err;
  const Bytes w = read_file(wav);
  const std::vector<int> rendered_level = levels(wav, std::string(w.begin(), w.end()).find("data") + 8);
  const std::vector<long> rendered = onsets(rendered_level);
  EXPECT_GT(rendered.size(), 10u);
  VirtualDisplay display;
  EXPECT_FALSE(display.name.empty()) << "Xvfb did not start";
  std::vector<std::string> env = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio};
  if (!delay_ms.empty()) env.push_back("SDL_DISKAUDIODELAY=" + delay_ms);
  RunningProgram takto(display, {song}, env, dir.file("out"));
  EXPECT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  takto.keys("p");
  // The capture is read when it is as long as the render after its first
  // note (which comes after the device's silence), and half a second more.
  const long tail = 44100 / 2;
  std::vector<long> live;
  std::error_code ec;
  for (long waited = 0, need = 4 * (static_cast<long>(rendered_level.size()) + tail); waited < 180000; waited += 200) {
    sleep_ms(200);
    if (static_cast<long>(std::filesystem::file_size(audio, ec)) < need) continue;
    const std::vector<int> level = levels(audio);
    live = onsets(level);
    if (!live.empty() && live.size() >= rendered.size() && static_cast<long>(level.size()) > live.back() + tail) break;
    if (!live.empty()) need = 4 * (live.front() - rendered.front() + static_cast<long>(rendered_level.size()) + tail);
  }
  EXPECT_EQ(takto.close(), 0);
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
    const std::vector<long> d = live_minus_render(dir, run.seconds, run.delay_ms);
    ASSERT_FALSE(d.empty());
    const auto [low, high] = std::minmax_element(d.begin(), d.end());
    std::printf("%d s song: live - render %.2f .. %.2f ms over %zu notes\n", run.seconds, *low / 44.1, *high / 44.1,
                d.size());
    EXPECT_LE(*high - *low, SAME_PLACE) << run.seconds << " s song";
  }
}
}  // namespace
