// Waves and segments stored inside a segment file (directly in the segment
// form or in its 'DMCN' container), for the wave and trigger tracks to
// match their references against.
#pragma once

#include "platform/formats/segment/ReferenceResolver.h"

#include <span>
#include <vector>

namespace qorn::formats::segment {

inline constexpr std::uint32_t kWaveForm = ByteReader::fourCC("WAVE");
inline constexpr std::uint32_t kSegmentFormType = ByteReader::fourCC("DMSG");

// The embedded 'WAVE' and 'DMSG' forms of the segment `file` (whose own
// form is not one of them); `bytes` of each point into `file`.
void CollectEmbeddedMedia(std::span<const std::uint8_t> file, std::vector<EmbeddedObject>& out);

} // namespace qorn::formats::segment
