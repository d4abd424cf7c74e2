#include "SegmentReader.h"

#include "platform/formats/dls/DlsCollection.h"
#include "platform/formats/dls/DlsReader.h"

#include "BandReader.h"
#include "EmbeddedObjects.h"
#include "SegmentGuids.h"
#include "TrackReaders.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/riff/RiffValues.h"
#include "platform/formats/segment/ObjectName.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace qorn::formats::segment {

using formats::ByteReader;

namespace {

constexpr std::uint32_t kSegmentForm = ByteReader::fourCC("DMSG");
constexpr std::uint32_t kDls = kCollectionFormType;
constexpr std::uint32_t kBandForm = kBandFormType;

// Repeats, length, play start, loop start and loop end; the resolution that
// completes the oldest header is not needed.
constexpr std::size_t kHeaderMin = 20;

bool ReadHeader(const riff::Chunk& c, SegmentHeader& h, std::string* error) {
    ByteReader r = c.body;
    if (r.size() < kHeaderMin) {
        if (error) *error = riff::ChunkError("segment header of " + std::to_string(r.size()) + " bytes", c);
        return false;
    }
    std::uint32_t v[5] = {};
    for (auto& x : v)
        r.readU32LE(x);
    h.repeats = v[0];
    h.length = static_cast<std::int32_t>(v[1]);
    h.playStart = static_cast<std::int32_t>(v[2]);
    h.loopStart = static_cast<std::int32_t>(v[3]);
    h.loopEnd = static_cast<std::int32_t>(v[4]);
    r.readU32LE(h.resolution);
    std::uint32_t lo = 0, hi = 0;
    if (r.readU32LE(lo) && r.readU32LE(hi)) h.clockLength = static_cast<std::int64_t>((std::uint64_t(hi) << 32) | lo);
    r.readU32LE(h.flags);
    h.storedSize = static_cast<std::uint32_t>(c.body.size());
    return true;
}

Track::Kind KindOfClass(const platform::GUID& g) {
    if (g == kSequenceTrackClass) return Track::Kind::Sequence;
    if (g == kTempoTrackClass) return Track::Kind::Tempo;
    if (g == kTimeSigTrackClass) return Track::Kind::TimeSignature;
    if (g == kSysExTrackClass) return Track::Kind::SysEx;
    if (g == kBandTrackClass) return Track::Kind::Band;
    return Track::Kind::Unknown;
}

// The data chunk a track kind stores when its header names none we find.
bool IsDefaultDataChunk(Track::Kind kind, const riff::Chunk& c) {
    switch (kind) {
    case Track::Kind::Sequence:
        return c.id == ByteReader::fourCC("seqt") || c.isForm(ByteReader::fourCC("seqt"));
    case Track::Kind::Tempo:
        return c.id == ByteReader::fourCC("tetr");
    case Track::Kind::TimeSignature:
        return c.id == ByteReader::fourCC("tims") || c.isForm(ByteReader::fourCC("TIMS"));
    case Track::Kind::SysEx:
        return c.id == ByteReader::fourCC("syex");
    case Track::Kind::Band:
        return c.isForm(ByteReader::fourCC("DMBT"));
    case Track::Kind::Unknown:
        break;
    }
    return false;
}

struct PendingBand {
    std::size_t track;
    BandReference ref;
};

void ReadTrack(const riff::Chunk& form, std::span<const std::uint8_t> file, SegmentFile& seg,
               std::vector<PendingBand>& pendingBands) {
    std::vector<riff::Chunk> parts;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c) && parts.size() < limits::kMaxTrackParts)
        parts.push_back(c);
    chunks.reportTo(seg.warnings);

    Track track;
    bool haveHeader = false;
    for (const auto& p : parts) {
        if (p.id != ByteReader::fourCC("trkh")) continue;
        ByteReader r = p.body;
        haveHeader = riff::ReadGuid(r, track.header.classId) && r.readU32LE(track.header.position) &&
                     r.readU32LE(track.header.groups) && r.readFourCC(track.header.chunkId) &&
                     r.readFourCC(track.header.formType);
        break;
    }
    for (const auto& p : parts) {
        ByteReader r = p.body;
        if (p.id == ByteReader::fourCC("trkx") && r.readU32LE(track.header.config)) break;
    }
    if (!haveHeader) {
        riff::Warn(seg.warnings, "track without a usable 'trkh' header skipped", form);
        return;
    }
    track.kind = KindOfClass(track.header.classId);
    if (track.kind == Track::Kind::Unknown) {
        // Nothing of it plays here; its data is kept for other track readers.
        for (const auto& p : parts) {
            const bool named = p.isList() ? (track.header.formType != 0 && p.type == track.header.formType)
                                          : (track.header.chunkId != 0 && p.id == track.header.chunkId);
            if (!named) continue;
            const std::size_t total = p.body.size() + (p.isList() ? 12 : 8);
            if (p.offset <= file.size() && total <= file.size() - p.offset) {
                const auto raw = file.subspan(p.offset, total);
                track.rawData.assign(raw.begin(), raw.end());
            }
            break;
        }
        seg.tracks.push_back(std::move(track));
        return;
    }
    const riff::Chunk* data = nullptr;
    for (const auto& p : parts) {
        const bool named = p.isList() ? (track.header.formType != 0 && p.type == track.header.formType)
                                      : (track.header.chunkId != 0 && p.id == track.header.chunkId);
        if (named && IsDefaultDataChunk(track.kind, p)) {
            data = &p;
            break;
        }
    }
    for (std::size_t i = 0; data == nullptr && i < parts.size(); ++i)
        if (IsDefaultDataChunk(track.kind, parts[i])) data = &parts[i];
    if (data == nullptr) {
        riff::Warn(seg.warnings, "track without its data chunk skipped", form);
        return;
    }
    std::vector<BandReference> bandRefs;
    switch (track.kind) {
    case Track::Kind::Sequence:
        ReadSequenceTrack(*data, track, seg.warnings);
        break;
    case Track::Kind::Tempo:
        ReadTempoTrack(*data, track, seg.warnings);
        break;
    case Track::Kind::TimeSignature:
        ReadTimeSignatureTrack(*data, track, seg.warnings);
        break;
    case Track::Kind::SysEx:
        ReadSysExTrack(*data, track, seg.warnings);
        break;
    case Track::Kind::Band:
        ReadBandTrack(*data, track, bandRefs, seg.warnings);
        break;
    case Track::Kind::Unknown:
        break;
    }
    for (auto& ref : bandRefs)
        pendingBands.push_back({seg.tracks.size(), std::move(ref)});
    seg.tracks.push_back(std::move(track));
}

