// PeakLimiter's inline definitions (a template over the block size).
#pragma once

#include <algorithm>
#include <cmath>

namespace qorn::platform {

namespace limiter_detail {

// Recovery from a peak: about 80 ms to come most of the way back, slow
// enough not to pump, quick enough to keep the loudness.
inline constexpr double kReleaseSeconds = 0.08;

inline float Peak(const float* left, const float* right, int frames) {
    float peak = 0.0f;
    for (int i = 0; i < frames; ++i)
        peak = std::max(peak, std::max(std::fabs(left[i]), std::fabs(right[i])));
    // A non-finite sample counts as loud: the gain goes down, not astray.
    return std::isfinite(peak) ? peak : 1e30f;
}

} // namespace limiter_detail

template <int BlockFrames>
PeakLimiter<BlockFrames>::PeakLimiter(double sampleRate)
    : release_(static_cast<float>(
          1.0 - std::exp(-double(BlockFrames) / (std::max(sampleRate, 1.0) * limiter_detail::kReleaseSeconds)))) {}

template <int BlockFrames> void PeakLimiter<BlockFrames>::process(float* left, float* right) {
    const float incomingPeak = limiter_detail::Peak(left, right, BlockFrames);
    // The gain at the end of the delayed block keeps both it and the block
    // after it under the ceiling; the gain at its start already kept it
    // there (it was chosen looking one block ahead), so the ramp between
    // them does too.
    float target = 1.0f;
    for (const float peak : {delayedPeak_, incomingPeak})
        if (peak > kCeiling) target = std::min(target, kCeiling / peak);
    const float released = gain_ + (1.0f - gain_) * release_;
    // Back to exactly unity once close, so quiet passages are untouched.
    const float end = std::min(released > 0.9999f ? 1.0f : released, target);

    for (int ch = 0; ch < 2; ++ch) {
        float* io = ch == 0 ? left : right;
        float* held = delayed_[ch];
        if (gain_ == 1.0f && end == 1.0f) {
            for (int i = 0; i < BlockFrames; ++i)
                std::swap(io[i], held[i]);
            continue;
        }
        const float step = (end - gain_) / float(BlockFrames);
        for (int i = 0; i < BlockFrames; ++i) {
            const float out = held[i] * (gain_ + step * float(i + 1));
            held[i] = io[i];
            io[i] = out;
        }
    }
    gain_ = end;
    delayedPeak_ = incomingPeak;
}

} // namespace qorn::platform
