#include "BandReader.h"

#include "platform/formats/riff/RiffValues.h"
#include "platform/formats/segment/ObjectName.h"

namespace qorn::formats::segment {

using formats::ByteReader;

namespace {

// Every field up to the transposition: the bands of the first authoring
// tools stop there; later versions append the channel priority, then the
// pitch-bend range.
constexpr std::size_t kInstrumentMin = 36;

bool ReadInstrumentRecord(const riff::Chunk& c, BandInstrument& inst, Diagnostics& warnings) {
    ByteReader r = c.body;
    if (r.size() < kInstrumentMin) {
        riff::Warn(warnings, "instrument record of " + std::to_string(r.size()) + " bytes", c);
        return false;
    }
    std::uint16_t transpose = 0;
    r.readU32LE(inst.patch);
    r.readU32LE(inst.assignPatch);
    for (auto& range : inst.noteRanges)
        r.readU32LE(range);
    r.readU32LE(inst.pchannel);
    r.readU32LE(inst.flags);
    r.readU8(inst.pan);
    r.readU8(inst.volume);
    r.readU16LE(transpose);
    if (!r.readU32LE(inst.priority)) inst.flags &= ~BandInstrument::kChannelPriority;
    inst.transpose = static_cast<std::int16_t>(transpose);
    std::uint16_t bend = 0;
    if (r.readU16LE(bend)) {
        inst.pitchBendRange = static_cast<std::int16_t>(bend);
        inst.hasPitchBendRange = true;
    }
    return true;
}

void ReadInstrument(const riff::Chunk& list, Band& band, Diagnostics& warnings) {
    BandInstrument inst;
    bool haveRecord = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("bins")) {
            haveRecord = ReadInstrumentRecord(c, inst, warnings);
        } else if (c.isForm(ByteReader::fourCC("DMRF"))) {
            std::string error;
            if (ReadObjectReference(c, inst.reference, &error))
                inst.hasReference = true;
            else
                warnings.push_back(error);
        }
    }
    chunks.reportTo(warnings);
    if (haveRecord) band.instruments.push_back(std::move(inst));
}

} // namespace

void ReadBandForm(const riff::Chunk& form, Band& band, Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.isForm(ByteReader::fourCC("UNFO"))) {
            band.name = ReadUnfoName(c);
        } else if (c.isForm(ByteReader::fourCC("lbil"))) {
            riff::ChunkReader items = riff::ChunkReader::childrenOf(c);
            riff::Chunk item;
            while (items.next(item))
                if (item.isForm(ByteReader::fourCC("lbin"))) ReadInstrument(item, band, warnings);
            items.reportTo(warnings);
        }
    }
    chunks.reportTo(warnings);
}

void ReadBandTrack(const riff::Chunk& form, Track& track, std::vector<BandReference>& references,
                   Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("bdth")) {
            ByteReader r = c.body;
            std::uint32_t autoDownload = 0;
            if (r.readU32LE(autoDownload)) track.autoDownload = autoDownload != 0;
            continue;
        }
        if (!c.isForm(ByteReader::fourCC("lbdl"))) continue;
        riff::ChunkReader bands = riff::ChunkReader::childrenOf(c);
        riff::Chunk entry;
        while (bands.next(entry)) {
            if (!entry.isForm(ByteReader::fourCC("lbnd"))) continue;
            std::int32_t time = 0;
            bool haveBand = false;
            Band band;
            ObjectReference ref;
            bool haveRef = false;
            riff::ChunkReader parts = riff::ChunkReader::childrenOf(entry);
            riff::Chunk p;
            while (parts.next(p)) {
                ByteReader r = p.body;
                std::uint32_t logical = 0, physical = 0;
                if (p.id == ByteReader::fourCC("bdih")) {
                    if (r.readU32LE(logical)) time = static_cast<std::int32_t>(logical);
                } else if (p.id == ByteReader::fourCC("bd2h")) {
                    // The band is sent at its physical time, which may lie a
                    // little before the logical one.
                    if (r.readU32LE(logical)) time = static_cast<std::int32_t>(logical);
                    if (r.readU32LE(physical)) time = static_cast<std::int32_t>(physical);
                } else if (p.isForm(ByteReader::fourCC("DMBD"))) {
                    ReadBandForm(p, band, warnings);
                    haveBand = true;
                } else if (p.isForm(ByteReader::fourCC("DMRF"))) {
                    std::string error;
                    haveRef = ReadObjectReference(p, ref, &error);
                    if (!haveRef) warnings.push_back(error);
                }
            }
            parts.reportTo(warnings);
            if (haveBand) {
                band.time = time;
                track.bands.push_back(std::move(band));
            } else if (haveRef) {
                references.push_back({time, std::move(ref)});
            }
        }
        bands.reportTo(warnings);
    }
    chunks.reportTo(warnings);
}

} // namespace qorn::formats::segment