std::string Describe(const ObjectReference& ref) {
    if (!ref.file.empty()) return "'" + ref.file + "'";
    if (!ref.name.empty()) return "'" + ref.name + "'";
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-...}", ref.object.Data1, ref.object.Data2, ref.object.Data3);
    return text;
}

// Turns the references of bands into collection indices, asking for each
// distinct reference once.
class CollectionBinder {
  public:
    CollectionBinder(SegmentFile& seg, const std::vector<EmbeddedObject>& embedded, const ReferenceResolver& resolver)
        : seg_(seg), embedded_(embedded), resolver_(resolver) {}

    // The collection's index, -1 when it could not be found or used;
    // `damage` then says what is wrong with one that was found.
    int bind(const ObjectReference& ref, std::string& damage) {
        const std::string key = KeyOf(ref);
        if (auto it = bound_.find(key); it != bound_.end()) {
            damage = it->second.damage;
            return it->second.index;
        }
        std::shared_ptr<const dls::Collection> collection;
        damage.clear();
        const int e = MatchEmbedded(ref, kDls, embedded_);
        if (e >= 0)
            collection = resolver_.embeddedCollection(embedded_[static_cast<std::size_t>(e)], &damage);
        else
            collection = resolver_.findCollection(ref, &damage);
        int index = -1;
        if (collection) {
            auto it = std::find(seg_.collections.begin(), seg_.collections.end(), collection);
            index = static_cast<int>(it - seg_.collections.begin());
            if (it == seg_.collections.end()) {
                dls::NoteCollection(*collection, Describe(ref), seg_.warnings);
                seg_.collections.push_back(std::move(collection));
            }
        }
        bound_.emplace(key, Bound{index, collection ? std::string() : damage});
        return index;
    }

