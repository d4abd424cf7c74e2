// Style-based segments shaped like content from the authoring tools, written
// by our writers and played through the segment path: which patterns and
// variations play, in which octave, within which bounds.
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include "platform/loader/SegmentAssembly.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace qorn::styles_test {
namespace {

namespace pm = st::playmode;
namespace seg = formats::segment;

constexpr std::int32_t kBar = std::int32_t(kMeasure);

// Rows of the older layout (no mode bit): degree I..VII or an altered root,
// triad major/minor/other, simple/complex, leading to I/V. 0xFFFF: any chord.
constexpr std::uint32_t kOldAny = 0xFFFF;
// A DirectMusic row with no chord at all: the tools write it for a
// variation that is switched off.
constexpr std::uint32_t kDisabled = kDirectMusicRow;

// Performed notes: channel -> (tick, key), through reading, composing and
// building the sequence as the player does.
using Performed = std::map<int, std::vector<std::pair<std::uint32_t, int>>>;

Performed Play(const Bytes& file, std::uint32_t seed) {
    seg::ObjectCache cache;
    std::shared_ptr<const music::Sequence> sequence;
    std::string error;
    EXPECT_TRUE(
        platform::LoadSegmentWithTracks(file, "/nonexistent/authored.sgt", cache, sequence, &error, nullptr, seed))
        << error;
    Performed out;
    if (!sequence) return out;
    for (const auto& e : sequence->events)
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0) out[e.status & 0x0F].push_back({e.tick, e.data1});
    return out;
}

std::set<int> KeysInMeasure(const Performed& p, int channel, int measure) {
    std::set<int> keys;
    if (auto it = p.find(channel); it != p.end())
        for (auto [tick, key] : it->second)
            if (tick / kMeasure == std::uint32_t(measure)) keys.insert(key);
    return keys;
}

st::Chord ChordAt(int measure, std::uint8_t root, std::uint32_t pattern) {
    st::Chord c;
    c.time = measure * kBar;
    c.measure = static_cast<std::uint16_t>(measure);
    c.subChords = {SubChordOf(root, pattern, 12)};
    return c;
}

// Key of C stored as the tools store it (root 12).
st::ChordTrack InC(std::vector<st::Chord> chords) {
    st::ChordTrack t;
    t.keyRoot = 12;
    t.chords = std::move(chords);
    return t;
}

// Records as the first authoring tools wrote them: a 10-byte pattern header
// and part references without a PChannel (the logical part id names it).
Sizes OldSizes() {
    Sizes s;
    s.patternHeader = 10;
    s.partRef = 24;
    s.partHeader = 156;
    return s;
}

Bytes SegmentOf(const st::Style& style, const st::ChordTrack& chords, std::vector<st::Command> commands, int measures,
                const Sizes& sizes = {}) {
    return StyleSegment(measures * kBar, chords, commands, StyleTrackList(0, "", StyleForm(style, sizes)));
}

// Groove level 1 of a style whose first pattern covers levels 1-25: a pad
// (channel 5) with notes in 9 of its 25 rows, drums (9) and a collection's
// voice (2) in 16 of 32; the other rows are switched off. Over a sus chord on
// the flat seventh, a chord no row names in the newer layout, every
// variation that plays has notes, and the pad sounds Bb3 over Bb.
TEST(AuthoredStyleTest, GrooveOnePlaysItsPatternOnEveryPart) {
    st::Style style;
    style.tempo = 70;
    auto pad = Part(1, pm::kNormalChord, {Note(0, 0x5000, 0x1FF)});
    auto drums = Part(2, pm::kFixed, {Note(0, 36, 0xFFFF)});
    auto voice = Part(3, pm::kFixed, {Note(0, 96, 0xFFFF)});
    for (int v = 0; v < 32; ++v) {
        pad.variationChoices[std::size_t(v)] = v < 9 ? kOldAny : v < 25 ? kDisabled : 0;
        drums.variationChoices[std::size_t(v)] = v < 16 ? kOldAny : kDisabled;
        voice.variationChoices[std::size_t(v)] = v < 16 ? kOldAny : kDisabled;
    }
    auto quiet = Part(4, pm::kFixed, {Note(0, 70)});
    style.parts = {pad, drums, voice, quiet};
    style.patterns = {PatternOf({Ref(1, 5), Ref(2, 9), Ref(3, 2)}, 1, 1, 25), PatternOf({Ref(4, 7)}, 1, 26, 50)};
    const auto chords = InC({ChordAt(0, 10, 0xA1)}); // Bb sus4
    const Bytes file = SegmentOf(style, chords, {{0, 0, 0, st::command::kGroove, 1, 0, 0}}, 4, OldSizes());
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Performed p = Play(file, seed);
        for (int m = 0; m < 4; ++m) {
            EXPECT_EQ(KeysInMeasure(p, 5, m), std::set<int>{58}) << "measure " << m;
            EXPECT_EQ(KeysInMeasure(p, 9, m), std::set<int>{36}) << "measure " << m;
            EXPECT_EQ(KeysInMeasure(p, 2, m), std::set<int>{96}) << "measure " << m;
            EXPECT_TRUE(KeysInMeasure(p, 7, m).empty());
        }
    }
}

