// The 1 ms timer thread and the millisecond clock. The thread sleeps to
// absolute deadlines of the monotonic clock, so lateness does not add up, and
// asks for real-time priority: directly, else through RealtimeKit on the
// system bus as audio servers do; without it, it runs at normal priority.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include "host/desktop/desktop.h"
#include "host/host.h"

namespace {
constexpr long NS_PER_MS = 1000000;
constexpr std::int64_t NS_PER_S = 1000000000;
// Below the audio servers' usual priorities, above every normal thread.
constexpr int WANTED_PRIORITY = 20;
// A wake-up this late (a suspended machine) starts the schedule afresh
// instead of running a burst of calls.
constexpr std::int64_t RESCHEDULE_NS = 100 * NS_PER_MS;

std::thread timer_thread;
std::atomic<bool> running{false};
std::atomic<const char*> priority{"none"};
std::atomic<TimerObserver> observer{nullptr};

std::int64_t ns_of(const timespec& t) { return t.tv_sec * NS_PER_S + t.tv_nsec; }

bool ask_realtime_kit() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return false;
  const char* service = "org.freedesktop.RealtimeKit1";
  const char* path = "/org/freedesktop/RealtimeKit1";
  std::int32_t max_priority = 0;
  sd_bus_error error{nullptr, nullptr, 0};
  bool done = false;
  if (sd_bus_get_property_trivial(bus, service, path, service, "MaxRealtimePriority", &error, 'i', &max_priority) >=
          0 &&
      max_priority > 0) {
    // The service refuses threads that could run away with the CPU: it wants
    // a CPU-time limit for real-time threads first.
    std::int64_t max_rttime = 0;
    sd_bus_error_free(&error);
    if (sd_bus_get_property_trivial(bus, service, path, service, "RTTimeUSecMax", &error, 'x', &max_rttime) >= 0 &&
        max_rttime > 0) {
      rlimit limit{static_cast<rlim_t>(max_rttime), static_cast<rlim_t>(max_rttime)};
      setrlimit(RLIMIT_RTTIME, &limit);
    }
    sd_bus_error_free(&error);
    const auto thread_id = static_cast<std::uint64_t>(gettid());
    const auto wanted = static_cast<std::uint32_t>(std::min(WANTED_PRIORITY, int{max_priority}));
    done = sd_bus_call_method(bus, service, path, service, "MakeThreadRealtime", &error, nullptr, "tu", thread_id,
                              wanted) >= 0;
  }
  sd_bus_error_free(&error);
  sd_bus_unref(bus);
  return done;
}

const char* ask_realtime() {
  sched_param param{};
  param.sched_priority = WANTED_PRIORITY;
  if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return "SCHED_FIFO";
  if (ask_realtime_kit()) return "RealtimeKit";
  return "none";
}

void timer_main(void (*tick)(), std::atomic<bool>* started, bool realtime) {
  priority.store(realtime ? ask_realtime() : "none");
  started->store(true);
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (running.load(std::memory_order_relaxed)) {
    next.tv_nsec += NS_PER_MS;
    if (next.tv_nsec >= NS_PER_S) {
      next.tv_nsec -= NS_PER_S;
      ++next.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t late = ns_of(now) - ns_of(next);
    if (TimerObserver watch = observer.load(std::memory_order_relaxed)) watch(late);
    if (!running.load(std::memory_order_relaxed)) break;
    tick();
    if (late > RESCHEDULE_NS) next = now;
  }
}
}  // namespace

std::uint32_t host_time_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ns_of(now)) / NS_PER_MS);
}

void timer_start(void (*tick)(), bool realtime) {
  if (running.exchange(true)) return;
  std::atomic<bool> started{false};
  timer_thread = std::thread(timer_main, tick, &started, realtime);
  while (!started.load()) std::this_thread::yield();
}

void timer_stop() {
  if (!running.exchange(false)) return;
  timer_thread.join();
}

const char* timer_priority() { return priority.load(); }

void timer_observe(TimerObserver watch) { observer.store(watch); }
