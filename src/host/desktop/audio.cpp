// The audio device that plays the built-in synthesizer: SDL's audio, whose
// callback renders each buffer through the audio clock, stepping the player
// for every millisecond of it first, as takto-cli render does. Nothing on its
// path waits for another thread, allocates or touches a file.
#include <SDL2/SDL.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <unistd.h>

#include <atomic>
#include <cstdarg>

#include "host/desktop/desktop.h"
#include "host/synth/synth.h"

namespace {
SDL_AudioDeviceID device = 0;
AudioClock audio_clock;            // the audio thread's own
std::atomic<int> device_rate{0};   // set while the device is paused
std::atomic<int> audio_thread{0};  // its id, from its first callback
constexpr int AUDIO_THREAD_WAIT_MS = 500;

void step(AudioClock& c, std::uint32_t, void*) {
  midi_take_queued();
  if (audio_clock_step()) audio_clock_align(c);
}

void idle(AudioClock&, std::uint32_t, void*) { midi_take_queued(); }

void render(void*, Uint8* stream, int bytes) {
  if (audio_thread.load(std::memory_order_relaxed) == 0) audio_thread.store(gettid(), std::memory_order_relaxed);
  auto* out = reinterpret_cast<std::int16_t*>(stream);
  if (audio_clock.rate != device_rate.load(std::memory_order_relaxed)) {
    audio_clock = AudioClock{};  // a device opened afresh: its first frame
    audio_clock.rate = device_rate.load(std::memory_order_relaxed);
  }
  if (audio_clock_enter()) {
    audio_clock_render(audio_clock, out, bytes / 4, step, nullptr);
    audio_clock_leave();
  } else {
    audio_clock_render(audio_clock, out, bytes / 4, idle, nullptr);
  }
}

void quiet_alsa(const char*, int, const char*, int, const char*, ...) {}
void quiet_jack(const char*) {}
}  // namespace

void silence_sound_libraries() {
  snd_lib_error_set_handler(quiet_alsa);
  jack_set_error_function(quiet_jack);
  jack_set_info_function(quiet_jack);
  // SDL would start a sound server of its own for a JACK device.
  SDL_setenv("JACK_NO_START_SERVER", "1", 0);
}

bool audio_open(int& rate, std::string& error) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    error = SDL_GetError();
    return false;
  }
  SDL_AudioSpec want{};
  want.freq = 44100;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 512;  // about 12 ms: the sound follows a key by this much
  want.callback = render;
  SDL_AudioSpec have{};
  device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (device == 0) {
    error = SDL_GetError();
    if (error.empty()) error = "no audio device";
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  rate = have.freq;
  device_rate.store(rate);
  return true;
}

void audio_start() {
  if (device == 0) return;
  audio_thread.store(0);
  SDL_PauseAudioDevice(device, 0);
  // The callback is the player's clock: its thread gets real-time priority
  // as the timer thread does (SDL's own request takes no effect here).
  for (int waited = 0; waited < AUDIO_THREAD_WAIT_MS && audio_thread.load() == 0; ++waited) SDL_Delay(1);
  if (const int tid = audio_thread.load()) thread_make_realtime(tid);
}

void audio_close() {
  if (device == 0) return;
  SDL_CloseAudioDevice(device);  // waits for a callback that is running
  device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
