// MIDI output: the built-in synthesizer (the default) or a MIDI port of the
// ALSA sequencer or JACK through RtMidi. With neither open, messages go
// nowhere, as on an unopened port.
//
// The synthesizer is played from the audio thread: what it sends itself (the
// player's ticks) goes in at once; what other threads send (positioning, a
// stop, a note from the editor, ticks of the timer thread) waits in a queue
// that the audio thread empties at every millisecond, so it never waits for
// them. Only when the queue is full (the device stopped asking for audio)
// does a sender hand the queued messages to the synthesizer itself.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/desktop/desktop.h"
#include "host/host.h"
#include "host/synth/synth.h"

namespace {
enum Target { NOWHERE, SYNTH, PORT };
std::atomic<int> target{NOWHERE};
std::unique_ptr<RtMidiOut> port;
// Positioning on the application thread and a stop from the window thread
// may send while the timer thread does; the port takes one writer at a time.
std::mutex port_lock;

// The queue: records of a 2-byte head (the length, QUEUED_SHORT for a short
// message of 4 bytes) and their bytes, in a ring.
constexpr std::size_t QUEUE_SIZE = 1 << 16;
constexpr std::uint16_t QUEUED_SHORT = 0x8000;
constexpr std::size_t QUEUED_MAX = 1024;  // longer exclusives bypass the ring, in order
std::uint8_t queue[QUEUE_SIZE];
std::atomic<std::size_t> queue_write{0};
std::atomic<std::size_t> queue_read{0};
std::mutex senders;               // threads that queue; never the audio thread
std::atomic<bool> taking{false};  // held by whoever empties the queue
thread_local bool on_audio_thread = false;
// Waits for the audio thread to take the last messages at the end.
constexpr int FLUSH_WAIT_MS = 100;

constexpr unsigned MIDI_NO_ERROR = 0;
constexpr unsigned MIDI_INVALID_HEADER = 6;
constexpr unsigned MIDI_UNPREPARED = 64;
constexpr std::uint32_t HEADER_PREPARED = 2;

void ignore_error(RtMidiError::Type, const std::string&, void*) {}

// RtMidi prints its own message when the ALSA sequencer or a JACK server is
// missing, before an error callback can be set (and keeps memory from the
// attempt): look first.
bool system_there(RtMidi::Api api) {
  if (api == RtMidi::LINUX_ALSA) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return false;
    snd_seq_close(seq);
    return true;
  }
  if (api == RtMidi::UNIX_JACK) {
    jack_client_t* client = jack_client_open("TAKTO", JackNoStartServer, nullptr);
    if (client == nullptr) return false;
    jack_client_close(client);
    return true;
  }
  return api != RtMidi::RTMIDI_DUMMY;
}

struct PortName {
  RtMidi::Api api;
  unsigned index;
  std::string name;
};

// Every output port of every MIDI system that answers.
std::vector<PortName> all_ports(bool& any_system) {
  std::vector<PortName> ports;
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  any_system = false;
  for (RtMidi::Api api : apis) {
    if (!system_there(api)) continue;
    try {
      RtMidiOut out(api, "TAKTO");
      out.setErrorCallback(ignore_error);
      const unsigned n = out.getPortCount();
      any_system = true;
      for (unsigned i = 0; i < n; ++i) ports.push_back({api, i, out.getPortName(i)});
    } catch (const RtMidiError&) {
    }
  }
  return ports;
}

std::uint8_t queued_byte(std::size_t at) { return queue[at & (QUEUE_SIZE - 1)]; }

// Hands every queued message to the synthesizer; the caller holds `taking`.
void take_all() {
  std::size_t r = queue_read.load(std::memory_order_relaxed);
  const std::size_t w = queue_write.load(std::memory_order_acquire);
  std::uint8_t bytes[QUEUED_MAX];
  while (r != w) {
    const std::uint16_t head = static_cast<std::uint16_t>(queued_byte(r) | queued_byte(r + 1) << 8);
    const std::size_t n = head & QUEUED_SHORT ? 4 : head;
    for (std::size_t i = 0; i < n; ++i) bytes[i] = queued_byte(r + 2 + i);
    if (head & QUEUED_SHORT) {
      synth_short(bytes[0] | bytes[1] << 8 | bytes[2] << 16);
    } else {
      synth_long(bytes, n);
    }
    r += 2 + n;
  }
  queue_read.store(r, std::memory_order_release);
}

