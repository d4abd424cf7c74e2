// A segment file read from disk, all the way to its playable Sequence: the
// reader with references resolved in the file's folder and through the
// loader's cache, then the Sequence builder.
#pragma once

#include "ObjectCache.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qorn::formats::segment {

// `bytes` are the content of the file at `path`. False with a message when
// the bytes are not a usable segment; missing references are not failures.
// `warnings`, when given, receives what was skipped or not found.
bool LoadSegmentSequence(std::span<const std::uint8_t> bytes, const std::string& path, ObjectCache& cache,
                         std::shared_ptr<const music::Sequence>& out, std::string* error,
                         std::vector<std::string>* warnings = nullptr);

} // namespace qorn::formats::segment
