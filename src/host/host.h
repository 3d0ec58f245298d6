// The platform services the core calls. Every host backend (headless, desktop,
// Windows) implements these free functions; nothing in the core includes a
// platform header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

// Shows a modal message (caption "デバッグ情報") and returns when it is closed.
// Text is Shift-JIS. Callable from any thread.
void alert_box(const char* text);

// The system's open and save dialogs. They start from the current file_name and,
// when the user chooses a file, store its path there (a name without extension
// gets ".sqf") and return nonzero. Cancel returns 0 and leaves file_name alone.
int ask_open_name();
int ask_save_name();

// The current song file name, a zero-terminated path. On Windows it holds at
// most 259 bytes of UTF-8, what the system's dialogs and MAX_PATH take;
// elsewhere every path the system takes (PATH_MAX with its terminator).
#ifdef _WIN32
constexpr std::size_t FILE_NAME_SIZE = 260;
#else
constexpr std::size_t FILE_NAME_SIZE = 4096;
#endif
extern char file_name[FILE_NAME_SIZE];

// file_name is written by the window thread (dropped files) as well as by the
// application thread. Writers outside the application thread use set_file_name;
// load and save work on a copy taken with copy_file_name, so a drop during a
// load or save cannot change the name that operation is using.
void set_file_name(const char* name);
void copy_file_name(char out[FILE_NAME_SIZE]);

// Every file access by name goes through these two, so that a name opens the
// same file on every system: on Windows file_name holds UTF-8 and the calls
// take UTF-16; elsewhere the bytes are the name.
std::filesystem::path host_path(const char* name);
std::FILE* host_open_file(const char* name, const char* mode);

// Text output into the picture (screen_bitmap, see host/screen.h) at pixel
// (px, py), the top-left corner of the first cell: n Shift-JIS bytes, a single
// byte 8 pixels wide and a double-byte pair 16, 16 rows high, the background
// painted (opaque). fore and back are colour-table indices. Cut at the edges
// of the picture. Called with the text screen's lock held; the output must be
// in the pixel memory when it returns.
void host_text_out(int px, int py, const char* text, int n, int fore, int back);
// Copies the whole 640 x 400 picture to the window. Called with the lock held.
void host_present();
// Sleeps about one millisecond.
void host_sleep_1ms();

// --- Clock and MIDI output, for the player ---
// A free-running millisecond clock (wraps after about 49.7 days).
std::uint32_t host_time_ms();
// Asked by on_timer before the first tick after a stop. true: the clock may
// run at once. false: the host first moves its clock to a better starting
// point (an audio clock, to a block of its synthesizer); on_timer then runs
// as if still stopped and asks again at its next call.
bool host_clock_start();
// Sends one short MIDI message: status in bits 0-7, first data byte in bits
// 8-15, second in bits 16-23. The result is the driver's and is not examined.
unsigned host_midi_short(std::uint32_t message);
// Exclusive output goes through one header: prepare it, send it, then
// unprepare it, which reports HOST_MIDI_STILL_PLAYING while the driver still
// holds the bytes. data must stay valid until the unprepare succeeds.
struct HostMidiHeader {
  const std::uint8_t* data;
  std::uint32_t length;
  std::uint32_t flags;
};
constexpr unsigned HOST_MIDI_STILL_PLAYING = 65;
unsigned host_midi_prepare(HostMidiHeader* header);
unsigned host_midi_long(HostMidiHeader* header);
unsigned host_midi_unprepare(HostMidiHeader* header);

// A short message's length on the wire, by its status byte.
inline int short_message_length(std::uint8_t status) {
  if (status >= 0xF8 || status == 0xF6) return 1;
  if (status == 0xF1 || status == 0xF3 || (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) return 2;
  return 3;
}

// --- MIDI input ---
// A backend that opened an input port says so here and hands over each short
// message it receives (from one thread of its own); the application thread
// takes them. Full, the ring drops the newest.
extern std::atomic<bool> midi_in_open;
void midi_in_push(std::uint32_t message);
bool midi_in_pop(std::uint32_t& message);
// Called by every poll_key before it looks at the keys (null: none), so the
// application thread serves the input wherever it waits for a key.
extern void (*poll_hook)();
