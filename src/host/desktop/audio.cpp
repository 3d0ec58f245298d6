// The audio device that plays the built-in synthesizer: SDL's audio, whose
// callback asks the synthesizer for each buffer.
#include <SDL2/SDL.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <cstdarg>

#include "host/desktop/desktop.h"
#include "host/synth/synth.h"

namespace {
SDL_AudioDeviceID device = 0;

void render(void*, Uint8* stream, int bytes) { synth_render(reinterpret_cast<std::int16_t*>(stream), bytes / 4); }

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
  want.samples = 512;  // about 12 ms: a note starts soon after its tick
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
  return true;
}

void audio_start() {
  if (device != 0) SDL_PauseAudioDevice(device, 0);
}

void audio_close() {
  if (device == 0) return;
  SDL_CloseAudioDevice(device);  // waits for a callback that is running
  device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
