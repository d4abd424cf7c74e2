#include "StyleSegment.h"

#include "StyleComposer.h"
#include "platform/formats/riff/RiffValues.h"
#include "platform/formats/segment/EmbeddedObjects.h"
#include "platform/formats/segment/FolderReferenceResolver.h"
#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/segment/SegmentSequence.h"
#include "platform/formats/style/StyleReader.h"

#include <algorithm>
#include <cmath>

namespace qorn::composer {

namespace riff = formats::riff;
namespace seg = formats::segment;
namespace st = formats::style;
using formats::ByteReader;

namespace {

constexpr std::uint32_t kSegmentForm = ByteReader::fourCC("DMSG");
constexpr std::uint32_t kTrackList = ByteReader::fourCC("trkl");
constexpr std::uint32_t kTrackForm = ByteReader::fourCC("DMTK");
constexpr std::uint32_t kChordList = ByteReader::fourCC("cord");
constexpr std::uint32_t kCommandChunk = ByteReader::fourCC("cmnd");
constexpr std::uint32_t kStyleTrackList = ByteReader::fourCC("sttr");
constexpr std::uint32_t kInfo = ByteReader::fourCC("UNFO");
constexpr std::uint32_t kName = ByteReader::fourCC("UNAM");
constexpr std::uint32_t kGuid = ByteReader::fourCC("guid");
constexpr std::uint32_t kCollectionForm = ByteReader::fourCC("DLS ");
constexpr std::uint32_t kStyleClassData1 = 0xD2AC288A;

struct EmbeddedStyle {
    riff::Chunk form;
    bool hasGuid = false;
    platform::GUID guid{};
    std::string name;
};

// Style forms anywhere in the segment outside its tracks (directly in the
// segment or in a container); the chunk reader bounds the depth, and
// instrument collections, which hold no styles, are not walked.
void CollectStyles(const riff::Chunk& parent, std::vector<EmbeddedStyle>& out) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(parent);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.isForm(st::kStyleForm)) {
            EmbeddedStyle e;
            e.form = c;
            riff::ChunkReader inner = riff::ChunkReader::childrenOf(c);
            riff::Chunk p;
            while (inner.next(p)) {
                if (p.id == kGuid) {
                    ByteReader r = p.body;
                    e.hasGuid = riff::ReadGuid(r, e.guid);
                } else if (p.isForm(kInfo)) {
                    riff::ChunkReader info = riff::ChunkReader::childrenOf(p);
                    riff::Chunk n;
                    while (info.next(n))
                        if (n.id == kName) e.name = riff::ReadUtf16Text(n.body);
                }
            }
            out.push_back(std::move(e));
        } else if (c.isList() && c.type != kTrackList && c.type != kCollectionForm) {
            CollectStyles(c, out);
        }
    }
}

bool IsStyleReference(const seg::ObjectReference& ref) {
    return (ref.validData & seg::ObjectReference::kClass) == 0 || ref.classId.Data1 == kStyleClassData1;
}

std::shared_ptr<const st::Style> FindStyle(const seg::ObjectReference& ref, const std::vector<EmbeddedStyle>& embedded,
                                           const seg::ReferenceResolver& resolver, std::vector<std::string>& warnings) {
    auto read = [&](const riff::Chunk& form) -> std::shared_ptr<const st::Style> {
        auto style = std::make_shared<st::Style>();
        std::string error;
        if (!st::ReadStyleForm(form, *style, warnings, &error)) {
            warnings.push_back(error);
            return nullptr;
        }
        return style;
    };
    for (const auto& e : embedded)
        if (ref.hasObject && e.hasGuid && e.guid == ref.object) return read(e.form);
    for (const auto& e : embedded)
        if (!ref.name.empty() && e.name == ref.name) return read(e.form);
    if (!IsStyleReference(ref)) return nullptr;
    auto bytes = resolver.findFileBytes(ref);
    if (!bytes) {
        warnings.push_back("style '" + (ref.file.empty() ? ref.name : ref.file) + "' not found: nothing composed");
        return nullptr;
    }
    auto style = std::make_shared<st::Style>();
    std::string error;
    if (!st::ReadStyleFile(*bytes, *style, warnings, &error)) {
        warnings.push_back(error);
        return nullptr;
    }
    return style;
}

} // namespace

