// Readers of the track kinds a sequence-based segment carries. Each reads
// the data chunk (or form) a track header names into the Track; problems
// that only cost part of the track are appended to `warnings`.
#pragma once

#include "SegmentFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/riff/RiffChunk.h"

#include <string>
#include <vector>

namespace qorn::formats::segment {

void ReadSequenceTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings);
void ReadTempoTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings);
void ReadTimeSignatureTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings);
void ReadSysExTrack(const riff::Chunk& data, Track& track, Diagnostics& warnings);

} // namespace qorn::formats::segment
