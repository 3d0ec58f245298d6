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

// takto-cli session's picture for the keys, and its cursor cell from the
// dump's last line: the cursor blinks on its own clock in each program, so
// its cells (and a double-byte neighbour) are not compared.
struct SessionScreen {
  RgbPicture picture;
  int x = -1, y = -1;
  explicit SessionScreen(const std::string& args) {
    const TempDir dir;
    const CliResult r =
        run_cli("session " + args + " --png " + dir.file("session.png") + " --screen " + dir.file("session.txt"));
    const std::string dump = file_text(dir.file("session.txt"));
    if (r.status == 0 && picture.read(dir.file("session.png")))
      std::istringstream(dump.substr(dump.rfind("cursor ") + 7)) >> x >> y;
  }
  bool cursor(int px, int py) const { return py / 16 == y && px / 8 >= x - 1 && px / 8 <= x + 1; }
};

// Where a window shows the picture: its size, and the picture's scale and top
// left in it; black all around.
struct Shown {
  int width, height, scale, x, y;
};
Shown unscaled(int scale) { return {640 * scale, 400 * scale, scale, 0, 0}; }

// Takes pictures of the window until it shows the session's screen so (the
// program draws at its own pace, slowly under the sanitizers).
void expect_shown(const Takto& takto, const SessionScreen& session, const Shown& s, int tries = 20) {
  ASSERT_GE(session.x, 0) << "takto-cli session drew nothing";
  RgbPicture window;
  int differ = -1;
  std::string first = "nowhere: the window is another size";
  for (int i = 0; i < tries && differ != 0; ++i) {
    sleep_ms(300);
    if (!takto.picture(window) || window.width != s.width || window.height != s.height) continue;
    differ = 0;
    for (int wy = 0; wy < window.height; ++wy) {
      for (int wx = 0; wx < window.width; ++wx) {
        const int px = (wx - s.x) / s.scale, py = (wy - s.y) / s.scale;
        const bool inside = wx >= s.x && wy >= s.y && px < 640 && py < 400;
        if (inside && session.cursor(px, py)) continue;
        const auto* want = inside ? session.picture.at(px, py) : reinterpret_cast<const std::uint8_t*>("\0\0");
        if (std::memcmp(window.at(wx, wy), want, 3) != 0 && differ++ == 0)
          first = "(" + std::to_string(wx) + ", " + std::to_string(wy) + ")";
      }
    }
  }
  EXPECT_EQ(differ, 0) << s.width << " x " << s.height << " at scale " << s.scale << " from (" << s.x << ", " << s.y
                       << "), first at " << first;
}

// Where and how a window starts: a screen size, with openbox or not, the
// --scale option ("" none) and the scale the picture then has.
struct Start {
  const char* screen;
  bool window_manager;
  const char* scale_option;
  int scale;
};

// The main screen, the MEAS/STEP prompt (at its STEP field) and the edit
// screen, typed one after the other; then, when asked, the edit screen after
// each resize. F11 is not queued: the edit screen, which counts every key at
// (78, 24), must stay as the session draws it.
void expect_sessions_shown(const Start& c, bool resize) {
  std::vector<std::string> args = {demo};
  if (c.scale_option[0]) args = {"--scale", c.scale_option, demo};
  Takto takto(args, {"SDL_AUDIODRIVER=none"} /* no SoundFont to load */, c.screen, c.window_manager);
  ASSERT_EQ(takto.failed(), "");
  const std::pair<const char*, const char*> steps[] = {{"", "wait=600"},
                                                       {"Return 3 Return", "RETURN 3 RETURN wait=600"},
                                                       {"2 Return", "RETURN 3 RETURN 2 RETURN wait=600"}};
  for (const auto& [typed, session_keys] : steps) {
    SCOPED_TRACE(session_keys);
    if (typed[0]) takto.keys(typed);
    expect_shown(takto, SessionScreen(demo + " --keys '" + session_keys + "'"), unscaled(c.scale));
  }
  const Shown full_screen{1920, 1080, 2, 320, 140}, small{1279, 800, 1, 319, 200};
  const std::pair<const char*, Shown> resizes[] = {
      {"F11", full_screen},    {"F11", unscaled(2)},        {"1400 900", {1400, 900, 2, 60, 50}},
      {"1279 800", small},     {"alt+Return", full_screen}, {"alt+Return", small},
      {"640 400", unscaled(1)}};
  const SessionScreen edit(demo + " --keys '" + steps[2].second + "'");
  for (const auto& [action, shown] : resizes) {  // a key, or a size for the window
    if (!resize) break;
    SCOPED_TRACE(action);
    const bool size = std::strchr(action, ' ');
    takto.xdotool((size ? "windowsize --sync " + takto.window + " " : "key ") + action);
    expect_shown(takto, edit, shown);
  }
  takto.keys("Escape Escape Escape q");
  EXPECT_EQ(takto.wait(), 0) << "Q did not end the program";
}

// "Threads": the ThreadSanitizer build runs this too (window, timer and
// application threads meet in takto).
TEST(DesktopWindowThreads, ShowsWhatTheSessionDraws) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd");
  expect_sessions_shown({"1600x1000", false, "1", 1}, false);
}

// The load command's dialog is the desktop's: zenity's file chooser, where a
// typed path and Return choose the file.
TEST(DesktopDialogs, OpenDialogLoadsTheChosenSong) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd", "zenity");
  Takto takto({"--scale", "1"}, {"SDL_AUDIODRIVER=none"});
  ASSERT_EQ(takto.failed(), "");
  takto.keys("l");
  auto dialog = [&](const std::string& sync) {
    return takto.xdotool("search " + sync + "--onlyvisible --name '^zenity$'");
  };
  std::string shown = dialog("--sync ");
  ASSERT_FALSE(shown.empty()) << "no dialog: " << takto.output();
  // The chooser may not take keys until it has settled (slowly on a loaded
  // machine): type the path into its location field until it closes.
  for (int attempt = 0; attempt < 5 && !shown.empty(); ++attempt) {
    sleep_ms(1000);
    takto.xdotool("windowfocus --sync " + shown);
    takto.keys("ctrl+l");
    takto.xdotool("type --delay 20 '" + demo + "'");
    sleep_ms(300);
    takto.keys("Return");
    for (int i = 0; i < 50 && !shown.empty(); ++i, sleep_ms(100)) shown = dialog("");
  }
  ASSERT_TRUE(shown.empty()) << "the dialog did not take the typed path";
  takto.xdotool("windowfocus --sync " + takto.window);
  expect_shown(takto, SessionScreen("--keys 'L open=" + demo + " wait=600'"), unscaled(1), 30);
  takto.keys("q");
  EXPECT_EQ(takto.wait(), 0);
}

// Without --scale the window starts at the largest whole scale whose window,
// frame included, fits the screen; --scale still forces its scale. Resized,
// it shows the picture at the largest whole scale that fits, centred on
// black; F11 and Alt+Return toggle full screen and back to the window's size.
TEST(DesktopWindowFit, LargestScaleThatFitsResizedAndFullScreen) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd", "openbox");
  const Start starts[] = {
      {"1920x1080", true, "", 2},  // then resized
      {"1280x800", true, "", 1},   // the frame does not fit beside scale 2
      {"1280x800", false, "", 2}, {"3840x2160", true, "", 5}, {"3840x2160", true, "3", 3},
  };
  for (const Start& c : starts) {
    SCOPED_TRACE(std::string(c.screen) + (c.window_manager ? " with openbox" : "") + " --scale " + c.scale_option);
    expect_sessions_shown(c, &c == starts);
  }
}
}  // namespace
