#include "StyleFile.h"

namespace qorn::formats::style {

namespace {
constexpr std::uint32_t kWholeNoteTicks = segment::kTicksPerQuarter * 4;
}

std::uint32_t TimeSignature::beatTicks() const {
    // A beat of 0 or one finer than a 1/256 note is damage, not music.
    if (beat == 0 || beat > 64) return segment::kTicksPerQuarter;
    return kWholeNoteTicks / beat;
}

std::uint32_t TimeSignature::gridTicks() const {
    const std::uint32_t grids = gridsPerBeat == 0 ? 1u : gridsPerBeat;
    const std::uint32_t t = beatTicks() / grids;
    return t == 0 ? 1u : t;
}

std::uint32_t TimeSignature::measureTicks() const {
    const std::uint32_t beats = beatsPerMeasure == 0 ? 4u : beatsPerMeasure;
    return beats * beatTicks();
}

std::int64_t TimeSignature::gridToTicks(std::int32_t grid) const {
    const std::int64_t grids = gridsPerBeat == 0 ? 1 : gridsPerBeat;
    const std::int64_t g = grid;
    // Whole beats first so grids that do not divide a beat evenly do not
    // drift across a pattern.
    std::int64_t beats = g / grids;
    std::int64_t within = g % grids;
    if (within < 0) {
        within += grids;
        beats -= 1;
    }
    return beats * beatTicks() + within * gridTicks();
}

std::uint32_t Pattern::lengthTicks() const {
    const std::uint32_t m = measures == 0 ? 1u : measures;
    return m * timeSignature.measureTicks();
}

} // namespace qorn::formats::style
