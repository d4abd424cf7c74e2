// Which General MIDI presets a piece may select, so the synthesizer can load
// their samples before the first note instead of on the audio thread.
#pragma once

#include "platform/music/Sequence.h"

#include <vector>

namespace qorn::platform {

struct PresetRef {
    int bank;
    int program;
    bool operator==(const PresetRef&) const = default;
};

// Every bank/program pair the piece's program changes and patch choices can
// reach on the synthesizer, including the fallbacks the synthesizer uses for
// a missing preset (bank 0 of the same program; the standard drum kit).
// Sorted, without duplicates.
std::vector<PresetRef> PresetsUsedBy(const music::Sequence& sequence);

} // namespace qorn::platform
