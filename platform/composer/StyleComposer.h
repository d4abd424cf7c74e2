// Composition of a style over a chord progression: the command track
// chooses patterns (by groove level and embellishment), each part reference
// of a pattern plays one variation of its part, and every note's music
// value becomes a MIDI key under the chord of its grid time. The result is
// a sequence track of the segment form, so the segment's own builder turns
// it into playable events with everything else the segment carries.
#pragma once

#include "platform/formats/common/Limits.h"

#include "platform/formats/segment/SegmentFile.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qorn::composer {

struct ComposeRequest {
    const formats::style::Style* style = nullptr;
    // Sorted by time. Without commands the style plays its groove at
    // kDefaultGrooveLevel.
    std::vector<formats::style::Command> commands;
    // Without chords the music plays over a major chord on the key root.
    formats::style::ChordTrack chords;
    // Music time composed: [start, end).
    std::int32_t start = 0;
    std::int32_t end = 0;
    // The same seed gives the same music.
    std::uint32_t seed = 0;
    // At or above 0: this pattern of the style plays again and again,
    // whatever it is and whatever the commands ask (a pattern track, a
    // motif).
    int onlyPattern = -1;
};

inline constexpr std::uint8_t kDefaultGrooveLevel = 62;

// A damaged length could ask for millions of patterns; what is composed
// stays bounded whatever the file says: 65,536 notes are over half an hour
// of dense eight-part music, and composing them takes a few tens of ms.
inline constexpr std::size_t kMaxComposedNotes = limits::kMaxComposedNotes;
inline constexpr std::size_t kMaxPatternPlays = limits::kMaxPatternPlays;

// One pattern played, for those who want to know why the music sounds as
// it does (and for tests).
struct PatternPlay {
    std::int32_t start = 0;
    std::int32_t end = 0;
    int pattern = -1;
    std::uint8_t grooveLevel = 0;
    std::vector<int> variations; // per part reference, -1 for none
};

struct Composition {
    formats::segment::Track track; // Kind::Sequence: notes and curves
    std::vector<PatternPlay> plays;
    // Notes whose music value had no place in the chord.
    std::size_t droppedNotes = 0;
    // Composition stopped at its bound on notes or patterns.
    bool truncated = false;
};

Composition Compose(const ComposeRequest& request);

// Composes one request span after span, as a player that jumps back to a
// loop start keeps composing: chance and the memory of the variations
// played carry on from span to span, so a repeat chooses its patterns and
// variations anew while the seed still makes the whole run repeatable.
class SpanComposer {
  public:
    // Keeps a copy of the request; its style must outlive the composer.
    explicit SpanComposer(const ComposeRequest& request);
    ~SpanComposer();
    SpanComposer(const SpanComposer&) = delete;
    SpanComposer& operator=(const SpanComposer&) = delete;

    // The music of [start, end) within the request's own range. A span
    // after the request's start begins at the groove level of the commands
    // before it. Compose(r) is one span over [r.start, r.end).
    Composition compose(std::int32_t start, std::int32_t end);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

class SeededRandom;

// The pattern a command asks for at `grooveLevel` among `style`'s patterns,
// -1 when the style has none to play. `embellishment` 0 means a normal
// groove pattern; when no pattern has the embellishment, a groove pattern
// plays instead. Patterns whose groove range holds the level are preferred,
// then the closest; ties are broken by `random`.
int ChoosePattern(const formats::style::Style& style, std::uint8_t grooveLevel, std::uint16_t embellishment,
                  SeededRandom& random);

} // namespace qorn::composer