// A fill asked for where the style has no fill: the groove's own pattern
// plays, the measure before it and the fill's measure alike.
TEST(AuthoredStyleTest, AFillWithoutAFillPatternPlaysTheGroove) {
    st::Style style;
    style.parts = {Part(1, pm::kFixed, {Note(0, 40)}), Part(2, pm::kFixed, {Note(0, 50)})};
    style.patterns = {PatternOf({Ref(1, 0)}, 2, 1, 60), PatternOf({Ref(2, 0)}, 1, 1, 100, st::embellishment::kBreak)};
    const std::vector<st::Command> commands = {{0, 0, 0, st::command::kGroove, 30, 0, 0},
                                               {3 * kBar, 3, 0, st::command::kFill, 0, 0, 0},
                                               {4 * kBar, 4, 0, st::command::kGroove, 30, 0, 0}};
    const Performed p = Play(SegmentOf(style, InC({ChordAt(0, 12, 0x91)}), commands, 5), 1);
    for (int m = 0; m < 5; ++m)
        EXPECT_EQ(KeysInMeasure(p, 0, m), std::set<int>{40}) << "measure " << m;
}

// The octave of chord-mapped notes, with the evidence of authored styles: a
// bass part written at octave 3 with inversion bounds 35-47 (an octave, as
// the sample styles set it) over chords whose roots run 5..17 around C = 12.
// Roots count from 12, and what still falls outside the bounds is inverted
// into them; fixed notes (drums) never move.
TEST(AuthoredStyleTest, ChordRootsCountFromCAndNotesInvertIntoTheBounds) {
    st::Style style;
    auto bass = Part(1, pm::kNormalChord, {Note(0, 0x3000), Note(8, 0x3200)});
    bass.invertLower = 35;
    bass.invertUpper = 47;
    auto lead = Part(2, pm::kNormalChord, {Note(0, 0x5100)});
    lead.invertLower = 51;
    lead.invertUpper = 88;
    auto drum = Part(3, pm::kFixed, {Note(0, 30)});
    drum.invertLower = 35;
    drum.invertUpper = 47;
    style.parts = {bass, lead, drum};
    style.patterns = {PatternOf({Ref(1, 8), Ref(2, 4), Ref(3, 9)})};
    // F (5), C (12), G (7 in the lower octave), F (17 in the upper), A minor.
    const auto chords = InC(
        {ChordAt(0, 5, 0x91), ChordAt(1, 12, 0x91), ChordAt(2, 7, 0x91), ChordAt(3, 17, 0x91), ChordAt(4, 21, 0x89)});
    const Performed p = Play(SegmentOf(style, chords, {}, 5), 1);
    const std::vector<std::set<int>> bassKeys = {{41, 36}, {36, 43}, {43, 38}, {41, 36}, {45, 40}};
    const std::vector<int> leadThird = {57, 64, 59, 69, 72};
    for (int m = 0; m < 5; ++m) {
        EXPECT_EQ(KeysInMeasure(p, 8, m), bassKeys[std::size_t(m)]) << "measure " << m;
        EXPECT_EQ(KeysInMeasure(p, 4, m), std::set<int>{leadThird[std::size_t(m)]}) << "measure " << m;
        EXPECT_EQ(KeysInMeasure(p, 9, m), std::set<int>{30}) << "measure " << m;
    }
}

// A four-note voicing in always-play over triads, within inversion bounds as
// the sample styles write it: the fourth position, above the chord's tones,
// is placed by the scale (B over C, G over A minor), so no key of the chord
// is struck twice.
TEST(AuthoredStyleTest, AlwaysPlayPlacesNotesAboveTheChordByTheScale) {
    st::Style style;
    std::vector<st::StyleNote> voicing;
    for (int position = 0; position < 4; ++position)
        voicing.push_back(Note(0, static_cast<std::uint16_t>(0x5000 | position << 8)));
    auto pad = Part(1, pm::kAlwaysPlay, voicing);
    pad.invertLower = 55;
    pad.invertUpper = 70;
    style.parts = {pad};
    style.patterns = {PatternOf({Ref(1, 3)})};
    const Performed p = Play(SegmentOf(style, InC({ChordAt(0, 12, 0x91), ChordAt(1, 21, 0x89)}), {}, 2), 1);
    ASSERT_EQ(p.count(3), 1u);
    EXPECT_EQ(p.at(3).size(), 8u);
    EXPECT_EQ(KeysInMeasure(p, 3, 0), (std::set<int>{59, 60, 64, 67}));
    EXPECT_EQ(KeysInMeasure(p, 3, 1), (std::set<int>{60, 64, 67, 69}));
}

