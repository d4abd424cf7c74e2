// Readers of bands ('DMBD' forms) and band tracks ('DMBT' forms).
#pragma once

#include "SegmentFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/riff/RiffChunk.h"

#include <string>
#include <vector>

namespace qorn::formats::segment {

// A band of a band track that is stored elsewhere (in a band file or a
// container) and named by a reference.
struct BandReference {
    std::int32_t time = 0;
    ObjectReference reference;
};

// Reads a RIFF 'DMBD' form into `band` (its time is left as it is).
void ReadBandForm(const riff::Chunk& form, Band& band, Diagnostics& warnings);

// Reads a RIFF 'DMBT' form: the bands it carries go into track.bands, the
// bands it only names into `references`.
void ReadBandTrack(const riff::Chunk& form, Track& track, std::vector<BandReference>& references,
                   Diagnostics& warnings);

} // namespace qorn::formats::segment
