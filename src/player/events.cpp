// Notes, the other channel messages and the exclusive messages of a track.
#include "host/host.h"
#include "player/internal.h"

using namespace player_detail;

std::uint8_t play_bias = 0;
std::atomic<std::int32_t> key_value{0};
std::atomic<std::uint8_t> channel[TRACK_COUNT];
std::uint8_t key_plus[TRACK_COUNT];
std::uint8_t mode[TRACK_COUNT];
NoteSlot slots[TRACK_COUNT][SLOT_COUNT];
std::atomic<std::uint8_t> sounding[TRACK_COUNT];
std::atomic<std::uint8_t> level[TRACK_COUNT];
std::uint8_t dt1[TRACK_COUNT][DT1_SIZE];

namespace {
constexpr auto relaxed = std::memory_order_relaxed;

// Status byte of a message type on the working track's channel.
unsigned status(unsigned type) { return type | channel[work_track].load(relaxed); }

// One exclusive being assembled from template bytes.
struct Exclusive {
  std::uint8_t bytes[256];
  int length = 1;  // bytes[0] is F0
  std::uint8_t sum = 0;
  bool summing = false;
  bool full = false;  // a byte did not fit

  Exclusive() { bytes[0] = 0xF0; }

  void emit(std::uint8_t b) {
    if (length > TRACK_EXCLUSIVE_MAX) {
      full = true;
      return;
    }
    bytes[length++] = b;
    if (summing) sum = static_cast<std::uint8_t>(sum + b);
  }

  // Treats one template byte; false at the template's end (F7).
  bool feed(std::uint8_t b, std::uint8_t value2, std::uint8_t value3) {
    switch (b) {
      case 0x80: emit(value2); break;
      case 0x81: emit(value3); break;
      case 0x82: emit(channel[work_track].load(relaxed)); break;
      case 0x83: summing = true; break;
      case 0x84: {
        std::uint8_t check = static_cast<std::uint8_t>(-sum) & 0x7F;
        emit(check);
        sum = check;
        summing = false;
        break;
      }
      case 0xF7: return false;
      default: emit(b); break;
    }
    return true;
  }

  void send() {
    bytes[length++] = 0xF7;
    send_long(bytes, static_cast<std::uint32_t>(length));
  }
};

HostMidiHeader long_header;

// Keeps what the working track sent, for the play monitor's cells.
void note_sent(std::uint32_t msg) {
  const unsigned type = msg & 0xF0, d1 = (msg >> 8) & 0xFF, d2 = (msg >> 16) & 0xFF;
  int which = -1;
  int value = static_cast<int>(d2);
  if (type == 0xC0) {
    which = LIVE_PROGRAM;
    value = static_cast<int>(d1);
  } else if (type == 0xE0) {
    which = LIVE_BENDER;
    value -= 64;
  } else if (type == 0xB0) {
    switch (d1) {
      case 0: which = LIVE_BANK; break;
      case 1: which = LIVE_MODULATION; break;
      case 7: which = LIVE_VOLUME; break;
      case 10: which = LIVE_PAN; break;
      case 11: which = LIVE_EXPRESSION; break;
      case 64: which = LIVE_PEDAL; break;
      default: break;
    }
  }
  if (which >= 0) live[work_track][which].store(static_cast<std::int16_t>(value), relaxed);
}

// Note-offs for track t's sounding notes on channel ch; their slots free.
void end_notes(int t, unsigned ch) {
  for (NoteSlot& slot : slots[t]) {
    if (slot.gate_left.load(relaxed) == 0) continue;
    slot.gate_left.store(0, relaxed);
    send_short(midi_message(0x90 | ch, slot.note.load(relaxed), 0));
  }
  sounding[t].store(0, relaxed);
}
}  // namespace

std::atomic<std::int16_t> live[TRACK_COUNT][LIVE_COUNT];
std::atomic<std::uint8_t> muted[TRACK_COUNT];

unsigned send_short(std::uint32_t msg) {
  note_sent(msg);
  return host_midi_short(msg);
}

unsigned send_long(const std::uint8_t* buffer, std::uint32_t length) {
  long_header.data = buffer;
  long_header.length = length;
  long_header.flags = 0;
  host_midi_prepare(&long_header);
  host_midi_long(&long_header);
  unsigned result;
  do result = host_midi_unprepare(&long_header);
  while (result == HOST_MIDI_STILL_PLAYING);
  return result;
}

void play_note() {
  if (deferring || seek_target.load(relaxed) != 0 || byte2 == 0 || byte3 == 0 || !play_flag) return;
  const int t = work_track;
  std::uint8_t note = code;
  if (!(key_plus[t] & KEY_PLUS_NONE)) note = static_cast<std::uint8_t>(code + play_bias + key_plus[t]) & 0x7F;
  NoteSlot* row = slots[t];
  NoteSlot* slot = nullptr;
  NoteSlot* free_slot = nullptr;
  for (int i = 0; i < SLOT_COUNT; ++i) {
    std::uint8_t gate = row[i].gate_left.load(relaxed);
    if (row[i].note.load(relaxed) == note) {
      if (gate != 0) {
        // Still sounding: the new gate counts from now, no new note-on.
        row[i].gate_left.store(byte2, relaxed);
        return;
      }
      slot = &row[i];
      break;
    }
    if (gate == 0 && !free_slot) free_slot = &row[i];
  }
  if (!slot) {
    if (!free_slot) return;  // sixteen notes of this track already sound
    slot = free_slot;
    slot->note.store(note, relaxed);
  }
  send_short(midi_message(status(0x90), note, byte3));
  sounding[t].store(static_cast<std::uint8_t>(sounding[t].load(relaxed) + 1), relaxed);
  if (level[t].load(relaxed) < 2 * byte3) level[t].store(static_cast<std::uint8_t>(2 * byte3), relaxed);
  slot->gate_left.store(byte2, relaxed);
}

