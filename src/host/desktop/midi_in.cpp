// MIDI input from a port of the ALSA sequencer or JACK through RtMidi; RtMidi's
// own thread hands each message to the MIDI input ring.
#include <rtmidi/RtMidi.h>

#include <memory>
#include <vector>

#include "host/desktop/desktop.h"
#include "host/host.h"

namespace {
std::unique_ptr<RtMidiIn> input;

void ignore_error(RtMidiError::Type, const std::string&, void*) {}

struct PortName {
  RtMidi::Api api;
  unsigned index;
  std::string name;
};

std::vector<PortName> all_inputs(bool& any_system) {
  std::vector<PortName> ports;
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  any_system = false;
  for (RtMidi::Api api : apis) {
    if (!midi_system_answers(api)) continue;
    try {
      RtMidiIn in(api, "TAKTO");
      in.setErrorCallback(ignore_error);
      const unsigned n = in.getPortCount();
      any_system = true;
      for (unsigned i = 0; i < n; ++i) ports.push_back({api, i, in.getPortName(i)});
    } catch (const RtMidiError&) {
    }
  }
  return ports;
}

// TAKTO's own output, or a through port, would send thru back to itself.
bool loops_back(const std::string& name) {
  return name.rfind("TAKTO", 0) == 0 || name.find("Through") != std::string::npos;
}

void received(double, std::vector<unsigned char>* message, void*) {
  if (!message || message->empty() || message->size() > 3) return;
  std::uint32_t m = 0;
  for (std::size_t i = 0; i < message->size(); ++i) m |= static_cast<std::uint32_t>((*message)[i]) << (8 * i);
  midi_in_push(m);
}
}  // namespace

bool midi_list_inputs(std::FILE* out) {
  bool any_system = false;
  for (const PortName& p : all_inputs(any_system))
    std::fprintf(out, "%s: %s\n", RtMidi::getApiDisplayName(p.api).c_str(), p.name.c_str());
  return any_system;
}

bool midi_open_input(const std::string& name, std::string& error) {
  bool any_system = false;
  const std::vector<PortName> ports = all_inputs(any_system);
  const PortName* chosen = nullptr;
  for (const PortName& p : ports)
    if (!chosen && (name.empty() ? !loops_back(p.name) : p.name == name)) chosen = &p;
  for (const PortName& p : ports)
    if (!chosen && !name.empty() && p.name.find(name) != std::string::npos) chosen = &p;
  if (!chosen) {
    error = name.empty() ? "no MIDI input port" : "no MIDI input port '" + name + "' (takto --midi-in list shows them)";
    return false;
  }
  try {
    auto in = std::make_unique<RtMidiIn>(chosen->api, "TAKTO");
    in->setErrorCallback(ignore_error);
    if (chosen->index >= in->getPortCount() || in->getPortName(chosen->index) != chosen->name) {
      error = "MIDI input port '" + chosen->name + "' went away";
      return false;
    }
    in->setCallback(received, nullptr);
    in->openPort(chosen->index, "in");
    if (!in->isPortOpen()) {
      error = "MIDI input port '" + chosen->name + "' cannot be opened";
      return false;
    }
    input = std::move(in);
  } catch (const RtMidiError& e) {
    error = "MIDI input port '" + chosen->name + "' cannot be opened: " + e.getMessage();
    return false;
  }
  midi_in_open.store(true);
  return true;
}

void midi_close_input() {
  midi_in_open.store(false);
  input.reset();
}
