#include "platform/audio/AudioOutput.h"

#include "platform/audio/FluidAudioOutput.h"
#include "platform/audio/PulseAudioOutput.h"
#include "platform/audio/SilentAudioOutput.h"

#include <cstdlib>

namespace qorn::platform {

std::unique_ptr<AudioOutput> OpenAudioOutput(int sampleRate, AudioRenderFn render, void* context) {
    const char* forced = std::getenv("QORN_AUDIO_DRIVER");
    const std::string choice = forced != nullptr ? forced : "";
    if (choice == "silent") return MakeSilentAudioOutput(sampleRate, render, context);

    // Our own sound-server client buffers least, so it comes first.
    if (choice.empty() || choice == kPulseNativeDriver) {
        if (auto output = OpenPulseAudioOutput(sampleRate, render, context)) return output;
    }
    // A forced driver that cannot open still leaves the player working.
    const auto candidates = choice.empty() ? PreferredAudioDrivers() : std::vector<std::string>{choice};
    for (const auto& driver : candidates) {
        if (auto output = OpenFluidAudioOutput(driver, sampleRate, render, context)) return output;
    }
    return MakeSilentAudioOutput(sampleRate, render, context);
}

} // namespace qorn::platform
