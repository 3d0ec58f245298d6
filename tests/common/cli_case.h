// Tables of takto-cli runs, and songs saved for them to read.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "common/run_cli.h"
#include "common/song_builder.h"
#include "host/host.h"

// A run and what it must give: its exit code, standard output and errors; an
// error given as "TEXT..." need only hold TEXT (a library may say more).
struct CliCase {
  std::string args;
  int status;
  std::string out, err;
};

inline void expect_cli(const CliCase& c, const std::string& before = "") {
  const CliResult r = run_cli(c.args, before);
  const bool held = c.err.ends_with("...") && r.err.find(c.err.substr(0, c.err.size() - 3)) != std::string::npos;
  EXPECT_EQ(std::to_string(r.status) + " [" + r.out + "] [" + (held ? c.err : r.err) + "]",
            std::to_string(c.status) + " [" + c.out + "] [" + c.err + "]")
      << c.args.substr(0, 200);
}

// Saves a new song with these tracks as DIR/NAME.
inline std::string save_tracks(const TempDir& dir, const std::vector<std::vector<Event>>& tracks,
                               const std::string& name = "song.sqf") {
  new_song();
  EXPECT_TRUE(set_tracks(tracks));
  set_file_name(dir.file(name).c_str());
  EXPECT_EQ(save_song(), 0);
  return dir.file(name);
}

// The milliseconds of the note-ons in takto-cli trace's output.
inline std::vector<long long> note_on_ms(const std::string& trace) {
  std::vector<long long> out;
  std::istringstream in(trace);
  for (std::string line; std::getline(in, line);) {
    long long ms = 0;
    unsigned status = 0, velocity = 0;
    if (std::sscanf(line.c_str(), "%lld %*d %x %*x %x", &ms, &status, &velocity) == 3 && status >> 4 == 9 && velocity)
      out.push_back(ms);
  }
  return out;
}
