// The player's clock between the audio callback and the timer thread: the
// desktop's timer alone, with a player that records each call (a program of
// its own, as it defines the clock the headless host would).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/desktop/desktop.h"
#include "host/host.h"

namespace {
using namespace std::chrono_literals;

struct Call {
  std::uint32_t ms;
  bool audio;
};
std::vector<Call> calls;  // written by whichever thread steps
std::atomic<int> inside{0};
std::atomic<bool> overlapped{false};
thread_local bool audio_thread = false;
bool ask_start = false;  // audio thread: the next call asks to start the clock
std::vector<bool> answers;

void record() {
  if (inside.fetch_add(1) != 0) overlapped = true;
  calls.push_back({host_time_ms(), audio_thread});
  if (audio_thread && ask_start) answers.push_back(host_clock_start());
  inside.fetch_sub(1);
}

// Also run by the ThreadSanitizer build.
TEST(DesktopClockThreads, HandsOverWithoutAJumpAndStartsOnABlock) {
  timer_start(record, false);
  std::this_thread::sleep_for(30ms);  // no audio yet: the timer thread steps
  std::vector<bool> aligned;
  std::thread audio([&] {
    audio_thread = true;
    for (int stall = 0; stall < 2; ++stall) {
      for (int buffer = 0; buffer < 10; ++buffer) {
        if (audio_clock_enter()) {
          for (int ms = 0; ms < 11; ++ms) {
            ask_start = stall == 1 && buffer == 5 && ms < 2;
            aligned.push_back(audio_clock_step());
          }
          audio_clock_leave();
        }
        std::this_thread::sleep_for(10ms);
      }
      std::this_thread::sleep_for(150ms);  // the device stops asking for audio
    }
  });
  audio.join();
  timer_stop();

  EXPECT_FALSE(overlapped) << "two threads stepped at once";
  int switches = 0;  // late timer calls catch up at once: every step is 1 ms
  for (std::size_t i = 1; i < calls.size(); ++i) {
    switches += calls[i].audio != calls[i - 1].audio;
    EXPECT_EQ(calls[i].ms - calls[i - 1].ms, 1u) << "call " << i << (calls[i].audio ? " (audio)" : " (timer)");
  }
  EXPECT_EQ(switches, 4) << "timer, audio, timer, audio, timer";
  // A start asked in a millisecond is refused once, that millisecond is
  // aligned, and the next one may start.
  EXPECT_EQ(answers, std::vector<bool>({false, true}));
  EXPECT_EQ(std::count(aligned.begin(), aligned.end(), true), 1);
}
}  // namespace
