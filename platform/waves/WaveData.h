// Sampled sound of a wave track: a RIFF WAVE file (a referenced .wav or
// one stored inside a segment) read into floating-point frames.
#pragma once

#include "platform/formats/common/Limits.h"
#include "platform/formats/riff/RiffChunk.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorn::waves {

// Longer waves are refused: about 25 minutes at 44.1 kHz, far beyond any
// wave a segment plays, and it bounds what a hostile header can make us hold.
inline constexpr std::size_t kMaxFrames = limits::kMaxWaveFrames;

struct WaveData {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 1; // 1 or 2
    // Interleaved, full scale at +-1.
    std::vector<float> samples;
    // The loop the file itself stores ('wsmp' or 'smpl'), in frames.
    bool hasLoop = false;
    std::uint32_t loopStart = 0;
    std::uint32_t loopLength = 0;

    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Whole file; false with a reason when it is not mono or stereo, or not in
// a format the wave decoder knows (PCM, float, Microsoft ADPCM, MPEG audio).
bool ReadWaveFile(std::span<const std::uint8_t> bytes, WaveData& out, std::string* error);
// A 'WAVE' form already found in a larger file.
bool ReadWaveForm(const formats::riff::Chunk& form, WaveData& out, std::string* error);

} // namespace qorn::waves
