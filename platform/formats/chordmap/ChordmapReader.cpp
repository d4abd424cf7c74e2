#include "ChordmapReader.h"

#include "RepsChordmapReader.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/riff/RiffArray.h"
#include "platform/formats/riff/RiffValues.h"
#include "platform/formats/segment/ObjectName.h"

#include <algorithm>

namespace qorn::formats::chordmap {

namespace {

constexpr std::uint32_t kHeader = ByteReader::fourCC("perh");
constexpr std::uint32_t kSubChordData = ByteReader::fourCC("chdt");
constexpr std::uint32_t kPalette = ByteReader::fourCC("chpl");
constexpr std::uint32_t kChordList = ByteReader::fourCC("chrd");
constexpr std::uint32_t kGraph = ByteReader::fourCC("cmap");
constexpr std::uint32_t kGraphEntry = ByteReader::fourCC("choe");
constexpr std::uint32_t kEntryHeader = ByteReader::fourCC("cheh");
constexpr std::uint32_t kNextChords = ByteReader::fourCC("ncsq");
constexpr std::uint32_t kSignpostList = ByteReader::fourCC("spsq");
constexpr std::uint32_t kSignpostEntry = ByteReader::fourCC("spst");
constexpr std::uint32_t kSignpostHeader = ByteReader::fourCC("spsh");
constexpr std::uint32_t kCadenceList = ByteReader::fourCC("cade");
constexpr std::uint32_t kSubChordIds = ByteReader::fourCC("sbcn");
// The documented name chunk, and the one the DirectX tools wrote.
constexpr std::uint32_t kUnicodeName = ByteReader::fourCC("UNAM");
constexpr std::uint32_t kInfoName = ByteReader::fourCC("INAM");
constexpr std::uint32_t kReferenceList = ByteReader::fourCC("pfrf");
constexpr std::uint32_t kTimeStamp = ByteReader::fourCC("stmp");
constexpr std::uint32_t kReference = ByteReader::fourCC("DMRF");
constexpr std::uint32_t kGuid = ByteReader::fourCC("guid");

constexpr std::size_t kLoadNameBytes = 40; // WCHAR[20]
constexpr std::size_t kSubChordMin = 14;   // patterns, inversions and both roots
constexpr std::size_t kNextChordMin = 12;  // through the connection id
constexpr std::size_t kSignpostMin = 10;   // time, groups and measure
constexpr std::size_t kMaxChords = limits::kMaxChordmapChords;
constexpr std::size_t kMaxEdges = limits::kMaxChordmapEdges;

std::int32_t Signed(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}

// The chord a 'chrd' list names: its name and its sub-chords from the table.
bool ReadChord(const riff::Chunk& list, const std::vector<style::SubChord>& table, Chord& out, Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    bool hasIds = false;
    while (chunks.next(c)) {
        if (c.id == kUnicodeName || c.id == kInfoName) {
            out.name = riff::ReadUtf16Text(c.body);
        } else if (c.id == kSubChordIds) {
            hasIds = true;
            ByteReader r = c.body;
            std::uint16_t id = 0;
            while (out.subChords.size() < limits::kMaxSubChords && r.readU16LE(id)) {
                if (id >= table.size()) {
                    riff::Warn(warnings, "sub-chord " + std::to_string(id) + " not in the table skipped", c);
                    continue;
                }
                out.subChords.push_back(table[id]);
            }
        }
    }
    chunks.reportTo(warnings);
    if (!hasIds || out.subChords.empty()) {
        riff::Warn(warnings, "chord without sub-chords skipped", list);
        return false;
    }
    return true;
}

std::vector<style::SubChord> ReadSubChords(const riff::Chunk& chunk, Diagnostics& warnings) {
    std::vector<style::SubChord> out;
    ByteReader r = chunk.body;
    std::uint16_t size = 0;
    if (!r.readU16LE(size) || size < kSubChordMin) {
        riff::Warn(warnings, "sub-chord table with a damaged size skipped", chunk);
        return out;
    }
    const std::size_t count = std::min<std::size_t>(r.remaining() / size, 0xFFFF);
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        ByteReader s = r.sub(size);
        style::SubChord sc;
        s.readU32LE(sc.chordPattern);
        s.readU32LE(sc.scalePattern);
        s.readU32LE(sc.inversionPoints);
        s.readU8(sc.chordRoot);
        s.readU8(sc.scaleRoot);
        std::uint16_t flags = 0;
        s.readU16LE(flags);
        if (!s.readU32LE(sc.levels)) sc.levels = 0xFFFFFFFF;
        sc.chordPattern &= 0xFFFFFF;
        sc.scalePattern &= 0xFFFFFF;
        out.push_back(sc);
    }
    return out;
}

void ReadGraphEntry(const riff::Chunk& list, const std::vector<style::SubChord>& table, Chordmap& out,
                    Diagnostics& warnings) {
    ChordEntry entry;
    bool hasChord = false, hasHeader = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == kEntryHeader) {
            ByteReader r = c.body;
            hasHeader = r.readU32LE(entry.flags) && r.readU16LE(entry.connectionId);
        } else if (c.isForm(kChordList)) {
            hasChord = ReadChord(c, table, entry.chord, warnings);
        } else if (c.id == kNextChords) {
            ByteReader r = c.body;
            std::uint16_t size = 0;
            if (!r.readU16LE(size) || size < kNextChordMin) {
                riff::Warn(warnings, "next chords with a damaged size skipped", c);
                continue;
            }
            const std::size_t count = r.remaining() / size;
            if (count > kMaxEdges) riff::Warn(warnings, "next chords beyond the bound skipped", c);
            for (std::size_t i = 0; i < std::min(count, kMaxEdges); ++i) {
                ByteReader n = r.sub(size);
                NextChord next;
                n.readU32LE(next.flags);
                n.readU16LE(next.weight);
                n.readU16LE(next.minBeats);
                n.readU16LE(next.maxBeats);
                n.readU16LE(next.connectionId);
                entry.next.push_back(next);
            }
        }
    }
    chunks.reportTo(warnings);
    if (!hasChord || !hasHeader) {
        riff::Warn(warnings, "chord graph entry without its chord or header skipped", list);
        return;
    }
    out.graph.push_back(std::move(entry));
}

