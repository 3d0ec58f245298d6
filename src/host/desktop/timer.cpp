// The 1 ms timer thread and the player's millisecond clock. The thread sleeps
// to absolute deadlines of the monotonic clock, so lateness does not add up,
// and asks for real-time priority: directly, else through RealtimeKit on the
// system bus as audio servers do; without it, it runs at normal priority.
//
// While the audio device asks for audio, its callback steps the player, one
// millisecond of audio at a time (the audio clock); the timer thread steps it
// only while no callback has come for AUDIO_SILENT_NS (a MIDI port, no audio
// device, a device that stopped). Whichever steps holds `stepping`, taken by
// exchange and never waited for, so the two never step at once; host_time_ms
// goes on from where the other left it, so a hand-over neither skips nor
// repeats a tick.
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

constexpr std::int64_t AUDIO_SILENT_NS = 50 * NS_PER_MS;

std::thread timer_thread;
void (*player_timer)() = nullptr;  // set before any thread that steps starts
std::atomic<bool> stepping{false};
std::atomic<std::uint32_t> clock_ms{0};
std::atomic<std::int64_t> audio_seen_ns{INT64_MIN / 2};  // the last callback's start

// Timer thread only: where its stretch of stepping began.
bool timer_steps = false;
std::int64_t timer_base_ns = 0;
std::uint32_t timer_base_ms = 0;

// Audio thread only.
thread_local bool on_audio_clock = false;  // inside a callback that steps
bool follows_aligned = false;              // the last millisecond was aligned for a start
bool start_ready = false;                  // so this one may start the clock
bool align_wanted = false;                 // host_clock_start asked for it
std::atomic<bool> running{false};
std::atomic<const char*> priority{"none"};
std::atomic<TimerObserver> observer{nullptr};

std::int64_t ns_of(const timespec& t) { return t.tv_sec * NS_PER_S + t.tv_nsec; }

std::int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return ns_of(now);
}

// One wake-up of the timer thread, due at deadline_ns: steps the player when
// no audio clock does.
void step_from_timer(std::int64_t deadline_ns) {
  if (deadline_ns - audio_seen_ns.load(std::memory_order_relaxed) < AUDIO_SILENT_NS ||
      stepping.exchange(true, std::memory_order_acquire)) {
    timer_steps = false;
    return;
  }
  if (!timer_steps) {
    timer_steps = true;
    timer_base_ns = deadline_ns;
    timer_base_ms = clock_ms.load(std::memory_order_relaxed) + 1;  // the next millisecond
  }
  clock_ms.store(timer_base_ms + static_cast<std::uint32_t>((deadline_ns - timer_base_ns) / NS_PER_MS),
                 std::memory_order_relaxed);
  player_timer();
  stepping.store(false, std::memory_order_release);
}

bool ask_realtime_kit(pid_t thread) {
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
    const auto thread_id = static_cast<std::uint64_t>(thread);
    const auto wanted = static_cast<std::uint32_t>(std::min(WANTED_PRIORITY, int{max_priority}));
    done = sd_bus_call_method(bus, service, path, service, "MakeThreadRealtime", &error, nullptr, "tu", thread_id,
                              wanted) >= 0;
  }
  sd_bus_error_free(&error);
  sd_bus_unref(bus);
  return done;
}

}  // namespace

const char* thread_make_realtime(int thread) {
  sched_param param{};
  param.sched_priority = WANTED_PRIORITY;
  if (sched_setscheduler(thread, SCHED_FIFO, &param) == 0) return "SCHED_FIFO";
  if (ask_realtime_kit(thread)) return "RealtimeKit";
  return "none";
}

namespace {

void timer_main(std::atomic<bool>* started, bool realtime) {
  priority.store(realtime ? thread_make_realtime(gettid()) : "none");
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
    step_from_timer(ns_of(next));  // whole milliseconds of the schedule
    if (late > RESCHEDULE_NS) next = now;
  }
}
}  // namespace

std::uint32_t host_time_ms() { return clock_ms.load(std::memory_order_relaxed); }

bool host_clock_start() {
  if (!on_audio_clock || start_ready) return true;
  align_wanted = true;
  return false;
}

bool audio_clock_enter() {
  audio_seen_ns.store(monotonic_ns(), std::memory_order_relaxed);
  if (player_timer == nullptr || stepping.exchange(true, std::memory_order_acquire)) return false;
  on_audio_clock = true;
  return true;
}

bool audio_clock_step() {
  clock_ms.store(clock_ms.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  start_ready = follows_aligned;
  align_wanted = false;
  player_timer();
  follows_aligned = align_wanted;
  return align_wanted;
}

void audio_clock_leave() {
  on_audio_clock = false;
  stepping.store(false, std::memory_order_release);
}

void timer_start(void (*tick)(), bool realtime) {
  if (running.exchange(true)) return;
  player_timer = tick;
  std::atomic<bool> started{false};
  timer_thread = std::thread(timer_main, &started, realtime);
  while (!started.load()) std::this_thread::yield();
}

void timer_stop() {
  if (!running.exchange(false)) return;
  timer_thread.join();
}

const char* timer_priority() { return priority.load(); }

void timer_observe(TimerObserver watch) { observer.store(watch); }
