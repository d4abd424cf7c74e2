// Readers of the wave, mute, segment trigger and marker tracks. The segment
// reader keeps the data of track kinds it does not play (Track::rawData);
// these turn that data into items. A marker track matters only to the
// trigger items that wait for its play markers; lyrics change nothing
// audible and are left as the reader kept them; parameter-control and
// script tracks and audiopath configurations would, but do nothing here,
// which is said once for each.
#pragma once

#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/segment/ObjectReference.h"
#include "platform/formats/segment/SegmentFile.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorn::formats::segment {

// One part of a wave track: the variations it may play, one of which
// sounds per play, and how that one is chosen.
struct WaveTrackPart {
    std::uint32_t variations = 0; // one bit each; 0: those its items name
    // Parts with the same lock play the same variation (0: on its own).
    std::uint32_t lock = 0;
    // Order of choice, as for the parts of a style (sequential, random,
    // random start, no repeat, random row).
    std::uint8_t order = 0;
    std::uint32_t pchannel = 0;
};

// One wave of a wave track, with the volumes of its track and part folded in.
struct WaveTrackItem {
    // Music time, or 100 ns units in a track that plays in clock time.
    std::int64_t time = 0;
    std::int64_t duration = 0; // 0: the wave's own length
    std::int32_t volume = 0;   // hundredths of a decibel (0 = as recorded)
    std::uint32_t pchannel = 0;
    std::uint32_t flags = 0;
    std::uint32_t loopStart = 0; // frames of the wave; end <= start: the file's loop
    std::uint32_t loopEnd = 0;
    std::int64_t startOffset = 0; // 100 ns units into the wave
    bool hasReference = false;
    ObjectReference reference;
    // The variations it belongs to, and its part in ExtraTracks::waveParts.
    std::uint32_t variations = 0xFFFFFFFFu;
    std::size_t part = 0;
    bool clockTime = false;

    static constexpr std::uint32_t kIgnoreLoops = 0x20;
};

// From `time` on, the events of `pchannel` go to `mapTo` (kMuted: nowhere),
// until the next item for the same PChannel.
struct MuteItem {
    static constexpr std::uint32_t kMuted = 0xFFFFFFFFu;
    std::int32_t time = 0;
    std::uint32_t pchannel = 0;
    std::uint32_t mapTo = 0;
};

// A segment started at `time` as a secondary segment, or a style's motif.
struct TriggerItem {
    std::int32_t time = 0;
    std::uint32_t playFlags = 0;
    std::uint32_t flags = 0;
    bool hasReference = false;
    ObjectReference reference;
    // A segment form stored in the item itself (the whole RIFF form), if any.
    std::vector<std::uint8_t> embedded;
    // The motif's name, for an item with kMotif.
    std::string motif;

    // The reference names a style, and `motif` the motif of it that plays.
    static constexpr std::uint32_t kMotif = 0x1;
    // Play flag: start at the next play marker of the segment, not before.
    static constexpr std::uint32_t kAtMarker = 0x01000000;
};

struct ExtraTracks {
    std::vector<WaveTrackPart> waveParts;
    std::vector<WaveTrackItem> waves;
    std::vector<MuteItem> mutes;
    std::vector<TriggerItem> triggers;
    // Where the marker track lets another segment start, sorted.
    std::vector<std::int32_t> playMarkers;
    // What the segment holds that does not sound here, one entry per kind
    // ("parameter control (effect settings)").
    std::vector<std::string> silent;
};

bool IsWaveTrack(const Track& track);
bool IsMuteTrack(const Track& track);
bool IsSegmentTriggerTrack(const Track& track);
bool IsMarkerTrack(const Track& track);

// `raw` is a track's kept data (the 'wavt', 'mute' or 'segt' chunk with
// its header). The wave track's parts are added to `parts`, its items
// (naming them) to `out`; `clockTime`: the track is timed in 100 ns units.
void ReadWaveTrack(std::span<const std::uint8_t> raw, bool clockTime, std::vector<WaveTrackPart>& parts,
                   std::vector<WaveTrackItem>& out, Diagnostics& warnings);
void ReadMuteTrack(std::span<const std::uint8_t> raw, std::vector<MuteItem>& out, Diagnostics& warnings);
void ReadSegmentTriggerTrack(std::span<const std::uint8_t> raw, std::vector<TriggerItem>& out, Diagnostics& warnings);
// The play markers of a marker track ('MARK'), appended to `out`.
void ReadMarkerTrack(std::span<const std::uint8_t> raw, std::vector<std::int32_t>& out, Diagnostics& warnings);

// All four kinds from the tracks of a read segment, and a warning for each
// kind it holds that does not sound here.
void ReadExtraTracks(const SegmentFile& segment, ExtraTracks& out, Diagnostics& warnings);

// Applies the mute items to the notes and curves of the segment's sequence
// tracks: events of a muted PChannel are dropped, remapped ones move.
void ApplyMutes(const std::vector<MuteItem>& mutes, SegmentFile& segment);
// The PChannel an event of `pchannel` at `time` plays on (kMuted: none).
std::uint32_t MappedPChannel(const std::vector<MuteItem>& mutes, std::uint32_t pchannel, std::int64_t time);

} // namespace qorn::formats::segment
