// Where the synthesizer's audio goes: the machine's sound server or device,
// or, when none can be opened, a silent sink that consumes audio at the same
// real-time pace so playback behaves the same without sound.
#pragma once

#include <memory>
#include <string>

namespace qorn::platform {

// Called on the audio thread: fill `frames` frames of each channel. Must not
// block, lock or allocate. Returns false when there is nothing to hear and
// nothing to do: the output may then rest (stop calling it, and let the
// sound server rest too) until wake().
using AudioRenderFn = bool (*)(void* context, float* left, float* right, int frames);

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // Stops calling the render function; returns once no call is running.
    virtual void stop() = 0;
    // Which output is in use, e.g. "pulseaudio" or "silent".
    virtual std::string name() const = 0;
    // Any thread but the audio thread: there is something to render again;
    // a resting output calls the render function again at once. Call it
    // after handing the render side its work, so that a rest decided before
    // the work arrived still ends.
    virtual void wake() {}
};

// Starts audio at `sampleRate`, calling `render(context, ...)` from the audio
// thread until stop() or destruction. Tries the sound server and device
// drivers in order and falls back to the silent sink; never fails.
// QORN_AUDIO_DRIVER=silent, pulse-native or a FluidSynth driver name in the
// environment forces one.
std::unique_ptr<AudioOutput> OpenAudioOutput(int sampleRate, AudioRenderFn render, void* context);

} // namespace qorn::platform
