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
  const char* summary;
  CommandFn fn;
};

std::map<std::string, Command>& commands() {
  static std::map<std::string, Command> table;
  return table;
}

// The text of --help; the manual page is made from it, so that the two
// cannot differ. Sections are lines ending in ':', their entries indented.
void print_help(std::FILE* out) {
  std::fprintf(out,
               "usage: takto-cli COMMAND [ARGUMENTS]\n"
               "Checks, plays and renders TAKTO songs (SQF files) without a window.\n\n"
               "commands:\n");
  for (const auto& [name, cmd] : commands()) std::fprintf(out, "  takto-cli %s\n      %s\n", cmd.usage, cmd.summary);
  std::fprintf(out,
               "  takto-cli --help\n      prints this and exits\n\n"
               "A song to load may also be a Standard MIDI File: it is imported.\n\n"
               "exit status:\n"
               "  0  done\n"
               "  1  the file was refused, or could not be written\n"
               "  2  bad usage\n");
}
}  // namespace

bool register_command(const char* name, const char* usage, CommandFn fn, const char* summary) {
  commands()[name] = Command{usage, summary, fn};
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
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    print_help(stdout);
    return 0;
  }
  if (argc < 2) return print_help(stderr), 2;
  auto it = commands().find(argv[1]);
  if (it == commands().end()) {
    std::fprintf(stderr, "takto-cli: unknown command '%s'\n", argv[1]);
    return print_help(stderr), 2;
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
