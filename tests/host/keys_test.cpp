#include <gtest/gtest.h>

#include <vector>

#include "host/screen.h"

namespace {

class Keys : public ::testing::Test {
 protected:
  void SetUp() override { reset_keys(); }
};

// The values one key-down queues with the given modifiers held (down before,
// up after), emptying the queue.
std::vector<int> press(int vk, bool shift, bool ctrl) {
  if (shift) on_key_down(VK_SHIFT_KEY);
  if (ctrl) on_key_down(VK_CONTROL_KEY);
  on_key_down(vk);
  if (shift) on_key_up(VK_SHIFT_KEY);
  if (ctrl) on_key_up(VK_CONTROL_KEY);
  std::vector<int> out;
  for (int k; (k = poll_key()) != 0;) out.push_back(k);
  return out;
}

struct Row {
  int vk;
  int plain, shift, ctrl, ctrl_shift;  // codes; 0 = nothing queued
};

void check_rows(const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    const int codes[4] = {r.plain, r.shift, r.ctrl, r.ctrl_shift};
    for (int m = 0; m < 4; ++m) {
      const bool shift = m & 1, ctrl = m & 2;
      const std::vector<int> want =
          codes[m] == 0 ? std::vector<int>{} : std::vector<int>{codes[m] + (shift ? 256 : 0)};
      EXPECT_EQ(press(r.vk, shift, ctrl), want)
          << "vk " << r.vk << (shift ? " +Shift" : "") << (ctrl ? " +Ctrl" : "");
    }
  }
}

TEST_F(Keys, EditingAndCursorKeys) {
  check_rows({
      {8, 8, 8, 8, 8},         {9, 9, 9, 9, 9},         {13, 13, 13, 13, 13},
      {27, 27, 27, 27, 27},    {32, 32, 32, 32, 32},    {33, 25, 25, 25, 25},
      {34, 26, 26, 26, 26},    {35, 1, 1, 1, 1},        {36, 12, 23, 12, 23},
      {37, 29, 29, 29, 29},    {38, 30, 30, 30, 30},    {39, 28, 28, 28, 28},
      {40, 31, 31, 31, 31},    {45, 18, 18, 18, 18},    {46, 7, 7, 7, 7},
  });
}

TEST_F(Keys, OtherKeysBelow48AreTheirOwnCode) {
  // Clear, Pause, Caps Lock, Convert, Non-convert, Help, and the rest.
  std::vector<Row> rows;
  for (int vk : {1, 3, 12, 18, 19, 20, 28, 29, 41, 44, 47}) rows.push_back({vk, vk, vk, vk, vk});
  check_rows(rows);
}

TEST_F(Keys, DigitRow) {
  const int shifted[10] = {48, 33, 34, 35, 36, 37, 38, 39, 40, 41};
  std::vector<Row> rows;
  for (int d = 0; d < 10; ++d) rows.push_back({48 + d, 48 + d, shifted[d], 48 + d, shifted[d]});
  check_rows(rows);
}

TEST_F(Keys, Letters) {
  std::vector<Row> rows;
  for (int vk = 65; vk <= 90; ++vk) rows.push_back({vk, vk, vk + 32, vk - 64, vk - 64});
  check_rows(rows);
}

TEST_F(Keys, NumericPad) {
  const int shifted[10] = {48, 33, 34, 35, 36, 37, 38, 39, 40, 41};
  std::vector<Row> rows;
  for (int d = 0; d < 10; ++d) rows.push_back({96 + d, 48 + d, 48 + d, shifted[d], shifted[d]});
  rows.push_back({106, 42, 42, 42, 42});
  rows.push_back({107, 43, 43, 43, 43});
  rows.push_back({109, 45, 45, 45, 45});
  rows.push_back({110, 46, 46, 46, 46});
  rows.push_back({111, 47, 47, 47, 47});
  check_rows(rows);
}

TEST_F(Keys, FunctionKeys) {
  std::vector<Row> rows;
  for (int vk = 112; vk <= 123; ++vk) rows.push_back({vk, vk + 18, vk + 50, vk + 18, vk + 50});
  check_rows(rows);
}

