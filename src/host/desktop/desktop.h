// The desktop backend: an SDL2 window, the player's clock (the audio callback,
// else a 1 ms timer thread), MIDI output to the built-in synthesizer or to a
// MIDI port (RtMidi), and the desktop's own file dialogs. The program (desktop/main.cpp) sets these up and tears them
// down in a fixed order: window, MIDI output, timer, application thread; and back.
#pragma once

#include <SDL2/SDL_keyboard.h>
#include <SDL2/SDL_surface.h>

#include <cstdint>
#include <cstdio>
#include <string>

// --- Keys (keys.cpp) ---

enum class KeyLayout { us, japanese };
// The layout of the system's keymap (after the window exists).
KeyLayout keyboard_layout();
// The Windows virtual key that the same physical key gives with that layout;
// 0 when it gives none. mods are SDL's (Num Lock decides the numeric pad).
int virtual_key(SDL_Scancode scancode, SDL_Keycode key, std::uint16_t mods, KeyLayout layout);

// --- Window (window.cpp), window thread ---

// Creates the resizable window titled "TAKTO", 640 x 400 times scale, or with
// scale 0 at the largest whole scale that fits the display; false with error.
bool window_open(int scale, std::string& error);
// Serves paint, keys, blink and drops until the user closes the window (true)
// or the application thread asks to end (false).
bool window_run();
void window_close();
// Application thread: main_loop has returned.
void window_post_quit();

// --- Picture (picture.cpp), window thread ---

// Draws the 8-bit picture (the colour table as its palette) into target at the
// largest whole scale that fits, centred on black; converted keeps the picture
// in the target's format between calls (freed by the caller).
void draw_picture(SDL_Surface* picture, SDL_Surface* target, SDL_Surface*& converted);

// --- Timer (timer.cpp) ---

// Starts the thread that calls tick (the player's timer call) once a
// millisecond on absolute deadlines of the monotonic clock, while no audio
// clock does (below); with realtime it first asks for real-time priority.
void timer_start(void (*tick)(), bool realtime);
void timer_stop();
// Asks real-time priority for the thread `tid` (of this process): directly,
// else through RealtimeKit. Returns how, as timer_priority does.
const char* thread_make_realtime(int tid);
// How the timer thread got its priority: "SCHED_FIFO", "RealtimeKit" or
// "none" (valid once the thread runs; timer_start waits for that).
const char* timer_priority();
// Called on the timer thread with the lateness of every wake-up in
// nanoseconds, when set (benchmark).
using TimerObserver = void (*)(std::int64_t late_ns);
void timer_observe(TimerObserver observer);

// The audio clock, on the audio thread. audio_clock_enter at the start of
// every callback: true when this callback steps the player (false before
// timer_start, or while the timer thread is inside a call); then
// audio_clock_step once for every millisecond of audio, before its frames are
// rendered: true when those frames must start on a synthesizer block (a play
// starts with the next millisecond); and audio_clock_leave at the end.
bool audio_clock_enter();
bool audio_clock_step();
void audio_clock_leave();

// --- Sound (audio.cpp) ---

// Keeps ALSA's and JACK's own messages off the terminal.
void silence_sound_libraries();
// Opens the audio device, paused; rate receives its sample rate.
bool audio_open(int& rate, std::string& error);
void audio_start();
void audio_close();

// --- MIDI output (midi.cpp) ---

// Prints "SYSTEM: PORT" for every MIDI output port; false when no MIDI
// system is there.
bool midi_list_ports(std::FILE* out);
// Sends to the port whose name is `name` (else the first that contains it).
bool midi_open_port(const std::string& name, std::string& error);
// Plays through the built-in synthesizer and the audio device.
bool midi_open_synth(const std::string& soundfont, std::string& error);
// Closes whatever was opened; the timer has stopped before.
void midi_close();
// On the audio thread, at every millisecond: hands what other threads sent
// to the synthesizer (they queue it; the audio thread alone plays into it
// while the device runs).
void midi_take_queued();
// Whether the MIDI system of RtMidi's api number is there to be asked.
bool midi_system_answers(int api);

// --- MIDI input (midi_in.cpp) ---

// Prints "SYSTEM: PORT" for every MIDI input port; false when no MIDI system
// is there.
bool midi_list_inputs(std::FILE* out);
// Takes input from the port whose name is `name` (else the first that
// contains it; "" the first port that is not TAKTO's own nor a through
// port) into the MIDI input ring, and sets midi_in_open.
bool midi_open_input(const std::string& name, std::string& error);
void midi_close_input();

// --- File dialogs (dialogs.cpp) ---

// Ends a dialog that is open (the window is closing).
void dialogs_cancel();

// --- Application thread (app_thread.cpp) ---

void app_thread_start(void (*body)());
// Asks the application thread to stop: it parks at its next wait (every wait
// goes through host_sleep_1ms) and touches nothing after. true once it parked
// or ended, false when it did not within timeout_ms.
bool app_thread_stop(int timeout_ms);
// The thread returned from body; joins it.
void app_thread_join();
// On the application thread, when a stop was asked: parks for good.
void app_thread_checkpoint();
