// Brings arbitrary bytes in as a MIDI file: each is refused with a line and
// the song left as it was, or becomes a sound song.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/headless/headless.h"
#include "song/song.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool once = [] {
    headless_echo_alerts(false);
    return new_song() == 0;
  }();
  (void)once;
  new_song();
  image()[SONG_TEMPO] = 0;  // no import writes it
  MidiImport report;
  const char* refused = import_midi(data, size, report);
  if (refused && (std::strlen(refused) == 0 || image()[SONG_TEMPO] != 0)) {
    std::fprintf(stderr, "a refusal without its line, or a changed song\n");
    std::abort();
  }
  if (const char* damage = song_damage(image(), used_length())) {
    std::fprintf(stderr, "invariant broken: %s\n", damage);
    std::abort();
  }
  if (!refused && report.notes < 0) std::abort();
  return 0;
}
