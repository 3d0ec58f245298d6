#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/replace_file.h"
#include "song/song.h"

SongImage* song_image = nullptr;
std::uint32_t start[TRACK_COUNT];
std::atomic<int> current_track{0};

const char KEY_NAMES[65] = "C G D A E B F#C#C F BbEbAbDbGbCbA E B F#C#G#D#A#A D G C F BbEbAb";
const std::uint8_t TONIC_PITCH[16] = {0, 7, 2, 9, 4, 11, 6, 1, 0, 5, 10, 3, 8, 1, 6, 11};

namespace {

// Rows of the default rhythm-name table: a 14-character name, then the note
// number as a character.
const char* const DEFAULT_RHYTHM_NAMES[RHYTHM_NAME_COUNT] = {
    "HandClap      '", "MuteHighConga >", "OpenHighConga ?", "LowConga      @", "CrashCymbal1  1", "RideCymbal1   3",
    "PedalHi-hat   ,", "OpenHi-hat    .", "ClosedHi-hat  *", "HighTom2      0", "MidTom2       -", "LowTom2       )",
    "SideStick     %", "SnareDrum2    (", "SnareDrum1    &", "KickDrum1     $", "HighTimbale   A", "LowTimbale    B",
    "Cowbell       8", "HighBongo     <", "LowBongo      =", "HighAgogo     C", "LowAgogo      D", "Tambourine    6",
    "Claves        K", "Maracas       F", "LongLowWhistleH", "ShortHiWhistleG", "Cabasa        E", "ShortGuiro    I",
    "MuteTriangle  P", "OpenTriangle  Q",
};

// "メモリが足りません" in Shift-JIS.
const char OUT_OF_MEMORY[] = "\x83\x81\x83\x82\x83\x8a\x82\xaa\x91\xab\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

std::string damage_text;

}  // namespace

void rebuild_track_table() {
  std::uint32_t pos = SONG_HEADER_SIZE;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    start[t] = pos;
    pos += read16(image() + pos);
  }
}

std::size_t used_length() {
  std::size_t pos = SONG_HEADER_SIZE;
  for (int t = 0; t < TRACK_COUNT && pos + 2 <= SONG_IMAGE_SIZE; ++t) pos += read16(image() + pos);
  return pos < SONG_IMAGE_SIZE ? pos : SONG_IMAGE_SIZE;
}

const char* song_damage(const std::uint8_t* bytes, std::size_t size) {
  if (size > SONG_IMAGE_SIZE) return "file too large";
  if (size < EMPTY_SONG_SIZE) return "file too short for a song";
  std::size_t pos = SONG_HEADER_SIZE;
  for (int t = 0; t < TRACK_COUNT; ++t) {
    auto fault = [&](const char* what) {
      damage_text = "track " + std::to_string(t + 1) + ": " + what;
      return damage_text.c_str();
    };
    if (pos + 2 > size) return fault("block missing");
    unsigned len = read16(bytes + pos);
    if (len < EMPTY_TRACK_SIZE || (len - TRACK_HEAD_SIZE) % 4 != 0) return fault("bad block length");
    if (pos + len > size) return fault("block runs past the end of the file");
    std::size_t last = pos + len - 4;
    // A continuation event without its exclusive or comment does nothing
    // where it stands, in play and in the editor, so it is no damage.
    for (std::size_t e = pos + TRACK_HEAD_SIZE; e < last; e += 4)
      if (bytes[e] == EV_END) return fault("end of track before the block's end");
    if (bytes[last] != EV_END) return fault("no end of track");
    pos += len;
  }
  return nullptr;
}

