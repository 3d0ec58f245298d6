// takto-cli: new, check, dump, resave, import-midi.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "host/headless/headless.h"
#include "host/host.h"
#include "song/song.h"

namespace {

void print_alerts() {
  for (const std::string& text : headless_alerts()) std::fprintf(stderr, "%s\n", text.c_str());
  headless_clear_alerts();
}

// Loads a song the way the command menu does, followed by the player's rebuild
// of the track table. 0 when loaded; the message is on stderr otherwise.
int load(const char* name) {
  if (start_song() != 0) return 1;
  if (std::string(name).size() >= FILE_NAME_SIZE) {
    std::fprintf(stderr, "File name too long\n");
    return 1;
  }
  set_file_name(name);
  int loaded = load_song();
  rebuild_track_table();
  if (!loaded) {
    print_alerts();
    return 1;
  }
  return 0;
}

int save(const char* name) {
  if (std::string(name).size() >= FILE_NAME_SIZE) {
    std::fprintf(stderr, "File name too long\n");
    return 1;
  }
  set_file_name(name);
  if (save_song() != 0) {
    print_alerts();
    return 1;
  }
  return 0;
}

int cmd_new(int argc, char** argv) {
  if (argc != 2) return usage_error("new OUT.sqf");
  if (start_song() != 0) return 1;
  return save(argv[1]);
}

int cmd_check(int argc, char** argv) {
  if (argc != 2) return usage_error("check FILE");
  if (load(argv[1]) != 0) return 1;
  std::printf("ok\n");
  return 0;
}

// Song text as one field of one line: Shift-JIS characters and printable
// ASCII as they are, every other byte (line ends, escape sequences) and the
// backslash as \xHH, so that no song can forge lines or drive the terminal.
std::string printable(const std::uint8_t* p, std::size_t n) {
  auto lead = [](std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
  auto trail = [](std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; };
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = p[i];
    if (lead(b) && i + 1 < n && trail(p[i + 1])) {
      out += static_cast<char>(b);
      out += static_cast<char>(p[++i]);
    } else if ((b >= 0x20 && b < 0x7F && b != '\\') || (b >= 0xA1 && b <= 0xDF)) {  // ASCII, half-width kana
      out += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

std::string trimmed(std::size_t offset, std::size_t len) {
  const std::uint8_t* s = image() + offset;
  while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == 0)) --len;
  return printable(s, len);
}

int cmd_dump(int argc, char** argv) {
  if (argc != 2) return usage_error("dump FILE");
  if (load(argv[1]) != 0) return 1;
  const std::uint8_t* s = image();
  std::printf("title %s\n", trimmed(SONG_TITLE, SONG_TITLE_LEN).c_str());
  std::printf("tempo %u\n", s[SONG_TEMPO]);
  std::printf("key %u %.2s\n", s[SONG_KEY], key_name(s[SONG_KEY]));
  std::printf("play_bias %u\n", s[SONG_PLAY_BIAS]);
  std::printf("used %zu\n", used_length());
  for (int t = 0; t < TRACK_COUNT; ++t) {
    std::uint32_t end = track_end(t);
    for (std::uint32_t p = first_event(t); p < end; p += 4) {
      const std::uint8_t* ev = s + p;
      std::printf("%d %u %u %u %u %u\n", t + 1, p - start[t], ev[0], ev[1], ev[2], ev[3]);
    }
  }
  return 0;
}

int cmd_resave(int argc, char** argv) {
  if (argc != 3) return usage_error("resave IN.sqf OUT.sqf");
  if (load(argv[1]) != 0) return 1;
  relink_measures();
  return save(argv[2]);
}

constexpr const char* IMPORT_USAGE = "import-midi IN.mid OUT.sqf";

int cmd_import(int argc, char** argv) {
  if (argc != 3) return usage_error(IMPORT_USAGE);
  if (start_song() != 0) return 1;
  std::vector<std::uint8_t> bytes;
  if (const char* why = read_song_file(argv[1], bytes)) {
    std::fprintf(stderr, "%s\n", why);
    return 1;
  }
  if (!is_midi_file(bytes.data(), bytes.size())) {
    std::fprintf(stderr, "Not a MIDI file\n");
    return 1;
  }
  MidiImport report;
  if (const char* why = import_midi(bytes.data(), bytes.size(), report)) {
    std::fprintf(stderr, "%s\n", why);
    return 1;
  }
  if (save(argv[2]) != 0) return 1;
  std::fprintf(stderr, "%s\n", midi_import_summary(report).c_str());
  return 0;
}

const bool registered =
    register_command("new", "new OUT.sqf", cmd_new, "writes the empty song") &&
    register_command("check", "check FILE", cmd_check,
                     "loads FILE as the program does and prints ok, or the message the program would show") &&
    register_command("dump", "dump FILE", cmd_dump, "prints the header and one line per event of every track") &&
    register_command(
        "resave", "resave IN.sqf OUT.sqf", cmd_resave,
        "loads IN, rebuilds the track table and the same-measure links and saves to OUT, as the save command does") &&
    register_command(
        "import-midi", IMPORT_USAGE, cmd_import,
        "reads the Standard MIDI File IN and saves it as the song OUT; a report of what it changed on stderr");

}  // namespace
