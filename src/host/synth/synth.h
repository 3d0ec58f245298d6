// The built-in synthesizer: FluidSynth with a General MIDI SoundFont, fed the
// player's messages as a MIDI device would get them and rendering audio. The
// desktop program plays through it and takto-cli render writes its audio.
//
// Threads: synth_short and synth_long come from the timer thread (or the
// application thread while positioning), synth_render from the audio thread;
// FluidSynth serialises them internally. synth_open and synth_close run while
// no other thread is inside any of them (before the audio and timer threads
// start, after they stop); closed, the calls do nothing and render silence.
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

// Renders `frames` frames of interleaved stereo 16-bit audio.
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
