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
  SessionScreen(const TempDir& dir, const std::string& args) {
    const CliResult r =
        run_cli("session " + args + " --png " + dir.file("session.png") + " --screen " + dir.file("session.txt"));
    const std::vector<std::uint8_t> bytes = read_file(dir.file("session.txt"));
    const std::string dump(bytes.begin(), bytes.end());
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
void expect_shown(const RunningProgram& takto, const SessionScreen& session, const TempDir& dir, const Shown& s,
                  int tries = 20) {
  ASSERT_GE(session.x, 0) << "takto-cli session drew nothing";
  RgbPicture window;
  int differ = -1;
  std::string first = "nowhere: the window is another size";
  for (int i = 0; i < tries && differ != 0; ++i) {
    sleep_ms(300);
    if (!takto.screenshot(dir.file("w.xwd")) || !window.read_xwd(dir.file("w.xwd"))) continue;
    if (window.width != s.width || window.height != s.height) continue;
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

// "Threads": the ThreadSanitizer build runs this too (window, timer and
// application threads meet in takto). The main screen, the MEAS/STEP prompt
// (at its STEP field) and the edit screen, typed one after the other.
TEST(DesktopWindowThreads, ShowsWhatTheSessionDraws) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd");
  TempDir dir;
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  RunningProgram takto(display, {"--scale", "1", demo}, {"SDL_AUDIODRIVER=none"} /* no SoundFont to load */,
                       dir.file("out"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  const struct {
    const char *session_keys, *typed_keys;
  } steps[] = {{"wait=600", ""},
               {"RETURN 3 RETURN wait=600", "Return 3 Return"},
               {"RETURN 3 RETURN 2 RETURN wait=600", "2 Return"}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.session_keys);
    if (step.typed_keys[0]) takto.keys(step.typed_keys);
    expect_shown(takto, SessionScreen(dir, demo + " --keys '" + step.session_keys + "'"), dir, unscaled(1));
  }
  takto.keys("Escape Escape Escape q");
  EXPECT_EQ(takto.wait(), 0) << "Q did not end the program";
}

// The load command's dialog is the desktop's: zenity's file chooser, where a
// typed path and Return choose the file.
TEST(DesktopDialogs, OpenDialogLoadsTheChosenSong) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd", "zenity");
  TempDir dir;
  VirtualDisplay display;
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  RunningProgram takto(display, {"--scale", "1"}, {"SDL_AUDIODRIVER=none"}, dir.file("out"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  takto.keys("l");
  // Polls until the dialog opens or, when it is open, closes.
  auto dialog_change = [&](std::string dialog, int tries) {
    const bool was_open = !dialog.empty();
    for (int i = 0; i < tries && dialog.empty() != was_open; ++i, sleep_ms(100))
      dialog = first_line(takto.xdotool("search --onlyvisible --name '^zenity$'"));
    return dialog;
  };
  std::string dialog = dialog_change("", 200);
  ASSERT_FALSE(dialog.empty()) << "no dialog: " << takto.output();
  // The chooser may not take keys until it has settled (slowly on a loaded
  // machine): type the path into its location field until it closes.
  for (int attempt = 0; attempt < 5 && !dialog.empty(); ++attempt) {
    sleep_ms(1000);
    takto.focus(dialog);
    takto.keys("ctrl+l");
    std::system(takto.xdotool("type --delay 20 '" + demo + "'").c_str());
    sleep_ms(300);
    takto.keys("Return");
    dialog = dialog_change(dialog, 50);
  }
  ASSERT_TRUE(dialog.empty()) << "the dialog did not take the typed path";
  takto.focus(takto.window);
  expect_shown(takto, SessionScreen(dir, "--keys 'L open=" + demo + " wait=600'"), dir, unscaled(1), 30);
  takto.keys("q");
  EXPECT_EQ(takto.wait(), 0);
}

// Without --scale the window starts at the largest whole scale whose window,
// frame included, fits the screen; --scale still forces its scale. Resized,
// it shows the picture at the largest whole scale that fits, centred on
// black; F11 and Alt+Return toggle full screen and back to the window's size.
// F11 is not queued: the edit screen, which counts every key at (78, 24),
// must stay as the session draws it.
TEST(DesktopWindowFit, LargestScaleThatFitsResizedAndFullScreen) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd", "openbox");
  const Shown full_screen{1920, 1080, 2, 320, 140}, small{1279, 800, 1, 319, 200};
  const struct {
    const char* action;  // a key, or a size for the window
    Shown shown;
  } resizes[] = {{"F11", full_screen},    {"F11", unscaled(2)},        {"1400 900", {1400, 900, 2, 60, 50}},
                 {"1279 800", small},     {"alt+Return", full_screen}, {"alt+Return", small},
                 {"640 400", unscaled(1)}};
  const struct {
    const char* screen;
    bool window_manager;
    const char* scale_option;
    int scale;
  } cases[] = {
      {"1920x1080", true, "", 2},  // then resized
      {"1280x800", true, "", 1},   // the frame does not fit beside scale 2
      {"1280x800", false, "", 2}, {"3840x2160", true, "", 5}, {"3840x2160", true, "3", 3},
  };
  TempDir dir;
  const SessionScreen session(dir, demo + " --keys 'RETURN 3 RETURN 2 RETURN wait=600'");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.screen) + (c.window_manager ? " with openbox" : "") + " --scale " + c.scale_option);
    VirtualDisplay display(c.screen, c.window_manager);
    ASSERT_FALSE(display.name.empty()) << "Xvfb or openbox did not start";
    std::vector<std::string> args = {demo};
    if (c.scale_option[0]) args = {"--scale", c.scale_option, demo};
    RunningProgram takto(display, args, {"SDL_AUDIODRIVER=none"}, dir.file("out"));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    takto.keys("Return 3 Return 2 Return");
    expect_shown(takto, session, dir, unscaled(c.scale));
    for (const auto& step : resizes) {
      if (&c != cases) break;
      SCOPED_TRACE(step.action);
      if (std::strchr(step.action, ' ')) {
        std::system(takto.xdotool("windowsize --sync " + takto.window + " " + step.action).c_str());
      } else {
        takto.keys(step.action);
      }
      expect_shown(takto, session, dir, step.shown);
    }
    takto.keys("Escape Escape Escape q");
    EXPECT_EQ(takto.wait(), 0);
  }
}
}  // namespace