  private:
    static std::string KeyOf(const ObjectReference& ref) {
        std::string key;
        if (ref.hasObject) key.append(reinterpret_cast<const char*>(&ref.object), sizeof ref.object);
        key += '\0' + ref.file + '\0' + ref.name;
        return key;
    }

    SegmentFile& seg_;
    const std::vector<EmbeddedObject>& embedded_;
    const ReferenceResolver& resolver_;
    struct Bound {
        int index;
        std::string damage;
    };
    std::map<std::string, Bound> bound_;
};

bool NamesCollection(const ObjectReference& ref) {
    return (ref.validData & ObjectReference::kClass) == 0 || ref.classId == kCollectionClass;
}

void ResolveBandReferences(SegmentFile& seg, std::vector<PendingBand>& pending,
                           const std::vector<EmbeddedObject>& embedded, const ReferenceResolver& resolver) {
    for (auto& p : pending) {
        Band band;
        bool found = false;
        const int e = MatchEmbedded(p.ref.reference, kBandForm, embedded);
        if (e >= 0) {
            found = ReadBandFile(embedded[static_cast<std::size_t>(e)].bytes, band, seg.warnings);
        } else if (auto bytes = resolver.findFileBytes(p.ref.reference)) {
            found = ReadBandFile(*bytes, band, seg.warnings);
        }
        if (!found) {
            seg.warnings.add({Severity::Warning,
                              "band " + Describe(p.ref.reference),
                              {},
                              kNoOffset,
                              "band " + Describe(p.ref.reference) + " not found"});
            continue;
        }
        band.time = p.ref.time;
        seg.tracks[p.track].bands.push_back(std::move(band));
    }
    for (auto& track : seg.tracks)
        std::stable_sort(track.bands.begin(), track.bands.end(),
                         [](const Band& a, const Band& b) { return a.time < b.time; });
}

} // namespace

bool LooksLikeSegmentFile(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    std::uint32_t id = 0, size = 0, type = 0;
    return r.readFourCC(id) && r.readU32LE(size) && r.readFourCC(type) && id == riff::kRiff && type == kSegmentForm;
}

bool ReadBandFile(std::span<const std::uint8_t> bytes, Band& out, Diagnostics& warnings) {
    riff::ChunkReader top{ByteReader(bytes)};
    riff::Chunk root;
    if (!top.next(root) || root.id != riff::kRiff || root.type != kBandForm) return false;
    ReadBandForm(root, out, warnings);
    return true;
}