void ReadSignpostChord(const riff::Chunk& list, const std::vector<style::SubChord>& table, Chordmap& out,
                       Diagnostics& warnings) {
    SignpostChord sp;
    bool hasChord = false, hasHeader = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == kSignpostHeader) {
            ByteReader r = c.body;
            hasHeader = r.readU32LE(sp.groups);
            r.readU32LE(sp.cadenceFlags);
        } else if (c.isForm(kChordList)) {
            hasChord = ReadChord(c, table, sp.chord, warnings);
        } else if (c.isForm(kCadenceList)) {
            riff::ChunkReader cadences = riff::ChunkReader::childrenOf(c);
            riff::Chunk k;
            while (cadences.next(k) && sp.cadences.size() < 2) {
                Chord chord;
                if (k.isForm(kChordList) && ReadChord(k, table, chord, warnings))
                    sp.cadences.push_back(std::move(chord));
            }
            cadences.reportTo(warnings);
        }
    }
    chunks.reportTo(warnings);
    if (!hasChord || !hasHeader) {
        riff::Warn(warnings, "signpost chord without its chord or header skipped", list);
        return;
    }
    out.signposts.push_back(std::move(sp));
}

// Lists of chords of one kind, each item read by `read`, at most kMaxChords.
template <typename Read> void ReadChordLists(const riff::Chunk& list, std::uint32_t itemType, std::size_t& count,
                                             Diagnostics& warnings, Read read) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (!c.isForm(itemType)) continue;
        if (count >= kMaxChords) {
            riff::Warn(warnings, "chords beyond the bound skipped", c);
            break;
        }
        read(c);
        ++count;
    }
    chunks.reportTo(warnings);
}

} // namespace

bool LooksLikeChordmapFile(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    std::uint32_t id = 0, size = 0, type = 0;
    if (LooksLikeRepsChordmap(bytes)) return true;
    return r.readFourCC(id) && r.readU32LE(size) && r.readFourCC(type) && id == riff::kRiff && type == kChordmapForm;
}

