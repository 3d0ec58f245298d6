#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/rows.h"
#include "host/screen.h"

using Keys = std::vector<int>;
constexpr int UP = 1000;  // UP + vk: the key-up of vk

// Plays key events and returns every value then waiting.
static Keys play(const Keys& events) {
  for (int e : events) e >= UP ? on_key_up(e - UP) : on_key_down(e);
  Keys out;
  for (int k; out.size() < 64 && (k = poll_key()) != 0;) out.push_back(k);
  return out;
}

// Every row with Shift, Ctrl and both. Auto-repeated modifiers queue nothing;
// only their own key-ups clear them.
TEST(Keys, TranslationTable) {
  reset_keys();
  for (const auto& r : numbers("key"))  // from, to, then the code plain, with Shift, Ctrl, both
    for (int vk = int(r[0]); vk <= r[1]; ++vk)
      for (int m = 0; m < 4; ++m) {
        const int code = r[2 + m] ? int(r[2 + m] + vk - r[0]) : 0;
        EXPECT_EQ(play({m & 1 ? 16 : UP + 16, m & 2 ? 17 : UP + 17, vk, UP + 16, UP + 17}),
                  code ? Keys{code + 256 * (m & 1)} : Keys{})
            << "vk " << vk << (m & 1 ? " +Shift" : "") << (m & 2 ? " +Ctrl" : "");
      }
  EXPECT_EQ(play({16, 17, 16, 17, 65, UP + 65, UP + 36, 65, UP + 17, 65, UP + 16, 65}), (Keys{257, 257, 353, 65}));
}

// 31 keys fill the ring; the next is dropped until one is read, while modifiers
// still register. A pushed-back key comes first; only the latest is kept.
TEST(Keys, FullQueueAndPushBack) {
  reset_keys();
  for (int i = 0; i < 32; ++i) on_key_down(65 + i % 26);
  EXPECT_EQ(poll_key(), 65);
  on_key_down(49);  // room for one
  for (int key : {300, 13}) unget_key(key);
  Keys want{13};  // then the ring's keys after the one read, then 49; 50 is dropped
  for (int i = 1; i < 32; ++i) want.push_back(i < 31 ? 65 + i % 26 : 49);
  EXPECT_EQ(play({50, 16}), want);
  EXPECT_EQ(shift_state, 1);
}

// The window thread types while the application thread reads: every key
// arrives once and in order, through many turns of the ring; get_key waits
// for the first.
TEST(KeyQueueThreads, EveryKeyArrivesInOrder) {
  reset_keys();
  std::atomic<bool> stop{false};
  std::thread window([&] {  // waits for room rather than lose a key, as a slow typist would
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    for (int i = 0; i < 20000 && !stop;)
      (key_queue.write_index + 1) % KEY_QUEUE_SLOTS != key_queue.read_index ? on_key_down(65 + i++ % 26)
                                                                            : std::this_thread::yield();
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);  // fail rather than hang
  int received = get_key() == 65 ? 1 : -1;
  for (int k; received >= 0 && received < 20000 && std::chrono::steady_clock::now() < deadline;)
    if ((k = poll_key()) != 0) received = k == 65 + received % 26 ? received + 1 : -1;
  stop = true;
  window.join();
  EXPECT_EQ(received, 20000) << "-1: a key lost, repeated or out of order";
}
