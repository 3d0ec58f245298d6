// takto.exe: the Windows program. The window thread (this one) serves the
// window, the application thread runs main_loop and the multimedia timer steps
// the player.
#include <windows.h>

#include "app/app.h"
#include "host/win32/win32.h"
#include "player/player.h"
#include "screens/screens.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // Options stand before the song's name, which is the rest of the line.
  const wchar_t* args = command_line_tail(GetCommandLineW());
  for (;;) {
    if (const wchar_t* rest = take_option(args, L"--enhanced")) {
      enhanced = true;
      args = rest;
    } else if (const wchar_t* rest2 = take_option(args, L"--midi-clock")) {
      midi_clock = true;
      args = rest2;
    } else {
      break;
    }
  }
  return run_window_program(instance, show, main_loop, on_timer, args);
}
