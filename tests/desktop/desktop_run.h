// Runs takto as a user meets it: in a window on its own Xvfb display, keys
// typed through XTEST with xdotool, pictures taken with xwd.
#pragma once

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/run_cli.h"

extern char** environ;

inline void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#define SKIP_WITHOUT(...)                                                      \
  for (const std::string tool : {__VA_ARGS__})                                 \
    if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) \
  GTEST_SKIP() << tool << " is not installed (scripts/deps installs it)"

// Starts a program, its output (and errors) to a file.
inline pid_t spawn(const std::vector<std::string>& args, const std::string& output = "/dev/null") {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status, or -1 when it did not end within timeout_ms (then killed).
inline int wait_exit(pid_t pid, int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += 10, sleep_ms(10)) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// A picture as 8-bit RGB rows, top row first; false when it cannot be read.
struct RgbPicture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  bool read(const std::string& png_path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, png_path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
  }
  // An X window dump of the 24-bit display: a big-endian header, then 32-bit
  // pixels of blue, green, red and a pad byte (least significant first).
  bool read_xwd(const std::string& path) {
    const std::vector<std::uint8_t> f = read_file(path);
    auto card32 = [&](std::size_t i) -> std::uint32_t {
      return 4 * i + 4 > f.size() ? 0 : f[4 * i] << 24 | f[4 * i + 1] << 16 | f[4 * i + 2] << 8 | f[4 * i + 3];
    };
    const std::size_t pixels = card32(0) + 12 * std::size_t{card32(19)}, line = card32(12);
    width = static_cast<int>(card32(4));
    height = static_cast<int>(card32(5));
    if (card32(1) != 7 || card32(7) != 0 || card32(11) != 32 || card32(14) != 0xFF0000 ||
        pixels + line * height > f.size())
      return false;
    rgb.resize(3 * static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < rgb.size(); ++i)
      rgb[i] = f[pixels + line * (i / 3 / width) + 4 * (i / 3 % width) + 2 - i % 3];
    return true;
  }
  const std::uint8_t* at(int x, int y) const { return &rgb[3 * (static_cast<std::size_t>(y) * width + x)]; }
};

// takto in a window on an Xvfb display of its own, of a screen size like
// "1600x1000", with the openbox window manager when asked (full screen needs one).
struct Takto {
  TempDir dir;
  pid_t server = -1, manager = -1, pid = -1;
  std::string display, window;  // ":N" and the X window id, empty when they did not appear
  Takto(const std::vector<std::string>& args, std::vector<std::string> env = {},
        const std::string& screen = "1600x1000", bool window_manager = false) {
    int fds[2];
    if (pipe(fds) != 0) return;
    server = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen + "x24", "-nolisten", "tcp"});
    ::close(fds[1]);
    // The server writes the display number and a newline once it is ready.
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty() || c != '\n') return;
    if (window_manager) {  // openbox runs its startup command once it manages the screen
      manager = spawn({"env", "DISPLAY=:" + number, "openbox", "--sm-disable", "--startup", "touch " + dir.file("up")});
      for (int i = 0; i < 300 && access(dir.file("up").c_str(), F_OK) != 0; ++i) sleep_ms(50);
      if (access(dir.file("up").c_str(), F_OK) != 0) return;
    }
    display = ":" + number;
    // The system's X and D-Bus libraries keep allocations until exit.
    env.insert(env.begin(), {"env", "DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1",
                             "TSAN_OPTIONS=halt_on_error=1:suppressions=" TAKTO_SOURCE_DIR "/tests/desktop/tsan.supp"});
    env.push_back(TAKTO_PROGRAM);
    env.insert(env.end(), args.begin(), args.end());
    pid = spawn(env, dir.file("out"));
    window = xdotool("search --sync --name '^TAKTO$'");  // slow to show under sanitizers and load
    // Keys go to the focused window; there is no window manager to give focus.
    if (!window.empty()) xdotool("windowfocus --sync " + window);
    sleep_ms(200);
  }
  ~Takto() {
    if (pid > 0) wait_exit(pid, 0);
    for (pid_t p : {manager, server})
      if (p > 0) kill(p, SIGTERM), wait_exit(p, 2000);
  }
  // "" once the window shows, else what went wrong.
  std::string failed() const {
    if (display.empty()) return "Xvfb or openbox did not start";
    return window.empty() ? "no window: " + output() : "";
  }
  // What the program printed.
  std::string output() const { return file_text(dir.file("out")); }
  // Runs xdotool to its end: the first line it prints.
  std::string xdotool(const std::string& args) const {
    const std::string out = run_shell("DISPLAY=" + display + " timeout 30 xdotool " + args).out;
    return out.substr(0, out.find('\n'));
  }
  // Types keys (xdotool key names) through XTEST, as a keyboard would.
  void keys(const std::string& names) const { xdotool("key --delay 60 " + names); }
  // Waits for main_loop's own end (after Q).
  int wait(int timeout_ms = 15000) { return wait_exit(std::exchange(pid, -1), timeout_ms); }
  // Closing the window: SDL takes SIGTERM as the window's close request.
  int close() { return kill(pid, SIGTERM), wait(); }
  // The window's picture as xwd dumps it (ImageMagick's import can wait
  // forever for an event that a window without a manager never gets).
  bool picture(RgbPicture& p) const {
    const std::string xwd = dir.file("w.xwd");
    const std::string command = "DISPLAY=" + display + " timeout 30 xwd -silent -id " + window + " -out " + xwd;
    return std::system((command + " 2>/dev/null").c_str()) == 0 && p.read_xwd(xwd);
  }
};
