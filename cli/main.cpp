#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "cli/commands.h"
#include "host/headless/headless.h"
#include "song/song.h"

namespace {
struct Command {
  const char* usage;
  CommandFn fn;
};

std::map<std::string, Command>& commands() {
  static std::map<std::string, Command> table;
  return table;
}

int help() {
  std::fprintf(stderr, "usage:\n");
  for (const auto& [name, cmd] : commands()) std::fprintf(stderr, "  takto-cli %s\n", cmd.usage);
  return 2;
}
}  // namespace

bool register_command(const char* name, const char* usage, CommandFn fn) {
  commands()[name] = Command{usage, fn};
  return true;
}

int usage_error(const char* usage) {
  std::fprintf(stderr, "usage: takto-cli %s\n", usage);
  return 2;
}

int start_song() {
  // Messages are printed by the commands themselves.
  headless_echo_alerts(false);
  if (new_song() != 0) {
    std::fprintf(stderr, "out of memory\n");
    return 1;
  }
  rebuild_track_table();
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return help();
  auto it = commands().find(argv[1]);
  if (it == commands().end()) {
    std::fprintf(stderr, "takto-cli: unknown command '%s'\n", argv[1]);
    return help();
  }
  return it->second.fn(argc - 1, argv + 1);
}
