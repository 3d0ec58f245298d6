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
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"

extern char** environ;

// Which of the tools is missing, or "" when all are there.
inline std::string missing_tool(const std::vector<std::string>& tools) {
  for (const std::string& t : tools) {
    if (std::system(("command -v " + t + " >/dev/null 2>&1").c_str()) != 0) return t;
  }
  return "";
}
#define SKIP_WITHOUT(...)                                                        \
  if (const std::string missing = missing_tool({__VA_ARGS__}); !missing.empty()) \
  GTEST_SKIP() << missing << " is not installed (scripts/deps installs it)"

inline pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::string& output = "/dev/null") {
  std::vector<char*> argv, envp;  // env before the test's own environment
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status, or -1 when it did not end within timeout_ms (then killed).
inline int wait_exit(pid_t pid, int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// A command's standard output.
inline std::string command_output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

// An Xvfb server on a free display, of a screen size like "1600x1000", with
// the openbox window manager when asked (full screen needs one).
struct VirtualDisplay {
  pid_t pid = -1, manager = -1;
  std::string name;  // ":N", empty when it (or its window manager) did not start
  explicit VirtualDisplay(const std::string& size = "1600x1000", bool window_manager = false) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", size + "x24", "-nolisten", "tcp"}, {});
    close(fds[1]);
    // The server writes the display number and a newline once it is ready.
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty() || c != '\n') return;
    if (window_manager && !start_manager(":" + number)) return;
    name = ":" + number;
  }
  ~VirtualDisplay() {
    for (pid_t p : {manager, pid}) {
      if (p > 0) {
        kill(p, SIGTERM);
        wait_exit(p, 2000);
      }
    }
  }

 private:
  // openbox runs its startup command once it manages the screen.
  bool start_manager(const std::string& display) {
    const TempDir dir;
    const std::string ready = dir.file("ready");
    manager = spawn({"openbox", "--sm-disable", "--startup", "touch " + ready}, {"DISPLAY=" + display});
    for (int i = 0; i < 300; ++i) {
      if (access(ready.c_str(), F_OK) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
};

// takto running in a window on a display.
struct RunningProgram {
  const VirtualDisplay& display;
  pid_t pid = -1;
  std::string window;  // X window id, empty when none appeared
  std::string output_file;
  RunningProgram(const VirtualDisplay& d, const std::vector<std::string>& args, std::vector<std::string> env,
                 const std::string& output)
      : display(d), output_file(output) {
    std::vector<std::string> argv = {TAKTO_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    env.push_back("DISPLAY=" + d.name);
    // The system's X and D-Bus libraries keep allocations until exit.
    env.push_back("ASAN_OPTIONS=detect_leaks=0:abort_on_error=1");
    env.push_back("TSAN_OPTIONS=halt_on_error=1:suppressions=" TAKTO_SOURCE_DIR "/tests/desktop/tsan.supp");
    pid = spawn(argv, env, output);
    for (int i = 0; i < 300 && window.empty(); ++i) {  // slow under sanitizers and load
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        break;
      }
      window = command_output(xdotool("search --name '^TAKTO$'"));
      if (!window.empty()) window = window.substr(0, window.find('\n'));
      if (window.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Keys go to the focused window; there is no window manager to give focus.
    if (!window.empty()) std::system(xdotool("windowfocus --sync " + window).c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ~RunningProgram() {
    if (pid > 0) wait_exit(pid, 0);
  }
  // What the program printed.
  std::string output() const {
    const std::vector<std::uint8_t> bytes = read_file(output_file);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string xdotool(const std::string& args) const {
    return "DISPLAY=" + display.name + " timeout 30 xdotool " + args + " 2>/dev/null";
  }
  // Types keys (xdotool key names) through XTEST, as a keyboard would.
  void keys(const std::string& names, int delay_ms = 60) const {
    std::system(xdotool("key --delay " + std::to_string(delay_ms) + " " + names).c_str());
  }
  // Waits for main_loop's own end (after Q).
  int wait(int timeout_ms = 15000) {
    const int status = wait_exit(pid, timeout_ms);
    pid = -1;
    return status;
  }
  // Closing the window: SDL takes SIGTERM as the window's close request.
  int close() {
    kill(pid, SIGTERM);
    return wait();
  }
  // The window's picture as xwd dumps it (ImageMagick's import can wait
  // forever for an event that a window without a manager never gets).
  bool screenshot(const std::string& xwd_file) const {
    const std::string command =
        "DISPLAY=" + display.name + " timeout 30 xwd -silent -id " + window + " -out " + xwd_file + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
  }
};

// A PNG file as 8-bit RGB rows, top row first; false when it cannot be read.
struct RgbPicture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  bool read(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
  }
  // An X window dump of a 24-bit display.
  bool read_xwd(const std::string& path) {
    const std::vector<std::uint8_t> file = read_file(path);
    auto card32 = [&](std::size_t at) -> std::uint32_t {  // the header is big-endian
      return at + 4 > file.size() ? 0 : (file[at] << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    };
    const std::uint32_t header_size = card32(0), bits_per_pixel = card32(44), line = card32(48);
    const std::uint32_t masks[3] = {card32(56), card32(60), card32(64)};
    const bool lsb_first = card32(28) == 0;
    width = static_cast<int>(card32(16));
    height = static_cast<int>(card32(20));
    const std::size_t pixels = header_size + 12 * std::size_t{card32(76)};
    // 32 bits a pixel; 24 in the dump xwd makes while windows of other depths
    // are shown, stored in 3 or 4 bytes.
    if (card32(4) != 7 || (bits_per_pixel != 32 && bits_per_pixel != 24) || width <= 0 ||
        pixels + std::size_t{line} * height > file.size()) {
      return false;
    }
    const std::size_t step = line >= 4u * static_cast<std::uint32_t>(width) ? 4 : 3;
    rgb.resize(3 * static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* b = &file[pixels + std::size_t{line} * y + step * x];
        std::uint32_t p = 0;
        for (std::size_t i = 0; i < step; ++i) {
          p |= std::uint32_t{b[lsb_first ? i : step - 1 - i]} << (8 * i);
        }
        for (int c = 0; c < 3; ++c) {
          std::uint32_t v = p & masks[c];
          for (std::uint32_t m = masks[c]; m && !(m & 1); m >>= 1) v >>= 1;
          rgb[3 * (static_cast<std::size_t>(y) * width + x) + c] = static_cast<std::uint8_t>(v);
        }
      }
    }
    return true;
  }
  const std::uint8_t* at(int x, int y) const { return &rgb[3 * (static_cast<std::size_t>(y) * width + x)]; }
};
