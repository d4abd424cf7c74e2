// The platform stack built the way the engine builds it (DirectMusic object,
// performance, synthesizer port, loader), with the synthesizer rendered on
// the caller's thread instead of an audio device: as fast as the machine
// allows, and exactly what a listener would hear.
#pragma once

#include "platform/loader/Composition.h"

#include "engine/PortSetup.h"
#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qorn::platform {
class SynthPort;
}

namespace qorn::render {

// The player's volume curve, from the engine.
using engine::VolumeForPosition;

// Below this the output counts as silent (about -90 dB of full scale; the
// reverb keeps a tiny offset in its loops).
inline constexpr float kSilence = 3e-5f;

class OfflineSession {
  public:
    ~OfflineSession();
    OfflineSession(const OfflineSession&) = delete;
    OfflineSession& operator=(const OfflineSession&) = delete;

    // Null with the reason in *error when the stack cannot be built (no
    // SoundFont, for one).
    static std::unique_ptr<OfflineSession> Create(int sampleRate, bool effects, std::string* error);
    // Loader and performance only, for reading what a piece plays without
    // sound (no SoundFont needed).
    static std::unique_ptr<OfflineSession> CreateWithoutSound(std::string* error);

    int sampleRate() const { return sampleRate_; }
    platform::SynthPort& port() { return *synth_; }
    platform::IDirectMusicPerformance2& performance() { return *performance_; }

    // Loads a file by path, as the engine does; false with a reason. With
    // `segment`, the segment of that name the script or container holds.
    bool load(const std::string& path, std::string* error, const std::string& segment = {});
    // The loaded segment's own repeat count.
    platform::DWORD fileRepeats();
    void setRepeats(platform::DWORD repeats);
    // Fixes the choices a piece composed from a style makes (no effect on
    // any other piece).
    void setCompositionSeed(std::uint32_t seed);
    // How the loads that follow compose templates and styles.
    void setCompositionOptions(const platform::CompositionOptions& options);
    // What the last load composed from (empty: nothing).
    std::string lastComposition() const;
    // What a play started now plays: the piece (each pass composed for a
    // composed one) and the repeats of its loop region.
    struct Play {
        std::shared_ptr<const music::Sequence> sequence;
        std::uint32_t repeats = 0;
    };
    Play playable();
    // The loaded segment's name in the script or container that holds it.
    std::string segmentName();
    // What the loaded piece holds that does not sound here, one entry per kind.
    std::vector<std::string> silentContent();
    void setTempo(float factor);
    void setVolumePosition(int position);
    bool play();
    void stop();
    bool isPlaying();

    // Pulls the next frames from the synthesizer.
    void render(float* left, float* right, int frames);
    // The same sound in longer pieces: pulls up to `frames` at once, as far
    // as nothing reaches the synthesizer; the play starts or ends only in a
    // piece's first block. Returns the frames pulled.
    int renderRun(float* left, float* right, int frames);

  private:
    OfflineSession() = default;
    bool createObjects(std::string* error);

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

// Receives the rendered audio block by block; false stops the render.
using AudioBlockSink = std::function<bool(const float* left, const float* right, int frames)>;

struct StreamedAudio {
    std::uint64_t frames = 0;
    std::uint64_t musicFrames = 0;
    // The sink asked to stop.
    bool stopped = false;
};

// Plays the started piece to its end and hands every block to `sink`, then
// up to `maxTail` seconds of its release until the output falls silent.
StreamedAudio RenderStream(OfflineSession& session, double maxTail, double maxSeconds, const AudioBlockSink& sink);

// The same, kept in memory.
RenderedAudio RenderToEnd(OfflineSession& session, double maxTail, double maxSeconds = 3600.0);

} // namespace qorn::render
