#include "platform/synth/FluidSink.h"

#include "platform/runtime/FluidLibrary.h"

namespace qorn::platform {

void FluidSink::shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    if (probe_ != nullptr) probe_(probeContext_, frame_, status, data1);
    const int ch = status & 0x0F;
    switch (status & 0xF0) {
    case 0x80:
        fluid::fluid_synth_noteoff(synth_, ch, data1);
        break;
    case 0x90:
        if (data2 == 0)
            fluid::fluid_synth_noteoff(synth_, ch, data1);
        else
            noteOn(ch, data1, data2);
        break;
    case 0xA0:
        fluid::fluid_synth_key_pressure(synth_, ch, data1, data2);
        break;
    case 0xB0:
        fluid::fluid_synth_cc(synth_, ch, data1, data2);
        break;
    case 0xC0:
        fluid::fluid_synth_program_change(synth_, ch, data1);
        break;
    case 0xD0:
        fluid::fluid_synth_channel_pressure(synth_, ch, data1);
        break;
    case 0xE0:
        fluid::fluid_synth_pitch_bend(synth_, ch, data1 | (data2 << 7));
        break;
    default:
        break;
    }
}

void FluidSink::noteOn(int channel, std::uint8_t key, std::uint8_t velocity) {
    fluid::fluid_synth_noteon(synth_, channel, key, velocity);
    ++notes_;
    // A voice is counted the moment it starts.
    if (!voiced_) voiced_ = fluid::fluid_synth_get_active_voice_count(synth_) > 0;
}

void FluidSink::sysEx(const std::uint8_t* data, std::size_t length) {
    if (length < 3 || data[0] != 0xF0 || data[length - 1] != 0xF7) return;
    fluid::fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + 1), static_cast<int>(length - 2), nullptr,
                             nullptr, nullptr, 0);
}

} // namespace qorn::platform
