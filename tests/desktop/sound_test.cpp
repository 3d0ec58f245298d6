// takto's sound: a MIDI port gets the messages takto-cli trace lists, a song
// closed while it plays is silenced first, and the built-in synthesizer
// renders audio (SDL's disk driver stands in for a sound card).
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
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
// the timer thread in the synthesizer.
TEST(DesktopSynthThreads, RendersTheSong) {
  SKIP_WITHOUT("Xvfb", "xdotool");
  TempDir dir;
  const std::string song = short_song(dir);
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  const std::string audio = dir.file("audio.raw");
  {
    RunningProgram takto(display, {song}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio}, dir.file("out"));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    takto.keys("p");
    // The SoundFont loads first; the song plays once it has.
    for (int waited = 0; waited < 20000 && peak_of(read_file(audio)) <= 1000; waited += 200) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(takto.close(), 0);
    EXPECT_EQ(takto.output().find("without sound"), std::string::npos) << takto.output();
  }
  EXPECT_GT(peak_of(read_file(audio)), 1000) << "the synthesizer's audio is silent";
}
}  // namespace
