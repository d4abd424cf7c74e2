// The content of a chordmap (RIFF 'DMPR', and the older forms read into the
// same model) and of the template tracks that compose with one: the signpost
// track and the chordmap reference track. A chordmap is a graph of chords:
// the composer walks it from one signpost chord to the next.
#pragma once

#include "platform/formats/segment/ObjectReference.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::formats::chordmap {

// Signpost groups and cadence requests of a template's signposts and of a
// chordmap's signpost chords.
namespace signpost {
inline constexpr std::uint32_t kA = 0x1;
inline constexpr std::uint32_t kB = 0x2;
inline constexpr std::uint32_t kC = 0x4;
inline constexpr std::uint32_t kD = 0x8;
inline constexpr std::uint32_t kE = 0x10;
inline constexpr std::uint32_t kF = 0x20;
inline constexpr std::uint32_t kLetters = 0x3F;
inline constexpr std::uint32_t k1 = 0x100;
inline constexpr std::uint32_t k2 = 0x200;
inline constexpr std::uint32_t k3 = 0x400;
inline constexpr std::uint32_t k4 = 0x800;
inline constexpr std::uint32_t k5 = 0x1000;
inline constexpr std::uint32_t k6 = 0x2000;
inline constexpr std::uint32_t k7 = 0x4000;
inline constexpr std::uint32_t kRoots = 0x7F00;
// On a template signpost: the chord before it is a cadence.
inline constexpr std::uint32_t kCadence = 0x8000;
} // namespace signpost

// On a chordmap signpost chord: which of its cadence chords precede it.
namespace cadence {
inline constexpr std::uint32_t kFirst = 0x2;
inline constexpr std::uint32_t kSecond = 0x4;
} // namespace cadence

// A chord of the chordmap: its name as authored and its sub-chords, the
// same model a chord track's chord has (time fields unused).
using Chord = style::Chord;

// An edge of the chord graph: from one graph chord to the chord whose
// connection id is `connectionId`, held for between `minBeats` and
// `maxBeats` beats, chosen with `weight` among the edges of its chord.
struct NextChord {
    std::uint32_t flags = 0;
    std::uint16_t weight = 0;
    std::uint16_t minBeats = 0;
    std::uint16_t maxBeats = 0;
    std::uint16_t connectionId = 0;
};

struct ChordEntry {
    // DMUS_CHORDMAPF-style flags of the entry as authored.
    std::uint32_t flags = 0;
    std::uint16_t connectionId = 0;
    Chord chord;
    std::vector<NextChord> next;
};

struct SignpostChord {
    // The groups (signpost::kA ... k7) this chord may stand at.
    std::uint32_t groups = 0;
    // cadence::kFirst / kSecond: which cadence chords precede it.
    std::uint32_t cadenceFlags = 0;
    Chord chord;
    std::vector<Chord> cadences; // at most two, first then second
};

struct Chordmap {
    // The names it gives itself: its header's load name and its 'UNFO'
    // name; references by name are matched against both.
    std::string name;
    std::string infoName;
    // The older form's own 8.3 file stem ("JAZZ"), which a style's
    // reference names as its file.
    std::string fileStem;
    bool hasGuid = false;
    platform::GUID guid{};
    // The key: root 0..23 (as a chord track's) and scale pattern.
    std::uint8_t keyRoot = 0;
    std::uint32_t scalePattern = 0xAB5AB5;
    std::uint32_t flags = 0;
    // The chord palette (24 chords by scale degree in the newer form); may be empty.
    std::vector<Chord> palette;
    std::vector<ChordEntry> graph;
    std::vector<SignpostChord> signposts;
};

// One signpost of a template's signpost track.
struct Signpost {
    std::int32_t time = 0;
    std::uint16_t measure = 0;
    std::uint32_t groups = 0; // signpost:: flags, kCadence included
};

// One reference of a chordmap reference track.
struct ChordmapReference {
    std::int32_t time = 0;
    segment::ObjectReference reference;
    // The chordmap itself, once found.
    std::shared_ptr<const Chordmap> chordmap;
};

} // namespace qorn::formats::chordmap
