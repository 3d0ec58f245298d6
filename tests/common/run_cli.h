// Runs takto-cli, or any shell command, and captures its output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "common/temp_dir.h"

struct CliResult {
  int status;
  std::string out, err;
};

inline CliResult run_shell(const std::string& command) {
  TempDir scratch;
  CliResult r{-1, "", ""};
  FILE* p = popen((command + " 2>" + scratch.file("stderr")).c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.err = file_text(scratch.file("stderr"));
  return r;
}

// BEFORE runs first in the same shell (a ulimit, say).
inline CliResult run_cli(const std::string& args, const std::string& before = "") {
  return run_shell(before + TAKTO_CLI + " " + args);
}
