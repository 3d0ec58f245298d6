// takto-cli session: the whole program run from a key script on the headless
// host's virtual clock, with its screen, picture and MIDI written at the end.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "cli/commands.h"
#include "host/headless/headless.h"
#include "host/headless/session/session.h"
#include "host/host.h"
#include "host/png/png_picture.h"
#include "host/replace_file.h"
#include "player/player.h"
#include "screens/screens.h"

namespace {

constexpr std::size_t MAX_SCRIPT_FILE = 16u << 20;
constexpr char SESSION_USAGE[] =
    "session [SONG.sqf] --keys SCRIPT [--screen OUT.txt] [--png OUT.png] [--trace OUT.txt] [--enhanced] "
    "[--midi-clock]";

struct SessionOptions {
  const char* song = nullptr;
  const char* keys = nullptr;
  const char* screen = nullptr;
  const char* png = nullptr;
  const char* trace = nullptr;
  bool enhanced = false;
  bool midi_clock = false;
};

bool parse_options(int argc, char** argv, SessionOptions& o) {
  const struct {
    const char* name;
    const char* SessionOptions::*field;
  } options[] = {{"--keys", &SessionOptions::keys},
                 {"--screen", &SessionOptions::screen},
                 {"--png", &SessionOptions::png},
                 {"--trace", &SessionOptions::trace}};
  for (int i = 1; i < argc; ++i) {
    bool taken = false;
    for (const auto& opt : options) {
      if (std::strcmp(argv[i], opt.name) != 0) continue;
      if (i + 1 >= argc || o.*opt.field) return false;
      o.*opt.field = argv[++i];
      taken = true;
    }
    if (taken) continue;
    if (std::strcmp(argv[i], "--enhanced") == 0 || std::strcmp(argv[i], "--midi-clock") == 0) {
      (argv[i][2] == 'e' ? o.enhanced : o.midi_clock) = true;
      continue;
    }
    if (argv[i][0] == '-' || o.song) return false;
    o.song = argv[i];
  }
  return o.keys != nullptr;
}

// The script text: the argument itself, or the file named after "@" (a
// regular file: a FIFO or device would leave the session waiting).
bool read_script(const char* keys, std::string& text, std::string& error) {
  if (keys[0] != '@') {
    text = keys;
    return true;
  }
  std::vector<std::uint8_t> bytes;
  const char* why = nullptr;
  switch (read_whole_file(keys + 1, bytes, MAX_SCRIPT_FILE)) {
    case ReadStatus::ok: text.assign(bytes.begin(), bytes.end()); return true;
    case ReadStatus::missing: why = "no such file"; break;
    case ReadStatus::directory: why = "a folder"; break;
    case ReadStatus::special: why = "not a regular file"; break;
    case ReadStatus::too_big: why = "larger than 16 MB"; break;
    default: why = "cannot be read"; break;
  }
  error = std::string("cannot read key script ") + (keys + 1) + ": " + why;
  return false;
}

// The trace goes to a scratch file as the session runs and replaces the
// target whole at the end.
std::FILE* trace_scratch = nullptr;

MidiStamp player_stamp() { return MidiStamp{tick.load(std::memory_order_relaxed), work_track}; }

void write_trace_lines() {
  for (const SentMidi& m : headless_take_midi()) {
    std::fprintf(trace_scratch, "%u %d", m.ms, m.tick);
    for (std::uint8_t b : m.bytes) std::fprintf(trace_scratch, " %02X", b);
    std::fputc('\n', trace_scratch);
  }
}

// Messages the application thread sent since the last millisecond are taken
// with the timer's, in the order they were sent.
void session_timer() {
  on_timer();
  if (trace_scratch) write_trace_lines();
}

bool copy_trace(const char* path, std::string& error) {
  std::rewind(trace_scratch);
  std::string why;
  bool ok = replace_file(
      path,
      [](std::FILE* out) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, trace_scratch)) > 0)
          if (std::fwrite(buf, 1, n, out) != n) return false;
        return !std::ferror(trace_scratch);
      },
      &why);
  if (!ok) error = std::string("cannot write ") + path + ": " + why;
  return ok;
}

// --screen, --png and --trace; 0 when all were written.
int write_outputs(const SessionOptions& o) {
  int failed = 0;
  std::string error;
  auto report = [&](bool ok) {
    if (!ok) {
      std::fprintf(stderr, "%s\n", error.c_str());
      failed = 1;
    }
  };
  if (o.screen) report(save_screen_dump(o.screen, error) == 0);
  if (o.png) report(save_picture_png(o.png, error) == 0);
  if (o.trace) report(copy_trace(o.trace, error));
  return failed;
}

int cmd_session(int argc, char** argv) {
  SessionOptions o;
  if (!parse_options(argc, argv, o)) return usage_error(SESSION_USAGE);
  std::string text, error;
  std::vector<ScriptToken> tokens;
  if (!read_script(o.keys, text, error) || !parse_key_script(text, tokens, error)) {
    std::fprintf(stderr, "takto-cli session: %s\n", error.c_str());
    return 2;
  }
  if (o.song && std::strlen(o.song) >= FILE_NAME_SIZE) {
    std::fprintf(stderr, "File name too long\n");
    return 1;
  }
  set_file_name(o.song ? o.song : "");
  enhanced = o.enhanced;
  midi_clock = o.midi_clock;
  // The script's midi= tokens are the input port: without them none is open.
  bool input = false;
  for (const ScriptToken& t : tokens) input |= t.kind == ScriptToken::MIDI;
  midi_in_open.store(o.enhanced && input);
  if (o.trace && !(trace_scratch = std::tmpfile())) {
    std::fprintf(stderr, "cannot write %s: no scratch file: %s\n", o.trace, std::strerror(errno));
    return 1;
  }
  headless_clear_alerts();
  headless_clear_midi();
  headless_record_midi(trace_scratch != nullptr);
  headless_set_midi_stamp(player_stamp);
  int failed = run_session(tokens, main_loop, session_timer);
  if (trace_scratch) write_trace_lines();
  headless_set_midi_stamp(nullptr);
  failed |= write_outputs(o);
  if (trace_scratch) std::fclose(trace_scratch);
  return failed;
}

const bool registered = register_command("session", SESSION_USAGE, cmd_session,
                                         "runs the whole program from a key script, without a window");

}  // namespace
