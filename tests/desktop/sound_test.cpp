// takto's sound: a MIDI port gets the messages takto-cli trace lists, a song
// closed while it plays is silenced first, and the built-in synthesizer
// renders audio (SDL's disk driver stands in for a sound card).
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "common/cli_case.h"
#include "desktop/desktop_run.h"
#include "host/headless/headless.h"
#include "host/host.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<Bytes>;

// Saves a song of these tracks, then again with its tempo and track 1's channel.
std::string write_song(const TempDir& dir, const char* name, std::uint8_t tempo,
                       const std::vector<std::vector<Event>>& tracks, std::uint8_t channel = 0) {
  headless_echo_alerts(false);
  const std::string path = save_tracks(dir, tracks, name);
  image()[SONG_TEMPO] = tempo;
  image()[start[0] + TRACK_CHANNEL] = channel;
  EXPECT_EQ(save_song(), 0);
  return path;
}

// A short song with a program, notes on two channels, a controller and a
// track exclusive (a GS reset with its checksum).
std::string short_song(const TempDir& dir) {
  const std::uint8_t gs_reset[] = {0x41, 0x10, 0x42, 0x12, 0x83, 0x40, 0x00, 0x7F, 0x00, 0x84, 0xF7, 0xF7};
  std::vector<Event> track = {{EV_PROGRAM, 0, 10, 0}, {EV_TRACK_EXCL, 0, 0, 0}};
  for (int i = 0; i < 12; i += 2) track.push_back({EV_CONTINUE, 0, gs_reset[i], gs_reset[i + 1]});
  track.insert(track.end(), {{60, 24, 20, 100}, {EV_CONTROL, 0, 7, 90}, {64, 24, 20, 100}, {67, 48, 40, 110}});
  track.push_back({EV_MEASURE_END, 0, 0, 0});
  return write_song(dir, "short.sqf", 240, {track, {{48, 96, 90, 80}}});
}

// A JACK server of the dummy driver, named for this test, and an input port
// "takto-test:in" on it.
struct JackInput {
  pid_t server = -1;
  std::unique_ptr<RtMidiIn> in;
  JackInput() {
    const std::string name = "takto-test-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    // Long periods and a patient server: on a loaded machine a late cycle
    // would otherwise drop its messages.
    server = spawn({"jackd", "-n", name, "-r", "-t", "5000", "-d", "dummy", "-r", "48000", "-p", "2048"});
    if (std::system("jack_wait -w -t 5 >/dev/null 2>&1") != 0) return;
    in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "takto-test", 10000);
    in->ignoreTypes(false, false, true);  // the clock too
    in->openVirtualPort("in");
  }
  ~JackInput() {
    in.reset();
    if (server > 0) kill(server, SIGTERM), wait_exit(server, 3000);
  }
  // What arrived once `count` messages are there and nothing more came for
  // 300 ms (or the time is up).
  Messages receive(std::size_t count, int timeout_ms) {
    Messages arrived;
    for (int waited = 0, quiet = 0; waited < timeout_ms && (arrived.size() < count || quiet < 300); waited += 5) {
      sleep_ms(5);
      quiet += 5;
      for (Bytes m; in->getMessage(&m), !m.empty(); quiet = 0) arrived.push_back(m);
    }
    return arrived;
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
  Messages expected;  // every message of the song in order: trace's lines after their time and port
  std::istringstream lines(run_cli("trace " + song).out);
  for (std::string line, hex; std::getline(lines, line);) {
    std::istringstream fields(line);
    Bytes& bytes = expected.emplace_back();
    for (fields >> hex >> hex; fields >> hex;) bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
  }
  ASSERT_GT(expected.size(), 8u);
  JackInput jack;
  ASSERT_TRUE(jack.in) << "the JACK server did not start";
  {
    Takto takto({"--midi-out", "takto-test:in", song});
    ASSERT_EQ(takto.failed(), "");
    takto.keys("p");  // play from the command menu
    EXPECT_EQ(jack.receive(expected.size(), 10000), expected);
    takto.keys("Escape q");
    EXPECT_EQ(takto.wait(), 0);
  }
  {  // long notes at tempo 30: the window is closed while the first sound
    Takto takto({"--midi-out=takto-test",
                 write_song(dir, "long.sqf", 30, {{{60, 255, 255, 100}, {62, 255, 255, 100}}, {{43, 255, 255, 90}}})});
    ASSERT_EQ(takto.failed(), "");
    takto.keys("p");
    ASSERT_EQ(jack.receive(2, 10000), (Messages{{0x90, 60, 100}, {0x91, 43, 90}}));
    EXPECT_EQ(takto.close(), 0);
    EXPECT_EQ(jack.receive(2, 3000), (Messages{{0x90, 60, 0}, {0x91, 43, 0}})) << "sounding notes end on close";
  }
  RtMidiOut keyboard(RtMidi::UNIX_JACK, "takto-keys");
  keyboard.openVirtualPort("keys");
  Takto takto({"--midi-out", "takto-test:in", "--midi-in", "takto-keys:keys", "--midi-clock",
               write_song(dir, "s.sqf", 120, {{{60, 48, 20, 100}, {EV_MEASURE_END, 0, 0, 0}}})});
  ASSERT_EQ(takto.failed(), "");
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
  const std::string audio = dir.file("audio.raw");
  Takto takto({"--gain", "40", short_song(dir)}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio});
  ASSERT_EQ(takto.failed(), "");
  takto.keys("p");
  auto peak = [&] {
    const std::vector<int> l = levels(audio);
    return l.empty() ? 0 : std::ranges::max(l);
  };
  // The SoundFont loads first; the song plays once it has.
  for (int waited = 0; waited < 20000 && peak() <= 1000; waited += 200) sleep_ms(200);
  EXPECT_EQ(takto.close(), 0);
  const std::string said = takto.output(), clipped = " samples clipped at --gain +40.0 dB";
  EXPECT_GT(peak(), 1000) << "the synthesizer's audio is silent";
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