bool ReadChordmap(std::span<const std::uint8_t> bytes, Chordmap& out, Diagnostics& warnings, std::string* error) {
    out = Chordmap{};
    auto failWith = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    if (LooksLikeRepsChordmap(bytes)) return ReadRepsChordmap(bytes, out, warnings, error, &out.fileStem);
    if (!LooksLikeChordmapFile(bytes)) return failWith("not a chordmap of a form this player reads");
    riff::ChunkReader top{ByteReader(bytes)};
    riff::Chunk form;
    if (!top.next(form)) return failWith("damaged chordmap form");

    // The sub-chord table comes before the chords that name it in every
    // file seen, but the order is not promised: find it first.
    std::vector<style::SubChord> table;
    bool hasHeader = false;
    riff::ChunkReader first = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (first.next(c)) {
        if (c.id == kSubChordData && table.empty()) {
            table = ReadSubChords(c, warnings);
        } else if (c.id == kGuid) {
            ByteReader r = c.body;
            out.hasGuid = riff::ReadGuid(r, out.guid);
        } else if (c.isForm(segment::kUnfoList)) {
            out.infoName = segment::ReadUnfoName(c);
        } else if (c.id == kHeader) {
            ByteReader r = c.body;
            out.name = riff::ReadUtf16Text(r.sub(kLoadNameBytes));
            std::uint32_t scale = 0;
            hasHeader = r.readU32LE(scale);
            // The DirectX 7 form may end the header before the flags.
            r.readU32LE(out.flags);
            out.scalePattern = scale & 0xFFFFFF;
            const std::uint8_t root = static_cast<std::uint8_t>(scale >> 24);
            out.keyRoot = root < 24 ? root : static_cast<std::uint8_t>(root % 12);
        }
    }
    first.reportTo(warnings);
    if (!hasHeader) return failWith("chordmap without its header");
    if (out.scalePattern == 0) out.scalePattern = 0xAB5AB5;

    std::size_t palette = 0, graph = 0, signposts = 0;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    while (chunks.next(c)) {
        if (c.isForm(kPalette)) {
            ReadChordLists(c, kChordList, palette, warnings, [&](const riff::Chunk& item) {
                Chord chord;
                if (ReadChord(item, table, chord, warnings)) out.palette.push_back(std::move(chord));
            });
        } else if (c.isForm(kGraph)) {
            ReadChordLists(c, kGraphEntry, graph, warnings,
                           [&](const riff::Chunk& item) { ReadGraphEntry(item, table, out, warnings); });
        } else if (c.isForm(kSignpostList)) {
            ReadChordLists(c, kSignpostEntry, signposts, warnings,
                           [&](const riff::Chunk& item) { ReadSignpostChord(item, table, out, warnings); });
        }
    }
    if (out.graph.empty() && out.signposts.empty() && out.palette.empty())
        warnings.warn("chordmap '" + out.name + "' holds no chord");
    return true;
}

void ReadSignpostTrack(const riff::Chunk& chunk, std::vector<Signpost>& out, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(chunk, kSignpostMin, &error)) {
        warnings.push_back(error);
        return;
    }
    if (items.count() > limits::kMaxSignposts) riff::Warn(warnings, "signposts beyond the bound skipped", chunk);
    const std::size_t count = std::min(items.count(), limits::kMaxSignposts);
    for (std::size_t i = 0; i < count; ++i) {
        ByteReader r = items.item(i);
        Signpost s;
        std::uint32_t time = 0;
        r.readU32LE(time);
        r.readU32LE(s.groups);
        r.readU16LE(s.measure);
        s.time = Signed(time);
        if (s.time < 0) continue;
        out.push_back(s);
    }
    std::stable_sort(out.begin(), out.end(), [](const Signpost& a, const Signpost& b) { return a.time < b.time; });
}

void ReadChordmapTrack(const riff::Chunk& list, std::vector<ChordmapReference>& out, Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (!c.isForm(kReferenceList)) continue;
        ChordmapReference ref;
        bool found = false;
        riff::ChunkReader inner = riff::ChunkReader::childrenOf(c);
        riff::Chunk p;
        while (inner.next(p)) {
            if (p.id == kTimeStamp) {
                ByteReader r = p.body;
                std::uint32_t t = 0;
                if (r.readU32LE(t)) ref.time = Signed(t);
            } else if (p.isForm(kReference)) {
                std::string error;
                found = segment::ReadObjectReference(p, ref.reference, &error);
                if (!found) warnings.push_back(error);
            }
        }
        inner.reportTo(warnings);
        if (found) out.push_back(std::move(ref));
    }
    chunks.reportTo(warnings);
    std::stable_sort(out.begin(), out.end(),
                     [](const ChordmapReference& a, const ChordmapReference& b) { return a.time < b.time; });
}

} // namespace qorn::formats::chordmap
