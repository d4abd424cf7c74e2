// The loader's path for a segment file: the segment is read, what its
// style composes is added, segments its trigger track names are read the
// same way and merged in at their times, its mute track is applied, and
// the result becomes one Sequence that also carries the segment's waves.
#pragma once

#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/segment/ObjectCache.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/loader/Composition.h"
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
inline constexpr int kMaxTriggerDepth = limits::kMaxTriggerDepth;
inline constexpr int kMaxTriggeredSegments = limits::kMaxTriggeredSegments;

// What a segment composed from a style keeps to compose itself again.
struct ComposeInput;

// Where a segment held in a script or container lies: the objects that file
// carries (found before anything outside it) and the segment's place in it.
struct HostFile {
    std::vector<formats::segment::EmbeddedObject> objects;
    std::size_t segmentOffset = 0;
    // How its reports name it ("game.spt: Intro").
    std::string label;
};

// The one road from a segment file to what plays: `bytes` are the content
// of the file at `path` (whose folder, with `cache`, is where references
// are looked for). The segment is read, its style tracks composed, its
// wave, trigger and mute tracks applied, and all of it becomes `out`.
// False with a message only when `bytes` are not a usable segment; what is
// missing or skipped goes to `diagnostics`, each report naming `path` as
// its file. `seed` makes style composition repeatable. With `recompose`, a
// segment whose own style track composes its music hands out what it takes
// to compose it again (null for any other); so does a segment whose wave
// parts choose among variations, for each play to choose anew. `silent`
// receives what the segment holds that does not sound here, one entry per
// kind. With `host`, `bytes` are a segment the file at `path` holds.
bool LoadSegmentWithTracks(std::span<const std::uint8_t> bytes, const std::string& path,
                           formats::segment::ObjectCache& cache, std::shared_ptr<const music::Sequence>& out,
                           std::string* error, formats::Diagnostics* diagnostics = nullptr, std::uint32_t seed = 0,
                           std::shared_ptr<const ComposeInput>* recompose = nullptr,
                           std::vector<std::string>* silent = nullptr, const HostFile* host = nullptr);

// How a template or a style opened alone is composed at this load, and the
// line that says from what (filled by the load).
struct TemplateLoad {
    CompositionOptions options;
    std::uint32_t seed = 0;
    std::string line;
};

// A template is a segment with a signpost track: with `templateLoad`, its
// chords are composed from a chordmap (see ComposeTemplate) with
// templateLoad->seed, and its style plays them as a style segment's would.
bool LoadTemplateOrSegment(std::span<const std::uint8_t> bytes, const std::string& path,
                           formats::segment::ObjectCache& cache, TemplateLoad& templateLoad,
                           std::shared_ptr<const music::Sequence>& out, std::string* error,
                           formats::Diagnostics* diagnostics, std::uint32_t seed,
                           std::shared_ptr<const ComposeInput>* recompose, std::vector<std::string>* silent,
                           const HostFile* host = nullptr);

// A style file opened alone: a template made from the options' shape and
// length (or the options' motif alone) composed the same way.
bool LoadStyleAlone(std::span<const std::uint8_t> bytes, const std::string& path, formats::segment::ObjectCache& cache,
                    TemplateLoad& templateLoad, std::shared_ptr<const music::Sequence>& out, std::string* error,
                    formats::Diagnostics* diagnostics, std::shared_ptr<const ComposeInput>* recompose);

// The seed the load composed with.
std::uint32_t LoadSeedOf(const ComposeInput& input);

// Ticks [start, end) of the loaded piece; kToTheEnd: all that follows.
inline constexpr std::uint32_t kToTheEnd = 0xFFFFFFFFu;
struct TickSpan {
    std::uint32_t start = 0;
    std::uint32_t end = kToTheEnd;
    // Composed from the segment's own start, before its play start, as the
    // load composed the first pass.
    bool fromSegmentStart = false;
};

// Composes the spans in turn, the composition going on from one to the
// next as a player composing while it plays (see composer::SpanComposer).
// Each result is the whole piece as loaded, with the composed music of its
// span only. Triggered segments keep the music composed at load.
std::vector<std::shared_ptr<const music::Sequence>> ComposePasses(const ComposeInput& input, std::uint32_t seed,
                                                                  const std::vector<TickSpan>& spans);

} // namespace qorn::platform
