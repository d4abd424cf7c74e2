// Reader of Standard MIDI Files (formats 0, 1 and 2, plain or wrapped in a
// RIFF RMID file) into the playable Sequence form.
#pragma once

#include "platform/formats/common/Diagnostics.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorn::formats {

// A cheap look at the first bytes: true for an MThd header, or a RIFF RMID
// file whose "data" chunk holds one. Does not read the tracks.
bool LooksLikeStandardMidiFile(std::span<const std::uint8_t> bytes);

// Reads the whole file into `out` (replacing its contents). Damaged files
// give what can be recovered; false only when the bytes are not a MIDI file
// at all or hold no readable track, with the reason in `error` if given;
// what was dropped or mended goes to `warnings` if given.
bool ReadStandardMidiFile(std::span<const std::uint8_t> bytes, music::Sequence& out, std::string* error = nullptr,
                          Diagnostics* warnings = nullptr);

} // namespace qorn::formats
