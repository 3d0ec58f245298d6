// takto: the desktop program. The window thread (this one) serves the window;
// the application thread runs main_loop; the audio callback (the built-in
// synthesizer's clock) or else the timer thread steps the player.
#include <fluidsynth.h>
#include <rtmidi/RtMidi.h>

#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "desktop/options.h"
#include "host/desktop/desktop.h"
#include "host/host.h"
#include "host/synth/synth.h"
#include "player/player.h"
#include "screens/screens.h"

namespace {
constexpr char VERSION[] = "0.1";
// Long enough for a SoundFont that is still loading.
constexpr int APP_STOP_MS = 5000;
DesktopOptions options;

// The application thread opens the MIDI output (a SoundFont takes a moment to
// load; the window stays responsive meanwhile), then runs the program.
void application() {
  std::string error;
  const bool opened =
      options.midi_out.empty() ? midi_open_synth(options.soundfont, error) : midi_open_port(options.midi_out, error);
  if (!opened) std::fprintf(stderr, "takto: %s; running without sound\n", error.c_str());
  // Without a named port, none there is no fault.
  if (options.enhanced && !midi_open_input(options.midi_in, error) && !options.midi_in.empty())
    std::fprintf(stderr, "takto: %s; running without MIDI input\n", error.c_str());
  main_loop();
}

void print_version() {
  SDL_version sdl;
  SDL_GetVersion(&sdl);
  std::printf("takto %s (SDL %d.%d.%d, FluidSynth %s, RtMidi %s)\n", VERSION, sdl.major, sdl.minor, sdl.patch,
              fluid_version_str(), RtMidi::getVersion().c_str());
}
}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!parse_options(argc - 1, argv + 1, std::getenv("TAKTO_SCALE"), options, error)) {
    std::fprintf(stderr, "takto: %s\n%s", error.c_str(), DESKTOP_USAGE.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(DESKTOP_USAGE.c_str(), stdout);
    return 0;
  }
  if (options.version) {
    print_version();
    return 0;
  }
  enhanced = options.enhanced;
  midi_clock = options.midi_clock;
  silence_sound_libraries();
  if (options.midi_in == "list") {
    if (!midi_list_inputs(stdout))
      std::printf("no MIDI system here: neither the ALSA sequencer nor a JACK server answers\n");
    return 0;
  }
  if (options.midi_out == "list") {
    if (!midi_list_ports(stdout)) {
      std::printf("no MIDI system here: neither the ALSA sequencer nor a JACK server answers\n");
    }
    return 0;
  }
  // A cut name would open some other file.
  if (options.song.size() > FILE_NAME_SIZE - 1) {
    std::fprintf(stderr, "takto: the file name is longer than %zu bytes; starting with an empty song\n",
                 FILE_NAME_SIZE - 1);
  } else {
    set_file_name(options.song.c_str());
  }

  if (!window_open(options.scale, error)) {
    std::fprintf(stderr, "takto: no window (%s); takto-cli works without a display\n", error.c_str());
    return 1;
  }
  synth_set_gain_db(options.gain_db);
  timer_start(on_timer, true);
  app_thread_start(application);

  if (window_run()) {
    // The user closed the window: stop the application thread where it
    // waits, then silence a song that still plays before its output closes.
    dialogs_cancel();
    if (!app_thread_stop(APP_STOP_MS)) {
      // It is inside a message box; nothing may be released under it.
      timer_stop();
      std::fflush(nullptr);
      std::_Exit(0);
    }
    const std::uint8_t mode = screen_mode.load();
    if (mode == MODE_TRACK_MONITOR || mode == MODE_PLAY_MONITOR) stop_play();
  } else {
    app_thread_join();
  }
  timer_stop();
  midi_close_input();
  const long long clipped = synth_clipped_samples();
  midi_close();
  window_close();
  SDL_Quit();
  if (clipped > 0)
    std::fprintf(stderr, "takto: %lld samples clipped at --gain %+.1f dB; a lower --gain plays them whole\n", clipped,
                 options.gain_db);
  return 0;
}
