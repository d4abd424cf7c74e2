// The last stage of the synthesizer's output: a peak limiter, so master
// volumes above 0 dB get louder without clipping. Below full scale it
// passes the signal through unchanged; only around peaks does it lower the
// gain, ramping down across the block that brings the peak (the whole block
// is known before it is played, so no delay is added) and back up after.
#pragma once

namespace qorn::platform {

template <int BlockFrames> class PeakLimiter {
  public:
    // Highest magnitude the output reaches: just under 16-bit full scale.
    static constexpr float kCeiling = 0.999f;

    explicit PeakLimiter(double sampleRate);

    // Audio thread: limits one block in place; no allocation, no lock.
    void process(float* left, float* right);

    float gain() const { return gain_; }

  private:
    float gain_ = 1.0f;
    // Share of the way back to unity gain made per block.
    float release_;
};

} // namespace qorn::platform

#include "platform/synth/PeakLimiter.inl"
