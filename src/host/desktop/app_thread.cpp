// The application thread. Every wait of main_loop goes through host_sleep_1ms,
// so that is where a closing window stops it: the thread parks there for good
// and touches nothing that the shutdown releases.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "host/desktop/desktop.h"
#include "host/host.h"

namespace {
std::thread app;
std::atomic<bool> stopping{false};
std::atomic<bool> parked{false};
std::atomic<bool> finished{false};
thread_local bool on_app_thread = false;

void run(void (*body)()) {
  on_app_thread = true;
  body();
  finished.store(true);
  window_post_quit();
}
}  // namespace

void app_thread_start(void (*body)()) { app = std::thread(run, body); }

void app_thread_checkpoint() {
  if (!on_app_thread || !stopping.load()) return;
  parked.store(true);
  for (;;) pause();
}

void host_sleep_1ms() {
  app_thread_checkpoint();
  const timespec ms{0, 1000000};
  nanosleep(&ms, nullptr);
}

bool app_thread_stop(int timeout_ms) {
  stopping.store(true);
  for (int waited = 0; waited < timeout_ms; ++waited) {
    if (finished.load()) {
      app.join();
      return true;
    }
    if (parked.load()) {
      app.detach();  // it never returns; the process ends with it parked
      return true;
    }
    const timespec ms{0, 1000000};
    nanosleep(&ms, nullptr);
  }
  return false;
}

void app_thread_join() {
  if (app.joinable()) app.join();
}
