// Reading segment files (RIFF 'DMSG', the .sgt and .sgp files) into a
// SegmentFile. Unknown chunks and track classes are skipped; a band entry
// whose collection cannot be found plays General MIDI or nothing (see
// MissingCollection).
#pragma once

#include "ReferenceResolver.h"
#include "SegmentFile.h"

#include <cstdint>
#include <set>
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

// What a band entry plays when the collection it names (`name`, as the
// reports show it) could not be loaded: the General MIDI set (-1) for an
// entry of a standard set, else nothing (BandInstrument::kSilent), since a
// General MIDI program would stand in for the author's own instrument with an
// unrelated sound. `damage` is what is wrong with a collection that was found
// but refused, empty when none was found. Said once for each name and
// channel; `said` remembers.
int MissingCollection(const BandInstrument& inst, const std::string& name, const std::string& damage,
                      Diagnostics& warnings, std::set<std::string>& said);

// Reads a band file (RIFF 'DMBD') on its own.
bool ReadBandFile(std::span<const std::uint8_t> bytes, Band& out, Diagnostics& warnings);

} // namespace qorn::formats::segment
