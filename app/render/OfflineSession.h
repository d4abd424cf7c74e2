// The platform stack built the way the engine builds it (DirectMusic object,
// performance, synthesizer port, loader), with the synthesizer rendered on
// the caller's thread instead of an audio device: as fast as the machine
// allows, and exactly what a listener would hear.
#pragma once

#include "platform/dmusic/DMusicInterfaces.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::platform {
class SynthPort;
}

namespace qorn::render {

// The engine's volume track bar position (0..127) in hundredths of a decibel.
std::int32_t VolumeForPosition(int position);

class OfflineSession {
  public:
    ~OfflineSession();
    OfflineSession(const OfflineSession&) = delete;
    OfflineSession& operator=(const OfflineSession&) = delete;

    // Null with the reason in *error when the stack cannot be built (no
    // SoundFont, for one).
    static std::unique_ptr<OfflineSession> Create(int sampleRate, bool effects, std::string* error);

    int sampleRate() const { return sampleRate_; }
    platform::SynthPort& port() { return *synth_; }
    platform::IDirectMusicPerformance2& performance() { return *performance_; }

    // Loads a file by path, as the engine does; false with a reason.
    bool load(const std::string& path, std::string* error);
    // The loaded segment's own repeat count.
    platform::DWORD fileRepeats();
    void setRepeats(platform::DWORD repeats);
    void setTempo(float factor);
    void setVolumePosition(int position);
    bool play();
    void stop();
    bool isPlaying();

    // Pulls the next frames from the synthesizer.
    void render(float* left, float* right, int frames);

  private:
    OfflineSession() = default;

    int sampleRate_ = 0;
    platform::IDirectMusic2* directMusic_ = nullptr;
    platform::IDirectMusicPerformance2* performance_ = nullptr;
    platform::IDirectMusicLoader* loader_ = nullptr;
    platform::IDirectMusicPort* portIf_ = nullptr;
    platform::SynthPort* synth_ = nullptr;
    platform::IDirectMusicSegment2* segment_ = nullptr;
    platform::IDirectMusicSegmentState* state_ = nullptr;
};

struct RenderedAudio {
    std::vector<float> left;
    std::vector<float> right;
    // Frames until the piece (with its repeats) ended; the rest is its tail.
    std::uint64_t musicFrames = 0;
};

// Plays the loaded piece to its end and renders it, then up to `maxTail`
// seconds of its release until the output falls silent.
RenderedAudio RenderToEnd(OfflineSession& session, double maxTail, double maxSeconds = 3600.0);

} // namespace qorn::render
