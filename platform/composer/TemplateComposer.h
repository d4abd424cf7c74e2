// Composition of a template's chords from a chordmap (what DirectMusic's
// composer does for a template or a shape): at each signpost a signpost
// chord of its group, between signposts a path through the chord graph
// that fills the time, cadence chords before a signpost that asks for
// them. The result is a chord track; the template's commands and the
// style then compose the notes through the style composer, as for any
// style-based segment.
#pragma once

#include "platform/formats/chordmap/ChordmapFile.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qorn::composer {

namespace cm = formats::chordmap;

// Activity 0..3: 0 changes chords most often. 1 is what the DirectX SDK's
// own template sample composes with.
inline constexpr int kDefaultActivity = 1;
inline constexpr int kMaxActivity = 3;

struct ChordComposeRequest {
    // Null: every signpost plays the key's tonic.
    const cm::Chordmap* chordmap = nullptr;
    std::vector<cm::Signpost> signposts; // by time
    std::int32_t length = 0;
    formats::style::TimeSignature timeSignature;
    int activity = kDefaultActivity;
    std::uint32_t seed = 0;
};

// How the chords between one signpost and the next were found, for those
// who want to know (and for tests).
struct ChordSpan {
    std::int32_t start = 0;
    std::int32_t end = 0;
    // Graph entries walked, the first at `start` (empty: the fallback held
    // the signpost chord).
    std::vector<int> path;
    int cadences = 0;
};

struct ComposedChords {
    formats::style::ChordTrack track;
    std::vector<ChordSpan> spans;
};

ComposedChords ComposeChords(const ChordComposeRequest& request);

// Whether two chords sound alike (sub-chord patterns and roots, octave aside).
bool SameChord(const formats::style::Chord& a, const formats::style::Chord& b);

// The shapes of DirectMusic's ComposeTemplateFromShape.
enum class Shape { Falling, Level, Loopable, Loud, Quiet, Peaking, Random, Rising, Song };
inline constexpr Shape kDefaultShape = Shape::Song;
inline constexpr int kDefaultShapeMeasures = 32;
inline constexpr int kMaxShapeMeasures = 1000;

std::optional<Shape> ShapeFromName(const std::string& name);
const char* ShapeName(Shape shape);
// "falling, level, ..." for messages and help.
std::string ShapeNames();

// A template made from a shape: signposts and commands over `measures`
// measures of `timeSignature`, with an intro and an end where the style
// has such patterns.
struct ShapeTemplate {
    std::int32_t length = 0;
    std::vector<cm::Signpost> signposts;
    std::vector<formats::style::Command> commands;
};
ShapeTemplate TemplateFromShape(Shape shape, int measures, const formats::style::Style& style, std::uint32_t seed);

} // namespace qorn::composer
