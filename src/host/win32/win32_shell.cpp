// The main window and its messages, the application thread, and the order of
// start-up and shutdown, for the program that windows/main.cpp hands over.
#include <objbase.h>

#include "host/host.h"
#include "host/screen.h"
#include "host/win32/win32.h"
#include "host/window_fit.h"

std::atomic<HWND> main_window{nullptr};

namespace {
constexpr wchar_t CLASS_NAME[] = L"NothingWClass";
constexpr UINT_PTR BLINK_TIMER = 0;
constexpr UINT BLINK_MS = 422;

HANDLE app_thread_handle = nullptr;
DWORD app_thread_id = 0;
// How long the shutdown waits for the application thread to reach its next
// sleep; one in a message box or dialog does not get there.
constexpr DWORD APP_THREAD_END_MS = 1000;
bool shut_down = false;  // window thread only
// The frame around the client area, measured at creation; and the window's
// place while it is full screen. Window thread only.
SIZE frame{0, 0};
bool full_screen = false;
WINDOWPLACEMENT windowed{};
// What the program runs, handed over by run_window_program.
void (*app_body)() = nullptr;
void (*tick_body)() = nullptr;

DWORD WINAPI app_thread(LPVOID) {
  // The common dialogs want an apartment on the thread that shows them.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  open_midi_ports(main_window.load());
  app_body();
  PostMessageW(main_window.load(), WM_DESTROY, 0, 0);
  return 0;
}

// The largest whole scale whose window fits the work area of its monitor,
// at the work area's top left (0, 0 unless a taskbar is above or left).
void fit_work_area(HWND window) {
  RECT client, outer;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetClientRect(window, &client) || !GetWindowRect(window, &outer) ||
      !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    return;
  }
  frame = {outer.right - outer.left - client.right, outer.bottom - outer.top - client.bottom};
  const RECT& work = monitor.rcWork;
  const int scale = start_scale(work.right - work.left, work.bottom - work.top, frame.cx, frame.cy);
  SetWindowPos(window, nullptr, work.left, work.top, PICTURE_WIDTH * scale + frame.cx,
               PICTURE_HEIGHT * scale + frame.cy, SWP_NOZORDER);
}

// Full screen: no frame, the whole monitor; back: the frame and the place
// the window had.
void toggle_full_screen(HWND window) {
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  if (!full_screen) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    windowed.length = sizeof windowed;
    if (!GetWindowPlacement(window, &windowed) ||
        !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
      return;
    }
    const RECT& all = monitor.rcMonitor;
    SetWindowLongPtrW(window, GWL_STYLE, style & ~WS_OVERLAPPEDWINDOW);
    SetWindowPos(window, HWND_TOP, all.left, all.top, all.right - all.left, all.bottom - all.top,
                 SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
  } else {
    SetWindowLongPtrW(window, GWL_STYLE, style | WS_OVERLAPPEDWINDOW);
    SetWindowPlacement(window, &windowed);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
  }
  full_screen = !full_screen;
  InvalidateRect(window, nullptr, TRUE);
}

// F11 and Alt+Return are the window's own, never queued; a held key (bit 30:
// it was down before) does not flicker the window.
void full_screen_key(HWND window, LPARAM flags) {
  if (!(flags & (1 << 30))) toggle_full_screen(window);
}

// Pixels of the screen, not of a scaled desktop: otherwise the system would
// stretch the window's whole-multiple picture by its own factor and blur it.
void use_screen_pixels() {
  // Per monitor where the system has it (Windows 10 1703 and later, looked up
  // so that older ones still start the program), else the system's factor.
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  const HMODULE user = GetModuleHandleW(L"user32.dll");
  const FARPROC found = user ? GetProcAddress(user, "SetProcessDpiAwarenessContext") : nullptr;
  const auto set_context = reinterpret_cast<SetContext>(reinterpret_cast<void*>(found));
  if (!set_context || !set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) SetProcessDPIAware();
}

