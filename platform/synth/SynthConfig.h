// The settings of one synthesizer port, taken from the port parameters the
// caller asked for, adjusted to what the synthesizer offers.
#pragma once

#include "platform/dmusic/DMusicRecords.h"

#include <string>

namespace qorn::platform {

struct SynthConfig {
    int sampleRate = 22050;
    bool reverb = true;
    bool chorus = true;
    int voices = 128;
};

// S_OK, or S_FALSE when a requested value was adjusted (the adjusted values
// are written back into *params); E_INVALIDARG for a record too short.
HRESULT ResolveSynthConfig(DMUS_PORTPARAMS* params, SynthConfig& config);

// The General MIDI set, a SoundFont or a DLS collection: QORN_SOUNDFONT when
// set, else the system's default SoundFont.
std::string SoundFontPath();

// Threads the synthesizer renders its voices on: QORN_SYNTH_THREADS when
// set (the rendering tool's --threads), else 1, as the player needs.
int SynthThreads();

} // namespace qorn::platform