// Variation rows restrict a variation to chords and to where the chord leads.
// Newer layout: variation 0 only leads to I, 1 only to V, 2 anywhere (its
// "other destination" bit makes the bit count in this part). Older layout:
// degree I only, degree V only, major triads only. Switched-off rows never
// play, even when no enabled row accepts the chord.
TEST(AuthoredStyleTest, VariationRowsRestrictChordsAndDestinations) {
    constexpr std::uint32_t kDegrees = 0x001FFFFF;
    constexpr std::uint32_t kTo1 = 0x08000000, kTo5 = 0x10000000, kToOther = 0x40000000;
    auto part = [](std::uint32_t id, std::vector<std::uint32_t> rows) {
        std::vector<st::StyleNote> notes;
        for (std::size_t v = 0; v < rows.size(); ++v)
            notes.push_back(Note(0, static_cast<std::uint16_t>(60 + v), 1u << v, pm::kFixed));
        auto p = Part(id, pm::kFixed, notes, 1, 0);
        for (std::size_t v = 0; v < rows.size(); ++v)
            p.variationChoices[v] = rows[v];
        return p;
    };
    st::Style style;
    style.parts = {part(1, {kDirectMusicRow | kDegrees | kTo1, kDirectMusicRow | kDegrees | kTo5,
                            kDirectMusicRow | kDegrees | kTo1 | kTo5 | kToOther}),
                   part(2, {0xFF01, 0xFF10, 0xF9FF}), part(3, {kDirectMusicRow | 0x1, kDisabled})};
    style.patterns = {PatternOf({Ref(1, 0), Ref(2, 1), Ref(3, 2)})};
    // D minor -> G -> C -> A minor (the end).
    const auto chords = InC({ChordAt(0, 14, 0x89), ChordAt(1, 7, 0x91), ChordAt(2, 12, 0x91), ChordAt(3, 21, 0x89)});
    const std::vector<std::set<int>> dest = {{61, 62}, {60, 62}, {62}, {60, 61, 62}};
    const std::vector<std::set<int>> old = {{}, {61, 62}, {60, 62}, {}};
    std::vector<std::set<int>> seenDest(4), seenOld(4), seenOff(4);
    for (std::uint32_t seed = 1; seed <= 24; ++seed) {
        const Performed p = Play(SegmentOf(style, chords, {}, 4), seed);
        for (int m = 0; m < 4; ++m) {
            for (int k : KeysInMeasure(p, 0, m))
                seenDest[std::size_t(m)].insert(k);
            for (int k : KeysInMeasure(p, 1, m))
                seenOld[std::size_t(m)].insert(k);
            for (int k : KeysInMeasure(p, 2, m))
                seenOff[std::size_t(m)].insert(k);
        }
    }
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE("measure " + std::to_string(m));
        EXPECT_EQ(seenDest[std::size_t(m)], dest[std::size_t(m)]);
        // Where no row of the older part accepts the chord, any enabled one may play.
        if (!old[std::size_t(m)].empty()) {
            EXPECT_EQ(seenOld[std::size_t(m)], old[std::size_t(m)]);
        }
        EXPECT_EQ(seenOff[std::size_t(m)], std::set<int>{60});
    }
}

// Rows without a mode bit as the sample styles write them: one button per
// criterion group (degree or altered root, chord quality, leading to I or V),
// so each variation covers one kind of chord. Read in the layout of the
// authoring tools' older format they choose a single variation per measure
// here; read as the newer layout's degrees (kind x 7 + degree), the same
// bits would accept nearly every chord and never the altered one.
TEST(AuthoredStyleTest, OlderRowsChooseByQualityDestinationAndAlteredRoot) {
    const std::vector<std::uint32_t> rows = {
        0xBD7F, // major or other, leading to I
        0xDD7F, // major or other, leading to V
        0xBA7F, // minor, leading to I
        0xDA7F, // minor, leading to V
        0xBD80, // a root outside the major scale, major or other, leading to I
    };
    std::vector<st::StyleNote> notes;
    for (std::size_t v = 0; v < rows.size(); ++v)
        notes.push_back(Note(0, static_cast<std::uint16_t>(60 + v), 1u << v, pm::kFixed));
    auto part = Part(1, pm::kFixed, notes, 1, 0);
    for (std::size_t v = 0; v < rows.size(); ++v)
        part.variationChoices[v] = rows[v];
    st::Style style;
    style.parts = {part};
    style.patterns = {PatternOf({Ref(1, 0)})};
    // Dm -> G -> C -> Am -> Bb -> C (the end).
    const auto chords = InC({ChordAt(0, 14, 0x89), ChordAt(1, 7, 0x91), ChordAt(2, 12, 0x91), ChordAt(3, 21, 0x89),
                             ChordAt(4, 10, 0x91), ChordAt(5, 12, 0x91)});
    const std::vector<std::set<int>> expected = {{63}, {60}, {60, 61}, {62, 63}, {64}, {60, 61}};
    std::vector<std::set<int>> seen(expected.size());
    for (std::uint32_t seed = 1; seed <= 24; ++seed) {
        const Performed p = Play(SegmentOf(style, chords, {}, int(expected.size())), seed);
        for (std::size_t m = 0; m < expected.size(); ++m)
            for (int k : KeysInMeasure(p, 0, int(m)))
                seen[m].insert(k);
    }
    for (std::size_t m = 0; m < expected.size(); ++m)
        EXPECT_EQ(seen[m], expected[m]) << "measure " << m;
}

} // namespace
} // namespace qorn::styles_test
