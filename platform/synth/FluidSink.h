// Channel and system-exclusive messages straight into a FluidSynth
// synthesizer, on the thread that renders it.
#pragma once

#include "platform/performance/MidiSink.h"

#include <cstdint>

struct _fluid_synth_t;

namespace qorn::platform {

// Called for every message as it reaches the synthesizer, with the frame it
// takes effect at (benchmarks and tests measure timing with it).
using SynthEventProbe = void (*)(void* context, std::uint64_t frame, std::uint8_t status, std::uint8_t data1);

class FluidSink : public MidiSink {
  public:
    explicit FluidSink(_fluid_synth_t* synth) : synth_(synth) {}
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
    void sysEx(const std::uint8_t* data, std::size_t length) override;

    void setProbe(SynthEventProbe probe, void* context) {
        probe_ = probe;
        probeContext_ = context;
    }
    // The frame the next messages take effect at.
    void setFrame(std::uint64_t frame) { frame_ = frame; }
    // Note-ons that reached the synthesizer, and whether any of them found
    // an instrument that started a voice (read once rendering is over).
    std::uint64_t notes() const { return notes_; }
    bool voiced() const { return voiced_; }

  private:
    void noteOn(int channel, std::uint8_t key, std::uint8_t velocity);

    _fluid_synth_t* synth_;
    SynthEventProbe probe_ = nullptr;
    void* probeContext_ = nullptr;
    std::uint64_t frame_ = 0;
    std::uint64_t notes_ = 0;
    bool voiced_ = false;
};

} // namespace qorn::platform
