// The waves of one play, mixed into the synthesizer's output block by
// block. The waves are converted to the output's rate when the play is
// prepared (GUI thread); starting, stopping and mixing (audio thread) only
// move indices through fixed arrays, so nothing allocates or locks there.
#pragma once

#include "platform/music/Sequence.h"
#include "platform/waves/WaveData.h"

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace qorn::waves {

// A wave at the output's rate, one array per side.
struct PreparedWave {
    std::vector<float> left;
    std::vector<float> right;
    // The file's loop at the output's rate.
    bool hasLoop = false;
    std::uint32_t loopStart = 0;
    std::uint32_t loopEnd = 0;
    // Frames of the output per frame of the file.
    double ratio = 1.0;
};

// Linear interpolation: waves are short sound effects and speech, where
// its mild high-frequency loss is not heard under the synthesizer.
PreparedWave PrepareWave(const WaveData& wave, int outputRate);

class WaveVoices {
  public:
    // Waves sounding at once; further starts are dropped until one ends.
    static constexpr int kMaxVoices = 32;

    WaveVoices(const music::Sequence& sequence, int outputRate);

    // --- audio thread ---
    // Starts item `item` with its first `skipFrames` frames already past
    // (it was due that long before the next frame mixed).
    void start(const music::WaveItem& item, std::size_t skipFrames);
    // Cuts off the waves whose end tick the play has reached.
    void endBefore(double tick);
    void stopAll();
    // Adds the sounding waves to `frames` frames of output.
    void mix(float* left, float* right, int frames, float masterGain);
    int sounding() const;

  private:
    struct Voice {
        const PreparedWave* wave = nullptr;
        std::size_t pos = 0;
        float gain = 0;
        bool loop = false;
        std::size_t loopStart = 0;
        std::size_t loopEnd = 0;
        double endTick = std::numeric_limits<double>::infinity();
    };
    std::vector<PreparedWave> waves_;
    std::array<Voice, kMaxVoices> voices_{};
};

} // namespace qorn::waves
