// The content of a style file (RIFF 'DMST') and of the tracks that make a
// segment compose from a style: the chord track, the command track and the
// style track. Times are music time at 768 ticks per quarter note; style
// notes are placed on the grid of their part's time signature.
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/formats/segment/ObjectReference.h"
#include "platform/formats/segment/SegmentFile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::formats::style {

struct TimeSignature {
    std::uint8_t beatsPerMeasure = 4;
    std::uint8_t beat = 4; // 4 = quarter note
    std::uint16_t gridsPerBeat = 4;

    // Ticks of one beat and one grid, never 0 (damaged values fall back to
    // a quarter-note beat and one grid per beat).
    std::uint32_t beatTicks() const;
    std::uint32_t gridTicks() const;
    std::uint32_t measureTicks() const;
    // Music time of a grid position counted from the start of the pattern.
    std::int64_t gridToTicks(std::int32_t grid) const;
};

// How a style note's music value becomes a MIDI note.
namespace playmode {
inline constexpr std::uint8_t kKeyRoot = 0x01;
inline constexpr std::uint8_t kChordRoot = 0x02;
inline constexpr std::uint8_t kScaleIntervals = 0x04;
inline constexpr std::uint8_t kChordIntervals = 0x08;
// On a note: use the part's mode.
inline constexpr std::uint8_t kNone = 0x10;

inline constexpr std::uint8_t kFixed = 0;
inline constexpr std::uint8_t kFixedToKey = kKeyRoot;
inline constexpr std::uint8_t kFixedToChord = kChordRoot;
inline constexpr std::uint8_t kPedalPoint = kKeyRoot | kScaleIntervals;
inline constexpr std::uint8_t kMelodic = kChordRoot | kScaleIntervals;
inline constexpr std::uint8_t kNormalChord = kChordRoot | kChordIntervals;
inline constexpr std::uint8_t kAlwaysPlay = kMelodic | kNormalChord;
inline constexpr std::uint8_t kPedalPointChord = kKeyRoot | kChordIntervals;
} // namespace playmode

// Pattern kinds (a pattern may carry several bits).
namespace embellishment {
inline constexpr std::uint16_t kNormal = 0;
inline constexpr std::uint16_t kFill = 0x1;
inline constexpr std::uint16_t kBreak = 0x2;
inline constexpr std::uint16_t kIntro = 0x4;
inline constexpr std::uint16_t kEnd = 0x8;
inline constexpr std::uint16_t kMotif = 0x10;
} // namespace embellishment

struct StyleNote {
    std::int32_t gridStart = 0;
    std::uint32_t variations = 0; // one bit per variation
    std::int32_t duration = 0;
    std::int16_t timeOffset = 0;
    std::uint16_t musicValue = 0;
    std::uint8_t velocity = 100;
    std::uint8_t timeRange = 0;
    std::uint8_t durationRange = 0;
    std::uint8_t velocityRange = 0;
    std::uint8_t inversionId = 0;
    std::uint8_t playMode = playmode::kNone;
    std::uint8_t noteFlags = 0;
};

struct StyleCurve {
    std::int32_t gridStart = 0;
    std::uint32_t variations = 0;
    std::int32_t duration = 0;
    std::int32_t resetDuration = 0;
    std::int16_t timeOffset = 0;
    std::int16_t startValue = 0;
    std::int16_t endValue = 0;
    std::int16_t resetValue = 0;
    std::uint8_t kind = 0;  // segment::CurveKind
    std::uint8_t shape = 0; // segment::CurveShape
    std::uint8_t ccData = 0;
    std::uint8_t flags = 0;
    std::uint16_t paramType = 0;
};

// A place in a part where a variation may begin or end when the part
// changes variation inside a pattern.
struct StyleMarker {
    static constexpr std::uint16_t kStart = 0x1;
    static constexpr std::uint16_t kStop = 0x2;
    // Only where the chord changes.
    static constexpr std::uint16_t kChordAlign = 0x4;

    std::int32_t gridStart = 0;
    std::uint32_t variations = 0;
    std::uint16_t flags = 0;
};

struct StylePart {
    // The part changes variation inside a pattern, at its markers.
    static constexpr std::uint32_t kUseMarkers = 0x1;
    // ... and only where the chord changes.
    static constexpr std::uint32_t kAlignToChords = 0x2;

