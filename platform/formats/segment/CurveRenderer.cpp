#include "CurveRenderer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qorn::formats::segment {

int CurveMaxValue(const CurveItem& curve) {
    switch (static_cast<CurveKind>(curve.kind)) {
    case CurveKind::PitchBend:
    case CurveKind::Rpn:
    case CurveKind::Nrpn:
        return 16383;
    default:
        return 127;
    }
}

double ShapeCurve(std::uint8_t shape, double x) {
    x = std::clamp(x, 0.0, 1.0);
    switch (static_cast<CurveShape>(shape)) {
    case CurveShape::Instant:
        return 1.0;
    case CurveShape::Exponential:
        // Slow start, fast finish.
        return x * x * x;
    case CurveShape::Logarithmic: {
        const double y = 1.0 - x;
        return 1.0 - y * y * y;
    }
    case CurveShape::Sine:
        return (1.0 - std::cos(std::numbers::pi * x)) / 2.0;
    case CurveShape::Linear:
    default:
        return x;
    }
}

std::size_t RenderCurve(const CurveItem& curve, std::int64_t start,
                        const std::function<void(std::int64_t, int)>& emit) {
    const int maxValue = CurveMaxValue(curve);
    auto clampValue = [&](double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, maxValue); };
    const int endValue = clampValue(curve.endValue);
    const std::int64_t duration = curve.duration;
    if (duration <= 0 || curve.shape == static_cast<std::uint8_t>(CurveShape::Instant)) {
        emit(start, endValue);
        return 1;
    }
    const std::int64_t step =
        std::max<std::int64_t>(kCurveStepTicks, (duration + kMaxPointsPerCurve - 1) / kMaxPointsPerCurve);
    std::size_t count = 0;
    int last = -1;
    for (std::int64_t t = 0; t < duration; t += step) {
        const double f = ShapeCurve(curve.shape, static_cast<double>(t) / static_cast<double>(duration));
        const int v = clampValue(curve.startValue + (curve.endValue - curve.startValue) * f);
        if (v != last) {
            emit(start + t, v);
            ++count;
            last = v;
        }
    }
    if (endValue != last) {
        emit(start + duration, endValue);
        ++count;
    }
    return count;
}

} // namespace qorn::formats::segment