void count_down_gates(int t) {
  if (seek_target.load(relaxed) != 0) return;
  if (muted[t].load(relaxed) && sounding[t].load(relaxed) != 0) end_notes(t, channel[t].load(relaxed));
  int n = sounding[t].load(relaxed);
  for (int i = 0; n != 0 && i < SLOT_COUNT; ++i) {
    NoteSlot& slot = slots[t][i];
    std::uint8_t gate = slot.gate_left.load(relaxed);
    if (gate == 0) continue;
    slot.gate_left.store(--gate, relaxed);
    if (gate == 0) {
      send_short(midi_message(0x90 | channel[t].load(relaxed), slot.note.load(relaxed), 0));
      sounding[t].store(static_cast<std::uint8_t>(sounding[t].load(relaxed) - 1), relaxed);
    }
    --n;
  }
  std::uint8_t l = level[t].load(relaxed);
  if (l > 0) level[t].store(static_cast<std::uint8_t>(l - 1), relaxed);
}

void change_channel() {
  const int t = work_track;
  end_notes(t, channel[t].load(relaxed));
  if (byte2 != 0) {
    channel[t].store(static_cast<std::uint8_t>((byte2 - 1) & 15), relaxed);
    mode[t] &= static_cast<std::uint8_t>(~TRACK_CHANNEL_OFF);
    live[t][LIVE_CHANNEL].store(static_cast<std::int16_t>((byte2 - 1) & 15), relaxed);
  } else {
    mode[t] |= TRACK_CHANNEL_OFF;
    live[t][LIVE_CHANNEL].store(LIVE_NONE, relaxed);
  }
}

void player_detail::bank_program() {
  send_short(midi_message(status(0xB0), 0x00, byte3));
  send_short(midi_message(status(0xB0), 0x20, 0x00));
  send_short(midi_message(status(0xC0), byte2));
}

void player_detail::channel_aftertouch() { send_short(midi_message(status(0xD0), byte2)); }

void player_detail::control_change() {
  if (deferring) {
    int which = byte2 == 1    ? DEFER_MODULATION
                : byte2 == 7  ? DEFER_VOLUME
                : byte2 == 10 ? DEFER_PAN
                : byte2 == 11 ? DEFER_EXPRESSION
                              : -1;
    if (which >= 0) {
      (*deferring)[work_track][which] = byte3;
      return;
    }
  }
  send_short(midi_message(status(0xB0), byte2, byte3));
}

void player_detail::program_change() { send_short(midi_message(status(0xC0), byte2)); }

void player_detail::key_aftertouch() { send_short(midi_message(status(0xA0), byte2, byte3)); }

void player_detail::pitch_bend() {
  if (deferring) {
    (*deferring)[work_track][DEFER_BEND_LSB] = byte2;
    (*deferring)[work_track][DEFER_BEND_MSB] = byte3;
    return;
  }
  send_short(midi_message(status(0xE0), byte2, byte3));
}

void player_detail::music_key() {
  key_value.store((12 - TONIC_PITCH[step & 15]) % 12, relaxed);
  current_key.store(step, relaxed);
}

void send_user_exclusive() {
  const std::uint8_t* entry =
      image() + SONG_USER_EXCLUSIVES + USER_EXCLUSIVE_SIZE * (code - EV_USER_EXCL0) + USER_EXCLUSIVE_TEMPLATE;
  Exclusive x;
  for (int i = 0; i < 24; ++i)
    if (!x.feed(entry[i], byte2, byte3)) break;
  x.send();
}

void send_track_exclusive() {
  const std::uint8_t* s = image();
  const std::uint32_t last = last_event[work_track];
  Exclusive x;
  std::uint32_t p = work_position;
  while (p + 4 < last && s[p + 4] == EV_CONTINUE) {
    p += 4;
    bool more = x.feed(s[p + 2], byte2, byte3) && x.feed(s[p + 3], byte2, byte3);
    if (x.full) {
      // Too long for one message: send what fits and pass over the rest.
      while (p + 4 < last && s[p + 4] == EV_CONTINUE) p += 4;
      break;
    }
    if (!more) break;
  }
  work_position = p;
  x.send();
}

void player_detail::roland_base() {
  dt1[work_track][5] = byte2;
  dt1[work_track][6] = byte3;
}

void player_detail::roland_device() {
  dt1[work_track][2] = byte2;
  dt1[work_track][3] = byte3;
}

void send_roland_parameter() {
  std::uint8_t* m = dt1[work_track];
  m[7] = byte2;
  m[8] = byte3;
  m[9] = static_cast<std::uint8_t>(-(m[5] + m[6] + m[7] + m[8])) & 0x7F;
  send_long(m, DT1_SIZE);
}
