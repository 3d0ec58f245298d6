// The ring between a MIDI input's thread and the application thread.
#include "host/host.h"

std::atomic<bool> midi_in_open{false};
void (*poll_hook)() = nullptr;

namespace {
constexpr int SLOTS = 256;
std::uint32_t slots[SLOTS];
std::atomic<int> write_index{0};
std::atomic<int> read_index{0};
}  // namespace

void midi_in_push(std::uint32_t message) {
  const int w = write_index.load(std::memory_order_relaxed);
  const int next = (w + 1) % SLOTS;
  if (next == read_index.load(std::memory_order_acquire)) return;
  slots[w] = message;
  write_index.store(next, std::memory_order_release);
}

bool midi_in_pop(std::uint32_t& message) {
  const int r = read_index.load(std::memory_order_relaxed);
  if (r == write_index.load(std::memory_order_acquire)) return false;
  message = slots[r];
  read_index.store((r + 1) % SLOTS, std::memory_order_release);
  return true;
}
