#include "tests/support/TestStyles.h"

#include "platform/composer/MusicValue.h"
#include "platform/composer/StyleComposer.h"
#include "platform/composer/VariationChooser.h"

#include <gtest/gtest.h>

#include <set>

namespace qorn::styles_test {
namespace {

namespace pm = st::playmode;
using composer::Compose;
using composer::ComposeRequest;
using composer::Composition;

constexpr std::uint16_t MV(int octave, int chordPos, int scaleSteps, int accidental = 0) {
    return static_cast<std::uint16_t>((octave << 12) | (chordPos << 8) | (scaleSteps << 4) | (accidental & 0xF));
}

Composition ComposeOver(const st::Style& style, st::ChordTrack chords, std::vector<st::Command> commands,
                        std::int32_t measures, std::uint32_t seed = 1) {
    ComposeRequest r;
    r.style = &style;
    r.chords = std::move(chords);
    r.commands = std::move(commands);
    r.start = 0;
    r.end = measures * std::int32_t(kMeasure);
    r.seed = seed;
    return Compose(r);
}

// Keys of the notes composed on one PChannel, in time order.
std::vector<int> KeysOn(const Composition& c, std::uint32_t pchannel) {
    std::vector<std::pair<std::int32_t, int>> notes;
    for (const auto& e : c.track.events)
        if (e.pchannel == pchannel) notes.push_back({e.time, e.data1});
    std::stable_sort(notes.begin(), notes.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<int> keys;
    for (auto& n : notes)
        keys.push_back(n.second);
    return keys;
}

// One pattern of one measure whose single note has the given music value;
// played over C major (first measure) and D minor (second) in F major.
struct PlayModeCase {
    const char* name;
    std::uint8_t mode;
    std::uint16_t value;
    std::vector<int> expected; // per measure; empty: the note is dropped
};

TEST(StyleComposerTest, MusicValuesFollowThePlayModeOverTwoChords) {
    const PlayModeCase cases[] = {
        {"fixed", pm::kFixed, 60, {60, 60}},
        {"fixed to key root", pm::kFixedToKey, 60, {65, 65}},
        {"fixed to chord root", pm::kFixedToChord, 60, {60, 62}},
        {"chord intervals: third", pm::kNormalChord, MV(5, 1, 0), {64, 65}},
        {"chord intervals: fifth an octave up", pm::kNormalChord, MV(6, 2, 0), {79, 81}},
        {"chord intervals and a scale step", pm::kNormalChord, MV(5, 1, 1), {65, 67}},
        {"chord intervals and an accidental", pm::kNormalChord, MV(5, 0, 0, -1), {59, 61}},
        {"scale intervals from the chord root", pm::kMelodic, MV(5, 0, 1), {62, 64}},
        {"scale intervals: a chord position is a third", pm::kMelodic, MV(5, 1, 1), {65, 67}},
        {"scale intervals from the key root", pm::kPedalPoint, MV(5, 0, 2), {69, 69}},
        {"over the chord: dropped", pm::kNormalChord, MV(5, 3, 0), {}},
        {"over the chord in always-play: by the scale", pm::kAlwaysPlay, MV(5, 3, 0), {70, 72}},
        {"within the chord in always-play: chord intervals", pm::kAlwaysPlay, MV(5, 2, 1), {69, 70}},
        {"chord intervals from the key root", pm::kPedalPointChord, MV(5, 1, 0), {69, 68}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        st::Style style;
        style.parts = {Part(1, c.mode, {Note(0, c.value)})};
        style.patterns = {PatternOf({Ref(1, 3)})};
        Link(style);
        const Composition out = ComposeOver(style, TwoChords(), {}, 2);
        EXPECT_EQ(KeysOn(out, 3), c.expected);
        if (c.expected.empty()) {
            EXPECT_EQ(out.droppedNotes, 2u);
        } else {
            ASSERT_EQ(out.track.events.size(), 2u);
            EXPECT_EQ(out.track.events[1].time, std::int32_t(kMeasure));
        }
    }
}

TEST(StyleComposerTest, NotePlayModeOverridesThePartAndInversionFoldsIntoBounds) {
    st::Style style;
    auto inverted = Note(0, MV(6, 2, 0), 1, pm::kNormalChord);
    inverted.inversionId = 1;
    auto part = Part(1, pm::kFixed, {Note(0, 50), inverted});
    part.invertLower = 60;
    part.invertUpper = 71;
    style.parts = {part};
    style.patterns = {PatternOf({Ref(1, 0)})};
    Link(style);
    const Composition out = ComposeOver(style, TwoChords(), {}, 1);
    const auto keys = KeysOn(out, 0);
    // The fifth of C an octave up (79) folds into 60..71.
    EXPECT_EQ(std::multiset<int>(keys.begin(), keys.end()), (std::multiset<int>{50, 67}));
}

TEST(StyleComposerTest, NotesKeepTimeOffsetDurationAndPChannel) {
    st::Style style;
    auto n = Note(4, 60, 1, pm::kFixed); // beat 2
    n.timeOffset = -10;
    n.duration = 500;
    n.velocity = 77;
    style.parts = {Part(1, pm::kFixed, {n})};
    style.patterns = {PatternOf({Ref(1, 35)})};
    Link(style);
    const Composition out = ComposeOver(style, TwoChords(), {}, 1);
    ASSERT_EQ(out.track.events.size(), 1u);
    const auto& e = out.track.events[0];
    EXPECT_EQ(e.time, 768 - 10);
    EXPECT_EQ(e.duration, 500);
    EXPECT_EQ(e.pchannel, 35u);
    EXPECT_EQ(e.data2, 77);
    EXPECT_EQ(e.status, 0x90);
}

// Ranges spread time, duration and velocity around the written values; a
// seed repeats a run exactly.
TEST(StyleComposerTest, RangesRandomiseWithinBoundsAndTheSeedRepeats) {
    st::Style style;
    std::vector<st::StyleNote> notes;
    for (int g = 0; g < 16; ++g) {
        auto n = Note(g, 60, 1, pm::kFixed);
        n.timeRange = 40;
        n.durationRange = 100;
        n.velocityRange = 20;
        notes.push_back(n);
    }
    style.parts = {Part(1, pm::kFixed, notes)};
    style.patterns = {PatternOf({Ref(1, 0)})};
    Link(style);
    const Composition a = ComposeOver(style, TwoChords(), {}, 4, 7);
    const Composition b = ComposeOver(style, TwoChords(), {}, 4, 7);
    const Composition other = ComposeOver(style, TwoChords(), {}, 4, 8);
    ASSERT_EQ(a.track.events.size(), 64u);
    bool differs = false, spread = false;
    for (std::size_t i = 0; i < a.track.events.size(); ++i) {
        const auto& e = a.track.events[i];
        const std::int32_t grid = std::int32_t(i % 16) * 192 + std::int32_t(i / 16) * std::int32_t(kMeasure);
        EXPECT_LE(std::abs(e.time - grid), 20);
        EXPECT_LE(std::abs(e.duration - 384), 50);
        EXPECT_LE(std::abs(int(e.data2) - 100), 10);
        EXPECT_EQ(e.time, b.track.events[i].time);
        EXPECT_EQ(e.data2, b.track.events[i].data2);
        differs = differs || e.time != other.track.events[i].time || e.data2 != other.track.events[i].data2;
        spread = spread || e.time != grid;
    }
    EXPECT_TRUE(differs);
    EXPECT_TRUE(spread);
}

// Two groove patterns (levels 1-50 and 51-100) and a fill: the command
// track's groove changes and fill choose among them.
TEST(StyleComposerTest, GrooveLevelAndEmbellishmentCommandsSwitchPatterns) {
    st::Style style;
    style.parts = {Part(1, pm::kFixed, {Note(0, 40)}), Part(2, pm::kFixed, {Note(0, 80)}),
                   Part(3, pm::kFixed, {Note(0, 90)})};
    style.patterns = {PatternOf({Ref(1, 0)}, 1, 1, 50), PatternOf({Ref(2, 0)}, 1, 51, 100),
                      PatternOf({Ref(3, 0)}, 1, 1, 100, st::embellishment::kFill)};
    Link(style);
    std::vector<st::Command> commands = {
        {0, 0, 0, st::command::kGroove, 20, 0, 0},
        {2 * std::int32_t(kMeasure), 2, 0, st::command::kGroove, 70, 0, 0},
        {4 * std::int32_t(kMeasure), 4, 0, st::command::kFill, 0, 0, 0},
    };
    const Composition out = ComposeOver(style, TwoChords(), commands, 6);
    EXPECT_EQ(KeysOn(out, 0), (std::vector<int>{40, 40, 80, 80, 90, 80}));
    ASSERT_EQ(out.plays.size(), 6u);
    EXPECT_EQ(out.plays[2].grooveLevel, 70);
    EXPECT_EQ(out.plays[4].pattern, 2);
}

TEST(StyleComposerTest, ACommandCutsALongPatternAndAPartRepeatsWithinItsPattern) {
    st::Style style;
    // A one-measure part in a four-measure pattern plays every measure.
    style.parts = {Part(1, pm::kFixed, {Note(0, 40)}), Part(2, pm::kFixed, {Note(0, 80)})};
    style.patterns = {PatternOf({Ref(1, 0)}, 4, 1, 50), PatternOf({Ref(2, 0)}, 4, 51, 100)};
    Link(style);
    std::vector<st::Command> commands = {{0, 0, 0, st::command::kGroove, 10, 0, 0},
                                         {2 * std::int32_t(kMeasure), 2, 0, st::command::kGroove, 90, 0, 0}};
    const Composition out = ComposeOver(style, TwoChords(), commands, 5);
    EXPECT_EQ(KeysOn(out, 0), (std::vector<int>{40, 40, 80, 80, 80}));
}

TEST(StyleComposerTest, ALevelNoPatternCoversPlaysTheClosestGroove) {
    st::Style style;
    style.parts = {Part(1, pm::kFixed, {Note(0, 40)}), Part(2, pm::kFixed, {Note(0, 80)})};
    style.patterns = {PatternOf({Ref(1, 0)}, 1, 10, 20), PatternOf({Ref(2, 0)}, 1, 60, 70)};
    Link(style);
    const Composition out = ComposeOver(style, TwoChords(), {{0, 0, 0, st::command::kGroove, 90, 0, 0}}, 1);
    EXPECT_EQ(KeysOn(out, 0), (std::vector<int>{80}));
}

// Four variations, each playing its own key; `variations` per playing.
st::Style FourVariationStyle(std::vector<st::PartRef> refs) {
    st::Style style;
    for (std::uint32_t id : {1u, 2u}) {
        std::vector<st::StyleNote> notes;
        for (int v = 0; v < 4; ++v)
            notes.push_back(Note(0, static_cast<std::uint16_t>(60 + v), 1u << v, pm::kFixed));
        style.parts.push_back(Part(id, pm::kFixed, notes, 1, 4));
    }
    style.patterns = {PatternOf(std::move(refs))};
    Link(style);
    return style;
}

TEST(StyleComposerTest, VariationLocksKeepLockedPartsTogether) {
    const st::Style locked = FourVariationStyle({Ref(1, 0, 5), Ref(2, 1, 5)});
    const st::Style free = FourVariationStyle({Ref(1, 0), Ref(2, 1)});
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        const Composition a = ComposeOver(locked, TwoChords(), {}, 12, seed);
        EXPECT_EQ(KeysOn(a, 0), KeysOn(a, 1));
        for (const auto& play : a.plays)
            EXPECT_EQ(play.variations[0], play.variations[1]);
        const Composition b = ComposeOver(free, TwoChords(), {}, 12, seed);
        EXPECT_NE(KeysOn(b, 0), KeysOn(b, 1));
    }
    // The master of the group (high bit) chooses, whatever the order.
    const st::Style master = FourVariationStyle(
        {Ref(1, 0, 5, st::variationmode::kSequential), Ref(2, 1, 0x85, st::variationmode::kSequential)});
    const Composition m = ComposeOver(master, TwoChords(), {}, 4);
    EXPECT_EQ(KeysOn(m, 0), (std::vector<int>{60, 61, 62, 63}));
    EXPECT_EQ(KeysOn(m, 1), KeysOn(m, 0));
}

TEST(StyleComposerTest, VariationOrderFollowsThePartReference) {
    auto keys = [](std::uint8_t mode, std::uint32_t seed) {
        const st::Style s = FourVariationStyle({Ref(1, 0, 0, mode)});
        return KeysOn(ComposeOver(s, TwoChords(), {}, 8, seed), 0);
    };
    EXPECT_EQ(keys(st::variationmode::kSequential, 1), (std::vector<int>{60, 61, 62, 63, 60, 61, 62, 63}));
    for (std::uint32_t seed = 1; seed < 6; ++seed) {
        const auto noRepeat = keys(st::variationmode::kNoRepeat, seed);
        for (std::size_t i = 1; i < noRepeat.size(); ++i)
            EXPECT_NE(noRepeat[i], noRepeat[i - 1]);
        const auto row = keys(st::variationmode::kRandomRow, seed);
        EXPECT_EQ(std::set<int>(row.begin(), row.begin() + 4), (std::set<int>{60, 61, 62, 63}));
        EXPECT_EQ(std::set<int>(row.begin() + 4, row.end()), (std::set<int>{60, 61, 62, 63}));
        const auto start = keys(st::variationmode::kRandomStart, seed);
        for (std::size_t i = 1; i < start.size(); ++i)
            EXPECT_EQ(start[i], 60 + (start[i - 1] - 60 + 1) % 4);
    }
}

// Variation choices: variation 0 is written for major chords on the fifth
// degree, variation 1 for minor chords on the sixth; over C major then
// D minor in F major each plays where it belongs.
TEST(StyleComposerTest, VariationChoicesFollowTheChord) {
    st::Style style = FourVariationStyle({Ref(1, 0, 0, st::variationmode::kRandom)});
    auto& choices = style.parts[0].variationChoices;
    choices = {};
    choices[0] = kDirectMusicRow | 1u << 4;       // major on degree V
    choices[1] = kDirectMusicRow | 1u << (7 + 5); // minor on degree VI
    for (std::uint32_t seed : {1u, 2u, 3u})
        EXPECT_EQ(KeysOn(ComposeOver(style, TwoChords(), {}, 4, seed), 0), (std::vector<int>{60, 61, 61, 61}));

    composer::Harmony h;
    h.keyRoot = 0;
    h.chord = SubChordOf(10, 0x491, 0); // B flat seventh in C: flat root on degree VII, 6-and-7 chord
    const std::uint32_t bits = composer::ChordChoiceBits(h);
    EXPECT_EQ(bits & 0x001FFFFFu, 1u << 6);
    EXPECT_NE(bits & 0x00400000u, 0u);
    EXPECT_NE(bits & 0x02000000u, 0u);
}

// A part that uses markers changes variation inside its pattern where the
// chord changes to one its variation does not take: variation 0 (major on
// V, key 60) gives way to variation 1 (minor on VI, key 72) when D minor
// comes at beat 4, but only from the start marker of variation 1 at beat 6;
// a marker that must align with a chord change lets it start only there.
// Without markers the part keeps its variation to the end of the pattern.
TEST(StyleComposerTest, APartThatUsesMarkersChangesVariationOnlyAtAStartMarker) {
    std::vector<st::StyleNote> beats;
    for (int beat = 0; beat < 8; ++beat) {
        beats.push_back(Note(beat * 4, 60, 1, pm::kFixed));
        beats.push_back(Note(beat * 4, 72, 2, pm::kFixed));
    }
    auto keys = [&](std::uint32_t flags, std::vector<st::StyleMarker> markers) {
        st::Style style;
        style.parts = {Part(1, pm::kFixed, beats, 2, 2)};
        style.parts[0].variationChoices[0] = kDirectMusicRow | 1u << 4;
        style.parts[0].variationChoices[1] = kDirectMusicRow | 1u << (7 + 5);
        style.parts[0].flags = flags;
        style.parts[0].markers = std::move(markers);
        style.patterns = {PatternOf({Ref(1, 0)}, 2)};
        Link(style);
        return KeysOn(ComposeOver(style, TwoChords(), {}, 2), 0);
    };
    const st::StyleMarker start{24, 2, st::StyleMarker::kStart};
    const st::StyleMarker aligned{24, 2, st::StyleMarker::kStart | st::StyleMarker::kChordAlign};
    const st::StyleMarker atChange{16, 2, st::StyleMarker::kStart | st::StyleMarker::kChordAlign};
    EXPECT_EQ(keys(st::StylePart::kUseMarkers, {start}), (std::vector<int>{60, 60, 60, 60, 60, 60, 72, 72}));
    EXPECT_EQ(keys(st::StylePart::kUseMarkers, {aligned}), std::vector<int>(8, 60));
    EXPECT_EQ(keys(st::StylePart::kUseMarkers, {aligned, atChange}),
              (std::vector<int>{60, 60, 60, 60, 72, 72, 72, 72}));
    EXPECT_EQ(keys(0, {start}), std::vector<int>(8, 60));
}

TEST(StyleComposerTest, CurvesGoToThePartsPChannelAtTheirGridTime) {
    st::Style style;
    auto part = Part(1, pm::kFixed, {});
    st::StyleCurve k;
    k.gridStart = 8;
    k.variations = 1;
    k.duration = 384;
    k.startValue = 0;
    k.endValue = 127;
    k.kind = 4;
    k.ccData = 11;
    part.curves = {k};
    style.parts = {part};
    style.patterns = {PatternOf({Ref(1, 9)})};
    Link(style);
    const Composition out = ComposeOver(style, TwoChords(), {}, 2);
    ASSERT_EQ(out.track.curves.size(), 2u);
    EXPECT_EQ(out.track.curves[0].start, 1536);
    EXPECT_EQ(out.track.curves[1].start, 1536 + std::int32_t(kMeasure));
    EXPECT_EQ(out.track.curves[0].pchannel, 9u);
    EXPECT_EQ(out.track.curves[0].ccData, 11);
}

TEST(StyleComposerTest, EmptyOrDamagedStylesComposeNothingAndStayBounded) {
    st::Style empty;
    EXPECT_TRUE(ComposeOver(empty, TwoChords(), {}, 4).track.events.empty());
    st::Style dangling;
    dangling.patterns = {PatternOf({Ref(7, 0)})}; // a part the style lacks
    Link(dangling);
    EXPECT_TRUE(ComposeOver(dangling, TwoChords(), {}, 4).track.events.empty());

    // A huge length over a dense style stops at the composer's bound.
    st::Style dense;
    std::vector<st::StyleNote> notes;
    for (int g = 0; g < 16; ++g)
        notes.push_back(Note(g, 60, 1, pm::kFixed));
    dense.parts = {Part(1, pm::kFixed, notes)};
    dense.patterns = {PatternOf({Ref(1, 0)})};
    Link(dense);
    ComposeRequest r;
    r.style = &dense;
    r.end = 0x7FFFFFFF;
    const Composition out = Compose(r);
    EXPECT_TRUE(out.truncated);
    EXPECT_LE(out.track.events.size(), composer::kMaxComposedNotes + 16);

    // One pattern of 65535 measures repeating a part of 20000 notes.
    st::Style longPattern;
    std::vector<st::StyleNote> many(20000, Note(0, 60, 1, pm::kFixed));
    longPattern.parts = {Part(1, pm::kFixed, many)};
    longPattern.patterns = {PatternOf({Ref(1, 0)}, 65535)};
    Link(longPattern);
    r.style = &longPattern;
    const Composition bounded = Compose(r);
    EXPECT_EQ(bounded.track.events.size(), composer::kMaxComposedNotes);
    EXPECT_TRUE(bounded.truncated);
}

TEST(StyleComposerTest, MusicValueHelpers) {
    const auto p = composer::SplitMusicValue(MV(5, 2, 1, -2));
    EXPECT_EQ(p.octave, 5);
    EXPECT_EQ(p.chordPosition, 2);
    EXPECT_EQ(p.scaleSteps, 1);
    EXPECT_EQ(p.accidental, -2);
    EXPECT_EQ(composer::FoldIntoRange(79, 60, 71), 67);
    EXPECT_EQ(composer::FoldIntoRange(40, 60, 71), 64);
    EXPECT_EQ(composer::FoldIntoRange(65, 60, 71), 65);
    st::Chord c;
    c.subChords = {SubChordOf(0, 0x91, 0), SubChordOf(7, 0x91, 0)};
    c.subChords[0].levels = 0x1;
    c.subChords[1].levels = 0x2;
    EXPECT_EQ(composer::SubChordForLevel(c, 1).chordRoot, 7);
    EXPECT_EQ(composer::SubChordForLevel(c, 5).chordRoot, 0);
}

} // namespace
} // namespace qorn::styles_test
