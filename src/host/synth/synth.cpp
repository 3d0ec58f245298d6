// The built-in synthesizer on FluidSynth.
#include "host/synth/synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace {
fluid_settings_t* settings = nullptr;
// Read by the timer and audio threads; set only while neither uses it.
std::atomic<fluid_synth_t*> synth{nullptr};
std::atomic<int> last_peak{0};
std::atomic<float> gain{1.0f};
std::atomic<long long> clipped{0};
constexpr int RENDER_CHUNK = 256;  // frames synth_render converts at a time

// FluidSynth logs through its own handler to stderr; a program with a text
// screen or a progress bar must not get its lines.
void silence_fluidsynth() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) fluid_set_log_function(level, nullptr, nullptr);
  });
}

int peak_of(const float* samples, std::size_t n) {
  float peak = 0;
  for (std::size_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(samples[i]));
  return static_cast<int>(std::min(peak, 1.0f) * 32767.0f + 0.5f);
}
}  // namespace

std::string find_soundfont(const std::string& wanted, std::vector<std::string>* tried) {
  std::vector<std::string> candidates;
  if (!wanted.empty()) {
    candidates.push_back(wanted);
  } else {
    candidates = {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/soundfonts/FluidR3_GM.sf2",
                  "/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/soundfonts/TimGM6mb.sf2"};
  }
  for (const std::string& path : candidates) {
    if (tried) tried->push_back(path);
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return "";
}

bool synth_open(const std::string& soundfont, int rate, std::string* error, bool on_demand) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    synth_close();
    return false;
  };
  silence_fluidsynth();
  synth_close();
  settings = new_fluid_settings();
  if (!settings) return fail("FluidSynth could not be set up");
  double low = 0, high = 0;
  fluid_settings_getnum_range(settings, "synth.sample-rate", &low, &high);
  if (rate < low || rate > high)
    return fail("sample rate " + std::to_string(rate) + " Hz is outside " + std::to_string(static_cast<int>(low)) +
                "-" + std::to_string(static_cast<int>(high)) + " Hz");
  fluid_settings_setnum(settings, "synth.sample-rate", rate);
  fluid_settings_setint(settings, "synth.device-id", 16);
  fluid_settings_setint(settings, "synth.dynamic-sample-loading", on_demand ? 1 : 0);
  fluid_synth_t* made = new_fluid_synth(settings);
  if (!made) return fail("FluidSynth could not be started");
  synth.store(made);
  if (fluid_synth_sfload(made, soundfont.c_str(), 1) == FLUID_FAILED)
    return fail("cannot load the SoundFont " + soundfont);
  last_peak.store(0);
  clipped.store(0);
  return true;
}

void synth_close() {
  if (fluid_synth_t* s = synth.exchange(nullptr)) delete_fluid_synth(s);
  if (settings) delete_fluid_settings(settings);
  settings = nullptr;
}

bool synth_is_open() { return synth.load() != nullptr; }

void synth_short(std::uint32_t message) {
  fluid_synth_t* s = synth.load(std::memory_order_acquire);
  if (!s) return;
  const int status = message & 0xFF;
  // Data bytes above 7F are masked, as export-midi writes them to a file.
  const int d1 = (message >> 8) & 0x7F;
  const int d2 = (message >> 16) & 0x7F;
  const int ch = status & 0x0F;
  switch (status & 0xF0) {
    case 0x80: fluid_synth_noteoff(s, ch, d1); break;
    case 0x90:
      if (d2 == 0) {
        fluid_synth_noteoff(s, ch, d1);
      } else {
        fluid_synth_noteon(s, ch, d1, d2);
      }
      break;
    case 0xA0: fluid_synth_key_pressure(s, ch, d1, d2); break;
    case 0xB0: fluid_synth_cc(s, ch, d1, d2); break;
    case 0xC0: fluid_synth_program_change(s, ch, d1); break;
    case 0xD0: fluid_synth_channel_pressure(s, ch, d1); break;
    case 0xE0: fluid_synth_pitch_bend(s, ch, d1 | (d2 << 7)); break;
    default: break;  // no status byte, or a system message: nothing a synthesizer plays
  }
}

void synth_long(const std::uint8_t* data, std::size_t length) {
  fluid_synth_t* s = synth.load(std::memory_order_acquire);
  if (!s || !data || length < 2 || data[0] != 0xF0) return;
  std::size_t n = length - (data[length - 1] == 0xF7 ? 2 : 1);
  // FluidSynth takes the bytes between F0 and F7; inner bytes above 7F are
  // masked as in an exported file.
  std::uint8_t body[512];
  std::vector<std::uint8_t> big;
  std::uint8_t* out = body;
  if (n > sizeof body) {
    big.resize(n);
    out = big.data();
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = data[1 + i] & 0x7F;
  fluid_synth_sysex(s, reinterpret_cast<const char*>(out), static_cast<int>(n), nullptr, nullptr, nullptr, 0);
}

void synth_render_float(float* out, int frames) {
  if (frames <= 0) return;
  fluid_synth_t* s = synth.load(std::memory_order_acquire);
  if (!s) {
    std::fill(out, out + 2 * static_cast<std::size_t>(frames), 0.0f);
    last_peak.store(0);
    return;
  }
  fluid_synth_write_float(s, frames, out, 0, 2, out, 1, 2);
  const std::size_t n = 2 * static_cast<std::size_t>(frames);
  if (const float g = gain.load(); g != 1.0f)
    for (std::size_t i = 0; i < n; ++i) out[i] *= g;
  last_peak.store(peak_of(out, n));
}

long long synth_to_pcm16(const float* in, std::int16_t* out, std::size_t n) {
  long long over = 0;
  for (std::size_t i = 0; i < n; ++i) {
    over += in[i] > 1.0f || in[i] < -1.0f;
    out[i] = static_cast<std::int16_t>(std::lrintf(std::clamp(in[i], -1.0f, 1.0f) * 32767.0f));
  }
  return over;
}

void synth_render(std::int16_t* out, int frames) {
  if (frames <= 0) return;
  float chunk[2 * RENDER_CHUNK];  // on the stack: the audio thread allocates nothing
  int peak = 0;
  long long over = 0;
  for (int done = 0; done < frames;) {
    const int n = std::min(RENDER_CHUNK, frames - done);
    synth_render_float(chunk, n);
    std::int16_t* to = out + 2 * static_cast<std::size_t>(done);
    over += synth_to_pcm16(chunk, to, 2 * static_cast<std::size_t>(n));
    for (int i = 0; i < 2 * n; ++i) peak = std::max(peak, std::abs(static_cast<int>(to[i])));
    done += n;
  }
  if (over) clipped.fetch_add(over);
  // The peak of the samples as written, so that a silent block is all zeros.
  last_peak.store(peak);
}

void synth_set_gain_db(double db) { gain.store(static_cast<float>(std::pow(10.0, db / 20.0))); }

long long synth_clipped_samples() { return clipped.load(); }

int synth_last_peak() { return last_peak.load(); }
