// Turns a read segment into the playable music::Sequence (768 ticks per
// quarter note): notes with durations become note-on/off pairs, bands
// become patch selections with their volume, pan and pitch-bend range,
// curves become controller changes, the segment's play start, length, loop
// region and repeats are applied.
#pragma once

#include "PChannelMap.h"
#include "SegmentFile.h"
#include "platform/music/Sequence.h"

namespace qorn::formats::segment {

// Never fails for a SegmentFile that ReadSegmentFile produced; problems
// (events past the end, damaged loop points, PChannels left without a
// channel) are added to `warnings`. The PChannels play where `channels`
// puts them; without it, where the segment's own map puts them.
void BuildSegmentSequence(const SegmentFile& segment, const PChannelMap& channels, music::Sequence& out,
                          Diagnostics* warnings);
void BuildSegmentSequence(const SegmentFile& segment, music::Sequence& out, Diagnostics* warnings);

// The tempo changes of the segment's tempo tracks, in segment time.
std::vector<music::TempoChange> SegmentTempoMap(const SegmentFile& segment);

// Ticks reached after `clockTime` (100 ns units) under the tempo map.
std::uint32_t ClockTimeToTicks(const std::vector<music::TempoChange>& tempos, std::uint32_t ticksPerQuarter,
                               std::int64_t clockTime);

} // namespace qorn::formats::segment
