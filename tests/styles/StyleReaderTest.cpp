#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include "platform/formats/riff/RiffChunk.h"
#include "platform/formats/style/StyleReader.h"

#include <gtest/gtest.h>

namespace qorn::styles_test {
namespace {

using formats::ByteReader;

st::Style SampleStyle() {
    st::Style s;
    s.timeSignature = {3, 4, 2};
    s.tempo = 96.5;
    s.hasGuid = true;
    s.guid = PartId(99);
    s.name = "Waltz";
    auto n = Note(5, 0x5120, 0x5, st::playmode::kAlwaysPlay);
    n.timeOffset = -12;
    n.timeRange = 7;
    n.durationRange = 8;
    n.velocityRange = 9;
    n.inversionId = 2;
    n.noteFlags = 1;
    auto part = Part(1, st::playmode::kMelodic, {n, Note(0, 60)}, 2, 3);
    part.timeSignature = {3, 4, 2};
    part.invertUpper = 84;
    part.invertLower = 48;
    st::StyleCurve k;
    k.gridStart = 2;
    k.variations = 1;
    k.duration = 768;
    k.startValue = 0;
    k.endValue = 127;
    k.kind = 4;
    k.ccData = 11;
    part.curves = {k};
    s.parts = {part};
    auto pattern = PatternOf({Ref(1, 19, 0x81, st::variationmode::kNoRepeat)}, 4, 20, 40, st::embellishment::kFill);
    pattern.timeSignature = {3, 4, 2};
    pattern.name = "Fill A";
    pattern.rhythm = {1, 5, 1, 5};
    pattern.partRefs[0].subChordLevel = 2;
    s.patterns = {pattern};
    return s;
}

st::Style ReadBack(const Bytes& bytes, formats::Diagnostics* warningsOut = nullptr) {
    st::Style out;
    formats::Diagnostics warnings;
    std::string error;
    EXPECT_TRUE(st::ReadStyleFile(bytes, out, warnings, &error)) << error;
    if (warningsOut) *warningsOut = warnings;
    return out;
}

// Every field survives the trip, at the sizes of today's files and at
// larger record sizes a later version may write.
TEST(StyleReaderTest, ReadsEveryFieldAtKnownAndLargerRecordSizes) {
    Sizes larger;
    larger.note = 40;
    larger.curve = 48;
    larger.partHeader = 200;
    larger.patternHeader = 24;
    larger.partRef = 36;
    for (const Sizes& sizes : {Sizes{}, larger}) {
        const st::Style s = ReadBack(StyleForm(SampleStyle(), sizes));
        EXPECT_EQ(s.timeSignature.beatsPerMeasure, 3);
        EXPECT_EQ(s.timeSignature.gridsPerBeat, 2);
        EXPECT_DOUBLE_EQ(s.tempo, 96.5);
        EXPECT_TRUE(s.hasGuid);
        EXPECT_EQ(s.name, "Waltz");
        ASSERT_EQ(s.parts.size(), 1u);
        const auto& p = s.parts[0];
        EXPECT_EQ(p.id, PartId(1));
        EXPECT_EQ(p.measures, 2);
        EXPECT_EQ(p.playMode, st::playmode::kMelodic);
        EXPECT_EQ(p.invertUpper, 84);
        EXPECT_EQ(p.invertLower, 48);
        EXPECT_EQ(p.variationChoices[2], kAnyChord);
        EXPECT_EQ(p.variationChoices[3], 0u);
        ASSERT_EQ(p.notes.size(), 2u);
        const auto& n = p.notes[0];
        EXPECT_EQ(n.gridStart, 5);
        EXPECT_EQ(n.variations, 0x5u);
        EXPECT_EQ(n.timeOffset, -12);
        EXPECT_EQ(n.musicValue, 0x5120);
        EXPECT_EQ(n.timeRange, 7);
        EXPECT_EQ(n.durationRange, 8);
        EXPECT_EQ(n.velocityRange, 9);
        EXPECT_EQ(n.inversionId, 2);
        EXPECT_EQ(n.playMode, st::playmode::kAlwaysPlay);
        EXPECT_EQ(n.noteFlags, 1);
        ASSERT_EQ(p.curves.size(), 1u);
        EXPECT_EQ(p.curves[0].endValue, 127);
        EXPECT_EQ(p.curves[0].ccData, 11);
        ASSERT_EQ(s.patterns.size(), 1u);
        const auto& pt = s.patterns[0];
        EXPECT_EQ(pt.name, "Fill A");
        EXPECT_EQ(pt.grooveBottom, 20);
        EXPECT_EQ(pt.grooveTop, 40);
        EXPECT_EQ(pt.embellishment, st::embellishment::kFill);
        EXPECT_EQ(pt.measures, 4);
        EXPECT_EQ(pt.rhythm, (std::vector<std::uint32_t>{1, 5, 1, 5}));
        ASSERT_EQ(pt.partRefs.size(), 1u);
        EXPECT_EQ(pt.partRefs[0].part, 0);
        EXPECT_EQ(pt.partRefs[0].pchannel, 19u);
        EXPECT_EQ(pt.partRefs[0].variationLockId, 0x81);
        EXPECT_EQ(pt.partRefs[0].subChordLevel, 2);
        EXPECT_EQ(pt.partRefs[0].randomVariation, st::variationmode::kNoRepeat);
        EXPECT_EQ(pt.lengthTicks(), 4u * 3u * 768u);
    }
}

// Older files: notes without the flags byte, part references without a
// PChannel (the logical part id names the channel).
TEST(StyleReaderTest, ReadsOlderShorterRecords) {
    Sizes older;
    older.note = 22;
    older.curve = 28;
    older.partRef = 22;
    older.patternHeader = 10;
    const st::Style s = ReadBack(StyleForm(SampleStyle(), older));
    ASSERT_EQ(s.parts.size(), 1u);
    ASSERT_EQ(s.parts[0].notes.size(), 2u);
    EXPECT_EQ(s.parts[0].notes[0].noteFlags, 0);
    EXPECT_EQ(s.parts[0].notes[0].playMode, st::playmode::kAlwaysPlay);
    ASSERT_EQ(s.patterns.size(), 1u);
    EXPECT_EQ(s.patterns[0].partRefs[0].pchannel, 19u);
    EXPECT_EQ(s.patterns[0].measures, 4);
}

TEST(StyleReaderTest, RejectsWhatIsNoStyle) {
    st::Style out;
    formats::Diagnostics warnings;
    std::string error;
    EXPECT_FALSE(st::ReadStyleFile(Riff("DMSG", {}), out, warnings, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(st::ReadStyleFile(Riff("DMST", {Chunk("guid", Bytes(16))}), out, warnings, &error));
    EXPECT_FALSE(st::LooksLikeStyleFile(Bytes{'R', 'I', 'F', 'F'}));
    EXPECT_TRUE(st::LooksLikeStyleFile(StyleForm(SampleStyle())));
}

// Every prefix of a style file is read without harm; what remains is a
// subset of the whole.
TEST(StyleReaderTest, SurvivesTruncationAtEveryLength) {
    const Bytes whole = StyleForm(SampleStyle());
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        st::Style out;
        formats::Diagnostics warnings;
        std::string error;
        if (!st::ReadStyleFile(cut, out, warnings, &error)) continue;
        EXPECT_LE(out.parts.size(), 1u);
        if (!out.parts.empty()) {
            EXPECT_LE(out.parts[0].notes.size(), 2u);
        }
    }
}

// Sizes and counts from a hostile writer: item sizes of 0 or 4 GB, a
// subchord count far beyond the chunk. Each costs only its own chunk.
TEST(StyleReaderTest, HostileSizesCostOnlyTheirChunk) {
    auto withNoteSize = [](std::uint32_t size) {
        Out notes;
        notes.u32(size).u32(0).u32(1);
        Out h;
        h.u8(4).u8(4).u16(4);
        h.b.resize(160);
        return Riff("DMST", {Chunk("styh", Bytes(16)), List("part", {Chunk("prth", h.b), Chunk("note", notes.b)})});
    };
    for (std::uint32_t size : {0u, 4u, 0xFFFFFFFFu, 0x80000000u}) {
        formats::Diagnostics warnings;
        const st::Style s = ReadBack(withNoteSize(size), &warnings);
        ASSERT_EQ(s.parts.size(), 1u);
        EXPECT_TRUE(s.parts[0].notes.empty());
        if (size < 22) {
            EXPECT_FALSE(warnings.empty()); // too small for a note
        }
    }

    // A chord claiming 2^31 subchords of 20 bytes, and one with a chord
    // record larger than its chunk.
    Out huge;
    huge.u32(40);
    huge.b.resize(4 + 40);
    huge.u32(0x80000000u).u32(20).u32(0x91).u32(0xAB5AB5).u32(0).u32(1).u8(0).u8(0).u16(0);
    Out damaged;
    damaged.u32(0xFFFFFFF0u).u32(1);
    const Bytes list =
        List("cord", {Chunk("crdh", Out{}.u32(0x02AB5AB5).b), Chunk("crdb", huge.b), Chunk("crdb", damaged.b)});
    formats::riff::ChunkReader reader{ByteReader(list)};
    formats::riff::Chunk c;
    ASSERT_TRUE(reader.next(c));
    st::ChordTrack chords;
    formats::Diagnostics warnings;
    st::ReadChordTrack(c, chords, warnings);
    EXPECT_EQ(chords.keyRoot, 2);
    ASSERT_EQ(chords.chords.size(), 1u);
    EXPECT_EQ(chords.chords[0].subChords.size(), 1u);
    EXPECT_EQ(warnings.size(), 2u);
}

template <typename F> void WithChunk(const Bytes& bytes, F f) {
    formats::riff::ChunkReader reader{ByteReader(bytes)};
    formats::riff::Chunk c;
    ASSERT_TRUE(reader.next(c));
    f(c);
}

TEST(StyleReaderTest, ReadsChordCommandAndStyleTracks) {
    Sizes larger;
    larger.chord = 48;
    larger.subChord = 28;
    larger.command = 16;
    for (const Sizes& sizes : {Sizes{}, larger}) {
        st::ChordTrack in = TwoChords();
        in.chords[1].subChords.push_back(SubChordOf(14, 0x489, 5));
        in.chords[1].subChords[1].levels = 0x2;
        in.chords[0].name = "C";
        formats::Diagnostics warnings;
        WithChunk(ChordTrackList(in, sizes), [&](const formats::riff::Chunk& c) {
            st::ChordTrack out;
            st::ReadChordTrack(c, out, warnings);
            EXPECT_EQ(out.keyRoot, 5);
            EXPECT_EQ(out.keyScale, 0xAB5AB5u);
            ASSERT_EQ(out.chords.size(), 2u);
            EXPECT_EQ(out.chords[0].name, "C");
            EXPECT_EQ(out.chords[1].time, std::int32_t(kMeasure));
            EXPECT_EQ(out.chords[1].measure, 1);
            ASSERT_EQ(out.chords[1].subChords.size(), 2u);
            EXPECT_EQ(out.chords[1].subChords[1].chordRoot, 14);
            EXPECT_EQ(out.chords[1].subChords[1].chordPattern, 0x489u);
            EXPECT_EQ(out.chords[1].subChords[1].levels, 0x2u);
        });
        // Stored out of order: read in time order.
        std::vector<st::Command> commands = {{kMeasure * 2, 2, 0, st::command::kFill, 0, 0, 0},
                                             {0, 0, 0, st::command::kGroove, 75, 10, 1}};
        WithChunk(CommandChunk(commands, sizes), [&](const formats::riff::Chunk& c) {
            std::vector<st::Command> out;
            st::ReadCommandTrack(c, out, warnings);
            ASSERT_EQ(out.size(), 2u);
            EXPECT_EQ(out[0].grooveLevel, 75);
            EXPECT_EQ(out[0].grooveRange, 10);
            EXPECT_EQ(out[0].repeatMode, 1);
            EXPECT_EQ(out[1].command, st::command::kFill);
            EXPECT_EQ(out[1].measure, 2);
        });
        EXPECT_TRUE(warnings.empty());
    }
    formats::Diagnostics warnings;
    WithChunk(StyleTrackList(768, "Pop.sty"), [&](const formats::riff::Chunk& c) {
        std::vector<st::StyleReference> refs;
        st::ReadStyleTrack(c, refs, warnings);
        ASSERT_EQ(refs.size(), 1u);
        EXPECT_EQ(refs[0].time, 768);
        EXPECT_TRUE(refs[0].hasReference);
        EXPECT_EQ(refs[0].reference.file, "Pop.sty");
        EXPECT_FALSE(refs[0].style);
    });
    WithChunk(StyleTrackList(0, "", StyleForm(SampleStyle())), [&](const formats::riff::Chunk& c) {
        std::vector<st::StyleReference> refs;
        st::ReadStyleTrack(c, refs, warnings);
        ASSERT_EQ(refs.size(), 1u);
        ASSERT_TRUE(refs[0].style);
        EXPECT_EQ(refs[0].style->name, "Waltz");
    });
}

TEST(StyleReaderTest, GridPositionsFollowTheTimeSignature) {
    const st::TimeSignature common{4, 4, 4};
    EXPECT_EQ(common.gridToTicks(0), 0);
    EXPECT_EQ(common.gridToTicks(1), 192);
    EXPECT_EQ(common.gridToTicks(16), 3072);
    const st::TimeSignature eighths{6, 8, 3}; // beats of 384 ticks in grids of 128
    EXPECT_EQ(eighths.gridToTicks(4), 384 + 128);
    EXPECT_EQ(eighths.measureTicks(), 2304u);
    const st::TimeSignature damaged{0, 0, 0};
    EXPECT_EQ(damaged.gridToTicks(2), 2 * 768);
    EXPECT_GT(damaged.measureTicks(), 0u);
}

} // namespace
} // namespace qorn::styles_test
