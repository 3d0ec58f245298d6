// Runs takto-cli and captures its output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "common/temp_dir.h"

struct CliResult {
  int status;
  std::string out, err;
};

inline CliResult run_cli(const std::string& args) {
  TempDir scratch;
  std::string err_file = scratch.file("stderr");
  std::string cmd = std::string(TAKTO_CLI) + " " + args + " 2>" + err_file;
  CliResult r{-1, "", ""};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::vector<std::uint8_t> e = read_file(err_file);
  r.err.assign(e.begin(), e.end());
  return r;
}
