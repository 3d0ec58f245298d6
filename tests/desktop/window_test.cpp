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
};

// Where a window shows the picture: its size, and the picture's scale and top
// left in it; black all around.
struct Shown {
  int width, height, scale, x, y;
};
std::ostream& operator<<(std::ostream& out, const Shown& s) {
  return out << s.width << " x " << s.height << " at scale " << s.scale << " from (" << s.x << ", " << s.y << ")";
}

// Pixels of the window's picture that differ from the session's shown so.
int differing(const RgbPicture& window, const SessionScreen& session, const Shown& shown, std::string& first) {
  int differ = 0;
  for (int wy = 0; wy < window.height; ++wy) {
    for (int wx = 0; wx < window.width; ++wx) {
      const int px = (wx - shown.x) / shown.scale, py = (wy - shown.y) / shown.scale;
      const bool inside = wx >= shown.x && wy >= shown.y && px < 640 && py < 400;
      if (inside && session.cursor(px, py)) continue;
      const std::uint8_t* want = inside ? session.picture.at(px, py) : reinterpret_cast<const std::uint8_t*>("\0\0");
      if (std::memcmp(window.at(wx, wy), want, 3) != 0 && differ++ == 0) {
        first = "(" + std::to_string(wx) + ", " + std::to_string(wy) + ")";
      }
    }
  }
  return differ;
}

// Takes pictures of the window until it shows the session's screen so (the
// program draws at its own pace, slowly under the sanitizers); what still
// differs, or -1 when the window never had that size.
int shown_as(const RunningProgram& takto, const SessionScreen& session, const TempDir& dir, const Shown& shown,
             int tries, std::string& first) {
  RgbPicture window;
  int differ = -1;
  first = "nowhere: the window is another size";
  for (int i = 0; i < tries && differ != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!takto.screenshot(dir.file("window.xwd")) || !window.read_xwd(dir.file("window.xwd"))) continue;
    if (window.width == shown.width && window.height == shown.height) differ = differing(window, session, shown, first);
  }
  return differ;
}
Shown unscaled(int scale) { return {640 * scale, 400 * scale, scale, 0, 0}; }

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
  // Scale 1 for every screen; the main screen also at scale 2.
  for (int scale : {1, 2}) {
    if (scale == 2 && c.typed_keys[0]) continue;
    RunningProgram takto(display, {"--scale", std::to_string(scale), demo},
                         {"SDL_AUDIODRIVER=none"} /* no SoundFont to load */, dir.file("out"));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    if (c.typed_keys[0]) takto.keys(c.typed_keys);
    std::string first;
    EXPECT_EQ(shown_as(takto, session, dir, unscaled(scale), 20, first), 0)
        << "scale " << scale << ", first at " << first;
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
  RunningProgram takto(display, {"--scale", "1"}, {"SDL_AUDIODRIVER=none"}, dir.file("out"));
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
  EXPECT_EQ(shown_as(takto, session, dir, unscaled(1), 30, first), 0)
      << "the loaded song's screen differs at " << first;
  takto.keys("q");
  EXPECT_EQ(takto.wait(), 0);
}

// Without --scale the window starts at the largest whole scale whose window,
// frame included, fits the screen; --scale still forces its scale.
TEST(DesktopWindowFit, StartsAtTheLargestScaleThatFits) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd", "openbox");
  const struct {
    const char* screen;
    bool window_manager;
    const char* scale_option;
    int scale;
  } cases[] = {
      {"1024x768", true, "", 1},  {"1920x1080", true, "", 2},
      {"3840x2160", true, "", 5}, {"1280x800", true, "", 1},  // the frame does not fit beside scale 2
      {"1280x800", false, "", 2}, {"3840x2160", true, "3", 3},
  };
  TempDir dir;
  SessionScreen session;
  ASSERT_TRUE(session.draw(dir, demo + " --keys 'wait=600'"));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.screen) + (c.window_manager ? " with openbox" : "") + " --scale " + c.scale_option);
    VirtualDisplay display(c.screen, c.window_manager);
    ASSERT_FALSE(display.name.empty()) << "Xvfb or openbox did not start";
    std::vector<std::string> args = {demo};
    if (c.scale_option[0]) args = {"--scale", c.scale_option, demo};
    RunningProgram takto(display, args, {"SDL_AUDIODRIVER=none"}, dir.file("out"));
    ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
    std::string first;
    EXPECT_EQ(shown_as(takto, session, dir, unscaled(c.scale), 20, first), 0) << "first at " << first;
    takto.keys("q");
    EXPECT_EQ(takto.wait(), 0);
  }
}

// A resized window shows the picture at the largest whole scale that fits,
// centred on black; F11 and Alt+Return toggle full screen and back to the
// window's size. F11 is not queued: the edit screen, which counts every key
// at (78, 24), must stay as the session draws it.
TEST(DesktopWindowFit, ResizedAndFullScreen) {
  SKIP_WITHOUT("Xvfb", "xdotool", "xwd", "openbox");
  TempDir dir;
  VirtualDisplay display("1920x1080", true);
  ASSERT_FALSE(display.name.empty()) << "Xvfb or openbox did not start";
  SessionScreen session;
  ASSERT_TRUE(session.draw(dir, demo + " --keys 'RETURN 3 RETURN 2 RETURN wait=600'"));
  RunningProgram takto(display, {demo}, {"SDL_AUDIODRIVER=none"}, dir.file("out"));
  ASSERT_FALSE(takto.window.empty()) << "no window: " << takto.output();
  takto.keys("Return 3 Return 2 Return");
  const Shown full_screen{1920, 1080, 2, 320, 140};
  const struct {
    const char* action;  // a key, or a size for the window
    Shown shown;
  } steps[] = {
      {"", unscaled(2)},
      {"F11", full_screen},
      {"F11", unscaled(2)},
      {"1400 900", {1400, 900, 2, 60, 50}},
      {"1279 800", {1279, 800, 1, 319, 200}},
      {"alt+Return", full_screen},
      {"alt+Return", {1279, 800, 1, 319, 200}},
      {"640 400", unscaled(1)},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.action);
    if (std::strchr(step.action, ' ')) {
      std::system(takto.xdotool("windowsize --sync " + takto.window + " " + step.action).c_str());
    } else if (step.action[0]) {
      takto.keys(step.action);
    }
    std::string first;
    EXPECT_EQ(shown_as(takto, session, dir, step.shown, 20, first), 0) << step.shown << ", first at " << first;
  }
  takto.keys("Escape Escape Escape q");
  EXPECT_EQ(takto.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, DesktopWindowThreads, testing::ValuesIn(screen_cases),
                         [](const testing::TestParamInfo<ScreenCase>& info) { return info.param.name; });
}  // namespace
