// Mute track: chunk 'mute', an array of (time, PChannel, PChannel it maps
// to) records, mapping to 0xFFFFFFFF for silence.
#include "ExtraTracks.h"
#include "TrackClasses.h"
#include "platform/formats/riff/RiffArray.h"

#include <algorithm>

namespace qorn::formats::segment {

void ReadMuteTrack(std::span<const std::uint8_t> raw, std::vector<MuteItem>& out, Diagnostics& warnings) {
    riff::ChunkReader top{ByteReader(raw)};
    riff::Chunk chunk;
    if (!top.next(chunk) || chunk.id != kMuteChunk) {
        warnings.push_back("mute track without its 'mute' chunk skipped");
        return;
    }
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(chunk, 12, &error)) {
        warnings.push_back(error);
        return;
    }
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        std::uint32_t time = 0;
        MuteItem m;
        r.readU32LE(time);
        r.readU32LE(m.pchannel);
        r.readU32LE(m.mapTo);
        m.time = static_cast<std::int32_t>(time);
        out.push_back(m);
    }
}

std::uint32_t MappedPChannel(const std::vector<MuteItem>& mutes, std::uint32_t pchannel, std::int64_t time) {
    // `mutes` is sorted by time; the last item for the channel at or
    // before `time` holds.
    std::uint32_t mapped = pchannel;
    for (const auto& m : mutes) {
        if (m.time > time) break;
        if (m.pchannel == pchannel) mapped = m.mapTo;
    }
    return mapped;
}

void ApplyMutes(const std::vector<MuteItem>& unsorted, SegmentFile& segment) {
    if (unsorted.empty()) return;
    std::vector<MuteItem> mutes = unsorted;
    std::stable_sort(mutes.begin(), mutes.end(), [](const MuteItem& a, const MuteItem& b) { return a.time < b.time; });
    for (auto& track : segment.tracks) {
        std::erase_if(track.events, [&](SequenceItem& e) {
            const std::uint32_t to = MappedPChannel(mutes, e.pchannel, std::int64_t(e.time) + e.offset);
            e.pchannel = to;
            return to == MuteItem::kMuted;
        });
        std::erase_if(track.curves, [&](CurveItem& k) {
            const std::uint32_t to = MappedPChannel(mutes, k.pchannel, std::int64_t(k.start) + k.offset);
            k.pchannel = to;
            return to == MuteItem::kMuted;
        });
    }
}

} // namespace qorn::formats::segment
