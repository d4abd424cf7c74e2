// Turns the per-track lists read from a file into the single sorted,
// clean event stream the performance plays.
#pragma once

#include "platform/music/Sequence.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qorn::formats::smf {

// `events` holds the tracks one after another, each sorted by tick; track i
// starts at trackStarts[i]. Returns all of them merged by tick, equal ticks
// in file order, in a vector of exactly the needed capacity.
std::vector<music::SeqEvent> MergeTracks(std::vector<music::SeqEvent>&& events,
                                         std::span<const std::size_t> trackStarts);

// Makes the merged stream play cleanly. At one tick, a note-off that ends an
// earlier note of the same channel and key is moved before a note-on of that
// key, so the re-struck note is not cut at once; a note-on followed by its
// note-off at one tick (a zero-length note) keeps its order. Notes still
// sounding at the end get note-offs at `endTick`.
void CleanUpNotes(std::vector<music::SeqEvent>& events, std::uint32_t endTick);

// Sorts by tick keeping file order; of several changes at one tick the last wins.
void NormalizeTempoMap(std::vector<music::TempoChange>& tempos);

void SortSysex(std::vector<music::SysExEvent>& sysex);

} // namespace qorn::formats::smf
