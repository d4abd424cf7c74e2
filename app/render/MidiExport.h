// Turns what a play of a loaded piece sends to its port into one flat
// Sequence: the performance's own player is run against a clock of whole
// ticks, so repeats, loop regions, note releases at the joints and the
// tempo of each pass come out exactly as they would play.
#pragma once

#include "platform/formats/common/Diagnostics.h"
#include "platform/music/Sequence.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace qorn::render {

// `repeats` of the loop region after the first pass (no endless play);
// `tempoFactor` scales every tempo, as the player's tempo choice does. A
// play longer than `maxSeconds` is stopped there, as a render is.
// Warnings name what a MIDI file cannot carry.
music::Sequence UnrollPlay(const std::shared_ptr<const music::Sequence>& sequence, std::uint32_t repeats,
                           double tempoFactor, formats::Diagnostics* warnings,
                           double maxSeconds = std::numeric_limits<double>::infinity());

} // namespace qorn::render
