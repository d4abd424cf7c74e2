// Readers of the style, chord and command tracks of a style-based segment:
// which styles play from when, the chords they follow and the grooves and
// embellishments asked for. A style the style track names is found inside
// the segment, or through the resolver beside it.
#pragma once

#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qorn::formats::segment {

struct StyleTracks {
    std::vector<style::StyleReference> styles;
    bool hasChords = false;
    style::ChordTrack chords;
    std::vector<style::Command> commands;
};

// The style-related tracks of a segment file (RIFF 'DMSG'); only styles
// that were found are kept, and each one not found is reported. Nothing is
// found in a segment without such tracks.
void ReadStyleTracks(std::span<const std::uint8_t> segmentBytes, const ReferenceResolver& resolver, StyleTracks& out,
                     Diagnostics& warnings);

} // namespace qorn::formats::segment