bool ReadSegmentFile(std::span<const std::uint8_t> bytes, SegmentFile& out, const ReferenceResolver& resolver,
                     std::string* error) {
    riff::ChunkReader top{ByteReader(bytes)};
    riff::Chunk root;
    if (!top.next(root) || root.id != riff::kRiff || root.type != kSegmentForm) {
        if (error) *error = "not a segment file: no 'RIFF DMSG' form at offset 0";
        return false;
    }
    SegmentFile seg;
    bool haveHeader = false;
    std::vector<EmbeddedObject> embedded;
    std::vector<PendingBand> pendingBands;

    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(root);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("segh")) {
            if (!ReadHeader(c, seg.header, error)) return false;
            haveHeader = true;
        } else if (c.id == ByteReader::fourCC("guid")) {
            ByteReader r = c.body;
            seg.hasGuid = riff::ReadGuid(r, seg.guid);
        } else if (c.isForm(ByteReader::fourCC("UNFO"))) {
            seg.name = ReadUnfoName(c);
        } else if (c.id == riff::kRiff && c.type == ByteReader::fourCC("DMAP")) {
            seg.holdsAudioPathConfig = true;
        } else if (c.isForm(ByteReader::fourCC("trkl"))) {
            riff::ChunkReader tracks = riff::ChunkReader::childrenOf(c);
            riff::Chunk t;
            while (tracks.next(t))
                if (t.isForm(ByteReader::fourCC("DMTK"))) ReadTrack(t, bytes, seg, pendingBands);
            tracks.reportTo(seg.warnings);
        }
        if (c.truncated) riff::Warn(seg.warnings, "chunk cut short by the end of the file", c);
    }
    chunks.reportTo(seg.warnings);
    if (!haveHeader) {
        if (error) *error = riff::ChunkError("segment without a 'segh' header", root);
        return false;
    }

    IndexEmbeddedObjects(root, bytes, embedded, seg.warnings);
    ResolveBandReferences(seg, pendingBands, embedded, resolver);
    CollectionBinder binder(seg, embedded, resolver);
    std::set<std::string> said;
    for (auto& track : seg.tracks)
        for (auto& band : track.bands)
            for (auto& inst : band.instruments)
                if (inst.hasReference && NamesCollection(inst.reference) &&
                    (inst.flags & BandInstrument::kUseDefaultGmSet) == 0) {
                    std::string damage;
                    inst.collection = binder.bind(inst.reference, damage);
                    if (inst.collection < 0)
                        inst.collection = MissingCollection(inst, Describe(inst.reference), damage, seg.warnings, said);
                }
    for (const auto& track : seg.tracks)
        for (const auto& band : track.bands)
            CheckBandPatches(band, seg.collections, seg.warnings);
    out = std::move(seg);
    return true;
}

int MissingCollection(const BandInstrument& inst, const std::string& name, const std::string& damage,
                      Diagnostics& warnings, std::set<std::string>& said) {
    const bool silent = (inst.flags & BandInstrument::kPatch) && !inst.standardSet();
    // What is wrong with a damaged one is said once, before its channels.
    if (!damage.empty() && said.insert("damaged " + name).second)
        warnings.add(
            {Severity::Warning, "collection " + name, {}, kNoOffset, "collection " + name + " is damaged: " + damage});
    const std::string message = "collection " + name + (damage.empty() ? " not found" : " is damaged") + ": channel " +
                                std::to_string(inst.pchannel) + (silent ? " is silent" : " plays General MIDI");
    if (said.insert(message).second) warnings.add({Severity::Warning, "collection " + name, {}, kNoOffset, message});
    return silent ? BandInstrument::kSilent : -1;
}

void CheckBandPatches(const Band& band, const std::vector<std::shared_ptr<const dls::Collection>>& collections,
                      Diagnostics& warnings) {
    for (const auto& inst : band.instruments) {
        if (inst.collection < 0 || std::size_t(inst.collection) >= collections.size()) continue;
        if ((inst.flags & BandInstrument::kPatch) == 0) continue;
        const dls::Collection& collection = *collections[std::size_t(inst.collection)];
        bool exact = false;
        const dls::Instrument* found =
            dls::FindBandInstrument(collection, inst.bankMsb(), inst.bankLsb(), inst.program(), inst.drums(), &exact);
        if (exact) continue;
        char text[160];
        if (found)
            std::snprintf(text, sizeof text,
                          "channel %u asks for bank %u/%u program %u, which its collection holds only at bank %u/%u: "
                          "that one plays",
                          inst.pchannel, inst.bankMsb(), inst.bankLsb(), inst.program(), found->bankMsb,
                          found->bankLsb);
        else
            std::snprintf(text, sizeof text,
                          "channel %u asks for bank %u/%u program %u, which its collection lacks: General MIDI plays",
                          inst.pchannel, inst.bankMsb(), inst.bankLsb(), inst.program());
        warnings.push_back(text);
    }
}

} // namespace qorn::formats::segment
