// The song: one byte image that is both the in-memory song and the SQF file.
// A 1,414-byte header and 18 track blocks back to back; little-endian numbers,
// Shift-JIS text padded with spaces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t SONG_IMAGE_SIZE = 1180990;
constexpr int TRACK_COUNT = 18;

struct SongImage {
  std::uint8_t bytes[SONG_IMAGE_SIZE];
};

// Allocated by the first new_song and kept until the program ends.
extern SongImage* song_image;
inline std::uint8_t* image() { return song_image->bytes; }

// Header (SongHeader) offsets.
constexpr std::size_t SONG_MAGIC = 0;  // 28 bytes
constexpr char SONG_MAGIC_TEXT[] = "SQF SONG FILE FOR TAKTO V1.0";
constexpr std::size_t SONG_MAGIC_LEN = 28;
constexpr std::size_t SONG_LINE_END = 28;   // CR LF, not compared on load
constexpr std::size_t SONG_UNUSED_30 = 30;  // 2 bytes, 0 in a new song
constexpr std::size_t SONG_TITLE = 32;      // 64 bytes
constexpr std::size_t SONG_TITLE_LEN = 64;
constexpr std::size_t SONG_MEMO = 96;  // 12 lines of 28 bytes
constexpr std::size_t SONG_MEMO_LINE = 28;
constexpr std::size_t SONG_MEMO_LINES = 12;
// Bytes no part of the program reads, kept as they are: 16 bytes of 64 in a
// new song, and 64 zero bytes of which one is 18.
constexpr std::size_t SONG_UNUSED_432 = 432;
constexpr std::size_t SONG_UNUSED_432_LEN = 16;
constexpr std::uint8_t SONG_UNUSED_432_FILL = 64;
constexpr std::size_t SONG_UNUSED_454 = 454;
constexpr std::size_t SONG_UNUSED_454_LEN = 64;
constexpr std::size_t SONG_UNUSED_486 = 486;
constexpr std::uint8_t SONG_UNUSED_486_VALUE = 18;
constexpr std::size_t SONG_TIMEBASE = 448;
constexpr std::size_t SONG_TEMPO = 449;
constexpr std::size_t SONG_BEAT = 450;  // numerator, denominator
constexpr std::size_t SONG_KEY = 452;
constexpr std::size_t SONG_PLAY_BIAS = 453;
constexpr std::size_t SONG_RHYTHM_NAMES = 518;  // 32 entries of 16 bytes
constexpr std::size_t RHYTHM_NAME_SIZE = 16;
constexpr std::size_t RHYTHM_NAME_COUNT = 32;
constexpr std::size_t RHYTHM_NAME_NOTE = 14;
constexpr std::size_t SONG_USER_EXCLUSIVES = 1030;  // 8 entries of 48 bytes
constexpr std::size_t USER_EXCLUSIVE_SIZE = 48;
constexpr std::size_t USER_EXCLUSIVE_COUNT = 8;
constexpr std::size_t USER_EXCLUSIVE_TEMPLATE = 24;  // 24 template bytes
constexpr std::size_t SONG_HEADER_SIZE = 1414;

// Track block (TrackBuffer) offsets from the block's start.
constexpr std::size_t TRACK_LENGTH = 0;  // 16-bit length of the whole block
constexpr std::size_t TRACK_NUMBER = 2;
constexpr std::size_t TRACK_RHYTHM = 3;
constexpr std::size_t TRACK_CHANNEL = 4;
constexpr std::size_t TRACK_KEY_PLUS = 5;
constexpr std::size_t TRACK_STEP_PLUS = 6;
constexpr std::size_t TRACK_MODE = 7;
// Head byte bits: the editor shows the track's notes by rhythm name; the
// track's notes are sent as they are, without key+ and play bias.
constexpr std::uint8_t RHYTHM_NAMES_SHOWN = 0x80;
constexpr std::uint8_t KEY_PLUS_NONE = 0x80;
constexpr std::size_t TRACK_MEMO = 8;  // 36 bytes
constexpr std::size_t TRACK_MEMO_LEN = 36;
constexpr std::size_t TRACK_HEAD_SIZE = 44;  // offset of the first event
constexpr std::size_t EMPTY_TRACK_SIZE = 48;
constexpr std::size_t MAX_TRACK_SIZE = 65532;
constexpr int MAX_TRACK_EVENTS = 16371;  // besides the end event
constexpr std::size_t EMPTY_SONG_SIZE = SONG_HEADER_SIZE + TRACK_COUNT * EMPTY_TRACK_SIZE;

