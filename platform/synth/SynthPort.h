// The software synthesizer port: one FluidSynth synthesizer with the General
// MIDI SoundFont, rendered by the audio output's thread (or pulled offline by
// the caller), playing what the performance hands it through PortPlayback.
#pragma once

#include "platform/audio/AudioOutput.h"
#include "platform/dmusic/RefCounted.h"
#include "platform/performance/MusicPort.h"
#include "platform/synth/FluidSink.h"
#include "platform/synth/PeakLimiter.h"
#include "platform/synth/SynthConfig.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

struct _fluid_hashtable_t;
struct _fluid_synth_t;

namespace qorn::platform {

class SynthPort final : public RefCounted<MusicPort>, private PortControls {
  public:
    // Frames FluidSynth renders at a time; events take effect on this grid.
    static constexpr int kBlockFrames = 64;

    // Loads the SoundFont; null with the reason in *error when it cannot.
    static SynthPort* Create(const SynthConfig& config, std::string* error);
    // Starts making the synthesizer for `config` with the General MIDI set
    // on a thread of its own; the next Create for the same settings and set
    // takes it (waiting for it if need be), so that a program can show its
    // window meanwhile. Called on the thread that calls Create.
    static void Prepare(const SynthConfig& config);
    // False while a synthesizer Prepare started is still being made.
    static bool Prepared();

    // The synthesizer port behind `port`, or null for any other port.
    static SynthPort* From(IDirectMusicPort* port);

    HRESULT Activate(BOOL enable) override;

    PortPlayback& playback() override { return playback_; }
    void prepare(const music::Sequence& sequence, SequencePlayer& player, bool autoDownload) override;
    bool hasVolume() const override { return true; }

    const SynthConfig& config() const { return config_; }

    // Offline use (rendering tool, tests): no audio output is opened; the
    // caller pulls frames on its own thread instead. Call before Activate.
    void setOffline(bool offline) { offline_ = offline; }
    void renderOffline(float* left, float* right, int frames) { render(left, right, frames); }
    // The next block and the blocks after it in which nothing reaches the
    // synthesizer, up to `frames`, in one FluidSynth call: its threads share
    // the work only over many blocks. Events keep their block, so the samples
    // are those renderOffline gives. A play starts or ends only in the first
    // block of a run. Returns the frames rendered.
    int renderOfflineRun(float* left, float* right, int frames);
    // Frames rendered so far.
    std::uint64_t framesRendered() const { return frame_; }
    // Sees every message reach the synthesizer (set before playing).
    void setEventProbe(SynthEventProbe probe, void* context) { sink_.setProbe(probe, context); }
    // Offline, once a play is over: the notes that reached the synthesizer,
    // and whether any of them sounded (a note on an instrument whose waves
    // are all silent starts no voice).
    std::uint64_t notesPlayed() const { return sink_.notes(); }
    bool anyNoteSounded() const { return sink_.voiced(); }

  private:
    SynthPort(const SynthConfig& config, _fluid_hashtable_t* settings, _fluid_synth_t* synth, int soundFont);
    ~SynthPort() override;

    static bool renderCallback(void* context, float* left, float* right, int frames);
    // Returns false once nothing has played or sounded for a while.
    bool render(float* left, float* right, int frames);
    void renderBlock();
    void setGain(float linearGain) override;
    void playStarting() override;
    void wake() override;
    // GUI thread: puts the piece's instrument collections on the synthesizer;
    // their SoundFont ids by collection index.
    std::vector<int> loadCollections(const music::Sequence& sequence);
    // The GUI thread's access to the synthesizer: the audio thread outputs a
    // silent block rather than wait while it is held.
    void lockGate();
    void unlockGate() { gate_.store(false, std::memory_order_release); }

    SynthConfig config_;
    _fluid_hashtable_t* settings_;
    _fluid_synth_t* synth_;
    int soundFont_;
    FluidSink sink_;
    PortPlayback playback_;
    std::unique_ptr<AudioOutput> output_;
    bool offline_ = false;
    std::atomic<bool> gate_{false};
    std::vector<bool> pinned_;
    // Collections on the synthesizer and their SoundFont ids.
    std::vector<std::pair<const dls::Collection*, int>> collections_;
    float block_[2][kBlockFrames] = {};
    // Last on the output: keeps loud settings from clipping.
    PeakLimiter<kBlockFrames> limiter_;
    int blockPos_ = kBlockFrames;
    std::uint64_t frame_ = 0;
    // Real-time side: the channels a band has set to play drums, a bit each.
    std::uint16_t drumChannels_ = std::uint16_t{1} << music::kDrumChannel;
    // Audio thread: frames in a row with no play, and with no play, no
    // voice and no sound either.
    std::uint64_t idleFrames_ = 0;
    std::uint64_t quietFrames_ = 0;
    // Master volume as a factor, for the waves mixed after the synthesizer.
    std::atomic<float> waveGain_{1.0f};
};

} // namespace qorn::platform
