// Audio through one of FluidSynth's audio drivers (sound server or device).
#pragma once

#include "platform/audio/AudioOutput.h"

#include <memory>
#include <string>
#include <vector>

namespace qorn::platform {

// The drivers tried, best first, when none is forced.
std::vector<std::string> PreferredAudioDrivers();

// The audio drivers this FluidSynth build offers.
std::vector<std::string> AvailableAudioDrivers();

// Opens `driver` at `sampleRate`; null when it is not built in or cannot
// reach its server or device. Quiet: failures print nothing.
std::unique_ptr<AudioOutput> OpenFluidAudioOutput(const std::string& driver, int sampleRate, AudioRenderFn render,
                                                  void* context);

} // namespace qorn::platform
