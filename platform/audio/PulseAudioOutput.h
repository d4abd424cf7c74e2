// Audio straight to a PulseAudio server (or PipeWire's PulseAudio service)
// through libpulse, with a buffer of a few small periods: the server asks for
// more long before it runs dry, so latency stays low without dropouts.
#pragma once

#include "platform/audio/AudioOutput.h"

#include <memory>

namespace qorn::platform {

// The name this output reports and QORN_AUDIO_DRIVER chooses it by.
inline constexpr const char* kPulseNativeDriver = "pulse-native";

// Connects to the user's sound server (never starts one); null when none
// answers. Should the server go away later, playback carries on through
// the silent sink. Quiet: failures print nothing.
std::unique_ptr<AudioOutput> OpenPulseAudioOutput(int sampleRate, AudioRenderFn render, void* context);

// Times any of these outputs ran dry in this process, for measurements.
long long PulseAudioUnderruns();

} // namespace qorn::platform
