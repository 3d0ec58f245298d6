// The built-in synthesizer: FluidSynth with a General MIDI SoundFont, fed the
// player's messages as a MIDI device would get them and rendering audio. The
// desktop program plays through it and takto-cli render writes its audio.
//
// Threads: the desktop program calls them all from its audio thread while the
// device runs (other threads queue their messages for it); FluidSynth would
// also serialise calls from several threads. synth_open and synth_close run
// while no other thread is inside any of them (before the audio and timer
// threads start, after they stop); closed, the calls do nothing and render
// silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The SoundFont to use: `wanted` when not empty, else the General MIDI fonts
// that Debian installs (FluidR3_GM, then TimGM6mb). Returns "" when none
// exists; `tried` (when given) receives every path looked at.
std::string find_soundfont(const std::string& wanted, std::vector<std::string>* tried = nullptr);

// Creates the synthesizer at `rate` Hz with the SoundFont loaded and device id
// 16, so that GS data-set exclusives are taken. false with `error` set when it
// cannot. FluidSynth's own messages are silenced.
// `on_demand` loads a preset's samples when a program first selects it
// instead of the whole SoundFont at once: a faster start for rendering, but
// not for play in real time, where the load would hold up the caller.
bool synth_open(const std::string& soundfont, int rate, std::string* error, bool on_demand = false);
void synth_close();
bool synth_is_open();

// One short message (status in bits 0-7, data in 8-15 and 16-23) and one
// whole exclusive (F0 ... F7).
void synth_short(std::uint32_t message);
void synth_long(const std::uint8_t* data, std::size_t length);

// Renders `frames` frames of interleaved stereo 16-bit audio. Allocates
// nothing, so that it can run on an audio thread.
void synth_render(std::int16_t* out, int frames);
// The same as float samples in -1..1 (louder passages may pass 1).
void synth_render_float(float* out, int frames);
// Peak absolute sample of the last synth_render call, for silence detection.
int synth_last_peak();

// The output gain in dB on top of FluidSynth's own level; 0, the default,
// leaves it as it is. Set before rendering starts, kept across synth_open.
void synth_set_gain_db(double db);
// The samples synth_render had to clip to 16 bits since the last synth_open.
// synth_render runs on one thread at a time; any thread may read this.
long long synth_clipped_samples();
// Float samples to 16-bit ones as synth_render writes them, clipped to the
// range; returns how many had to be clipped.
long long synth_to_pcm16(const float* in, std::int16_t* out, std::size_t n);

// --- The audio clock ---
// Audio rendered millisecond by millisecond, the player's timer work run
// before each one: millisecond k covers the frames from
// origin_frame + (k - origin_ms) x rate / 1000 up to the next one's, so a
// message sent in the work for k is heard from k's first frame on (from the
// synthesizer's next block of 64 frames). takto-cli render and the desktop's
// audio callback both run this loop, so live play sounds as the render.
constexpr int SYNTH_BLOCK_FRAMES = 64;

struct AudioClock;
// The work for millisecond `ms`, before its frames are rendered.
using AudioClockWork = void (*)(AudioClock& clock, std::uint32_t ms, void* context);

struct AudioClock {
  int rate = 44100;
  std::uint32_t ms = 0;         // the next millisecond to begin
  std::int64_t frames = 0;      // frames rendered since the synthesizer opened
  std::int64_t next_frame = 0;  // where millisecond `ms` begins
  std::uint32_t origin_ms = 0;  // a millisecond that begins at origin_frame
  std::int64_t origin_frame = 0;
  bool stop = false;  // set by the work: return before rendering on
};

// Renders up to `frames` frames into out (16-bit stereo), running the work at
// every millisecond that begins. Returns the frames rendered: fewer only when
// the work set clock.stop (cleared again here).
int audio_clock_render(AudioClock& clock, std::int16_t* out, int frames, AudioClockWork work, void* context);
// The same with float samples, unclipped (for a render normalized afterwards).
int audio_clock_render_float(AudioClock& clock, float* out, int frames, AudioClockWork work, void* context);
// From the work for millisecond k: k's frames start afresh on the next block
// boundary (up to 63 frames later), so that what is sent from k + 1 on falls
// on the same places in the synthesizer's blocks as in a render whose k is 0.
void audio_clock_align(AudioClock& clock);
