// The 1 ms multimedia timer that runs the player's clock.
#include <atomic>
#include <thread>

#include "host/host.h"
#include "host/win32/win32.h"

namespace {
UINT min_period = 0;
UINT timer_id = 0;
std::atomic<bool> ticking{false};
std::atomic<int> in_callback{0};
std::atomic<void (*)()> tick_function{nullptr};

void CALLBACK timer_proc(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  in_callback.fetch_add(1);
  if (ticking.load()) tick_function.load()();
  in_callback.fetch_sub(1);
}

// Windows 11 may lower the timer's resolution for a process whose window is
// hidden or minimised; play needs its 1 ms ticks then too. Looked up at run
// time, as older systems do not have the call.
void keep_timer_resolution() {
  using SetInfo = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  auto set_info = reinterpret_cast<SetInfo>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessInformation")));
  if (!set_info) return;
  PROCESS_POWER_THROTTLING_STATE state{};
  state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
  state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
  state.StateMask = 0;
  set_info(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}
}  // namespace

std::uint32_t host_time_ms() { return timeGetTime(); }

bool host_clock_start() { return true; }

void start_tick_timer(void (*tick)()) {
  tick_function.store(tick);
  keep_timer_resolution();
  TIMECAPS caps{};
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) {
    alert_box("Multimedia timer is not available");
  } else {
    min_period = caps.wPeriodMin;
  }
  if (min_period >= 10) alert_box("Min period of multimedia timer is not enough");
  timeBeginPeriod(min_period);
  ticking.store(true);
  timer_id = timeSetEvent(1, 1, timer_proc, 0, TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
}

void stop_tick_timer() {
  ticking.store(false);
  if (timer_id) timeKillEvent(timer_id);
  timer_id = 0;
  // A call that began before the stop may still be inside on_timer.
  while (in_callback.load() != 0) std::this_thread::yield();
  timeEndPeriod(min_period);
}