// Event record: code, step, byte2, byte3.
struct Event {
  std::uint8_t code, step, byte2, byte3;
  friend bool operator==(const Event&, const Event&) = default;
};

// Event codes. 0-127 are notes.
enum : std::uint8_t {
  EV_USER_EXCL0 = 144,  // to 151
  EV_TRACK_EXCL = 152,
  EV_ROL_BASE = 221,
  EV_ROL_PARA = 222,
  EV_ROL_DEV = 223,
  EV_BANK_PRG = 226,
  EV_KEY_SCAN = 229,
  EV_MIDI_CH = 230,
  EV_TEMPO = 231,
  EV_AFTER_C = 234,
  EV_CONTROL = 235,
  EV_PROGRAM = 236,
  EV_AFTER_K = 237,
  EV_PITCH = 238,
  EV_MUSIC_KEY = 245,
  EV_COMMENT = 246,
  EV_CONTINUE = 247,
  EV_REPEAT_END = 248,
  EV_REPEAT_START = 249,
  EV_SAME_MEASURE = 252,
  EV_MEASURE_END = 253,
  EV_END = 254,
};

// What a code is. 0-127 are notes; codes below 240 take their step time,
// 240 and above take none (their step byte may be data).
inline bool is_note(std::uint8_t code) { return code < 128; }
inline bool takes_time(std::uint8_t code) { return code < 240; }
inline std::uint8_t ticks_of(std::uint8_t code, std::uint8_t step) { return takes_time(code) ? step : 0; }
inline bool is_user_exclusive(std::uint8_t code) { return code >= EV_USER_EXCL0 && code < EV_USER_EXCL0 + 8; }
// Codes below 245 carry two data bytes the editor shows and edits.
inline bool has_data_bytes(std::uint8_t code) { return code < EV_MUSIC_KEY; }
// An event inside a measure: anything but a same-measure event, a measure end
// and the end of the track (254, and 255, where walkers also stop).
inline bool inside_measure(std::uint8_t code) { return code < EV_SAME_MEASURE; }
// A measure ends after these two codes (and before every same-measure event).
inline bool ends_measure(std::uint8_t code) { return code == EV_SAME_MEASURE || code == EV_MEASURE_END; }
// Walks through a track stop here.
inline bool ends_track(std::uint8_t code) { return code >= EV_END; }

// Key code: bits 0-2 sharps or flats, bit 3 flats, bit 4 minor.
extern const char KEY_NAMES[65];            // 32 names of two characters
extern const std::uint8_t TONIC_PITCH[16];  // tonic pitch class by the low 4 bits
// The two characters of a key code's name (not zero-terminated).
inline const char* key_name(std::uint8_t key) { return KEY_NAMES + 2 * (key & 31); }

// Track table: image offset of each block's length field. Valid after
// rebuild_track_table; the editing operations keep it up to date.
extern std::uint32_t start[TRACK_COUNT];

// Track being edited (0-17), shared by the editor, the screens and play start;
// the timer thread reads it while the play monitor may change it.
extern std::atomic<int> current_track;

