// Writer of Standard MIDI Files from the playable Sequence form: format 1,
// a first track with the tempo map and system-exclusive messages, then one
// track per MIDI channel used, at the piece's own division.
#pragma once

#include "platform/music/Sequence.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::formats {

// Writes the events of channel block 0 (the block a single port plays).
// Band patches become bank select and program change messages. A division
// too fine for the file's 15 bits is coarsened by a whole factor.
// A `name` becomes the sequence name of the first track.
std::vector<std::uint8_t> WriteStandardMidiFile(const music::Sequence& sequence, const std::string& name = {});

} // namespace qorn::formats