void take_all_waiting() {
  while (taking.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
  take_all();
  taking.store(false, std::memory_order_release);
}

void queue_for_synth(bool exclusive, const std::uint8_t* bytes, std::size_t n) {
  std::lock_guard<std::mutex> hold(senders);
  if (n > QUEUED_MAX) {
    while (taking.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
    take_all();
    synth_long(bytes, n);
    taking.store(false, std::memory_order_release);
    return;
  }
  const std::size_t w = queue_write.load(std::memory_order_relaxed);
  const std::size_t record = 2 + (exclusive ? n : 4);
  while (QUEUE_SIZE - (w - queue_read.load(std::memory_order_acquire)) < record) take_all_waiting();
  const std::uint16_t head = exclusive ? static_cast<std::uint16_t>(n) : QUEUED_SHORT;
  queue[w & (QUEUE_SIZE - 1)] = static_cast<std::uint8_t>(head);
  queue[(w + 1) & (QUEUE_SIZE - 1)] = static_cast<std::uint8_t>(head >> 8);
  for (std::size_t i = 0; i < record - 2; ++i) queue[(w + 2 + i) & (QUEUE_SIZE - 1)] = i < n ? bytes[i] : 0;
  queue_write.store(w + record, std::memory_order_release);
}

void send_bytes(const std::uint8_t* bytes, std::size_t n) {
  std::lock_guard<std::mutex> hold(port_lock);
  if (!port) return;
  try {
    port->sendMessage(bytes, n);
  } catch (const RtMidiError&) {
  }
}
}  // namespace

bool midi_system_answers(int api) { return system_there(static_cast<RtMidi::Api>(api)); }

bool midi_list_ports(std::FILE* out) {
  bool any_system = false;
  std::vector<PortName> ports = all_ports(any_system);
  for (const PortName& p : ports) {
    std::fprintf(out, "%s: %s\n", RtMidi::getApiDisplayName(p.api).c_str(), p.name.c_str());
  }
  return any_system || !ports.empty();
}

bool midi_open_port(const std::string& name, std::string& error) {
  bool any_system = false;
  std::vector<PortName> ports = all_ports(any_system);
  const PortName* chosen = nullptr;
  for (const PortName& p : ports) {
    if (p.name == name) {
      chosen = &p;
      break;
    }
  }
  for (const PortName& p : ports) {
    if (!chosen && p.name.find(name) != std::string::npos) chosen = &p;
  }
  if (!chosen) {
    error = ports.empty() ? "no MIDI port '" + name + "': there are no MIDI ports"
                          : "no MIDI port '" + name + "' (takto --midi-out list shows them)";
    return false;
  }
  try {
    auto out = std::make_unique<RtMidiOut>(chosen->api, "TAKTO");
    out->setErrorCallback(ignore_error);
    // The port list can change between the look and the open.
    if (chosen->index >= out->getPortCount() || out->getPortName(chosen->index) != chosen->name) {
      error = "MIDI port '" + chosen->name + "' went away";
      return false;
    }
    out->openPort(chosen->index, "out");
    if (!out->isPortOpen()) {
      error = "MIDI port '" + chosen->name + "' cannot be opened";
      return false;
    }
    std::lock_guard<std::mutex> hold(port_lock);
    port = std::move(out);
  } catch (const RtMidiError& e) {
    error = "MIDI port '" + chosen->name + "' cannot be opened: " + e.getMessage();
    return false;
  }
  target.store(PORT);
  return true;
}

bool midi_open_synth(const std::string& soundfont, std::string& error) {
  std::vector<std::string> tried;
  const std::string font = find_soundfont(soundfont, &tried);
  if (font.empty()) {
    error = "no SoundFont at";
    for (const std::string& t : tried) error += " " + t;
    if (soundfont.empty()) error += " (install fluid-soundfont-gm or give --soundfont PATH)";
    return false;
  }
  int rate = 0;
  std::string why;
  if (!audio_open(rate, why)) {
    error = "no audio device (" + why + ")";
    return false;
  }
  if (!synth_open(font, rate, &why)) {
    audio_close();
    error = "the synthesizer cannot start: " + why;
    return false;
  }
  target.store(SYNTH);
  audio_start();
  return true;
}

void midi_close() {
  const int was = target.exchange(NOWHERE);
  if (was == SYNTH) {
    // The last messages (a stop's note-offs) reach the synthesizer first.
    for (int waited = 0; waited < FLUSH_WAIT_MS && queue_read.load() != queue_write.load(); ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    audio_close();
    queue_read.store(queue_write.load());
    synth_close();
  } else if (was == PORT) {
    // JACK hands messages over in its next cycle, and a server's period can be
    // tens of milliseconds: let the last ones go out, with room for a late cycle.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard<std::mutex> hold(port_lock);
    port.reset();
  }
}

void midi_take_queued() {
  on_audio_thread = true;
  if (queue_read.load(std::memory_order_relaxed) == queue_write.load(std::memory_order_acquire)) return;
  if (taking.exchange(true, std::memory_order_acquire)) return;  // a sender empties it just now
  take_all();
  taking.store(false, std::memory_order_release);
}

unsigned host_midi_short(std::uint32_t message) {
  const int to = target.load(std::memory_order_acquire);
  if (to == NOWHERE) return MIDI_NO_ERROR;
  const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(message), static_cast<std::uint8_t>(message >> 8),
                                 static_cast<std::uint8_t>(message >> 16)};
  if (to == SYNTH) {
    if (on_audio_thread) {
      synth_short(message);
    } else {
      queue_for_synth(false, bytes, 3);
    }
    return MIDI_NO_ERROR;
  }
  if (bytes[0] < 0x80) return MIDI_NO_ERROR;  // a port takes no running status
  send_bytes(bytes, static_cast<std::size_t>(short_message_length(bytes[0])));
  return MIDI_NO_ERROR;
}

unsigned host_midi_prepare(HostMidiHeader* header) {
  if (header == nullptr || header->data == nullptr || (header->flags & HEADER_PREPARED)) {
    return MIDI_INVALID_HEADER;
  }
  header->flags |= HEADER_PREPARED;
  return MIDI_NO_ERROR;
}

unsigned host_midi_long(HostMidiHeader* header) {
  if (header == nullptr || !(header->flags & HEADER_PREPARED)) return MIDI_UNPREPARED;
  // Sent at once: the header is free again when this returns.
  const int to = target.load(std::memory_order_acquire);
  if (to == SYNTH && on_audio_thread) synth_long(header->data, header->length);
  if (to == SYNTH && !on_audio_thread) queue_for_synth(true, header->data, header->length);
  if (to == PORT) send_bytes(header->data, header->length);
  return MIDI_NO_ERROR;
}

unsigned host_midi_unprepare(HostMidiHeader* header) {
  if (header == nullptr || !(header->flags & HEADER_PREPARED)) return MIDI_INVALID_HEADER;
  header->flags &= ~HEADER_PREPARED;
  return MIDI_NO_ERROR;
}
