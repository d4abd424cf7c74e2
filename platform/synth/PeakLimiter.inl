// PeakLimiter's inline definitions (a template over the block size).
#pragma once

#include <algorithm>
#include <cmath>

namespace qorn::platform {

namespace limiter_detail {

// Recovery from a peak: about 50 ms to come most of the way back, slow
// enough not to pump, quick enough to keep the loudness.
inline constexpr double kReleaseSeconds = 0.05;

} // namespace limiter_detail

template <int BlockFrames> PeakLimiter<BlockFrames>::PeakLimiter(double sampleRate)
    : release_(static_cast<float>(
          1.0 - std::exp(-double(BlockFrames) / (std::max(sampleRate, 1.0) * limiter_detail::kReleaseSeconds)))) {}

template <int BlockFrames> void PeakLimiter<BlockFrames>::process(float* left, float* right) {
    // Loudest sample from each frame to the end of the block: the gain at a
    // frame must already keep every later peak of the block under the
    // ceiling, so it falls ahead of a peak instead of at it.
    float ahead[BlockFrames];
    float peak = 0.0f;
    for (int i = BlockFrames - 1; i >= 0; --i) {
        const float m = std::max(std::fabs(left[i]), std::fabs(right[i]));
        // A non-finite sample counts as loud: the gain goes down, not astray.
        peak = std::max(peak, std::isfinite(m) ? m : 1e30f);
        ahead[i] = peak;
    }
    const float released = gain_ + (1.0f - gain_) * release_;
    // Back to exactly unity once close, so quiet passages are untouched.
    float end = released > 0.9999f ? 1.0f : released;
    if (peak > kCeiling) end = std::min(end, kCeiling / peak);
    if (gain_ == 1.0f && end == 1.0f) return;

    const float start = gain_;
    const float step = (end - start) / float(BlockFrames);
    for (int i = 0; i < BlockFrames; ++i) {
        float g = start + step * float(i + 1);
        if (ahead[i] * g > kCeiling) g = kCeiling / ahead[i];
        left[i] *= g;
        right[i] *= g;
    }
    gain_ = end;
}

} // namespace qorn::platform
