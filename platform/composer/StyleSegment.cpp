#include "StyleSegment.h"

#include "StyleComposer.h"
#include "platform/formats/dls/DlsReader.h"
#include "platform/formats/segment/SegmentReader.h"

#include <algorithm>
#include <string>

namespace qorn::composer {

namespace seg = formats::segment;
namespace st = formats::style;

SegmentStyleComposer::SegmentStyleComposer(std::shared_ptr<const StyleComposeInput> input, std::uint32_t seed)
    : input_(std::move(input)) {
    if (!input_) return;
    const auto& styles = input_->tracks.styles;
    for (std::size_t i = 0; i < styles.size(); ++i) {
        ComposeRequest request;
        request.style = styles[i].style.get();
        request.commands = input_->tracks.commands;
        request.chords = input_->tracks.chords;
        request.start = std::max(styles[i].time, 0);
        request.end = i + 1 < styles.size() ? std::min(styles[i + 1].time, input_->length) : input_->length;
        request.seed = seed + static_cast<std::uint32_t>(i);
        composers_.push_back(std::make_unique<SpanComposer>(request));
    }
}

std::vector<seg::Track> SegmentStyleComposer::compose(std::int32_t start, std::int32_t end, bool* truncated) {
    std::vector<seg::Track> tracks;
    for (auto& c : composers_) {
        Composition composition = c->compose(start, end);
        if (truncated && composition.truncated) *truncated = true;
        // A style that plays nothing in the span still has its track, so the
        // tracks keep their places whatever the span.
        composition.track.kind = seg::Track::Kind::Sequence;
        tracks.push_back(std::move(composition.track));
    }
    return tracks;
}

bool AddStyleComposition(StyleTracks styleTracks, const seg::ReferenceResolver& resolver, seg::SegmentFile& segment,
                         std::uint32_t seed, std::shared_ptr<const StyleComposeInput>* kept) {
    if (kept) kept->reset();
    if (styleTracks.styles.empty()) return false;
    auto input = std::make_shared<StyleComposeInput>();
    StyleTracks& tracks = input->tracks;
    tracks = std::move(styleTracks);
    const std::int32_t length = segment.header.length;
    if (length <= 0) {
        segment.warnings.push_back("style segment without a length: nothing composed");
        return false;
    }
    input->length = length;
    bool truncated = false;
    bool composed = false;
    for (auto& track : SegmentStyleComposer(input, seed).compose(0, length, &truncated)) {
        composed = composed || !track.events.empty() || !track.curves.empty();
        segment.tracks.push_back(std::move(track));
    }
    if (truncated) segment.warnings.push_back("composition cut at its size bound");
    if (kept) *kept = input;

    const st::Style& first = *tracks.styles.front().style;
    auto has = [&](seg::Track::Kind kind) {
        return std::any_of(segment.tracks.begin(), segment.tracks.end(),
                           [kind](const seg::Track& t) { return t.kind == kind; });
    };
    if (!has(seg::Track::Kind::Band) && !first.bands.empty()) {
        seg::Track band;
        band.kind = seg::Track::Kind::Band;
        band.bands.push_back(first.bands.front());
        band.bands.back().time = 0;
        // A style's band names its collections like a segment's band does:
        // resolve them the same way (the segment's folder, then what the
        // loader already holds); a part whose collection is missing plays
        // from the General MIDI set.
        std::vector<std::string> missing;
        for (auto& inst : band.bands.back().instruments) {
            inst.collection = -1;
            if (!inst.hasReference) continue;
            std::string damage;
            auto collection = resolver.findCollection(inst.reference, &damage);
            const auto& ref = inst.reference;
            const std::string name = "'" + (ref.file.empty() ? ref.name : ref.file) + "'";
            if (!collection) {
                // Said once for each collection, however many parts use it.
                if (std::find(missing.begin(), missing.end(), name) == missing.end()) {
                    missing.push_back(name);
                    const std::string problem =
                        damage.empty() ? "instrument collection " + name + " of the style's band not found"
                                       : "collection " + name + " of the style's band is damaged: " + damage;
                    segment.warnings.add({formats::Severity::Warning,
                                          "collection " + name,
                                          {},
                                          formats::kNoOffset,
                                          problem + ": its parts play General MIDI"});
                }
                continue;
            }
            auto it = std::find(segment.collections.begin(), segment.collections.end(), collection);
            inst.collection = static_cast<int>(it - segment.collections.begin());
            if (it == segment.collections.end()) {
                dls::NoteCollection(*collection, name, segment.warnings);
                segment.collections.push_back(std::move(collection));
            }
        }
        seg::CheckBandPatches(band.bands.back(), segment.collections, segment.warnings);
        segment.tracks.push_back(std::move(band));
    }
    if (!has(seg::Track::Kind::Tempo)) {
        seg::Track tempo;
        tempo.kind = seg::Track::Kind::Tempo;
        tempo.tempos.push_back({0, first.tempo});
        segment.tracks.push_back(std::move(tempo));
    }
    return composed;
}

} // namespace qorn::composer
