// The headless clock and MIDI output: a clock moved by hand and a recorder of
// every message, for tests and takto-cli.
#include <atomic>
#include <mutex>

#include "host/headless/headless.h"
#include "host/host.h"

namespace {
std::atomic<std::uint32_t> virtual_ms{0};

std::mutex midi_lock;
std::vector<SentMidi> sent;
std::size_t sent_total = 0;
bool recording = true;
std::atomic<MidiStamp (*)()> stamp_source{nullptr};

int busy_left = 0;
bool prepared = false;
MidiHeaderCalls header_calls{};

constexpr unsigned MIDI_NO_ERROR = 0;
constexpr unsigned MIDI_INVALID_HEADER = 6;
constexpr unsigned MIDI_UNPREPARED = 64;

void record(bool exclusive, const std::uint8_t* bytes, std::size_t n) {
  MidiStamp (*source)() = stamp_source.load();
  MidiStamp stamp = source ? source() : MidiStamp{0, -1};
  std::lock_guard<std::mutex> hold(midi_lock);
  ++sent_total;
  if (!recording) return;
  sent.push_back(SentMidi{virtual_ms.load(std::memory_order_relaxed), stamp.tick, stamp.track, exclusive,
                          std::vector<std::uint8_t>(bytes, bytes + n)});
}
}  // namespace

std::uint32_t host_time_ms() { return virtual_ms.load(std::memory_order_relaxed); }

std::atomic<int> clock_start_held{0};
std::atomic<int> clock_start_asks{0};

bool host_clock_start() {
  clock_start_asks.fetch_add(1, std::memory_order_relaxed);
  if (clock_start_held.load(std::memory_order_relaxed) <= 0) return true;
  clock_start_held.fetch_sub(1, std::memory_order_relaxed);
  return false;
}

void headless_hold_clock_start(int calls) {
  clock_start_held.store(calls);
  clock_start_asks.store(0);
}

int headless_clock_start_asks() { return clock_start_asks.load(); }

void headless_set_clock(std::uint32_t ms) { virtual_ms.store(ms, std::memory_order_relaxed); }

void headless_advance_clock(std::uint32_t ms) { virtual_ms.fetch_add(ms, std::memory_order_relaxed); }

unsigned host_midi_short(std::uint32_t message) {
  std::uint8_t bytes[3] = {static_cast<std::uint8_t>(message), static_cast<std::uint8_t>(message >> 8),
                           static_cast<std::uint8_t>(message >> 16)};
  record(false, bytes, static_cast<std::size_t>(short_message_length(bytes[0])));
  return MIDI_NO_ERROR;
}

unsigned host_midi_prepare(HostMidiHeader* header) {
  std::lock_guard<std::mutex> hold(midi_lock);
  ++header_calls.prepare;
  if (prepared || header->data == nullptr) {
    ++header_calls.faults;
    return MIDI_INVALID_HEADER;
  }
  prepared = true;
  return MIDI_NO_ERROR;
}

unsigned host_midi_long(HostMidiHeader* header) {
  {
    std::lock_guard<std::mutex> hold(midi_lock);
    ++header_calls.send;
    if (!prepared) {
      ++header_calls.faults;
      return MIDI_UNPREPARED;
    }
  }
  record(true, header->data, header->length);
  return MIDI_NO_ERROR;
}

unsigned host_midi_unprepare(HostMidiHeader*) {
  std::lock_guard<std::mutex> hold(midi_lock);
  ++header_calls.unprepare;
  if (!prepared) {
    ++header_calls.faults;
    return MIDI_INVALID_HEADER;
  }
  if (busy_left > 0) {
    --busy_left;
    return HOST_MIDI_STILL_PLAYING;
  }
  prepared = false;
  return MIDI_NO_ERROR;
}

void headless_set_midi_stamp(MidiStamp (*source)()) { stamp_source.store(source); }

std::vector<SentMidi> headless_sent_midi() {
  std::lock_guard<std::mutex> hold(midi_lock);
  return sent;
}

std::vector<SentMidi> headless_take_midi() {
  std::lock_guard<std::mutex> hold(midi_lock);
  std::vector<SentMidi> taken;
  taken.swap(sent);
  return taken;
}

std::size_t headless_sent_count() {
  std::lock_guard<std::mutex> hold(midi_lock);
  return sent_total;
}

void headless_clear_midi() {
  std::lock_guard<std::mutex> hold(midi_lock);
  sent.clear();
  sent_total = 0;
  header_calls = MidiHeaderCalls{};
  busy_left = 0;
  prepared = false;
}

void headless_record_midi(bool on) {
  std::lock_guard<std::mutex> hold(midi_lock);
  recording = on;
}

void headless_midi_busy(int n) {
  std::lock_guard<std::mutex> hold(midi_lock);
  busy_left = n;
}

MidiHeaderCalls headless_midi_header_calls() {
  std::lock_guard<std::mutex> hold(midi_lock);
  return header_calls;
}
