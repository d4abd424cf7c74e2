// The machine's external MIDI ports, reached through the ALSA sequencer
// behind a small interface so enumeration, output and a vanishing port can be
// tested without a sequencer device.
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/performance/MidiSink.h"

#include <memory>
#include <string>
#include <vector>

namespace qorn::platform {

struct AlsaPortInfo {
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
    bool writable = false; // we can send to it: an output for the player
    bool readable = false; // it sends to us: an input, listed but not played on
    // Stable across runs: derived from the client and port names.
    GUID guid{};
    // "client name: port name" style text shown in the port list.
    std::string description;
};

// An open connection to one port. send* never blocks for long; after the
// port vanished, `alive()` turns false and further sends are dropped.
class AlsaOutput : public MidiSink {
  public:
    virtual bool alive() const = 0;
};

class AlsaBackend {
  public:
    virtual ~AlsaBackend() = default;
    // Every port other than the system's and our own; empty without a sequencer.
    virtual std::vector<AlsaPortInfo> listPorts() = 0;
    // Null when the port is gone or cannot be subscribed.
    virtual std::unique_ptr<AlsaOutput> openOutput(const GUID& portGuid) = 0;
};

// The real ALSA sequencer (or an empty backend when /dev/snd/seq is absent).
std::shared_ptr<AlsaBackend> OpenAlsaBackend();

} // namespace qorn::platform
