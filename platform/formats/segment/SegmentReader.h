// Reading segment files (RIFF 'DMSG', the .sgt and .sgp files) into a
// SegmentFile. Unknown chunks and track classes are skipped; a reference
// that cannot be resolved leaves its part on the General MIDI set.
#pragma once

#include "ReferenceResolver.h"
#include "SegmentFile.h"

#include <cstdint>
#include <span>
#include <string>

namespace qorn::formats::segment {

// Cheap test of the first bytes: a RIFF form of type 'DMSG'.
bool LooksLikeSegmentFile(std::span<const std::uint8_t> bytes);

// False (with a message naming the chunk and offset) only when the bytes
// are not a segment at all or have no usable header.
bool ReadSegmentFile(std::span<const std::uint8_t> bytes, SegmentFile& out, const ReferenceResolver& resolver,
                     std::string* error);

// Warns of each instrument of `band` whose collection lacks its exact patch:
// it plays the collection's instrument of that program at another bank, or
// General MIDI when the collection has none.
void CheckBandPatches(const Band& band, const std::vector<std::shared_ptr<const dls::Collection>>& collections,
                      Diagnostics& warnings);

// Reads a band file (RIFF 'DMBD') on its own.
bool ReadBandFile(std::span<const std::uint8_t> bytes, Band& out, Diagnostics& warnings);

} // namespace qorn::formats::segment
