// The application thread's 1 ms sleep, where it waits for keys and the player;
// it holds no lock there, so it is the one safe place for it to end.
#include <atomic>

#include "host/host.h"
#include "host/win32/win32.h"

namespace {
std::atomic<DWORD> ending_thread{0};
}

void end_thread_at_next_sleep(DWORD thread_id) { ending_thread.store(thread_id); }

void host_sleep_1ms() {
  if (ending_thread.load() == GetCurrentThreadId()) ExitThread(0);
  Sleep(1);
}
