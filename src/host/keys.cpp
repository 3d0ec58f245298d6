#include "host/host.h"
#include "host/screen.h"

KeyQueue key_queue = {{}, {0}, {0}, 0};
int shift_state = 0;
int ctrl_state = 0;

namespace {
// The digit row with Shift, and the numeric pad digits with Ctrl.
constexpr int shifted_digit[10] = {48, 33, 34, 35, 36, 37, 38, 39, 40, 41};

struct Punctuation {
  int vk;
  int plain;
  int shifted;
  int ctrl;  // 0: nothing with Ctrl
};
// Japanese 106/109-key layout.
constexpr Punctuation punctuation[] = {
    {186, 58, 42, 0}, {187, 59, 43, 0},   {188, 44, 60, 0},   {189, 45, 61, 0},   {190, 46, 62, 0},   {191, 47, 63, 0},
    {192, 64, 96, 0}, {219, 91, 123, 27}, {220, 92, 124, 28}, {221, 93, 125, 29}, {222, 94, 126, 30}, {226, 92, 95, 31},
};
}  // namespace

int translate_key(int vk, int shift, int ctrl) {
  switch (vk) {
    case 33: return 25;               // Page Up
    case 34: return 26;               // Page Down
    case 35: return 1;                // End
    case 36: return shift ? 23 : 12;  // Home
    case 37: return 29;               // Left
    case 38: return 30;               // Up
    case 39: return 28;               // Right
    case 40: return 31;               // Down
    case 45: return 18;               // Insert
    case 46: return 7;                // Delete
    case 106: return 42;
    case 107: return 43;
    case 109: return 45;
    case 110: return 46;
    case 111: return 47;
    default: break;
  }
  // Every other key below 48 (Backspace, Tab, Return, Esc, Space, Clear,
  // Convert, ...) is its own code. 0 is no key and never a code.
  if (vk > 0 && vk < 48) return vk;
  if (vk >= 48 && vk <= 57) return shift ? shifted_digit[vk - 48] : vk;
  if (vk >= 65 && vk <= 90) {
    if (ctrl) return vk - 64;
    return shift ? vk + 32 : vk;
  }
  if (vk >= 96 && vk <= 105) return ctrl ? shifted_digit[vk - 96] : vk - 48;
  if (vk >= 112 && vk <= 123) return shift ? vk + 50 : vk + 18;
  for (const Punctuation& p : punctuation) {
    if (p.vk == vk) {
      if (ctrl) return p.ctrl;
      return shift ? p.shifted : p.plain;
    }
  }
  return 0;
}

void on_key_down(int vk) {
  if (vk == VK_SHIFT_KEY) {
    shift_state = 1;
    return;
  }
  if (vk == VK_CONTROL_KEY) {
    ctrl_state = 1;
    return;
  }
  const int w = key_queue.write_index.load(std::memory_order_relaxed);
  const int next = (w + 1) % KEY_QUEUE_SLOTS;
  // Acquire: the reader has finished with the slot it released.
  if (next == key_queue.read_index.load(std::memory_order_acquire)) return;  // full: dropped
  const int code = translate_key(vk, shift_state, ctrl_state);
  if (code == 0) return;
  key_queue.slots[w] = code + KEY_SHIFT_BIT * shift_state;
  key_queue.write_index.store(next, std::memory_order_release);
}

void on_key_up(int vk) {
  if (vk == VK_SHIFT_KEY) shift_state = 0;
  if (vk == VK_CONTROL_KEY) ctrl_state = 0;
}

int poll_key() {
  if (poll_hook) poll_hook();
  if (key_queue.pushed_back != 0) {
    const int key = key_queue.pushed_back;
    key_queue.pushed_back = 0;
    return key;
  }
  const int r = key_queue.read_index.load(std::memory_order_relaxed);
  if (r == key_queue.write_index.load(std::memory_order_acquire)) return 0;
  const int key = key_queue.slots[r];
  key_queue.read_index.store((r + 1) % KEY_QUEUE_SLOTS, std::memory_order_release);
  return key;
}

int get_key() {
  for (;;) {
    host_sleep_1ms();
    const int key = poll_key();
    if (key != 0) return key;
  }
}

void unget_key(int key) { key_queue.pushed_back = key; }

void reset_keys() {
  key_queue.write_index.store(0, std::memory_order_relaxed);
  key_queue.read_index.store(0, std::memory_order_relaxed);
  key_queue.pushed_back = 0;
  shift_state = 0;
  ctrl_state = 0;
}
