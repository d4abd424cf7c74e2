// Readers of chordmap files (RIFF 'DMPR', the DirectX 7 and DirectX 8
// forms) and of the two template tracks that compose with them: the
// signpost track ('sgnp') and the chordmap reference track (LIST 'pftr').
// Every count and size is bounded by the chunk that holds it; what damage
// costs is reported in `warnings`.
#pragma once

#include "ChordmapFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/riff/RiffChunk.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorn::formats::chordmap {

inline constexpr std::uint32_t kChordmapForm = ByteReader::fourCC("DMPR");
// On Chordmap::flags: authored for DirectX 8 or later.
inline constexpr std::uint32_t kVersion8 = 0x1;

// Cheap test of the first bytes: a chordmap of a form ReadChordmap reads
// (RIFF 'DMPR', or the older 'REPs').
bool LooksLikeChordmapFile(std::span<const std::uint8_t> bytes);

// The one entry for every chordmap form: the content of a whole chordmap
// file. False with a message when the bytes hold no chordmap this player
// reads.
bool ReadChordmap(std::span<const std::uint8_t> bytes, Chordmap& out, Diagnostics& warnings, std::string* error);

// A template's signpost track (chunk 'sgnp'), sorted by time.
void ReadSignpostTrack(const riff::Chunk& chunk, std::vector<Signpost>& out, Diagnostics& warnings);
// A template's chordmap reference track (LIST 'pftr'), sorted by time.
void ReadChordmapTrack(const riff::Chunk& list, std::vector<ChordmapReference>& out, Diagnostics& warnings);

} // namespace qorn::formats::chordmap