TEST_F(Keys, PunctuationKeys) {
  check_rows({
      {186, 58, 42, 0, 0},    {187, 59, 43, 0, 0},    {188, 44, 60, 0, 0},
      {189, 45, 61, 0, 0},    {190, 46, 62, 0, 0},    {191, 47, 63, 0, 0},
      {192, 64, 96, 0, 0},    {219, 91, 123, 27, 27}, {220, 92, 124, 28, 28},
      {221, 93, 125, 29, 29}, {222, 94, 126, 30, 30}, {226, 92, 95, 31, 31},
  });
}

TEST_F(Keys, KeysThatQueueNothing) {
  std::vector<Row> rows;
  auto none = [&](int from, int to) {
    for (int vk = from; vk <= to; ++vk) rows.push_back({vk, 0, 0, 0, 0});
  };
  none(0, 0);
  none(58, 64);     // no keys
  none(91, 95);     // Windows, Apps, Sleep
  none(108, 108);   // numeric pad separator
  none(124, 185);   // F13-F24, locks, left/right modifiers, browser and media keys
  none(193, 218);
  none(223, 225);
  none(227, 255);   // including 229, the key an input method takes
  none(256, 260);   // not virtual keys at all
  none(-1, -1);
  check_rows(rows);
}

TEST_F(Keys, ModifiersQueueNothingAndFollowTheirKeyUps) {
  for (int i = 0; i < 5; ++i) {  // auto-repeat of the modifiers
    on_key_down(VK_SHIFT_KEY);
    on_key_down(VK_CONTROL_KEY);
  }
  EXPECT_EQ(poll_key(), 0);
  on_key_down(65);
  EXPECT_EQ(poll_key(), 257);  // Ctrl+Shift+A
  on_key_up(VK_CONTROL_KEY);
  on_key_down(65);
  EXPECT_EQ(poll_key(), 97 + 256);
  on_key_up(65);  // other key-ups change nothing
  on_key_up(36);
  on_key_down(36);
  EXPECT_EQ(poll_key(), 23 + 256);
  on_key_up(VK_SHIFT_KEY);
  on_key_down(65);
  EXPECT_EQ(poll_key(), 65);
}

TEST_F(Keys, AutoRepeatQueuesEveryKeyDown) {
  for (int i = 0; i < 5; ++i) on_key_down(40);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(poll_key(), 31);
  EXPECT_EQ(poll_key(), 0);
}

TEST_F(Keys, FullQueueDropsThe32ndKeyUntilOneIsRead) {
  for (int i = 0; i < 31; ++i) on_key_down(65 + i % 26);
  on_key_down(48);  // dropped
  EXPECT_EQ(poll_key(), 65);
  on_key_down(49);  // room again
  on_key_down(50);  // full again: dropped
  // A modifier still registers while the ring is full.
  on_key_down(VK_SHIFT_KEY);
  EXPECT_EQ(shift_state, 1);
  std::vector<int> got;
  for (int k; (k = poll_key()) != 0;) got.push_back(k);
  ASSERT_EQ(got.size(), 31u);
  for (int i = 1; i < 31; ++i) EXPECT_EQ(got[i - 1], 65 + i % 26);
  EXPECT_EQ(got[30], 49);
}

TEST_F(Keys, RingWrapsAroundInOrder) {
  int next_in = 0, next_out = 0;
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 7; ++i) on_key_down(65 + (next_in++ % 26));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(poll_key(), 65 + (next_out++ % 26));
    // The queue holds at most 31 keys: drain before it fills.
    if (next_in - next_out > 20) {
      while (next_out < next_in) EXPECT_EQ(poll_key(), 65 + (next_out++ % 26));
    }
  }
  EXPECT_GE(key_queue.write_index.load(), 0);
  EXPECT_LT(key_queue.write_index.load(), KEY_QUEUE_SLOTS);
}

TEST_F(Keys, PushedBackKeyComesFirstAndIsReplacedByTheLatest) {
  EXPECT_EQ(poll_key(), 0);
  on_key_down(49);
  on_key_down(50);
  unget_key(300);
  unget_key(13);  // replaces 300
  EXPECT_EQ(poll_key(), 13);
  EXPECT_EQ(poll_key(), 49);
  EXPECT_EQ(poll_key(), 50);
  EXPECT_EQ(poll_key(), 0);
  unget_key(0);  // nothing pushed back
  EXPECT_EQ(poll_key(), 0);
}

TEST_F(Keys, GetKeyReturnsAWaitingKey) {
  unget_key(7);
  on_key_down(13);
  EXPECT_EQ(get_key(), 7);
  EXPECT_EQ(get_key(), 13);
}

}  // namespace
