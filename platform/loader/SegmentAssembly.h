// The loader's path for a segment file: the segment is read, what its
// style composes is added, segments its trigger track names are read the
// same way and merged in at their times, its mute track is applied, and
// the result becomes one Sequence that also carries the segment's waves.
#pragma once

#include "platform/formats/segment/ObjectCache.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qorn::platform {

// Triggered segments that trigger others are followed this deep (the first
// level is 1), and no more than kMaxTriggeredSegments are read for one load:
// a segment that triggers itself plays a bounded number of copies.
inline constexpr int kMaxTriggerDepth = 4;
inline constexpr int kMaxTriggeredSegments = 64;

// Same contract as formats::segment::LoadSegmentSequence: false with a
// message only when `bytes` are not a usable segment; what is missing or
// skipped goes to `warnings`. `seed` makes style composition repeatable.
bool LoadSegmentWithTracks(std::span<const std::uint8_t> bytes, const std::string& path,
                           formats::segment::ObjectCache& cache, std::shared_ptr<const music::Sequence>& out,
                           std::string* error, std::vector<std::string>* warnings = nullptr, std::uint32_t seed = 0);

} // namespace qorn::platform