    TimeSignature timeSignature;
    // Per variation: the chords it may play over (0 = variation unused).
    std::array<std::uint32_t, 32> variationChoices{};
    platform::GUID id{};
    std::uint16_t measures = 1;
    std::uint8_t playMode = playmode::kNormalChord;
    std::uint8_t invertUpper = 127;
    std::uint8_t invertLower = 0;
    std::uint32_t flags = 0;
    std::vector<StyleNote> notes;
    std::vector<StyleCurve> curves;
    std::vector<StyleMarker> markers;
};

// Variation order of a part reference.
namespace variationmode {
inline constexpr std::uint8_t kSequential = 0;
inline constexpr std::uint8_t kRandom = 1;
inline constexpr std::uint8_t kRandomStart = 2;
inline constexpr std::uint8_t kNoRepeat = 3;
inline constexpr std::uint8_t kRandomRow = 4;
} // namespace variationmode

struct PartRef {
    platform::GUID partId{};
    std::uint16_t logicalPartId = 0;
    // Parts of one pattern with the same lock id play the same variation;
    // the high bit marks the part that chooses for the group.
    std::uint8_t variationLockId = 0;
    std::uint8_t subChordLevel = 0;
    std::uint8_t priority = 0;
    std::uint8_t randomVariation = variationmode::kRandom;
    std::uint32_t pchannel = 0;
    // Index into Style::parts, -1 when no part has the id.
    int part = -1;
};

struct Pattern {
    std::string name;
    TimeSignature timeSignature;
    std::uint8_t grooveBottom = 1;
    std::uint8_t grooveTop = 100;
    std::uint16_t embellishment = embellishment::kNormal;
    std::uint16_t measures = 1;
    std::uint8_t destGrooveBottom = 0;
    std::uint8_t destGrooveTop = 0;
    std::uint32_t flags = 0;
    // One word per measure: the beats where chords may change.
    std::vector<std::uint32_t> rhythm;
    std::vector<PartRef> partRefs;
    // A motif's repeats: the number of plays after the first.
    std::uint32_t motifRepeats = 0;

    std::uint32_t lengthTicks() const;
};

struct Style {
    TimeSignature timeSignature;
    double tempo = 120.0;
    bool hasGuid = false;
    platform::GUID guid{};
    std::string name;
    std::vector<StylePart> parts;
    std::vector<Pattern> patterns;
    std::vector<segment::Band> bands;
    // The chordmaps the style names (LIST 'prrf'), its default first.
    std::vector<segment::ObjectReference> chordmaps;
};

struct SubChord {
    std::uint32_t chordPattern = 0x91;     // major triad
    std::uint32_t scalePattern = 0xAB5AB5; // major scale over two octaves
    std::uint32_t inversionPoints = 0xFFFFFF;
    std::uint32_t levels = 0xFFFFFFFF;
    std::uint8_t chordRoot = 0;
    std::uint8_t scaleRoot = 0;
};

struct Chord {
    std::string name;
    std::int32_t time = 0;
    std::uint16_t measure = 0;
    std::uint8_t beat = 0;
    std::uint8_t flags = 0;
    std::vector<SubChord> subChords;
};

struct ChordTrack {
    std::uint8_t keyRoot = 0;
    std::uint32_t keyScale = 0xAB5AB5;
    std::vector<Chord> chords; // by time
};

namespace command {
inline constexpr std::uint8_t kGroove = 0;
inline constexpr std::uint8_t kFill = 1;
inline constexpr std::uint8_t kIntro = 2;
inline constexpr std::uint8_t kBreak = 3;
inline constexpr std::uint8_t kEnd = 4;
inline constexpr std::uint8_t kEndAndIntro = 5;
} // namespace command

struct Command {
    std::int32_t time = 0;
    std::uint16_t measure = 0;
    std::uint8_t beat = 0;
    std::uint8_t command = command::kGroove;
    std::uint8_t grooveLevel = 0;
    std::uint8_t grooveRange = 0;
    std::uint8_t repeatMode = 0;
};

struct StyleReference {
    std::int32_t time = 0;
    bool hasReference = false;
    segment::ObjectReference reference;
    // The style itself: stored inside the track, or found for the reference.
    std::shared_ptr<const Style> style;
};

} // namespace qorn::formats::style
