#include "RepsChordmapReader.h"

#include "platform/formats/common/Limits.h"
#include "platform/formats/riff/RiffValues.h"

#include <algorithm>

namespace qorn::formats::chordmap {

namespace {

constexpr std::uint32_t kTag = ByteReader::fourCC("REPs");
// The variant with signposts only: the same header, then a block of 12
// bytes of unknown meaning before the records.
constexpr std::uint32_t kSignpostsOnlyTag = ByteReader::fourCC("PMC5");
constexpr std::size_t kSignpostsOnlyGap = 12;
constexpr std::uint32_t kEntryTag = ByteReader::fourCC("NECs");
constexpr std::uint32_t kNextTag = ByteReader::fourCC("LXNs");
constexpr std::uint32_t kSignpostTag = ByteReader::fourCC("PNSs");

// Offsets in the header, counted from the start of the file.
constexpr std::size_t kHeaderStart = 12;
constexpr std::size_t kScale = 28;
constexpr std::size_t kName = 32;
constexpr std::size_t kNameBytes = 20;
constexpr std::size_t kPalette = 160;
constexpr std::size_t kPaletteChords = 24;
constexpr std::size_t kPaletteStride = 42;
constexpr std::size_t kSelfName = 1212; // the file's own 8.3 name
constexpr std::size_t kSelfNameBytes = 10;

// One chord: pattern, name, root, scale (docs/formats/reps-chordmap.md).
constexpr std::size_t kChordBytes = 34;
constexpr std::size_t kEntryBytes = 44; // a flags word, the chord, flags and the connection id
constexpr std::size_t kNextBytes = 12;  // flags, weight, beats, connection id
constexpr std::size_t kSignpostBytes = 142;
constexpr std::size_t kSignpostStride = 42;

std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
    return at + 2 <= b.size() ? std::uint16_t(b[at] | (b[at + 1] << 8)) : 0;
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
    return at + 4 <= b.size() ? std::uint32_t(U16(b, at) | (std::uint32_t(U16(b, at + 2)) << 16)) : 0;
}

Chord ReadChord(std::span<const std::uint8_t> b) {
    Chord chord;
    chord.name = riff::ReadAnsiText(ByteReader(b.subspan(4, 12)));
    style::SubChord s;
    s.chordPattern = U32(b, 0) & 0xFFFFFFu;
    s.chordRoot = static_cast<std::uint8_t>(std::min<int>(b[17], 23));
    s.scalePattern = U32(b, 26) & 0xFFFFFFu;
    chord.subChords.push_back(s);
    return chord;
}

struct Tagged {
    std::uint32_t tag = 0;
    std::size_t offset = 0;
    ByteReader body;
};

// The next tag and big-endian size; false at the end or on damage (said once).
bool NextTagged(ByteReader& r, Tagged& out, Diagnostics& warnings, bool& damaged) {
    if (r.remaining() < 8) {
        if (r.remaining() > 2 && !damaged) { // files end with up to two pad bytes
            damaged = true;
            warnings.warn("chordmap cut inside a record header", "REPs", r.fileOffset());
        }
        return false;
    }
    out.offset = r.fileOffset();
    std::uint32_t size = 0;
    r.readFourCC(out.tag);
    r.readU32BE(size);
    if (size > r.remaining()) {
        if (!damaged) {
            damaged = true;
            warnings.warn("chordmap record claims more than the file holds: the rest is not read", "REPs", out.offset);
        }
        return false;
    }
    out.body = r.sub(size);
    return true;
}

void ReadEntry(const Tagged& t, Chordmap& out, Diagnostics& warnings, bool& damaged) {
    ByteReader r = t.body;
    std::uint32_t size = 0;
    if (!r.readU32BE(size) || size < kEntryBytes || size > r.remaining()) {
        if (!damaged) warnings.warn("chord entry with a damaged size skipped", "NECs", t.offset);
        damaged = true;
        return;
    }
    const auto rec = r.readBytes(size);
    ChordEntry e;
    e.chord = ReadChord(rec.subspan(4, kChordBytes));
    e.connectionId = U16(rec, 42);
    Tagged next;
    bool nextDamaged = false;
    while (NextTagged(r, next, warnings, nextDamaged)) {
        if (next.tag != kNextTag) continue;
        ByteReader n = next.body;
        std::uint32_t nsize = 0;
        if (!n.readU32BE(nsize) || nsize < kNextBytes) {
            if (!damaged) warnings.warn("next-chord list with a damaged size skipped", "LXNs", next.offset);
            damaged = true;
            continue;
        }
        while (n.remaining() >= nsize && e.next.size() < limits::kMaxChordmapEdges) {
            const auto x = n.readBytes(nsize);
            NextChord c;
            c.weight = U16(x, 4);
            c.minBeats = U16(x, 6);
            c.maxBeats = U16(x, 8);
            c.connectionId = U16(x, 10);
            e.next.push_back(c);
        }
    }
    out.graph.push_back(std::move(e));
}

void ReadSignpost(const Tagged& t, Chordmap& out, Diagnostics& warnings, bool& damaged) {
    const auto b = t.body.rest();
    if (b.size() < kSignpostBytes) {
        if (!damaged) warnings.warn("signpost chord cut short skipped", "PNSs", t.offset);
        damaged = true;
        return;
    }
    SignpostChord s;
    s.chord = ReadChord(b.subspan(12, kChordBytes));
    s.groups = U32(b, 130);
    s.cadenceFlags = U32(b, 134) & (cadence::kFirst | cadence::kSecond);
    // The first cadence chord, then the second, each only when flagged.
    if (s.cadenceFlags & cadence::kFirst) s.cadences.push_back(ReadChord(b.subspan(12 + kSignpostStride, kChordBytes)));
    if (s.cadenceFlags & cadence::kSecond)
        s.cadences.push_back(ReadChord(b.subspan(12 + 2 * kSignpostStride, kChordBytes)));
    out.signposts.push_back(std::move(s));
}

} // namespace

