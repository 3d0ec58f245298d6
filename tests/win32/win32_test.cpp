// The Windows backend on the real system calls (run under Wine by
// scripts/test-windows): command line and file names, the text screen's GDI
// picture, and the multimedia timer.
#include <gtest/gtest.h>
#include <windows.h>
// Needs windows.h first.
#include <shlobj.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "host/host.h"
#include "host/screen.h"
#include "host/win32/win32.h"

// The name is taken whole with the quote rule; options stand before it, and a
// word that only begins like one is the name.
TEST(CommandLine, TheNameWithTheQuoteRuleAndLeadingOptions) {
  const struct {
    const wchar_t* whole;
    const char* name;  // UTF-8
  } cases[] = {
      {L"takto.exe", ""},
      {L"takto.exe   song.sqf", "song.sqf"},
      {L"\"C:\\Program Files\\takto.exe\" \"C:\\My Songs\\a b.sqf\"", "C:\\My Songs\\a b.sqf"},
      {L"takto a b  c.sqf ", "a b  c.sqf "},
      {L"takto \"\"x\"", "\"x"},  // of two quotes the second is kept
      {L"takto x\"", "x"},
      {L"takto \u66f2\u00fc.sqf", "\xE6\x9B\xB2\xC3\xBC.sqf"},
  };
  for (const auto& c : cases) {
    set_file_name("old");
    copy_command_line(command_line_tail(c.whole));
    EXPECT_STREQ(file_name, c.name) << c.name;
  }
  const struct {
    const wchar_t *text, *rest;  // "-": not the option
  } options[] = {
      {L"--enhanced", L""},
      {L"--enhanced   a b.sqf", L"a b.sqf"},
      {L"--enhanced\t--midi-clock x", L"--midi-clock x"},
      {L"--enhancedx.sqf", L"-"},
      {L"song --enhanced", L"-"},
  };
  for (const auto& c : options) {
    const wchar_t* rest = take_option(c.text, L"--enhanced");
    EXPECT_EQ(std::wstring(rest ? rest : L"-"), c.rest);
  }
}

