#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "host/headless/headless.h"
#include "host/host.h"

namespace {

TEST(Dialogs, CancelLeavesTheNameAndAnswersZero) {
  set_file_name("old.sqf");
  headless_cancel_dialogs();
  EXPECT_EQ(ask_open_name(), 0);
  EXPECT_EQ(ask_save_name(), 0);
  EXPECT_STREQ(file_name, "old.sqf");
}

TEST(Dialogs, ChosenNamesGetTheDefaultExtension) {
  const struct {
    const char* typed;
    const char* stored;
  } cases[] = {
      {"song", "song.sqf"},
      {"dir.v2/song", "dir.v2/song.sqf"},
      {"song.SQF", "song.SQF"},
      {"take.mid", "take.mid"},
  };
  for (const auto& c : cases) {
    headless_answer_dialogs(c.typed);
    EXPECT_NE(ask_open_name(), 0);
    EXPECT_STREQ(file_name, c.stored);
    set_file_name("");
    EXPECT_NE(ask_save_name(), 0);
    EXPECT_STREQ(file_name, c.stored);
  }
  headless_cancel_dialogs();
}

TEST(FileName, LongNamesAreCutTo259Bytes) {
  std::string longer(400, 'a');
  set_file_name(longer.c_str());
  EXPECT_EQ(std::strlen(file_name), FILE_NAME_SIZE - 1);
  char copy[FILE_NAME_SIZE];
  copy_file_name(copy);
  EXPECT_EQ(std::string(copy), std::string(FILE_NAME_SIZE - 1, 'a'));
}

// A drop on the window thread while the application thread takes its copy:
// the copy is always one whole name, never a mix.
TEST(FileNameThreads, CopyIsNeverTorn) {
  const std::string a(200, 'a'), b(100, 'b');
  set_file_name(a.c_str());
  std::thread dropper([&] {
    for (int i = 0; i < 2000; ++i) set_file_name(i % 2 ? a.c_str() : b.c_str());
  });
  for (int i = 0; i < 2000; ++i) {
    char copy[FILE_NAME_SIZE];
    copy_file_name(copy);
    std::string got(copy);
    ASSERT_TRUE(got == a || got == b) << got.size();
  }
  dropper.join();
}

TEST(Alerts, AreRecordedInOrder) {
  headless_echo_alerts(false);
  headless_clear_alerts();
  alert_box("one");
  alert_box("two");
  ASSERT_EQ(headless_alerts().size(), 2u);
  EXPECT_EQ(headless_alerts()[0], "one");
  EXPECT_EQ(headless_alerts()[1], "two");
}

}  // namespace
