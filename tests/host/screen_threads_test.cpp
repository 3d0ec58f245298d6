#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/screen.h"
#include "screen_test_util.h"

namespace {

using ScreenThreads = Screen;

// The window thread blinks while the application thread prints, moves the
// cursor and draws lines. Under ThreadSanitizer this shows the lock covers
// every shared byte; afterwards the cursor cell must look as its phase says.
TEST_F(ScreenThreads, BlinkWhileTheApplicationDraws) {
  std::atomic<bool> done{false};
  std::thread window([&] {
    while (!done.load(std::memory_order_acquire)) {
      blink_cursor();
      present();
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 3000; ++i) {
    const int row = i % 25;
    print_at(0, row, "\x83J\x81[\x83\x5C\x83\x8B cursor", (i % 2) ? 7 : 13);
    set_cursor(i % 12, row);
    set_pen(3, i & 3);
    draw_hline(0, 639, (i * 7) % 400);
    fill_rect(100, 100, 120, 110);
    invert_column(i % 640);
    draw_glyph(i % 600, 300, i % 3);
  }
  done.store(true, std::memory_order_release);
  window.join();

  print_at(0, 0, "\x8A\xBF", 7);
  set_cursor(1, 0);
  const int phase = text_screen.blink_phase;
  EXPECT_EQ(cells(0, 0, 2), font_cells("\x8A\xBF", phase ? 0 : 1, phase ? 1 : 0, 2));
}

// One thread types, the other reads: every key arrives once, in order.
TEST(KeyQueueThreads, EveryKeyArrivesInOrder) {
  reset_keys();
  constexpr int total = 20000;
  // A broken queue must fail the test, not hang it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::atomic<bool> give_up{false};
  std::thread window([&] {
    for (int i = 0; i < total && !give_up.load(); ++i) {
      // Wait for room rather than lose the key, as a slow typist would.
      while ((key_queue.write_index.load(std::memory_order_relaxed) + 1) % KEY_QUEUE_SLOTS ==
                 key_queue.read_index.load(std::memory_order_acquire) &&
             !give_up.load())
        std::this_thread::yield();
      on_key_down(65 + i % 26);
    }
  });
  int received = 0;
  while (received < total) {
    const int k = poll_key();
    if (k == 0) {
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::yield();
      continue;
    }
    if (k != 65 + received % 26) break;
    ++received;
  }
  give_up.store(true);
  window.join();
  EXPECT_EQ(received, total) << "keys lost, repeated or out of order";
  EXPECT_EQ(poll_key(), 0);
}

TEST(KeyQueueThreads, GetKeyWaitsForTheWindowThread) {
  reset_keys();
  std::atomic<bool> typed{false};
  std::thread window([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    typed.store(true);
    on_key_down(13);
  });
  const int key = get_key();
  EXPECT_TRUE(typed.load());
  EXPECT_EQ(key, 13);
  window.join();
}

}  // namespace
