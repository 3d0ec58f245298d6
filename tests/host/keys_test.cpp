#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

// Virtual keys from..to give code + (vk - from) in each column; 0 queues nothing.
constexpr struct {
  int from, to, plain, shift, ctrl, both;
} table[] = {  // both: Shift and Ctrl
    // Below 48 every key is its own code (Clear 12, Convert 28, ...), but for the editing and cursor keys.
    {1, 15, 1, 1, 1, 1},
    {18, 32, 18, 18, 18, 18},
    {33, 34, 25, 25, 25, 25},
    {35, 35, 1, 1, 1, 1},
    {36, 36, 12, 23, 12, 23},
    {37, 38, 29, 29, 29, 29},
    {39, 39, 28, 28, 28, 28},
    {40, 40, 31, 31, 31, 31},
    {41, 44, 41, 41, 41, 41},
    {45, 45, 18, 18, 18, 18},
    {46, 46, 7, 7, 7, 7},
    {47, 47, 47, 47, 47, 47},
    // Digit row (Shift gives the shifted digits, 0 stays 0), letters, numeric pad (Ctrl shifts its digits), F1-F12.
    {48, 48, 48, 48, 48, 48},
    {49, 57, 49, 33, 49, 33},
    {65, 90, 65, 97, 1, 1},
    {96, 96, 48, 48, 48, 48},
    {97, 105, 49, 49, 33, 33},
    {106, 107, 42, 42, 42, 42},
    {109, 111, 45, 45, 45, 45},
    {112, 123, 130, 162, 130, 162},
    // Punctuation of the Japanese layout: with Ctrl nothing, but for the five bracket keys.
    {186, 187, 58, 42, 0, 0},
    {188, 191, 44, 60, 0, 0},
    {192, 192, 64, 96, 0, 0},
    {219, 222, 91, 123, 27, 27},
    {226, 226, 92, 95, 31, 31},
    // Nothing: no key, Windows keys and Sleep, pad separator, F13 up, media keys, 229 (input method), no keys at all.
    {-1, 0, 0, 0, 0, 0},
    {58, 64, 0, 0, 0, 0},
    {91, 95, 0, 0, 0, 0},
    {108, 108, 0, 0, 0, 0},
    {124, 185, 0, 0, 0, 0},
    {193, 218, 0, 0, 0, 0},
    {223, 225, 0, 0, 0, 0},
    {227, 260, 0, 0, 0, 0}};

// Every row with Shift, Ctrl and both. Auto-repeated modifiers queue nothing;
// only their own key-ups clear them.
TEST(Keys, TranslationTable) {
  reset_keys();
  for (const auto& r : table)
    for (int vk = r.from; vk <= r.to; ++vk)
      for (int m = 0; m < 4; ++m) {
        const int column[4] = {r.plain, r.shift, r.ctrl, r.both}, code = column[m] ? column[m] + vk - r.from : 0;
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
// arrives once and in order, through many turns of the ring.
TEST(KeyQueueThreads, EveryKeyArrivesInOrder) {
  reset_keys();
  std::atomic<bool> stop{false};
  std::thread window([&] {  // waits for room rather than lose a key, as a slow typist would
    for (int i = 0; i < 20000 && !stop;)
      (key_queue.write_index + 1) % KEY_QUEUE_SLOTS != key_queue.read_index ? on_key_down(65 + i++ % 26)
                                                                            : std::this_thread::yield();
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);  // fail rather than hang
  int received = 0;
  for (int k; received >= 0 && received < 20000 && std::chrono::steady_clock::now() < deadline;)
    if ((k = poll_key()) != 0) received = k == 65 + received % 26 ? received + 1 : -1;
  stop = true;
  window.join();
  EXPECT_EQ(received, 20000) << "-1: a key lost, repeated or out of order";
}

TEST(KeyQueueThreads, GetKeyWaitsForTheWindowThread) {
  reset_keys();
  std::thread window([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    on_key_down(13);
  });
  EXPECT_EQ(get_key(), 13);
  window.join();
}
