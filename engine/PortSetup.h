// The output port as the player builds it and the volume curve of its
// volume bar: the engine and the rendering tool both go through these, so a
// rendered file sounds as the player would.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"

#include <cstdint>

namespace qorn::engine {

// Parameters of an output port: 128 voices on one channel block; a
// synthesizer entry also asks for its sample rate and effects.
qorn::platform::DMUS_PORTPARAMS OutputPortParams(bool synthesizer, qorn::platform::DWORD sampleRate, bool effects);

// The steps that make a created port play the performance's channels.
enum class PortStep { Done, Activate, AddPort, AutoDownload, AssignChannels };

// Activates `port`, adds it to `performance` with automatic instrument
// download and gives it channel block 0. The step that failed, or Done.
PortStep ConnectPort(qorn::platform::IDirectMusicPerformance2* performance, qorn::platform::IDirectMusicPort* port);

// The volume bar position (0..127, 88 = 0 dB) in hundredths of a decibel:
// two straight lines meeting at position 16. Computed wide so no position
// can overflow.
std::int32_t VolumeForPosition(std::int32_t position);

} // namespace qorn::engine
