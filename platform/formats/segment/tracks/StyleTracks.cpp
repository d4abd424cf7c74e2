#include "StyleTracks.h"

#include "platform/formats/chordmap/ChordmapReader.h"
#include "platform/formats/segment/EmbeddedObjects.h"
#include "platform/formats/style/StyleReader.h"

#include <algorithm>

namespace qorn::formats::segment {

namespace st = formats::style;

namespace {

constexpr std::uint32_t kTrackList = ByteReader::fourCC("trkl");
constexpr std::uint32_t kTrackForm = ByteReader::fourCC("DMTK");
constexpr std::uint32_t kChordList = ByteReader::fourCC("cord");
constexpr std::uint32_t kCommandChunk = ByteReader::fourCC("cmnd");
constexpr std::uint32_t kStyleTrackList = ByteReader::fourCC("sttr");
constexpr std::uint32_t kSignpostChunk = ByteReader::fourCC("sgnp");
constexpr std::uint32_t kChordmapTrackList = ByteReader::fourCC("pftr");
constexpr std::uint32_t kStyleClassData1 = 0xD2AC288A;

bool IsStyleReference(const ObjectReference& ref) {
    return (ref.validData & ObjectReference::kClass) == 0 || ref.classId.Data1 == kStyleClassData1;
}

std::shared_ptr<const st::Style> ReadStyle(std::span<const std::uint8_t> bytes, Diagnostics& warnings) {
    auto style = std::make_shared<st::Style>();
    std::string error;
    if (!st::ReadStyleFile(bytes, *style, warnings, &error)) {
        warnings.push_back(error);
        return nullptr;
    }
    return style;
}

// A pattern track's form becomes a style of its first pattern.
void ReadPatternTrack(const riff::Chunk& form, StyleTracks& out, Diagnostics& warnings) {
    auto style = std::make_shared<st::Style>();
    std::string error;
    if (!st::ReadStyleForm(form, *style, warnings, &error)) {
        warnings.push_back(error);
        return;
    }
    if (style->patterns.empty()) {
        riff::Warn(warnings, "pattern track without a pattern skipped", form);
        return;
    }
    style->patterns.resize(1);
    out.patterns.push_back(std::move(style));
}

} // namespace

std::shared_ptr<const st::Style> FindStyle(const ObjectReference& ref, const std::vector<EmbeddedObject>& embedded,
                                           const ReferenceResolver& resolver, Diagnostics& warnings) {
    if (const int e = MatchEmbedded(ref, kStyleFormType, embedded); e >= 0)
        return ReadStyle(embedded[static_cast<std::size_t>(e)].bytes, warnings);
    if (!IsStyleReference(ref)) return nullptr;
    auto bytes = resolver.findFileBytes(ref);
    if (!bytes) {
        const std::string name = ref.file.empty() ? ref.name : ref.file;
        warnings.add({Severity::Warning,
                      "style '" + name + "'",
                      {},
                      kNoOffset,
                      "style '" + name + "' not found"});
        return nullptr;
    }
    return ReadStyle(*bytes, warnings);
}

void ReadStyleTracks(std::span<const std::uint8_t> segmentBytes, const ReferenceResolver& resolver, StyleTracks& out,
                     Diagnostics& warnings) {
    out = StyleTracks{};
    riff::ChunkReader top{ByteReader(segmentBytes)};
    riff::Chunk form;
    if (!top.next(form) || !form.isForm(kSegmentFormType)) return;

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
                } else if (c.id == kSignpostChunk) {
                    chordmap::ReadSignpostTrack(c, out.signposts, warnings);
                    out.hasSignposts = true;
                } else if (c.isForm(kChordmapTrackList)) {
                    chordmap::ReadChordmapTrack(c, out.chordmaps, warnings);
                } else if (c.isForm(st::kPatternTrackForm)) {
                    ReadPatternTrack(c, out, warnings);
                }
            }
        }
    }
    if (out.styles.empty()) return; // the common case: no style, nothing more to look at
    std::vector<EmbeddedObject> embedded;
    Diagnostics ignored; // the segment reader reports damage to the same chunks
    IndexEmbeddedObjects(form, segmentBytes, embedded, ignored);
    for (auto& ref : out.styles)
        if (!ref.style && ref.hasReference) ref.style = FindStyle(ref.reference, embedded, resolver, warnings);
    std::erase_if(out.styles, [](const st::StyleReference& r) { return !r.style; });
}

} // namespace qorn::formats::segment
