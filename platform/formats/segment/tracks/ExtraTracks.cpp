#include "ExtraTracks.h"

#include "TrackClasses.h"

#include <algorithm>

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

namespace {

// Tracks that would change the sound through what this player does not
// have (effects, scripts): each kind is named once per segment.
void NoteSilentContent(const SegmentFile& segment, ExtraTracks& out, Diagnostics& warnings) {
    struct Kind {
        const platform::GUID& classId;
        std::uint32_t chunk;
        const char* what;
        const char* message;
    };
    static const Kind kKinds[] = {
        {kParamControlTrackClass, ByteReader::fourCC("prmt"), "parameter control (effect settings)",
         "parameter-control track not played: the effects whose settings it changes are not here"},
        {kScriptTrackClass, ByteReader::fourCC("scrt"), "a script track",
         "script track not played: scripts do not run here"},
    };
    for (const Kind& kind : kKinds) {
        const bool held = std::any_of(segment.tracks.begin(), segment.tracks.end(), [&](const Track& t) {
            return t.kind == Track::Kind::Unknown && (t.header.classId == kind.classId || RawKind(t) == kind.chunk);
        });
        if (!held) continue;
        out.silent.emplace_back(kind.what);
        warnings.add({Severity::Warning, kind.what, {}, kNoOffset, kind.message});
    }
    if (segment.holdsAudioPathConfig) {
        out.silent.emplace_back("an audiopath configuration");
        warnings.add({Severity::Warning,
                      "audiopath configuration",
                      {},
                      kNoOffset,
                      "audiopath configuration not applied: its effects and buffers are not here"});
    }
}

} // namespace

void ReadExtraTracks(const SegmentFile& segment, ExtraTracks& out, Diagnostics& warnings) {
    out = ExtraTracks{};
    NoteSilentContent(segment, out, warnings);
    for (const auto& track : segment.tracks) {
        if (IsWaveTrack(track))
            ReadWaveTrack(track.rawData, track.header.playsInClockTime(), out.waveParts, out.waves, warnings);
        else if (IsMuteTrack(track))
            ReadMuteTrack(track.rawData, out.mutes, warnings);
        else if (IsSegmentTriggerTrack(track))
            ReadSegmentTriggerTrack(track.rawData, out.triggers, warnings);
        else if (IsMarkerTrack(track))
            ReadMarkerTrack(track.rawData, out.playMarkers, warnings);
    }
}

} // namespace qorn::formats::segment
