// Reader of the older chordmap form of DirectMusic 6 and 7: not RIFF but
// an IFF-like file of type 'REPs' (or 'PMC5', its variant holding signposts
// only) with big-endian sizes around fixed-size little-endian records
// (docs/formats/reps-chordmap.md). It gives the same Chordmap model the
// 'DMPR' reader gives.
#pragma once

#include "ChordmapFile.h"
#include "platform/formats/common/Diagnostics.h"

#include <cstdint>
#include <span>
#include <string>

namespace qorn::formats::chordmap {

// Cheap test of the first bytes: the 'REPs' or 'PMC5' tag.
bool LooksLikeRepsChordmap(std::span<const std::uint8_t> bytes);

// A whole 'REPs' or 'PMC5' file. False (with a message) only when the bytes are no
// such chordmap or its header is cut short; damage past it costs the chords
// it holds, said in `warnings`. `fileName`, if given, receives the 8.3 name
// the file stores for itself (the name a style's reference uses).
bool ReadRepsChordmap(std::span<const std::uint8_t> bytes, Chordmap& out, Diagnostics& warnings, std::string* error,
                      std::string* fileName = nullptr);

} // namespace qorn::formats::chordmap