bool LooksLikeRepsChordmap(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    std::uint32_t tag = 0;
    return r.readFourCC(tag) && (tag == kTag || tag == kSignpostsOnlyTag);
}

bool ReadRepsChordmap(std::span<const std::uint8_t> bytes, Chordmap& out, Diagnostics& warnings, std::string* error,
                      std::string* fileName) {
    out = Chordmap{};
    ByteReader r(bytes);
    std::uint32_t tag = 0, size = 0, headerSize = 0;
    if (!r.readFourCC(tag) || (tag != kTag && tag != kSignpostsOnlyTag)) {
        if (error) *error = "not an older chordmap (no 'REPs' or 'PMC5' tag)";
        return false;
    }
    r.readU32BE(size);
    // The header's own size; every file seen keeps the palette and names in it.
    if (!r.readU32BE(headerSize) || headerSize < kSelfName + kSelfNameBytes - kHeaderStart ||
        headerSize > r.remaining()) {
        if (error) *error = "older chordmap with its header cut short";
        return false;
    }
    if (size > bytes.size() - 8) warnings.warn("chordmap shorter than its size says", "REPs", 4);
    out.scalePattern = U32(bytes, kScale) & 0xFFFFFFu;
    out.name = riff::ReadAnsiText(ByteReader(bytes.subspan(kName, kNameBytes)));
    for (std::size_t i = 0; i < kPaletteChords; ++i)
        out.palette.push_back(ReadChord(bytes.subspan(kPalette + i * kPaletteStride, kChordBytes)));
    if (fileName) *fileName = riff::ReadAnsiText(ByteReader(bytes.subspan(kSelfName, kSelfNameBytes)));

    ByteReader body = ByteReader(bytes.subspan(0, std::min<std::size_t>(bytes.size(), std::size_t(size) + 8)));
    body.seek(kHeaderStart + headerSize + (tag == kSignpostsOnlyTag ? kSignpostsOnlyGap : 0));
    Tagged t;
    bool damaged = false;
    std::size_t skipped = 0;
    while (NextTagged(body, t, warnings, damaged)) {
        if (out.graph.size() + out.signposts.size() >= limits::kMaxChordmapChords) {
            ++skipped;
            continue;
        }
        if (t.tag == kEntryTag)
            ReadEntry(t, out, warnings, damaged);
        else if (t.tag == kSignpostTag)
            ReadSignpost(t, out, warnings, damaged);
        else
            ++skipped;
    }
    if (skipped)
        warnings.warn(std::to_string(skipped) + " chordmap records of unknown kind or beyond the bound skipped",
                      "REPs");
    return true;
}

} // namespace qorn::formats::chordmap
