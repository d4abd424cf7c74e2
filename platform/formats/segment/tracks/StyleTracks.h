// Readers of the style, chord, command and pattern tracks of a style-based
// segment: which styles play from when, the chords they follow, the grooves
// and embellishments asked for, and the patterns the segment carries
// itself. A style the style track names is found inside the segment, or
// through the resolver beside it.
#pragma once

#include "platform/formats/chordmap/ChordmapFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qorn::formats::segment {

// A motif a trigger item starts: pattern `pattern` of `style` from `time`.
struct MotifStart {
    std::shared_ptr<const style::Style> style;
    int pattern = -1;
    std::int32_t time = 0;
};

struct StyleTracks {
    std::vector<style::StyleReference> styles;
    // Each pattern track as a style of its one pattern, which plays
    // throughout the segment.
    std::vector<std::shared_ptr<const style::Style>> patterns;
    // Motifs the segment's trigger items start (not read here).
    std::vector<MotifStart> motifs;
    bool hasChords = false;
    style::ChordTrack chords;
    std::vector<style::Command> commands;
    // A template: its signpost track, and the chordmaps it names (not
    // looked for here).
    bool hasSignposts = false;
    std::vector<chordmap::Signpost> signposts;
    std::vector<chordmap::ChordmapReference> chordmaps;
};

// The style `ref` names, inside the segment (`embedded`) or beside it; null,
// with a warning, when it cannot be found or read.
std::shared_ptr<const style::Style> FindStyle(const ObjectReference& ref, const std::vector<EmbeddedObject>& embedded,
                                              const ReferenceResolver& resolver, Diagnostics& warnings);

// The style-related tracks of a segment file (RIFF 'DMSG'); only styles
// that were found are kept, and each one not found is reported. Nothing is
// found in a segment without such tracks.
void ReadStyleTracks(std::span<const std::uint8_t> segmentBytes, const ReferenceResolver& resolver, StyleTracks& out,
                     Diagnostics& warnings);

} // namespace qorn::formats::segment
