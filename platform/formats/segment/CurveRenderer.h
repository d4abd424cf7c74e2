// Turns a controller, pitch-bend or pressure curve of a sequence track into
// the values it passes through: one point per step of music time, emitted
// only when the value changes, and always the end value.
#pragma once

#include "SegmentFile.h"
#include "platform/formats/common/Limits.h"

#include <cstdint>
#include <functional>

namespace qorn::formats::segment {

// Step between samples of a curve: 1/256 of a whole note (fine enough that
// a pitch-bend sweep sounds continuous).
inline constexpr std::int64_t kCurveStepTicks = kTicksPerQuarter / 64;
// Upper bound of points for one curve; longer curves are sampled coarser.
inline constexpr std::int64_t kMaxPointsPerCurve = limits::kMaxPointsPerCurve;

// The largest value of the curve's kind (127 or 16383).
int CurveMaxValue(const CurveItem& curve);

// Position 0..1 along the curve mapped through its shape.
double ShapeCurve(std::uint8_t shape, double position);

// Calls emit(tick, value) for each point, `start` being the curve's start
// tick. Values are clamped to the curve kind's range. Returns the number of
// points emitted.
std::size_t RenderCurve(const CurveItem& curve, std::int64_t start,
                        const std::function<void(std::int64_t tick, int value)>& emit);

} // namespace qorn::formats::segment
