// Wave track: LIST 'wavt' holding the track header 'wath' (volume, flags)
// and one LIST 'wavp' per part: 'waph' (volume, variations, PChannel, lock,
// flags, index) and LIST 'wavi' of LIST 'wave' items, each an item header
// 'waih' and a reference (LIST 'DMRF') to its wave. A part plays one of
// its variations at a time: the items of that variation.
#include "ExtraTracks.h"
#include "TrackClasses.h"

#include <algorithm>

namespace qorn::formats::segment {

namespace {

constexpr std::uint32_t kPartList = ByteReader::fourCC("wavp");
constexpr std::uint32_t kItemList = ByteReader::fourCC("wavi");
constexpr std::uint32_t kItem = ByteReader::fourCC("wave");
constexpr std::uint32_t kReference = ByteReader::fourCC("DMRF");

std::int32_t ReadVolume(const riff::Chunk& c) {
    ByteReader r = c.body;
    std::uint32_t v = 0;
    return r.readU32LE(v) ? static_cast<std::int32_t>(v) : 0;
}

bool ReadI64(ByteReader& r, std::int64_t& v) {
    std::uint32_t lo = 0, hi = 0;
    if (!r.readU32LE(lo) || !r.readU32LE(hi)) return false;
    v = static_cast<std::int64_t>((std::uint64_t(hi) << 32) | lo);
    return true;
}

// Volume, pitch, variations, then four 64-bit times (start, start offset,
// reserved, duration), logical time, loop start and end, flags, and in
// later versions the ranges of volume and pitch. Writers align the times
// to 8 bytes, so a record whose size is a multiple of 8 (64 bytes, 72 with
// the ranges) has 4 bytes of padding before them; a packed one (60, 68)
// has none.
constexpr std::size_t kItemHeaderMin = 60;

bool ReadItemHeader(const riff::Chunk& c, WaveTrackItem& item) {
    ByteReader r = c.body;
    if (r.size() < kItemHeaderMin) return false;
    std::uint32_t volume = 0, pitch = 0;
    r.readU32LE(volume);
    r.readU32LE(pitch);
    r.readU32LE(item.variations);
    if (r.size() % 8 == 0) r.skip(4);
    std::int64_t time = 0, offset = 0, reserved = 0, duration = 0;
    std::uint32_t logical = 0;
    ReadI64(r, time);
    ReadI64(r, offset);
    ReadI64(r, reserved);
    ReadI64(r, duration);
    r.readU32LE(logical);
    r.readU32LE(item.loopStart);
    r.readU32LE(item.loopEnd);
    r.readU32LE(item.flags);
    item.volume = static_cast<std::int32_t>(volume);
    item.time = std::max<std::int64_t>(time, 0);
    item.startOffset = std::max<std::int64_t>(offset, 0);
    item.duration = std::max<std::int64_t>(duration, 0);
    return true;
}

struct PartContext {
    std::int32_t volume = 0;
    std::uint32_t pchannel = 0;
    std::size_t part = 0;
    bool clockTime = false;
};

void ReadItem(const riff::Chunk& list, const PartContext& part, std::vector<WaveTrackItem>& out,
              Diagnostics& warnings) {
    WaveTrackItem item;
    bool header = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("waih")) {
            header = ReadItemHeader(c, item);
        } else if (c.isForm(kReference)) {
            std::string error;
            item.hasReference = ReadObjectReference(c, item.reference, &error);
            if (!item.hasReference) warnings.push_back(error);
        }
    }
    if (!header) {
        riff::Warn(warnings, "wave item without a usable header skipped", list);
        return;
    }
    if (!item.hasReference) {
        riff::Warn(warnings, "wave item that names no wave skipped", list);
        return;
    }
    item.pchannel = part.pchannel;
    item.part = part.part;
    item.clockTime = part.clockTime;
    item.volume =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t(item.volume) + part.volume, -9600, 9600));
    out.push_back(std::move(item));
}

// Header: volume, variations, PChannel, lock, flags (the order of choice in
// the low four bits), index.
void ReadPart(const riff::Chunk& list, std::int32_t trackVolume, bool clockTime, std::vector<WaveTrackPart>& parts,
              std::vector<WaveTrackItem>& out, Diagnostics& warnings) {
    WaveTrackPart part;
    PartContext context{trackVolume, 0, parts.size(), clockTime};
    const std::size_t first = out.size();
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("waph")) {
            ByteReader r = c.body;
            std::uint32_t v = 0, flags = 0;
            if (r.readU32LE(v) && r.readU32LE(part.variations) && r.readU32LE(part.pchannel)) {
                context.volume = static_cast<std::int32_t>(
                    std::clamp<std::int64_t>(std::int64_t(trackVolume) + static_cast<std::int32_t>(v), -9600, 9600));
                context.pchannel = part.pchannel;
            }
            if (r.readU32LE(part.lock) && r.readU32LE(flags)) part.order = static_cast<std::uint8_t>(flags & 0xF);
        } else if (c.isForm(kItemList)) {
            riff::ChunkReader items = riff::ChunkReader::childrenOf(c);
            riff::Chunk item;
            while (items.next(item))
                if (item.isForm(kItem)) ReadItem(item, context, out, warnings);
            items.reportTo(warnings);
        }
    }
    chunks.reportTo(warnings);
    if (out.size() > first) parts.push_back(part);
}

} // namespace

void ReadWaveTrack(std::span<const std::uint8_t> raw, bool clockTime, std::vector<WaveTrackPart>& parts,
                   std::vector<WaveTrackItem>& out, Diagnostics& warnings) {
    riff::ChunkReader top{ByteReader(raw)};
    riff::Chunk form;
    if (!top.next(form) || !form.isForm(kWaveTrackList)) {
        warnings.push_back("wave track without its 'wavt' list skipped");
        return;
    }
    std::int32_t volume = 0;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("wath"))
            volume = ReadVolume(c);
        else if (c.isForm(kPartList))
            ReadPart(c, volume, clockTime, parts, out, warnings);
    }
    chunks.reportTo(warnings);
}

} // namespace qorn::formats::segment
