// Readers of the track kinds a sequence-based segment carries. Each reads
// the data chunk (or form) a track header names into the Track; problems
// that only cost part of the track are appended to `warnings`.
#pragma once

#include "SegmentFile.h"
#include "platform/formats/riff/RiffChunk.h"

#include <string>
#include <vector>

namespace qorn::formats::segment {

void ReadSequenceTrack(const riff::Chunk& data, Track& track, std::vector<std::string>& warnings);
void ReadTempoTrack(const riff::Chunk& data, Track& track, std::vector<std::string>& warnings);
void ReadTimeSignatureTrack(const riff::Chunk& data, Track& track, std::vector<std::string>& warnings);
void ReadSysExTrack(const riff::Chunk& data, Track& track, std::vector<std::string>& warnings);

} // namespace qorn::formats::segment
