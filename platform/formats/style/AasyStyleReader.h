// Reader of the older style form of DirectMusic 6 and 7 (RIFF 'AASY'),
// described in docs/formats/aasy-style.md. It gives the same Style model
// the 'DMST' reader gives, so the composer, the variation choice and the
// bands play both alike. Callers use ReadStyleFile, which dispatches here.
#pragma once

#include "StyleFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/riff/RiffChunk.h"

#include <cstdint>
#include <string>

namespace qorn::formats::style {

inline constexpr std::uint32_t kAasyStyleForm = ByteReader::fourCC("AASY");

// The part that holds the drums in the older form, and the channel it plays on.
inline constexpr std::uint32_t kAasyDrumPart = 5;

// The performance channel an older style's part (0..15) plays on: the drum
// part on the General MIDI drum channel, the part that channel would have
// had in its place, every other part on its own number.
std::uint32_t AasyPartChannel(std::uint32_t part);

// The General MIDI drum key an older style's drum note stands for.
std::uint8_t AasyDrumKey(std::uint8_t value);

// The 'AASY' form. False (with a message) only when it has no usable
// 'styl' header.
bool ReadAasyStyleForm(const riff::Chunk& form, Style& out, Diagnostics& warnings, std::string* error);

} // namespace qorn::formats::style
