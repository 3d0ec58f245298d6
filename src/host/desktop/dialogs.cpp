// The open and save dialogs are the desktop's own: zenity, else kdialog, run as
// a child process whose output is the chosen path. File names are the file
// system's bytes and are kept as they are.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/desktop/desktop.h"
#include "host/host.h"

extern char** environ;

namespace {
std::atomic<pid_t> open_dialog{0};

// The filter names, in UTF-8 as the dialogs take them.
const char SQF_FILTER[] = "SQF\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB(*.sqf)";
const char ALL_FILTER[] = "\xE3\x81\x99\xE3\x81\xB9\xE3\x81\xA6(*.*)";

bool on_path(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    std::size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    std::string file = dirs.substr(from, to - from) + "/" + program;
    if (access(file.c_str(), X_OK) == 0) return true;
    from = to + 1;
  }
  return false;
}

// Runs the command; true when it exits 0, with its first output line.
bool run_dialog(const std::vector<std::string>& command, std::string& answer) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
  // The dialog programs' own warnings (settings, themes) mean nothing here.
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
  std::vector<char*> argv;
  for (const std::string& s : command) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (failed != 0) {
    close(pipe_ends[0]);
    return false;
  }
  open_dialog.store(child);
  std::string out;
  char buffer[512];
  for (;;) {
    const ssize_t n = read(pipe_ends[0], buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_ends[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  open_dialog.store(0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  answer = out.substr(0, out.find('\n'));
  return true;
}

bool file_exists(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0;
}

bool ask_overwrite(bool zenity, const std::string& name) {
  const std::string text = name + " already exists. Replace it?";
  std::string ignored;
  if (zenity) {
    return run_dialog({"zenity", "--question", "--no-wrap", "--text=" + text}, ignored);
  }
  return run_dialog({"kdialog", "--warningyesno", text}, ignored);
}

int ask_name(bool save) {
  app_thread_checkpoint();
  char start_name[FILE_NAME_SIZE];
  copy_file_name(start_name);
  const bool zenity = on_path("zenity");
  std::vector<std::string> command;
  if (zenity) {
    command = {"zenity", "--file-selection", std::string("--file-filter=") + SQF_FILTER + " | *.sqf",
               std::string("--file-filter=") + ALL_FILTER + " | *"};
    if (save) command.push_back("--save");
    if (save) command.push_back("--confirm-overwrite");
    if (start_name[0]) command.push_back(std::string("--filename=") + start_name);
  } else if (on_path("kdialog")) {
    command = {"kdialog", save ? "--getsavefilename" : "--getopenfilename", start_name[0] ? start_name : ".",
               std::string("*.sqf|") + SQF_FILTER + "\n*|" + ALL_FILTER};
  } else {
    alert_box("No file dialog: install zenity (or kdialog) to choose files.");
    return 0;
  }
  std::string name;
  if (!run_dialog(command, name) || name.empty()) return 0;
  // A name without extension gets the default one.
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    name += ".sqf";
    // The dialog asked about the name as typed, not this one.
    if (save && file_exists(name) && !ask_overwrite(zenity, name)) return 0;
  }
  if (!save && !file_exists(name)) {
    alert_box("File not found");
    return 0;
  }
  if (name.size() > FILE_NAME_SIZE - 1) {
    alert_box("File name is too long");
    return 0;
  }
  set_file_name(name.c_str());
  return 1;
}
}  // namespace

int ask_open_name() { return ask_name(false); }
int ask_save_name() { return ask_name(true); }

void dialogs_cancel() {
  const pid_t child = open_dialog.load();
  if (child > 0) kill(child, SIGTERM);
}
