// MIDI output on the MIDI mapper, and MIDI input device 0 (opened and started;
// its data goes to the MIDI input ring, which only enhanced mode reads).
#include <mutex>

#include "host/host.h"
#include "host/win32/win32.h"

namespace {
// The timer thread and the application thread send; the window thread closes
// the ports. Each call holds the lock, so none uses a handle being closed.
std::mutex midi_lock;
HMIDIOUT midi_out = nullptr;
HMIDIIN midi_in = nullptr;
bool ports_closed = false;
// The driver holds the exclusive header until it is unprepared.
MIDIHDR long_header{};
}  // namespace

void open_midi_ports(HWND window) {
  std::lock_guard<std::mutex> hold(midi_lock);
  if (ports_closed) return;  // the window went away before this thread got here
  if (midiOutOpen(&midi_out, MIDI_MAPPER, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) midi_out = nullptr;
  if (midiInOpen(&midi_in, 0, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
    midi_in = nullptr;
  }
  if (midi_in) midiInStart(midi_in);
  midi_in_open.store(midi_in != nullptr);
}

void close_midi_ports() {
  std::lock_guard<std::mutex> hold(midi_lock);
  ports_closed = true;
  midi_in_open.store(false);
  if (midi_in) {
    midiInStop(midi_in);
    midiInReset(midi_in);
    midiInClose(midi_in);
  }
  if (midi_out) {
    // Ends sounding notes and hands back an exclusive still queued, so that
    // the close succeeds.
    midiOutReset(midi_out);
    if (long_header.dwFlags & MHDR_PREPARED) {
      midiOutUnprepareHeader(midi_out, &long_header, sizeof long_header);
    }
    midiOutClose(midi_out);
  }
  midi_in = nullptr;
  midi_out = nullptr;
}

unsigned host_midi_short(std::uint32_t message) {
  std::lock_guard<std::mutex> hold(midi_lock);
  if (!midi_out) return MMSYSERR_INVALHANDLE;
  return midiOutShortMsg(midi_out, message);
}

unsigned host_midi_prepare(HostMidiHeader* header) {
  std::lock_guard<std::mutex> hold(midi_lock);
  if (!midi_out) return MMSYSERR_INVALHANDLE;
  long_header = MIDIHDR{};
  long_header.lpData = reinterpret_cast<LPSTR>(const_cast<std::uint8_t*>(header->data));
  long_header.dwBufferLength = header->length;
  long_header.dwBytesRecorded = header->length;
  const unsigned result = midiOutPrepareHeader(midi_out, &long_header, sizeof long_header);
  header->flags = long_header.dwFlags;
  return result;
}

unsigned host_midi_long(HostMidiHeader* header) {
  std::lock_guard<std::mutex> hold(midi_lock);
  if (!midi_out) return MMSYSERR_INVALHANDLE;
  const unsigned result = midiOutLongMsg(midi_out, &long_header, sizeof long_header);
  header->flags = long_header.dwFlags;
  return result;
}

unsigned host_midi_unprepare(HostMidiHeader* header) {
  std::lock_guard<std::mutex> hold(midi_lock);
  if (!midi_out) return MMSYSERR_INVALHANDLE;
  const unsigned result = midiOutUnprepareHeader(midi_out, &long_header, sizeof long_header);
  header->flags = long_header.dwFlags;
  return result;
}