bool on_create(HWND window) {
  main_window.store(window);
  // Without its picture the program cannot show anything: no window then.
  if (!screen_setup(window)) return false;
  SetWindowPos(window, nullptr, 0, 0, PICTURE_WIDTH + 2 * GetSystemMetrics(SM_CXSIZEFRAME),
               PICTURE_HEIGHT + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYSIZEFRAME),
               SWP_NOMOVE | SWP_NOZORDER);
  // Frames with padding (Vista and later) make that sum too small; make up
  // the difference so that the client area is exactly 640 x 400.
  RECT client, outer;
  if (GetClientRect(window, &client) && GetWindowRect(window, &outer)) {
    const int dx = PICTURE_WIDTH - (client.right - client.left);
    const int dy = PICTURE_HEIGHT - (client.bottom - client.top);
    if (dx != 0 || dy != 0) {
      SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
                   SWP_NOMOVE | SWP_NOZORDER);
    }
  }
  fit_work_area(window);
  start_tick_timer(tick_body);
  app_thread_handle = CreateThread(nullptr, 0, app_thread, nullptr, 0, &app_thread_id);
  SetTimer(window, BLINK_TIMER, BLINK_MS, nullptr);
  return true;
}

// Reached by the application thread's posted message or by the window's
// destruction, whichever comes first; the second finds nothing to do.
void on_destroy(HWND window) {
  if (shut_down) return;
  shut_down = true;
  stop_tick_timer();
  // When the window is closed the application thread is still running:
  // it ends first, so that nothing of it runs while the ports and the drawing
  // objects go. Should it not end (a message box is open), the locks of the
  // MIDI output and the text screen still keep it from released objects.
  if (app_thread_handle) {
    end_thread_at_next_sleep(app_thread_id);
    WaitForSingleObject(app_thread_handle, APP_THREAD_END_MS);
  }
  close_midi_ports();
  screen_teardown(window);
  PostQuitMessage(0);
}

void copy_picture(HWND window) {
  PAINTSTRUCT ps;
  BeginPaint(window, &ps);
  present();
  EndPaint(window, &ps);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: return on_create(window) ? 0 : -1;
    case WM_DESTROY: on_destroy(window); return 0;
    case WM_SIZE:
    case WM_PAINT: copy_picture(window); return 0;
    case WM_KEYDOWN:
      if (wparam == VK_F11) {
        full_screen_key(window, lparam);
      } else {
        on_key_down(static_cast<int>(wparam));
      }
      return 0;
    case WM_SYSKEYDOWN:
      if (wparam != VK_RETURN) return DefWindowProcW(window, message, wparam, lparam);
      full_screen_key(window, lparam);
      return 0;
    case WM_SYSCHAR:
      if (wparam == '\r') return 0;  // Alt+Return, taken above: no beep
      return DefWindowProcW(window, message, wparam, lparam);
    case WM_GETMINMAXINFO:
      // Not smaller than the picture at scale 1, once the frame is known.
      if (frame.cx > 0 && !full_screen) {
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {PICTURE_WIDTH + frame.cx, PICTURE_HEIGHT + frame.cy};
      }
      return 0;
    case WM_KEYUP: on_key_up(static_cast<int>(wparam)); return 0;
    case WM_COMMAND: return 0;
    case WM_TIMER: blink_cursor(); return 0;
    case WM_DROPFILES: take_dropped_file(reinterpret_cast<HDROP>(wparam)); return 0;
    case WM_IME_CHAR:
      // A composed character has no key code; the screens read keys only.
      return 0;
    case MM_MIM_OPEN:
    case MM_MIM_DATA: midi_in_push(static_cast<std::uint32_t>(lparam)); return 0;
    case MM_MIM_CLOSE:
    case MM_MIM_LONGDATA: return 0;
    case MM_MIM_ERROR:
    case MM_MIM_LONGERROR: alert_box("Unexpected error"); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}
}  // namespace

int run_window_program(HINSTANCE instance, int show, void (*app)(), void (*tick)(), const wchar_t* song_args) {
  app_body = app;
  tick_body = tick;
  use_screen_pixels();
  WNDCLASSW wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, L"IDI_ICON1");
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // Around the picture the window is black.
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = CLASS_NAME;
  if (!RegisterClassW(&wc)) return 0;

  copy_command_line(song_args);

  HWND window = CreateWindowExW(0, CLASS_NAME, L"TAKTO", WS_OVERLAPPEDWINDOW, 0, 0, 200, 600, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return 0;
  DragAcceptFiles(window, TRUE);
  ShowWindow(window, show);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  const int code = static_cast<int>(msg.wParam);
  // An application thread that could not be ended (in a message box or a
  // dialog) must not see the program's exit code run under it.
  if (app_thread_handle && WaitForSingleObject(app_thread_handle, 0) == WAIT_TIMEOUT) ExitProcess(code);
  return code;
}
