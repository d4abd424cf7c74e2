// Segments that name a style instead of carrying notes: what the style
// composes over the segment's chords and commands (read by the segment's
// track readers) is added to the segment as sequence tracks, with the
// style's band and tempo where the segment has none of its own.
#pragma once

#include "StyleComposer.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/formats/segment/SegmentFile.h"
#include "platform/formats/segment/tracks/StyleTracks.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qorn::composer {

using StyleTracks = formats::segment::StyleTracks;

// What composing a segment's styles needs, kept by a loaded segment so
// that each play can compose it anew.
struct StyleComposeInput {
    StyleTracks tracks; // only styles that were found
    std::int32_t length = 0;
    // The sequence tracks a composition makes.
    std::size_t trackCount() const { return tracks.styles.size() + tracks.patterns.size() + tracks.motifs.size(); }
};

// The PChannels a composition of `input` may play notes on, whichever
// patterns and variations it chooses; unsorted, with repeats.
std::vector<std::uint32_t> ComposedPChannels(const StyleComposeInput& input);

// Composes the styles of one segment span after span (see SpanComposer):
// one sequence track per style, in the order of the style track, then one
// per pattern track and one per motif.
class SegmentStyleComposer {
  public:
    SegmentStyleComposer(std::shared_ptr<const StyleComposeInput> input, std::uint32_t seed);
    // [start, end) of segment time; `truncated` is set when a bound cut it.
    std::vector<formats::segment::Track> compose(std::int32_t start, std::int32_t end, bool* truncated = nullptr);

  private:
    std::shared_ptr<const StyleComposeInput> input_;
    std::vector<std::unique_ptr<SpanComposer>> composers_;
};

// The motif of `style` called `name` (its pattern index), -1 when it has none.
int FindMotif(const formats::style::Style& style, const std::string& name);

// Adds the first band of `style` to `segment` as a band track at `time`,
// its collections found through `resolver`; nothing when it has no band.
void AddStyleBand(const formats::style::Style& style, std::int32_t time,
                  const formats::segment::ReferenceResolver& resolver, formats::segment::SegmentFile& segment);

// Composes the styles, pattern tracks and motifs of the segment (see
// formats::segment::ReadStyleTracks) over its length into `segment`, with
// the first style's band (its collections found through `resolver`) and
// tempo where the segment has none; a segment that only starts motifs takes
// the band of the first motif's style where it has none. Returns whether
// anything was composed. With `kept`, what was composed from is handed out
// (null when the segment composes nothing).
bool AddStyleComposition(StyleTracks tracks, const formats::segment::ReferenceResolver& resolver,
                         formats::segment::SegmentFile& segment, std::uint32_t seed,
                         std::shared_ptr<const StyleComposeInput>* kept = nullptr);

} // namespace qorn::composer
