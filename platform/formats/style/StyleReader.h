// Readers of style files (RIFF 'DMST') and of the segment tracks that play
// a style: chord track (LIST 'cord'), command track ('cmnd') and style
// track (LIST 'sttr'). Every record is read by the size the file stores;
// unknown chunks are skipped; problems that cost only part of the data are
// appended to `warnings`.
#pragma once

#include "StyleFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/riff/RiffChunk.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorn::formats::style {

inline constexpr std::uint32_t kStyleForm = ByteReader::fourCC("DMST");

// Cheap test of the first bytes: a RIFF form of type 'DMST' or the older 'AASY'.
bool LooksLikeStyleFile(std::span<const std::uint8_t> bytes);

// A whole style file of either form. False (with a message) only when the bytes are no
// style or have no usable header.
bool ReadStyleFile(std::span<const std::uint8_t> bytes, Style& out, Diagnostics& warnings, std::string* error);

// A pattern track's form (RIFF 'DMPT'): a style header and one pattern
// that carries its own parts, read as a style of that one pattern.
inline constexpr std::uint32_t kPatternTrackForm = ByteReader::fourCC("DMPT");

// The 'DMST' form itself, found inside another file, or a 'DMPT' form.
bool ReadStyleForm(const riff::Chunk& form, Style& out, Diagnostics& warnings, std::string* error);

void ReadChordTrack(const riff::Chunk& list, ChordTrack& out, Diagnostics& warnings);
void ReadCommandTrack(const riff::Chunk& chunk, std::vector<Command>& out, Diagnostics& warnings);
// Styles stored inside the track are read at once; referenced ones are left
// for the caller to find.
void ReadStyleTrack(const riff::Chunk& list, std::vector<StyleReference>& out, Diagnostics& warnings);

} // namespace qorn::formats::style
