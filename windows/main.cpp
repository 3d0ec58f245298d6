// takto.exe: the Windows program. The window thread (this one) serves the
// window, the application thread runs main_loop and the multimedia timer steps
// the player.
#include <windows.h>

#include "app/app.h"
#include "host/win32/win32.h"
#include "player/player.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  return run_window_program(instance, show, main_loop, on_timer);
}
