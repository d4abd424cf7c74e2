// Segments that name a style instead of carrying notes: their style, chord
// and command tracks are read from the file, the style is found (inside
// the segment or through the loader's resolver) and what it composes is
// added to the segment as a sequence track, with the style's band and
// tempo where the segment has none of its own.
#pragma once

#include "StyleComposer.h"
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

// What composing a segment's styles needs, kept by a loaded segment so
// that each play can compose it anew.
struct StyleComposeInput {
    StyleTracks tracks; // only styles that were found
    std::int32_t length = 0;
};

// Composes the styles of one segment span after span (see SpanComposer):
// one sequence track per style, in the order of the style track.
class SegmentStyleComposer {
  public:
    SegmentStyleComposer(std::shared_ptr<const StyleComposeInput> input, std::uint32_t seed);
    // [start, end) of segment time; `truncated` is set when a bound cut it.
    std::vector<formats::segment::Track> compose(std::int32_t start, std::int32_t end, bool* truncated = nullptr);

  private:
    std::shared_ptr<const StyleComposeInput> input_;
    std::vector<std::unique_ptr<SpanComposer>> composers_;
};

// Composes the segment's styles over its length into `segment`. Returns
// whether anything was composed. With `kept`, what was composed from is
// handed out (null when the segment composes nothing).
bool AddStyleComposition(std::span<const std::uint8_t> segmentBytes,
                         const formats::segment::ReferenceResolver& resolver, formats::segment::SegmentFile& segment,
                         std::uint32_t seed, std::shared_ptr<const StyleComposeInput>* kept = nullptr);

// The segment loader's path for any segment: read, compose what a style
// track asks for, build the Sequence. Same contract as
// formats::segment::LoadSegmentSequence.
bool LoadComposedSegmentSequence(std::span<const std::uint8_t> bytes, const std::string& path,
                                 formats::segment::ObjectCache& cache, std::shared_ptr<const music::Sequence>& out,
                                 std::string* error, std::vector<std::string>* warnings = nullptr,
                                 std::uint32_t seed = 0);

} // namespace qorn::composer