int new_song() {
  if (!song_image) {
    song_image = new (std::nothrow) SongImage;
    if (!song_image) {
      alert_box(OUT_OF_MEMORY);
      return 1;
    }
  }
  std::uint8_t* s = image();
  std::memcpy(s + SONG_MAGIC, SONG_MAGIC_TEXT, SONG_MAGIC_LEN);
  s[SONG_LINE_END] = 13;
  s[SONG_LINE_END + 1] = 10;
  s[SONG_UNUSED_30] = 0;
  s[SONG_UNUSED_30 + 1] = 0;
  std::memset(s + SONG_TITLE, ' ', SONG_UNUSED_432 - SONG_TITLE);  // title and memo
  std::memset(s + SONG_UNUSED_432, SONG_UNUSED_432_FILL, SONG_UNUSED_432_LEN);
  s[SONG_TIMEBASE] = 48;
  s[SONG_TEMPO] = 120;
  s[SONG_BEAT] = 4;
  s[SONG_BEAT + 1] = 4;
  s[SONG_KEY] = 0;
  s[SONG_PLAY_BIAS] = 0;
  std::memset(s + SONG_UNUSED_454, 0, SONG_UNUSED_454_LEN);
  s[SONG_UNUSED_486] = SONG_UNUSED_486_VALUE;
  for (std::size_t j = 0; j < RHYTHM_NAME_COUNT; ++j) {
    std::uint8_t* e = s + SONG_RHYTHM_NAMES + RHYTHM_NAME_SIZE * j;
    std::memcpy(e, DEFAULT_RHYTHM_NAMES[j], 15);
    e[15] = 1;
  }
  for (std::size_t n = 0; n < USER_EXCLUSIVE_COUNT; ++n) {
    std::uint8_t* e = s + SONG_USER_EXCLUSIVES + USER_EXCLUSIVE_SIZE * n;
    std::memcpy(e, "USER EXCLUSIVE 1        ", 24);
    e[15] = static_cast<std::uint8_t>('0' + n);
    std::memset(e + USER_EXCLUSIVE_TEMPLATE, EV_CONTINUE, 24);
  }
  for (int i = 0; i < TRACK_COUNT; ++i) {
    std::uint8_t* b = s + SONG_HEADER_SIZE + EMPTY_TRACK_SIZE * i;
    write16(b + TRACK_LENGTH, EMPTY_TRACK_SIZE);
    b[TRACK_NUMBER] = static_cast<std::uint8_t>(i + 1);
    b[TRACK_RHYTHM] = 0;
    b[TRACK_CHANNEL] = static_cast<std::uint8_t>(i < 16 ? i : 255);
    b[TRACK_KEY_PLUS] = 0;
    b[TRACK_STEP_PLUS] = 0;
    b[TRACK_MODE] = 0;
    std::memset(b + TRACK_MEMO, ' ', TRACK_MEMO_LEN);
    std::memset(b + TRACK_HEAD_SIZE, EV_END, 4);
  }
  return 0;
}

namespace {

int refuse(const char* text) {
  alert_box(text);
  return 0;
}

// The size checks, made before anything is read.
const char* size_fault(std::uintmax_t size) {
  if (size == 0) return "File size 0 or directory";
  if (size > SONG_IMAGE_SIZE) return "Too big file";
  return nullptr;
}

}  // namespace

int load_song_bytes(const std::uint8_t* bytes, std::size_t size) {
  if (is_midi_file(bytes, size)) {
    MidiImport report;
    if (const char* why = import_midi(bytes, size, report)) return refuse(why);
    return 1;
  }
  if (const char* fault = size_fault(size)) return refuse(fault);
  if (size < SONG_MAGIC_LEN || std::memcmp(bytes, SONG_MAGIC_TEXT, SONG_MAGIC_LEN) != 0) {
    refuse("Not SQF format file");
    new_song();
    return 0;
  }
  // A damaged song is refused whole, so nothing later can step outside a track.
  if (const char* damage = song_damage(bytes, size))
    return refuse((std::string("Damaged SQF file (") + damage + ")").c_str());
  // Bytes past the file's end keep what they held.
  std::memcpy(image(), bytes, size);
  return 1;
}

const char* read_song_file(const char* name, std::vector<std::uint8_t>& bytes) {
  try {
    // MIDI files may be larger than a song; anything else is checked against the image.
    switch (read_whole_file(name, bytes, MIDI_FILE_LIMIT)) {
      case ReadStatus::ok: return nullptr;
      case ReadStatus::missing: return "File not found";
      case ReadStatus::open_failed: return "File open failed";
      case ReadStatus::directory: return "File size 0 or directory";
      case ReadStatus::special: return "Not a regular file";
      case ReadStatus::too_big: return "Too big file";
      case ReadStatus::failed: return "File read failed";
    }
  } catch (const std::bad_alloc&) {
    return OUT_OF_MEMORY;
  }
  return "File read failed";
}

int load_song() {
  char name[FILE_NAME_SIZE];
  copy_file_name(name);
  std::vector<std::uint8_t> buffer;
  if (const char* why = read_song_file(name, buffer)) return refuse(why);
  if (!load_song_bytes(buffer.data(), buffer.size())) return 0;
  // S must never write a song over the MIDI file it came from. A name too
  // long to hold is left empty rather than cut, which would name another file.
  if (is_midi_file(buffer.data(), buffer.size())) {
    const std::string song_name = imported_song_name(name);
    set_file_name(song_name.size() < FILE_NAME_SIZE ? song_name.c_str() : "");
  }
  return 1;
}

int save_song() {
  char name[FILE_NAME_SIZE];
  copy_file_name(name);
  const std::size_t size = used_length();
  if (!replace_file(name, [&](std::FILE* f) { return std::fwrite(image(), 1, size, f) == size; })) {
    alert_box("File save failed");
    return 1;
  }
  return 0;
}
