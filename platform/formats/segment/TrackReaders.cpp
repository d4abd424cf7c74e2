#include "TrackReaders.h"

#include "platform/formats/riff/RiffArray.h"

#include <cmath>
#include <cstring>

namespace qorn::formats::segment {

using formats::ByteReader;

namespace {

std::int32_t AsSigned(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}
std::int16_t AsSigned(std::uint16_t v) {
    return static_cast<std::int16_t>(v);
}

// Sequence item: time, duration, PChannel, offset, status and two data bytes.
constexpr std::size_t kSeqItemMin = 17;
// Curve item: up to the flags byte; later versions add the parameter type.
constexpr std::size_t kCurveItemMin = 28;

void ReadEventList(const riff::Chunk& c, Track& track, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(c, kSeqItemMin, &error)) {
        warnings.push_back(error);
        return;
    }
    track.events.reserve(track.events.size() + items.count());
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        SequenceItem e;
        std::uint32_t time = 0, duration = 0;
        std::uint16_t offset = 0;
        r.readU32LE(time);
        r.readU32LE(duration);
        r.readU32LE(e.pchannel);
        r.readU16LE(offset);
        r.readU8(e.status);
        r.readU8(e.data1);
        r.readU8(e.data2);
        e.time = AsSigned(time);
        e.duration = AsSigned(duration);
        e.offset = AsSigned(offset);
        track.events.push_back(e);
    }
}

void ReadCurveList(const riff::Chunk& c, Track& track, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(c, kCurveItemMin, &error)) {
        warnings.push_back(error);
        return;
    }
    track.curves.reserve(track.curves.size() + items.count());
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        CurveItem k;
        std::uint32_t start = 0, duration = 0, reset = 0;
        std::uint16_t offset = 0, sv = 0, ev = 0, rv = 0;
        r.readU32LE(start);
        r.readU32LE(duration);
        r.readU32LE(reset);
        r.readU32LE(k.pchannel);
        r.readU16LE(offset);
        r.readU16LE(sv);
        r.readU16LE(ev);
        r.readU16LE(rv);
        r.readU8(k.kind);
        r.readU8(k.shape);
        r.readU8(k.ccData);
        r.readU8(k.flags);
        r.readU16LE(k.paramType); // absent in the shorter record: stays 0
        k.start = AsSigned(start);
        k.duration = AsSigned(duration);
        k.resetDuration = AsSigned(reset);
        k.offset = AsSigned(offset);
        k.startValue = AsSigned(sv);
        k.endValue = AsSigned(ev);
        k.resetValue = AsSigned(rv);
        track.curves.push_back(k);
    }
}

} // namespace

void ReadSequenceTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings) {
    // The event and curve lists are sub-chunks of 'seqt' (a plain chunk in
    // the files we know; a LIST of that type is read the same way).
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(data);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("evtl"))
            ReadEventList(c, track, warnings);
        else if (c.id == ByteReader::fourCC("curl"))
            ReadCurveList(c, track, warnings);
    }
    chunks.reportTo(warnings);
}

void ReadTempoTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    // Time, then the tempo as a double, which the usual layout aligns to 8.
    if (!items.open(data, 12, &error)) {
        warnings.push_back(error);
        return;
    }
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        std::uint32_t time = 0, lo = 0, hi = 0;
        r.readU32LE(time);
        if (items.itemSize() >= 16) r.skip(4);
        r.readU32LE(lo);
        r.readU32LE(hi);
        const std::uint64_t bits = (std::uint64_t(hi) << 32) | lo;
        double bpm = 0;
        std::memcpy(&bpm, &bits, sizeof bpm);
        if (!std::isfinite(bpm) || bpm <= 0.0) {
            riff::Warn(warnings, "tempo item " + std::to_string(i) + " has no usable tempo", data);
            continue;
        }
        track.tempos.push_back({AsSigned(time), bpm});
    }
}

void ReadTimeSignatureTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings) {
    if (data.isList()) {
        riff::ChunkReader chunks = riff::ChunkReader::childrenOf(data);
        riff::Chunk c;
        while (chunks.next(c))
            if (c.id == ByteReader::fourCC("tims")) ReadTimeSignatureTrack(c, track, warnings);
        return;
    }
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(data, 8, &error)) {
        warnings.push_back(error);
        return;
    }
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        TimeSignatureItem t;
        std::uint32_t time = 0;
        r.readU32LE(time);
        r.readU8(t.beatsPerMeasure);
        r.readU8(t.beat);
        r.readU16LE(t.gridsPerBeat);
        t.time = AsSigned(time);
        track.timeSignatures.push_back(t);
    }
}

void ReadSysExTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings) {
    // Not an array chunk: each item is a header (time, PChannel, length)
    // followed by its bytes.
    ByteReader r = data.body;
    while (r.remaining() >= 12) {
        SysExItem item;
        std::uint32_t time = 0, length = 0;
        r.readU32LE(time);
        r.readU32LE(item.pchannel);
        r.readU32LE(length);
        if (length > r.remaining()) {
            riff::Warn(warnings, "system-exclusive message cut short", data);
            length = static_cast<std::uint32_t>(r.remaining());
        }
        auto bytes = r.readBytes(length);
        item.time = AsSigned(time);
        item.bytes.assign(bytes.begin(), bytes.end());
        if (!item.bytes.empty()) track.sysex.push_back(std::move(item));
    }
}

} // namespace qorn::formats::segment
