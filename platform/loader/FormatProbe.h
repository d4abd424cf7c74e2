// The file formats the loader knows, each recognised by its content: a cheap
// look at the first bytes, then the reader that builds the playable Sequence.
// A new format adds one entry to FormatProbes().
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qorn::platform {

struct FormatProbe {
    const char* name;
    bool (*looksLike)(std::span<const std::uint8_t> bytes);
    // Builds the piece from the whole file; false with a reason when the
    // file is of this format but holds nothing playable. What the reader
    // dropped or mended goes to `warnings`.
    bool (*read)(std::span<const std::uint8_t> bytes, std::shared_ptr<const music::Sequence>& out, std::string* error,
                 formats::Diagnostics* warnings);
};

const std::vector<FormatProbe>& FormatProbes();

// What a file of DirectMusic's own that is not a piece (a script, a
// container, a style, ...) is, and for a script or container the segments
// it holds, in words for the user; empty for any other file.
std::string DescribeNonPiece(std::span<const std::uint8_t> bytes);

// The names of the segments a script or container holds, as the loader
// takes them (DMUS_OBJ_NAME); empty for any other file.
std::vector<std::string> HeldSegmentNames(std::span<const std::uint8_t> bytes);

} // namespace qorn::platform
