#include "StyleSegment.h"

#include "StyleComposer.h"
#include "platform/formats/dls/DlsReader.h"
#include "platform/formats/segment/SegmentReader.h"

#include <algorithm>
#include <set>
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
    // A pattern track plays its pattern over the segment's chords from the
    // start to the end; commands choose nothing for it.
    const auto& patterns = input_->tracks.patterns;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        ComposeRequest request;
        request.style = patterns[i].get();
        request.chords = input_->tracks.chords;
        request.end = input_->length;
        request.seed = seed + static_cast<std::uint32_t>(styles.size() + i);
        request.onlyPattern = 0;
        composers_.push_back(std::make_unique<SpanComposer>(request));
    }
    // A motif plays from its time over the segment's chords, once and then
    // as often as it repeats, never past the segment's end (a motif that
    // repeats for ever plays to the end).
    const auto& motifs = input_->tracks.motifs;
    for (std::size_t i = 0; i < motifs.size(); ++i) {
        const auto& m = motifs[i];
        ComposeRequest request; // composes nothing unless the motif is there
        if (m.style && m.pattern >= 0 && std::size_t(m.pattern) < m.style->patterns.size()) {
            const st::Pattern& motif = m.style->patterns[std::size_t(m.pattern)];
            request.style = m.style.get();
            request.chords = input_->tracks.chords;
            request.start = std::clamp(m.time, 0, input_->length);
            const std::int64_t length = motif.lengthTicks();
            const std::int64_t plays = std::min<std::int64_t>(std::int64_t{motif.motifRepeats} + 1,
                                                              (input_->length - request.start) / length + 1);
            request.end =
                static_cast<std::int32_t>(std::min<std::int64_t>(request.start + length * plays, input_->length));
            request.seed = seed + static_cast<std::uint32_t>(styles.size() + patterns.size() + i);
            request.onlyPattern = m.pattern;
        }
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

std::vector<std::uint32_t> ComposedPChannels(const StyleComposeInput& input) {
    std::vector<std::uint32_t> out;
    auto add = [&](const st::Style& style, const st::Pattern& pattern) {
        for (const auto& ref : pattern.partRefs)
            if (ref.part >= 0 && std::size_t(ref.part) < style.parts.size() &&
                !style.parts[std::size_t(ref.part)].notes.empty())
                out.push_back(ref.pchannel);
    };
    for (const auto& s : input.tracks.styles)
        if (s.style)
            for (const auto& pattern : s.style->patterns)
                add(*s.style, pattern);
    for (const auto& style : input.tracks.patterns)
        if (style)
            for (const auto& pattern : style->patterns)
                add(*style, pattern);
    for (const auto& m : input.tracks.motifs)
        if (m.style && m.pattern >= 0 && std::size_t(m.pattern) < m.style->patterns.size())
            add(*m.style, m.style->patterns[std::size_t(m.pattern)]);
    return out;
}

int FindMotif(const st::Style& style, const std::string& name) {
    for (std::size_t i = 0; i < style.patterns.size(); ++i) {
        const auto& p = style.patterns[i];
        if ((p.embellishment & st::embellishment::kMotif) && p.name == name) return static_cast<int>(i);
    }
    return -1;
}

void AddStyleBand(const st::Style& style, std::int32_t time, const seg::ReferenceResolver& resolver,
                  seg::SegmentFile& segment) {
    if (style.bands.empty()) return;
    seg::Track band;
    band.kind = seg::Track::Kind::Band;
    band.bands.push_back(style.bands.front());
    band.bands.back().time = time;
    // A style's band names its collections like a segment's band does:
    // resolve them the same way (the segment's folder, then what the
    // loader already holds); a part whose collection is missing plays
    // as a segment's band would have it play.
    std::set<std::string> said;
    for (auto& inst : band.bands.back().instruments) {
        inst.collection = -1;
        if (!inst.hasReference) continue;
        std::string damage;
        auto collection = resolver.findCollection(inst.reference, &damage);
        const auto& ref = inst.reference;
        const std::string name = "'" + (ref.file.empty() ? ref.name : ref.file) + "'";
        if (!collection) {
            inst.collection = seg::MissingCollection(inst, name, damage, segment.warnings, said);
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

bool AddStyleComposition(StyleTracks styleTracks, const seg::ReferenceResolver& resolver, seg::SegmentFile& segment,
                         std::uint32_t seed, std::shared_ptr<const StyleComposeInput>* kept) {
    if (kept) kept->reset();
    if (styleTracks.styles.empty() && styleTracks.patterns.empty() && styleTracks.motifs.empty()) return false;
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

    auto has = [&](seg::Track::Kind kind) {
        return std::any_of(segment.tracks.begin(), segment.tracks.end(),
                           [kind](const seg::Track& t) { return t.kind == kind; });
    };
    // A pattern track brings no band or tempo, nor does a motif: the
    // segment's own play them.
    if (tracks.styles.empty()) {
        if (!tracks.motifs.empty() && !has(seg::Track::Kind::Band))
            AddStyleBand(*tracks.motifs.front().style, 0, resolver, segment);
        return composed;
    }
    const st::Style& first = *tracks.styles.front().style;
    if (!has(seg::Track::Kind::Band)) AddStyleBand(first, 0, resolver, segment);
    if (!has(seg::Track::Kind::Tempo)) {
        seg::Track tempo;
        tempo.kind = seg::Track::Kind::Tempo;
        tempo.tempos.push_back({0, first.tempo});
        segment.tracks.push_back(std::move(tempo));
    }
    return composed;
}

} // namespace qorn::composer
