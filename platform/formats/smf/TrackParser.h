// Reads the events of one MTrk chunk into a Sequence under construction.
// The parser is forgiving: it plays up to a cut, skips bytes that are not
// MIDI, and does not need an End-of-Track event.
#pragma once

#include "platform/music/Sequence.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace qorn::formats::smf {

struct TrackOptions {
    // Added to every tick (format 2 plays its tracks one after another).
    std::uint32_t tickOffset = 0;
    // Tempo events are ignored in pieces timed in SMPTE frames.
    bool keepTempo = true;
    // When the chunk length cannot be trusted, the track runs to the end of
    // the bytes, so a following "MTrk" tag at an event boundary ends it.
    bool stopAtTrackTag = false;
};

struct TrackResult {
    // Offset in the given bytes where reading stopped (after End-of-Track,
    // at a cut, or at the end).
    std::size_t endPosition = 0;
    // Absolute tick of End-of-Track, or of the last event when it is missing.
    std::uint32_t endTick = 0;
    bool sawEndOfTrack = false;
    // Offset of a channel event's data byte of 0x80 or more, where the
    // track was ended; 0 when none was met.
    std::size_t badDataAt = 0;
};

// Appends the track's channel events, tempo changes, markers and
// system-exclusive messages to `out` (events in track order, not yet merged with others).
TrackResult ParseTrack(std::span<const std::uint8_t> bytes, const TrackOptions& options, music::Sequence& out);

} // namespace qorn::formats::smf
