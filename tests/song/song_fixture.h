// A new song for each test, with alerts kept instead of shown, and the loader
// and the saver run under a file name as the program runs them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/song_builder.h"
#include "common/temp_dir.h"
#include "host/headless/headless.h"
#include "host/host.h"

class SongTest : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    headless_echo_alerts(false);
    ASSERT_EQ(new_song(), 0);
    rebuild_track_table();
  }
  // The last alert since the last load or save, "" if none.
  static std::string alert() { return headless_alerts().empty() ? "" : headless_alerts().back(); }
  static int load(const std::string& path, bool saving = false) {
    headless_clear_alerts();
    set_file_name(path.c_str());
    const int r = saving ? save_song() : load_song();
    rebuild_track_table();
    return r;
  }
  static int save(const std::string& path) { return load(path, true); }
};
