// Segments that name a style instead of carrying notes: their style, chord
// and command tracks are read from the file, the style is found (inside
// the segment or through the loader's resolver) and what it composes is
// added to the segment as a sequence track, with the style's band and
// tempo where the segment has none of its own.
#pragma once

#include "platform/formats/segment/ObjectCache.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/formats/segment/SegmentFile.h"
#include "platform/formats/style/StyleFile.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qorn::composer {

struct StyleTracks {
    std::vector<formats::style::StyleReference> styles;
    bool hasChords = false;
    formats::style::ChordTrack chords;
    std::vector<formats::style::Command> commands;
};

// The style-related tracks of a segment file (RIFF 'DMSG'); styles stored
// in the file are matched to the references here. Nothing is found in a
// segment without such tracks.
void ReadStyleTracks(std::span<const std::uint8_t> segmentBytes, const formats::segment::ReferenceResolver& resolver,
                     StyleTracks& out, std::vector<std::string>& warnings);

// Composes the segment's styles over its length into `segment`. Returns
// whether anything was composed.
bool AddStyleComposition(std::span<const std::uint8_t> segmentBytes,
                         const formats::segment::ReferenceResolver& resolver, formats::segment::SegmentFile& segment,
                         std::uint32_t seed);

// The segment loader's path for any segment: read, compose what a style
// track asks for, build the Sequence. Same contract as
// formats::segment::LoadSegmentSequence.
bool LoadComposedSegmentSequence(std::span<const std::uint8_t> bytes, const std::string& path,
                                 formats::segment::ObjectCache& cache, std::shared_ptr<const music::Sequence>& out,
                                 std::string* error, std::vector<std::string>* warnings = nullptr,
                                 std::uint32_t seed = 0);

} // namespace qorn::composer