inline unsigned read16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
inline void write16(std::uint8_t* p, unsigned v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline unsigned track_length(int t) { return read16(image() + start[t]); }
inline std::uint32_t first_event(int t) { return start[t] + TRACK_HEAD_SIZE; }
// Image offset just past track t's block.
inline std::uint32_t track_end(int t) { return start[t] + track_length(t); }

// Same-measure event fields: the referenced measure (0-based, 10 bits) and the
// link (offset from the track's start of that measure's first event).
inline unsigned same_measure_ref(const std::uint8_t* ev) { return ev[1] + 256u * (ev[2] & 3); }
inline unsigned same_measure_link(const std::uint8_t* ev) { return (ev[2] & 252u) + 256u * ev[3]; }
// Makes ev refer to measure m (0-based, 10 bits) with its link reset to the
// track's first event, until relink_measures recomputes it.
inline void set_same_measure_ref(std::uint8_t* ev, unsigned m) {
  ev[1] = static_cast<std::uint8_t>(m & 255);
  ev[2] = static_cast<std::uint8_t>(((m >> 8) & 3) | TRACK_HEAD_SIZE);
  ev[3] = 0;
}

// Rebuilds start from the block lengths in the image (track 1 at 1414).
void rebuild_track_table();
// Used length of the image, walked from offset 1414 through the 18 lengths.
std::size_t used_length();

// Checks the invariants of a song image of `size` bytes (a file's content):
// the header is whole, and every block has a length of 44 + 4k (k >= 1) inside
// the size and ends with its only end-of-track event. Returns nullptr when
// sound, else a short description of the first fault.
const char* song_damage(const std::uint8_t* bytes, std::size_t size);

// --- Loading and saving (file name from file_name) ---

// Allocates the image on first use and fills it with the empty song.
// 0 on success, 1 when memory is short.
int new_song();
// Reads the file into the image. 1 when loaded, 0 when refused (with a message).
// A MIDI file is imported, and file_name then names the song beside it.
int load_song();
// Takes a file's bytes as load_song does after reading them: a song image,
// or a MIDI file that is imported. 1 when loaded.
int load_song_bytes(const std::uint8_t* bytes, std::size_t size);
// Reads a file to load: nullptr, or the message that refuses it.
const char* read_song_file(const char* name, std::vector<std::uint8_t>& bytes);
// Writes the used part of the image. 0 when saved, 1 when it failed (with a
// message); the previous file stays whole on failure.
int save_song();

// --- Event list editing (positions are image offsets in current_track) ---

// Inserts n zeroed events at p. 0, or 1 when refused (track full, bad position).
int open_gap(std::uint32_t p, int n);
// Removes the n events from p. 0, or 1 when refused (would reach the end event).
int close_gap(std::uint32_t p, int n);
// Adds delta to every same-measure reference of the current track whose
// 1-based number is at least from, resetting its link to 44.
void renumber_measure_refs(int from, int delta);
// Recomputes the links of a track's same-measure events from their numbers.
void relink_track(int t);
void relink_measures();

// Measure-structure edits at cursor position p in measure k (1-based). They
// update k (and p) as the cursor moves and return 0, or 1 when refused, in
// which case nothing changed.
int insert_same_measure(std::uint32_t p, int& k);
int insert_measure_end(std::uint32_t& p, int& k);
int delete_event(std::uint32_t p, int& k);

// --- Standard MIDI Files ---

// Every MIDI file moves time in these units.
constexpr int SONG_TICKS_PER_QUARTER = 48;
// Largest MIDI file a load reads: more could never fit the image.
constexpr std::size_t MIDI_FILE_LIMIT = 16u << 20;

// A variable-length number as a MIDI file writes it; returns its 1-5 bytes.
int midi_varlen(std::uint32_t value, std::uint8_t out[5]);

// What an import made and what it had to change on the way.
struct MidiImport {
  int tracks = 0;  // song tracks holding events
  int notes = 0;
  int notes_shortened = 0;  // gates longer than 255 ticks
  int notes_merged = 0;     // note-ons of one pitch and channel at one tick
  int notes_unended = 0;    // no note-off before their track's end
  int tempos_clamped = 0;   // outside 10-240 quarter notes a minute
  int metas_dropped = 0;
  int exclusives_dropped = 0;  // longer than 253 bytes, bytes above 7F, F7 escapes
  int exclusives_closed = 0;   // no F7 at the end: closed
  bool smpte = false;          // frame time taken at 120 quarter notes a minute
};

// A Standard MIDI File ("MThd"), or a RIFF "RMID" file that holds one.
bool is_midi_file(const std::uint8_t* bytes, std::size_t size);
// Makes the song of a MIDI file in the image, rebuilding the track table.
// nullptr when done; otherwise the one line that says why not, and the image
// is as it was.
const char* import_midi(const std::uint8_t* bytes, std::size_t size, MidiImport& report);
// The report's counts in one line: "2 tracks, 10 notes; changed: ..."
std::string midi_import_summary(const MidiImport& report);
// The name a song imported from `name` is saved under: its extension (if any)
// becomes ".sqf", and a name that would stay the same gets ".sqf" added.
std::string imported_song_name(const std::string& name);
