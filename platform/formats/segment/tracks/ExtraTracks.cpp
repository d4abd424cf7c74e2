#include "ExtraTracks.h"

#include "TrackClasses.h"

namespace qorn::formats::segment {

namespace {

// The four-character code the kept data starts with: a plain chunk's id,
// or a list's type.
std::uint32_t RawKind(const Track& track) {
    ByteReader r(track.rawData);
    std::uint32_t id = 0, size = 0, type = 0;
    if (!r.readFourCC(id) || !r.readU32LE(size)) return 0;
    if (id == riff::kList || id == riff::kRiff) return r.readFourCC(type) ? type : 0;
    return id;
}

} // namespace

bool IsWaveTrack(const Track& track) {
    return track.kind == Track::Kind::Unknown &&
           (track.header.classId == kWaveTrackClass || RawKind(track) == kWaveTrackList);
}

bool IsMuteTrack(const Track& track) {
    return track.kind == Track::Kind::Unknown &&
           (track.header.classId == kMuteTrackClass || RawKind(track) == kMuteChunk);
}

bool IsSegmentTriggerTrack(const Track& track) {
    return track.kind == Track::Kind::Unknown &&
           (track.header.classId == kSegmentTriggerTrackClass || RawKind(track) == kSegmentTriggerList);
}

bool IsMarkerTrack(const Track& track) {
    return track.kind == Track::Kind::Unknown &&
           (track.header.classId == kMarkerTrackClass || RawKind(track) == kMarkerList);
}

void ReadExtraTracks(const SegmentFile& segment, ExtraTracks& out, Diagnostics& warnings) {
    out = ExtraTracks{};
    for (const auto& track : segment.tracks) {
        if (IsWaveTrack(track))
            ReadWaveTrack(track.rawData, out.waves, warnings);
        else if (IsMuteTrack(track))
            ReadMuteTrack(track.rawData, out.mutes, warnings);
        else if (IsSegmentTriggerTrack(track))
            ReadSegmentTriggerTrack(track.rawData, out.triggers, warnings);
        else if (IsMarkerTrack(track))
            ReadMarkerTrack(track.rawData, out.playMarkers, warnings);
    }
}

} // namespace qorn::formats::segment
