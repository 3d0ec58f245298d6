// The Windows backend: the main window and its message handler, the threads,
// the text screen's GDI objects, the multimedia timer and the MIDI ports.
#pragma once

#include <windows.h>
// Needs windows.h first.
#include <shellapi.h>

#include <atomic>
#include <string>

// --- Text for the system ---
// Screen text, message texts and dialog filters are Shift-JIS and are converted
// as code page 932 whatever the system's code page is. File names are UTF-8
// inside the program and UTF-16 for the system.
std::wstring sjis_to_wide(const char* text);
std::wstring utf8_to_wide(const char* text);
std::string wide_to_utf8(const wchar_t* text);
// Takes a UTF-16 name as file_name, unless its UTF-8 form does not fit (a cut
// name would name another file); false then, and file_name is unchanged.
bool set_file_name_wide(const wchar_t* name);

// The first file of a drop becomes file_name (a name too long for it is
// refused with a message); the drop handle is released.
void take_dropped_file(HDROP drop);

// The command line as the entry point gets it: the text after the program's
// own name, leading blanks removed.
const wchar_t* command_line_tail(const wchar_t* whole);
// Copies that text into file_name: a double quote is skipped and the character
// after it copied in its place, whatever it is.
void copy_command_line(const wchar_t* text);
// When text begins with the word name (ended by a blank or the end), the text
// after it and its blanks; otherwise null.
const wchar_t* take_option(const wchar_t* text, const wchar_t* name);

// The main window; stored first thing in its creation handler, so that the
// application thread started there can use it.
extern std::atomic<HWND> main_window;

// Makes the thread end inside its next host_sleep_1ms, where it holds no lock:
// the window closed while the application thread still runs main_loop.
void end_thread_at_next_sleep(DWORD thread_id);

// --- Text screen (creation and destruction of the window) ---
// Obtains the window's context, creates the memory context, the 16-colour
// picture and the font, and points screen_bitmap at the picture.
bool screen_setup(HWND window);
// Releases them. Drawing after this lands in a spare buffer and copies nothing,
// so an application thread still running cannot reach a released object.
void screen_teardown(HWND window);

// --- The program's window and threads (win32_shell.cpp) ---
// Registers the window class, takes the command line into file_name, creates
// the window (whose creation starts the tick timer with `tick` and the
// application thread running `app`) and serves its messages until the program
// ends. Returns the process's exit code.
int run_window_program(HINSTANCE instance, int show, void (*app)(), void (*tick)(), const wchar_t* song_args);

// --- The 1 ms multimedia timer ---
// Checks the timer's capabilities (alert_box on a failure), asks for its
// minimum period and starts the periodic timer, which calls tick.
void start_tick_timer(void (*tick)());
// Stops it and ends the period request. When it returns no tick call is
// running and none will start.
void stop_tick_timer();

// --- MIDI ports ---
// Opens output on the MIDI mapper and input device 0 (notifications to the
// window) and starts input. Results are not examined.
void open_midi_ports(HWND window);
// Stops, resets and closes input, then silences and closes output. Sends
// afterwards do nothing.
void close_midi_ports();