// Also run by the ThreadSanitizer build: the audio thread steps the player.
// Claves on the drum channel, one every 12 ticks at tempo 120, played in takto
// into SDL's disk driver and rendered by takto-cli: each note on the same
// place in its synthesizer block (64 frames) as in the render, give or take
// the onset search's sample or two. At real-time pace on a short song, and
// with a device asking some ten times faster than real time (its own clock,
// not the system's) on a minute of claves.
TEST(DesktopLiveThreads, NotesFallWhereTheRenderPutsThem) {
  SKIP_WITHOUT("Xvfb", "xdotool");
  for (const auto& [seconds, delay] : {std::pair{12, ""}, {60, "1"}}) {
    SCOPED_TRACE(std::to_string(seconds) + " s song");
    TempDir dir;
    const std::string song = write_song(dir, "claves.sqf", 120, {std::vector(seconds * 8, Event{75, 12, 3, 120})}, 9);
    const std::string wav = dir.file("render.wav"), audio = dir.file("live.raw");
    const CliResult rr = run_cli("render " + song + " " + wav + " --rate 44100");
    ASSERT_EQ(rr.status, 0) << rr.err;
    const std::vector<int> rendered_level = levels(wav, file_text(wav).find("data") + 8);
    const std::vector<long> rendered = onsets(rendered_level);
    ASSERT_GT(rendered.size(), 10u);
    std::vector<std::string> env = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio};
    if (*delay) env.push_back("SDL_DISKAUDIODELAY=" + std::string(delay));
    Takto takto({song}, env);
    ASSERT_EQ(takto.failed(), "");
    takto.keys("p");
    // The capture is read when it is as long as the render after its first
    // note (which comes after the device's silence), and half a second more.
    const long tail = 44100 / 2;
    std::vector<long> live;
    std::error_code ec;
    for (long waited = 0, need = 4 * (static_cast<long>(rendered_level.size()) + tail); waited < 180000;
         waited += 200) {
      sleep_ms(200);
      if (static_cast<long>(std::filesystem::file_size(audio, ec)) < need) continue;
      const std::vector<int> level = levels(audio);
      live = onsets(level);
      if (!live.empty() && live.size() >= rendered.size() && static_cast<long>(level.size()) > live.back() + tail)
        break;
      if (!live.empty()) need = 4 * (live.front() - rendered.front() + static_cast<long>(rendered_level.size()) + tail);
    }
    EXPECT_EQ(takto.close(), 0);
    ASSERT_EQ(live.size(), rendered.size()) << "every note sounds once";
    std::vector<long> d;
    for (std::size_t i = 0; i < live.size(); ++i) d.push_back(live[i] - rendered[i]);
    const auto [low, high] = std::minmax_element(d.begin(), d.end());
    std::printf("%d s song: live - render %.2f .. %.2f ms over %zu notes\n", seconds, *low / 44.1, *high / 44.1,
                d.size());
    EXPECT_LE(*high - *low, 8);
  }
}
}  // namespace
