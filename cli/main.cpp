#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
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
  std::fprintf(stderr, "A song to load may also be a Standard MIDI File: it is imported.\n");
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

namespace {
// A standard stream that was closed gets a stand-in, so that no file the
// command opens lands on its number: output to a closed stdout then fails
// (/dev/full) and is reported like any other failed write.
void fill_closed_streams() {
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) == -1 && ::open(fd == 1 ? "/dev/full" : "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
      std::_Exit(1);
}
}  // namespace

int main(int argc, char** argv) {
  fill_closed_streams();
  // Past a file-size limit, writes fail and are reported instead of killing the program.
  std::signal(SIGXFSZ, SIG_IGN);
  if (argc < 2) return help();
  auto it = commands().find(argv[1]);
  if (it == commands().end()) {
    std::fprintf(stderr, "takto-cli: unknown command '%s'\n", argv[1]);
    return help();
  }
  int status = 1;
  try {
    status = it->second.fn(argc - 1, argv + 1);
  } catch (const std::bad_alloc&) {
    // Whatever the command was writing has been removed on the way out.
    std::fprintf(stderr, "out of memory\n");
    return 1;
  }
  // Output that could not be written is a failure, whatever the command.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "write failed\n");
    return 1;
  }
  return status;
}