// A name is cut nowhere: one whose UTF-8 form does not fit is refused whole.
// A drop takes the first of the shell's names, each ended by a zero.
TEST(FileNames, Utf16ToUtf8OrRefusedAndDropped) {
  set_file_name("old");
  std::wstring fits(86, L'\u66f2');  // 258 bytes
  EXPECT_TRUE(set_file_name_wide(fits.c_str()));
  EXPECT_FALSE(set_file_name_wide((fits + L"\u00fc").c_str()));
  EXPECT_EQ(std::string(file_name), wide_to_utf8(fits.c_str()));
  EXPECT_EQ(utf8_to_wide(file_name), fits);
  // Shift-JIS is converted as code page 932 whatever the system's code page.
  EXPECT_EQ(sjis_to_wide("SQF\x83t\x83@\x83\x43\x83\x8B(*.sqf)"), L"SQF\u30d5\u30a1\u30a4\u30eb(*.sqf)");
  const std::wstring names(L"C:\\a\\\u66f2 1.sqf\0C:\\b.sqf\0", 23);
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (names.size() + 1) * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(drop + 1, names.c_str(), (names.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  take_dropped_file(static_cast<HDROP>(memory));
  EXPECT_STREQ(file_name, "C:\\a\\\xE6\x9B\xB2 1.sqf");
}

class Picture : public ::testing::Test {
 protected:
  HWND window = nullptr;
  void SetUp() override {
    const WNDCLASSW wc{0,       DefWindowProcW, 0,       0,       GetModuleHandleW(nullptr),
                       nullptr, nullptr,        nullptr, nullptr, L"PictureTest"};
    RegisterClassW(&wc);
    window = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500, nullptr, nullptr,
                             wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(screen_setup(window));
  }
  void TearDown() override {
    screen_teardown(window);
    DestroyWindow(window);
  }
  static std::set<int> cell_indices(int x, int y, int w) {
    std::set<int> seen;
    for (int py = 16 * y; py < 16 * y + 16; ++py)
      for (int px = 8 * x; px < 8 * (x + w); ++px) seen.insert(screen_bitmap[(399 - py) * 640 + px]);
    return seen;
  }
};

// GDI draws text in exactly the table entries of its colours: foreground
// 8 + colour (black 0 in reverse) on background 0 (8 + colour in reverse),
// a single byte 8 pixels wide, a double-byte character 16, nothing outside.
TEST_F(Picture, TextLandsOnTheTableEntries) {
  int x = 0;
  for (int attr : {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15})
    for (const char* t : {"W", "\x8A\xBF", "g"}) {  // 漢 is two cells
      const int w = static_cast<int>(std::strlen(t));
      print_at(x % 76, 2 * (x / 76), t, attr);
      EXPECT_EQ(cell_indices(x % 76, 2 * (x / 76), w), (std::set<int>{0, text_colour_index(attr & 7)}))
          << "attr " << attr << " text " << t;
      x += w;
    }
  for (std::size_t i = 0; i < PICTURE_SIZE; ++i) ASSERT_LT(screen_bitmap[i], 16) << i;
  // Cells next to the text stay untouched.
  EXPECT_EQ(cell_indices(76, 0, 4), std::set<int>{0});
  EXPECT_EQ(cell_indices(0, 1, 80), std::set<int>{0});
}

// Shift-JIS reaches the font as code page 932 whatever the system's code page:
// the pair 0x8A 0xBF lights the same pixels as U+6F22 drawn directly (its
// colours are checked above).
TEST_F(Picture, ShiftJisIsCodePage932) {
  print_at(10, 3, "\x8A\xBF", 7);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateBitmap(16, 16, 1, 1, nullptr);  // black ink on white
  HFONT font = CreateFontW(16, 0, 0, 0, 0, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0, FIXED_PITCH, nullptr);
  ASSERT_TRUE(dc && mono && font);
  SelectObject(dc, mono);
  SelectObject(dc, font);
  const RECT box{0, 0, 16, 16};
  const INT advance = 16;
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE | ETO_CLIPPED, &box, L"\u6f22", 1, &advance);
  int differ = 0, lit = 0;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) {
      const bool ink = GetPixel(dc, c, r) == RGB(0, 0, 0);
      differ += (screen_bitmap[(399 - 48 - r) * 640 + 80 + c] != 0) != ink;
      lit += ink;
    }
  DeleteDC(dc);
  DeleteObject(mono);
  DeleteObject(font);
  EXPECT_GT(lit, 20);
  EXPECT_EQ(differ, 0);
}

// After the window's objects are released, drawing goes on harmlessly: an
// application thread still running when the window closes reaches nothing freed.
TEST_F(Picture, DrawingAfterTeardownReachesNothingFreed) {
  screen_teardown(window);
  print_at(0, 0, "after", 7);
  set_cursor(1, 0);
  blink_cursor();
  present();
  fill_rect(0, 0, 639, 399);
  EXPECT_EQ(text_screen.chars[0], 'a');
  ASSERT_TRUE(screen_setup(window));
}

// The 1 ms timer, counted against the clock for a second. Wine and loaded
// machines are slow to wake, so the bound is loose; the figure is printed.
// Stopped means stopped: no call runs after stop_tick_timer returns.
TEST(TickTimer, CallsOnTimerEveryMillisecondUntilStopped) {
  static std::atomic<int> timer_calls{0};  // the player's clock, counted instead
  start_tick_timer([] { timer_calls.fetch_add(1); });
  const DWORD from = timeGetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const int calls = timer_calls.load();
  const int elapsed = static_cast<int>(timeGetTime() - from);
  stop_tick_timer();
  std::printf("on_timer: %d calls in %d ms\n", calls, elapsed);
  EXPECT_GT(calls, elapsed / 4);
  EXPECT_LT(calls, elapsed * 2 + 10);
  const int after = timer_calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(timer_calls.load(), after);
}
