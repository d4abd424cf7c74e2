// Where a port's events go: the synthesizer (on the audio thread) or an
// external ALSA port (on the sequencer thread). Implementations never block
// for long and never allocate per event.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorn::platform {

class MidiSink {
  public:
    virtual ~MidiSink() = default;
    // A channel message; `status` carries the MIDI channel (0..15).
    virtual void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
    // A complete system-exclusive message including its F0 ... F7 bytes.
    virtual void sysEx(const std::uint8_t* data, std::size_t length) = 0;
    // False once the device behind the sink is gone: nothing sent arrives.
    virtual bool alive() const { return true; }
};

} // namespace qorn::platform
