// The built-in synthesizer takes messages as a MIDI device gets them: two
// message lists that a device treats alike render the same samples, and two
// it treats differently do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "host/synth/synth.h"

namespace {

struct Timed {
  int ms;
  std::vector<std::uint8_t> bytes;
};

// A fresh synthesizer gets the messages at their times; 1.5 s of its audio.
std::vector<std::int16_t> render(const std::vector<Timed>& messages) {
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

TEST(Synth, MessagesAsADeviceGetsThem) {
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  const std::vector<std::uint8_t> organ = {0xC0, 16}, on = {0x90, 0x3C, 0x64};
  // GS: part 1 (channel 0) becomes a drum part; device id 10 is 16.
  const std::vector<std::uint8_t> drums = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};
  std::vector<std::uint8_t> drums_other_id = drums, drums_high_byte = drums;
  drums_other_id[2] = 0x11;
  drums_high_byte[7] = 0x95;  // cut to 15, as an exported file holds it
  const Timed O{0, organ}, N{10, on}, D{10, {0x90, 38, 100}};
  const std::vector<Timed> held = {O, N};
  const struct {
    std::vector<Timed> a, b;
    bool same;
    const char* what;
  } rows[] = {
      {{O, N, {500, {0x90, 0x3C, 0x00}}}, {O, N, {500, {0x80, 0x3C, 0x00}}}, true, "velocity 0 is a note-off"},
      {{O, N, {500, {0x90, 0x3C, 0x00}}}, held, false, "the note-off is heard"},
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
    const std::vector<std::int16_t> a = render(r.a), b = render(r.b);
    EXPECT_EQ(a == b, r.same) << r.what;
    EXPECT_TRUE(std::any_of(a.begin(), a.end(), [](std::int16_t v) { return v != 0; })) << r.what;
  }
}

TEST(Synth, RefusalsAndTheClosedSynthesizer) {
  std::string why;
  EXPECT_FALSE(synth_open("/none/x.sf2", 44100, &why));
  EXPECT_NE(why.find("/none/x.sf2"), std::string::npos) << why;
  if (find_soundfont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont is installed";
  EXPECT_FALSE(synth_open(find_soundfont(""), 1000, &why));
  EXPECT_NE(why.find("8000-96000 Hz"), std::string::npos) << why;
  EXPECT_FALSE(synth_is_open());
  // Closed, it takes messages and renders silence.
  synth_short(0x643C90);
  std::vector<std::int16_t> out(256, 7);
  synth_render(out.data(), 128);
  EXPECT_EQ(out, std::vector<std::int16_t>(256, 0));
  EXPECT_EQ(synth_last_peak(), 0);
}

}  // namespace