void ReadStyleTracks(std::span<const std::uint8_t> segmentBytes, const seg::ReferenceResolver& resolver,
                     StyleTracks& out, std::vector<std::string>& warnings) {
    out = StyleTracks{};
    riff::ChunkReader top{ByteReader(segmentBytes)};
    riff::Chunk form;
    if (!top.next(form) || !form.isForm(kSegmentForm)) return;

    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk list;
    while (chunks.next(list)) {
        if (!list.isForm(kTrackList)) continue;
        riff::ChunkReader tracks = riff::ChunkReader::childrenOf(list);
        riff::Chunk track;
        while (tracks.next(track)) {
            if (!track.isForm(kTrackForm)) continue;
            riff::ChunkReader parts = riff::ChunkReader::childrenOf(track);
            riff::Chunk c;
            while (parts.next(c)) {
                if (c.isForm(kChordList)) {
                    st::ReadChordTrack(c, out.chords, warnings);
                    out.hasChords = true;
                } else if (c.id == kCommandChunk) {
                    st::ReadCommandTrack(c, out.commands, warnings);
                } else if (c.isForm(kStyleTrackList)) {
                    st::ReadStyleTrack(c, out.styles, warnings);
                }
            }
        }
    }
    if (out.styles.empty()) return; // the common case: no style, nothing more to look at
    std::vector<EmbeddedStyle> embedded;
    CollectStyles(form, embedded);
    for (auto& ref : out.styles)
        if (!ref.style && ref.hasReference) ref.style = FindStyle(ref.reference, embedded, resolver, warnings);
    std::erase_if(out.styles, [](const st::StyleReference& r) { return !r.style; });
}

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

bool AddStyleComposition(std::span<const std::uint8_t> segmentBytes, const seg::ReferenceResolver& resolver,
                         seg::SegmentFile& segment, std::uint32_t seed,
                         std::shared_ptr<const StyleComposeInput>* kept) {
    if (kept) kept->reset();
    auto input = std::make_shared<StyleComposeInput>();
    StyleTracks& tracks = input->tracks;
    ReadStyleTracks(segmentBytes, resolver, tracks, segment.warnings);
    if (tracks.styles.empty()) return false;
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
        for (auto& inst : band.bands.back().instruments) {
            inst.collection = -1;
            if (!inst.hasReference) continue;
            auto collection = resolver.findCollection(inst.reference);
            if (!collection) {
                segment.warnings.push_back("a collection of the style's band is missing: its parts play General MIDI");
                continue;
            }
            auto it = std::find(segment.collections.begin(), segment.collections.end(), collection);
            inst.collection = static_cast<int>(it - segment.collections.begin());
            if (it == segment.collections.end()) segment.collections.push_back(std::move(collection));
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

bool LoadComposedSegmentSequence(std::span<const std::uint8_t> bytes, const std::string& path, seg::ObjectCache& cache,
                                 std::shared_ptr<const music::Sequence>& out, std::string* error,
                                 std::vector<std::string>* warnings, std::uint32_t seed) {
    seg::FolderReferenceResolver resolver(path, cache);
    seg::SegmentFile file;
    if (!seg::ReadSegmentFile(bytes, file, resolver, error)) return false;
    AddStyleComposition(bytes, resolver, file, seed);
    auto sequence = std::make_shared<music::Sequence>();
    std::vector<std::string> notes = std::move(file.warnings);
    seg::BuildSegmentSequence(file, *sequence, &notes);
    if (warnings) *warnings = std::move(notes);
    out = std::move(sequence);
    return true;
}

} // namespace qorn::composer
