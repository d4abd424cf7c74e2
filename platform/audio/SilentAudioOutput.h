// The output used when no sound server or device can be opened: it pulls
// audio at real-time pace and discards it, so the synthesizer's clock, the
// time display and end detection behave exactly as with sound.
#pragma once

#include "platform/audio/AudioOutput.h"

#include <memory>

namespace qorn::platform {

inline constexpr int kSilentPeriodFrames = 512;

// Starts a thread calling `render` for `periodFrames` frames per period at
// `sampleRate` frames per second of real time; while `render` reports
// nothing to do, the thread sleeps until wake(). Never fails.
std::unique_ptr<AudioOutput> MakeSilentAudioOutput(int sampleRate, AudioRenderFn render, void* context,
                                                   int periodFrames = kSilentPeriodFrames);

} // namespace qorn::platform
