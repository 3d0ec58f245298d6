// The window shows what the core draws, and keys typed on a keyboard arrive as
// the core expects: takto under Xvfb, keys typed through XTEST, the window's
// picture compared pixel by pixel with takto-cli session's for the same keys.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "desktop/desktop_run.h"

namespace {
struct ScreenCase {
  const char* name;  // a test name
  const char* session_keys;  // takto-cli session's script
  const char* typed_keys;    // the same keys for xdotool
};

// Screens that do not change with time: the main screen, the MEAS/STEP
// prompt (at its STEP field) and the edit screen.
const ScreenCase screen_cases[] = {
    {"MainScreen", "wait=600", ""},
    {"MeasStepPrompt", "RETURN 3 RETURN wait=600", "Return 3 Return"},
    {"EditScreen", "RETURN 3 RETURN 2 RETURN wait=600", "Return 3 Return 2 Return"},
};

void PrintTo(const ScreenCase& c, std::ostream* out) { *out << c.name; }

// The cursor cell from the dump's last line; it blinks on its own clock in
// each program, so its cells (and a double-byte neighbour) are not compared.
struct CursorCells {
  int x = -1, y = -1;
  explicit CursorCells(const std::string& dump) {
    std::istringstream(dump.substr(dump.rfind("cursor ") + 7)) >> x >> y;
  }
  bool cover(int px, int py) const { return x >= 0 && py / 16 == y && px / 8 >= x - 1 && px / 8 <= x + 1; }
};

// Pixels of the window picture (scale times larger) that differ from the session's.
int differing_pixels(const RgbPicture& window, const RgbPicture& session, const CursorCells& cursor,
                     int scale, std::string& first) {
  int differ = 0;
  for (int y = 0; y < session.height; ++y) {
    for (int x = 0; x < session.width; ++x) {
      if (cursor.cover(x, y)) continue;
      for (int dy = 0; dy < scale; ++dy) {
        for (int dx = 0; dx < scale; ++dx) {
          if (std::memcmp(window.at(x * scale + dx, y * scale + dy), session.at(x, y), 3) != 0) {
            if (differ++ == 0) {
              char at[32];
              std::snprintf(at, sizeof at, "(%d, %d)", x, y);
              first = at;
            }
          }
        }
      }
    }
  }
  return differ;
}

// "Threads": the ThreadSanitizer build runs these too (window, timer and
// application threads meet in takto).
class DesktopWindowThreads : public testing::TestWithParam<ScreenCase> {};

TEST_P(DesktopWindowThreads, ShowsWhatTheSessionDraws) {
  const std::string missing = missing_tool({"Xvfb", "xdotool", "xwd"});
  if (!missing.empty()) GTEST_SKIP() << missing << " is not installed (scripts/deps installs it)";
  const std::string song = std::string(TAKTO_SOURCE_DIR) + "/examples/demo.sqf";
  TempDir dir;
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  const ScreenCase& c = GetParam();
  {
    const std::string expected_png = dir.file("session.png");
    const std::string dump_file = dir.file("session.txt");
    int status = -1;
    command_output(std::string(TAKTO_CLI) + " session " + song + " --keys '" + c.session_keys +
                       "' --png " + expected_png + " --screen " + dump_file,
                   &status);
    ASSERT_EQ(status, 0);
    RgbPicture session;
    ASSERT_TRUE(session.read(expected_png));
    const std::vector<std::uint8_t> dump_bytes = read_file(dump_file);
    const CursorCells cursor(std::string(dump_bytes.begin(), dump_bytes.end()));

    // Scale 1 for every screen; the main screen also at scale 2 and enlarged.
    for (int scale : {1, 2}) {
      if (scale == 2 && c.typed_keys[0]) continue;
      RunningProgram takto(display, {"--scale", std::to_string(scale), song},
                           {"SDL_AUDIODRIVER=none"}  /* no SoundFont to load */, dir.file("out"));
      ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
      if (c.typed_keys[0]) takto.keys(c.typed_keys);
      // The program draws at its own pace (slowly under the sanitizers).
      const std::string shot = dir.file("window.xwd");
      RgbPicture window;
      std::string first;
      int differ = -1;
      for (int tries = 0; tries < 20 && differ != 0; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(takto.screenshot(shot));
        ASSERT_TRUE(window.read_xwd(shot));
        ASSERT_EQ(window.width, 640 * scale);
        ASSERT_EQ(window.height, 400 * scale);
        differ = differing_pixels(window, session, cursor, scale, first);
      }
      EXPECT_EQ(differ, 0) << "scale " << scale << ", first at " << first;
      if (scale == 2) {
        // An enlarged window is white beyond the picture.
        std::system(takto.xdotool("windowsize --sync " + takto.window + " 1400 900").c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(takto.screenshot(shot));
        ASSERT_TRUE(window.read_xwd(shot));
        ASSERT_EQ(window.width, 1400);
        const std::uint8_t white[3] = {255, 255, 255};
        EXPECT_EQ(std::memcmp(window.at(1399, 899), white, 3), 0);
        EXPECT_EQ(std::memcmp(window.at(1280, 0), white, 3), 0);
        EXPECT_EQ(std::memcmp(window.at(0, 800), white, 3), 0);
        EXPECT_EQ(differing_pixels(window, session, cursor, 2, first), 0) << "enlarged, first at " << first;
      }
      takto.keys(c.typed_keys[0] ? "Escape Escape Escape q" : "q");
      EXPECT_EQ(takto.wait(), 0) << "Q did not end the program";
    }
  }
}

// The load command's dialog is the desktop's: zenity's file chooser, where a
// typed path and Return choose the file.
TEST(DesktopDialogs, OpenDialogLoadsTheChosenSong) {
  const std::string missing = missing_tool({"Xvfb", "xdotool", "xwd", "zenity"});
  if (!missing.empty()) GTEST_SKIP() << missing << " is not installed (scripts/deps installs it)";
  const std::string song = std::string(TAKTO_SOURCE_DIR) + "/examples/demo.sqf";
  TempDir dir;
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  int status = -1;
  command_output(std::string(TAKTO_CLI) + " session --keys 'L open=" + song + " wait=600' --png " +
                     dir.file("session.png") + " --screen " + dir.file("session.txt"),
                 &status);
  ASSERT_EQ(status, 0);
  RgbPicture session;
  ASSERT_TRUE(session.read(dir.file("session.png")));
  const std::vector<std::uint8_t> dump = read_file(dir.file("session.txt"));
  const CursorCells cursor(std::string(dump.begin(), dump.end()));

  RunningProgram takto(display, {}, {"SDL_AUDIODRIVER=none"}, dir.file("out"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  takto.keys("l");
  // The chooser may not take keys until it has settled (slowly on a loaded
  // machine): type the path into its location field until it closes.
  auto open_dialog = [&] {
    const std::string found = command_output(takto.xdotool("search --onlyvisible --name '^zenity$'"));
    return found.substr(0, found.find('\n'));
  };
  std::string dialog;
  for (int i = 0; i < 200 && dialog.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dialog = open_dialog();
  }
  ASSERT_FALSE(dialog.empty()) << "no dialog: " << takto.output();
  for (int attempt = 0; attempt < 5 && !dialog.empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::system(takto.xdotool("windowfocus --sync " + dialog).c_str());
    takto.keys("ctrl+l");
    std::system(takto.xdotool("type --delay 20 '" + song + "'").c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    takto.keys("Return");
    for (int i = 0; i < 50 && !dialog.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      dialog = open_dialog();
    }
  }
  ASSERT_TRUE(dialog.empty()) << "the dialog did not take the typed path";
  std::system(takto.xdotool("windowfocus --sync " + takto.window).c_str());
  RgbPicture window;
  std::string first;
  int differ = -1;
  for (int tries = 0; tries < 30 && differ != 0; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(takto.screenshot(dir.file("window.xwd")));
    ASSERT_TRUE(window.read_xwd(dir.file("window.xwd")));
    differ = differing_pixels(window, session, cursor, 1, first);
  }
  EXPECT_EQ(differ, 0) << "the loaded song's main screen differs, first at " << first;
  takto.keys("q");
  EXPECT_EQ(takto.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, DesktopWindowThreads, testing::ValuesIn(screen_cases),
                         [](const testing::TestParamInfo<ScreenCase>& info) { return info.param.name; });
}  // namespace
