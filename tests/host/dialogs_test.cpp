#include <gtest/gtest.h>

#include <thread>

#include "host/headless/headless.h"
#include "host/host.h"

// A chosen name without an extension gets ".sqf" (a dot in a folder name is
// none). A cancelled dialog answers 0 and leaves file_name.
TEST(Dialogs, ChosenNamesGetTheDefaultExtensionAndCancelKeepsTheName) {
  const struct {
    const char* typed;
    const char* stored;
  } cases[] = {
      {"song", "song.sqf"}, {"dir.v2/song", "dir.v2/song.sqf"}, {"song.SQF", "song.SQF"}, {"take.mid", "take.mid"}};
  for (const auto& c : cases)
    for (int (*ask)() : {ask_open_name, ask_save_name}) {
      headless_answer_dialogs(c.typed);
      set_file_name("");
      EXPECT_NE(ask(), 0);
      EXPECT_STREQ(file_name, c.stored);
    }
  headless_cancel_dialogs();
  EXPECT_EQ(ask_open_name() + ask_save_name(), 0);
  EXPECT_STREQ(file_name, "take.mid");
}

// A drop on the window thread while the application thread takes its copy:
// the copy is always one whole name, never a mix. Longer names are cut to what
// file_name holds.
TEST(FileNameThreads, CopyIsNeverTornAndLongNamesAreCut) {
  const std::string a(200, 'a'), b(FILE_NAME_SIZE + 140, 'b'), cut_b(FILE_NAME_SIZE - 1, 'b');
  set_file_name(b.c_str());
  EXPECT_EQ(file_name, cut_b);
  std::thread dropper([&] {
    for (int i = 0; i < 2000; ++i) set_file_name(i % 2 ? a.c_str() : b.c_str());
  });
  for (int i = 0; i < 2000; ++i) {
    char copy[FILE_NAME_SIZE];
    copy_file_name(copy);
    ASSERT_TRUE(copy == a || copy == cut_b) << std::string(copy).size();
  }
  dropper.join();
}

// alert_box adds on one thread while another reads the list: every read is a
// whole copy, never a list caught growing.
TEST(AlertThreads, ReadWhileAnotherThreadAlerts) {
  headless_echo_alerts(false);
  headless_clear_alerts();
  std::thread alerter([] {
    for (int i = 0; i < 1000; ++i) alert_box("Song is too large");
  });
  std::size_t seen = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::vector<std::string> copy = headless_alerts();
    ASSERT_GE(copy.size(), seen);
    ASSERT_TRUE(copy.empty() || copy.back() == "Song is too large");
    seen = copy.size();
  }
  alerter.join();
  EXPECT_EQ(headless_alerts().size(), 1000u);
  headless_echo_alerts(true);
}
