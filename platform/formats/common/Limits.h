// Every bound the readers, the composer and the loader put on what an
// outside file may ask for, in one place. No piece authored with the usual
// tools comes near any of them; each keeps a hostile or damaged file from
// taking unbounded memory, time or stack.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorn::limits {

// A file opened or referenced (segment, style, band, collection, wave):
// larger ones are refused before reading; the biggest collections are a few tens of MiB.
inline constexpr std::uint64_t kMaxFileBytes = 256ull << 20;
// RIFF lists inside lists (segments, styles, bands, collections): deeper trees are refused, bounding recursion.
inline constexpr int kMaxRiffDepth = 24;
// Chunks kept of one segment track: a track holds a header and a few data chunks.
inline constexpr std::size_t kMaxTrackParts = 64;
// Folder entries compared when a referenced name matches only without case.
inline constexpr std::size_t kMaxFolderEntries = 20000;
// Triggered segments that trigger others are followed this deep (the first level is 1).
inline constexpr int kMaxTriggerDepth = 4;
// Triggered segments read for one load, so a segment that triggers itself plays a bounded number of copies.
inline constexpr int kMaxTriggeredSegments = 64;
// Points one curve is drawn with; longer curves step more coarsely.
inline constexpr std::int64_t kMaxPointsPerCurve = 4096;
// Messages all curves of a segment may make; past it they jump to their end values
// (continuous pitch bend on 16 channels for five minutes needs about 600,000).
inline constexpr std::size_t kMaxCurveEvents = std::size_t(1) << 20;
// Notes one style composition may make; a bar-long style repeated for an hour makes fewer.
inline constexpr std::size_t kMaxComposedNotes = std::size_t(1) << 16;
// Patterns one style composition may place (one per measure at the least).
inline constexpr std::size_t kMaxPatternPlays = std::size_t(1) << 14;
// Sub-chords of one chord: a chord has four at most in practice.
inline constexpr std::uint32_t kMaxSubChords = 64;
// Chords of one chordmap's palette, graph or signpost list: authored maps hold
// a few dozen; the composer's path search is sized by the graph.
inline constexpr std::size_t kMaxChordmapChords = 1024;
// Edges leaving one chord of a chordmap's graph.
inline constexpr std::size_t kMaxChordmapEdges = 64;
// Signposts of one template (one a beat for half an hour at most).
inline constexpr std::size_t kMaxSignposts = 4096;
// Passes of a repeating piece unrolled into one play.
inline constexpr std::uint32_t kMaxUnrolledPasses = 17;
// Messages of an unrolled play; past it the remaining repeats are not unrolled.
inline constexpr std::size_t kMaxUnrolledEvents = std::size_t(1) << 21;
// Sample frames of one wave (about 25 minutes at 44.1 kHz).
inline constexpr std::size_t kMaxWaveFrames = std::size_t(1) << 26;
// Mono samples of all the waves of one collection (256 MiB at 16 bits, what
// the largest file holds as plain samples): compressed waves expand.
inline constexpr std::size_t kMaxCollectionSamples = std::size_t(1) << 27;

} // namespace qorn::limits
