// The MIDI input in enhanced mode: thru to the output while no song plays
// (on the edit screen on the edited track's channel), and notes played on
// the edit screen entered as steps.
#include "editor/editor.h"
#include "host/host.h"
#include "player/player.h"
#include "screens/screens.h"

namespace {
bool held[128];
int held_count = 0;

struct InputNote {
  std::uint8_t note, velocity;
  bool chord;  // another input note was held when it came
};
constexpr int PENDING_SLOTS = 64;
InputNote pending[PENDING_SLOTS];
int pending_first = 0, pending_count = 0;

void hold(int note, bool down) {
  if (held[note] == down) return;
  held[note] = down;
  held_count += down ? 1 : -1;
}
}  // namespace

void serve_midi_input() {
  std::uint32_t m;
  while (midi_in_pop(m)) {
    const std::uint8_t status = m & 0xFF;
    if (status < 0x80 || status > 0xEF) continue;
    const unsigned type = status & 0xF0, note = (m >> 8) & 0x7F, velocity = (m >> 16) & 0x7F;
    const bool on = type == 0x90 && velocity != 0;
    const bool chord = on && held_count > (held[note] ? 1 : 0);
    if (on || type == 0x80 || type == 0x90) hold(static_cast<int>(note), on);
    const std::uint8_t mode = screen_mode.load();
    if (mode == MODE_TRACK_MONITOR || mode == MODE_PLAY_MONITOR) continue;
    if (mode == MODE_EDIT) {
      m = (m & ~0x0Fu) | (image()[start[current_track] + TRACK_CHANNEL] & 15u);
      if (on && pending_count < PENDING_SLOTS) {
        pending[(pending_first + pending_count++) % PENDING_SLOTS] =
            InputNote{static_cast<std::uint8_t>(note), static_cast<std::uint8_t>(velocity), chord};
      }
    }
    host_midi_short(m);
  }
}

bool input_note_waiting() { return pending_count != 0; }

bool enter_pending_note() {
  if (pending_count == 0) return false;
  const InputNote n = pending[pending_first];
  pending_first = (pending_first + 1) % PENDING_SLOTS;
  --pending_count;
  enter_input_note(n.note, n.velocity, n.chord);
  return true;
}

void forget_input_notes() {
  pending_first = pending_count = 0;
  forget_entered_note();
}
