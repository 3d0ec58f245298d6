// The headless backend's screen: the picture is the text screen's own buffer,
// text comes from the embedded bitmap font, and there is no window to copy to.
#include <atomic>
#include <chrono>
#include <thread>

#include "host/font/bitmap_font.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "host/screen.h"

namespace {
std::atomic<int> presents{0};
}

void host_text_out(int px, int py, const char* text, int n, int fore, int back) {
  bitmap_text_out(screen_bitmap, px, py, text, n, fore, back);
}

void host_present() { presents.fetch_add(1, std::memory_order_relaxed); }

// In a session the sleep moves the virtual clock instead.
void host_sleep_1ms() {
  const SessionHooks* session = session_hooks.load();
  if (session && session->sleep_1ms()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int headless_present_count() { return presents.load(std::memory_order_relaxed); }
