// The window shows what the core draws, and keys typed on a keyboard arrive as
// the core expects: takto under Xvfb, keys typed through XTEST, the window's
// picture compared pixel by pixel with takto-cli session's for the same keys.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "common/run_cli.h"
#include "desktop/desktop_run.h"

namespace {
const std::string demo = std::string(TAKTO_SOURCE_DIR) + "/examples/demo.sqf";

struct ScreenCase {
  const char* name;          // a test name
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

// takto-cli session's picture for the keys, and its cursor cell from the
// dump's last line: the cursor blinks on its own clock in each program, so
// its cells (and a double-byte neighbour) are not compared.
struct SessionScreen {
  RgbPicture picture;
  int x = -1, y = -1;
  bool draw(const TempDir& dir, const std::string& args) {
    const CliResult r =
        run_cli("session " + args + " --png " + dir.file("session.png") + " --screen " + dir.file("session.txt"));
    const std::vector<std::uint8_t> bytes = read_file(dir.file("session.txt"));
    const std::string dump(bytes.begin(), bytes.end());
    std::istringstream(dump.substr(dump.rfind("cursor ") + 7)) >> x >> y;
    return r.status == 0 && picture.read(dir.file("session.png"));
  }
  bool cursor(int px, int py) const { return x >= 0 && py / 16 == y && px / 8 >= x - 1 && px / 8 <= x + 1; }
  // Pixels of the window picture (scale times larger) that differ.
  int differing(const RgbPicture& window, int scale, std::string& first) const {
    int differ = 0;
    for (int y = 0; y < picture.height; ++y) {
      for (int x = 0; x < picture.width; ++x) {
        for (int d = 0; d < scale * scale && !cursor(x, y); ++d) {
          if (std::memcmp(window.at(x * scale + d % scale, y * scale + d / scale), picture.at(x, y), 3) != 0 &&
              differ++ == 0) {
            first = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
          }
        }
      }
    }
    return differ;
  }
  // Takes pictures of the window until it shows this screen (the program
  // draws at its own pace, slowly under the sanitizers); what still differs.
  int shown_by(const RunningProgram& takto, const TempDir& dir, int scale, int tries, std::string& first) const {
    RgbPicture window;
    int differ = -1;
    for (int i = 0; i < tries && differ != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (!takto.screenshot(dir.file("window.xwd")) || !window.read_xwd(dir.file("window.xwd"))) return -1;
      if (window.width != 640 * scale || window.height != 400 * scale) return -1;
      differ = differing(window, scale, first);
    }
    return differ;
  }
};

// "Threads": the ThreadSanitizer build runs these too (window, timer and
// application threads meet in takto).
class DesktopWindowThreads : public testing::TestWithParam<ScreenCase> {};

TEST_P(DesktopWindowThreads, ShowsWhatTheSessionDraws) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd");
  TempDir dir;
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  const ScreenCase& c = GetParam();
  SessionScreen session;
  ASSERT_TRUE(session.draw(dir, demo + " --keys '" + c.session_keys + "'"));
  // Scale 1 for every screen; the main screen also at scale 2 and enlarged.
  for (int scale : {1, 2}) {
    if (scale == 2 && c.typed_keys[0]) continue;
    RunningProgram takto(display, {"--scale", std::to_string(scale), demo},
                         {"SDL_AUDIODRIVER=none"} /* no SoundFont to load */, dir.file("out"));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    if (c.typed_keys[0]) takto.keys(c.typed_keys);
    std::string first;
    EXPECT_EQ(session.shown_by(takto, dir, scale, 20, first), 0) << "scale " << scale << ", first at " << first;
    if (scale == 2) {
      // An enlarged window is white beyond the picture.
      std::system(takto.xdotool("windowsize --sync " + takto.window + " 1400 900").c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      RgbPicture window;
      ASSERT_TRUE(takto.screenshot(dir.file("big.xwd")) && window.read_xwd(dir.file("big.xwd")));
      ASSERT_EQ(window.width, 1400);
      for (auto [x, y] : {std::pair{1399, 899}, {1280, 0}, {0, 800}}) {
        EXPECT_EQ(std::memcmp(window.at(x, y), "\xff\xff\xff", 3), 0) << x << ", " << y;
      }
      EXPECT_EQ(session.differing(window, 2, first), 0) << "enlarged, first at " << first;
    }
    takto.keys(c.typed_keys[0] ? "Escape Escape Escape q" : "q");
    EXPECT_EQ(takto.wait(), 0) << "Q did not end the program";
  }
}

// The load command's dialog is the desktop's: zenity's file chooser, where a
// typed path and Return choose the file.
TEST(DesktopDialogs, OpenDialogLoadsTheChosenSong) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd", "zenity");
  TempDir dir;
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  SessionScreen session;
  ASSERT_TRUE(session.draw(dir, "--keys 'L open=" + demo + " wait=600'"));
  RunningProgram takto(display, {}, {"SDL_AUDIODRIVER=none"}, dir.file("out"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  takto.keys("l");
  // The chooser may not take keys until it has settled (slowly on a loaded
  // machine): type the path into its location field until it closes.
  // Polls until the dialog opens or, when it is open, closes.
  auto dialog_change = [&](std::string dialog, int tries) {
    const bool was_open = !dialog.empty();
    for (int i = 0; i < tries && dialog.empty() != was_open; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      dialog = command_output(takto.xdotool("search --onlyvisible --name '^zenity$'"));
      dialog = dialog.substr(0, dialog.find('\n'));
    }
    return dialog;
  };
  std::string dialog = dialog_change("", 200);
  ASSERT_FALSE(dialog.empty()) << "no dialog: " << takto.output();
  for (int attempt = 0; attempt < 5 && !dialog.empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::system(takto.xdotool("windowfocus --sync " + dialog).c_str());
    takto.keys("ctrl+l");
    std::system(takto.xdotool("type --delay 20 '" + demo + "'").c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    takto.keys("Return");
    dialog = dialog_change(dialog, 50);
  }
  ASSERT_TRUE(dialog.empty()) << "the dialog did not take the typed path";
  std::system(takto.xdotool("windowfocus --sync " + takto.window).c_str());
  std::string first;
  EXPECT_EQ(session.shown_by(takto, dir, 1, 30, first), 0) << "the loaded song's screen differs at " << first;
  takto.keys("q");
  EXPECT_EQ(takto.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, DesktopWindowThreads, testing::ValuesIn(screen_cases),
                         [](const testing::TestParamInfo<ScreenCase>& info) { return info.param.name; });
}  // namespace
