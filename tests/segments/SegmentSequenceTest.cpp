// What a segment turns into when it plays: bands, curves, the loop region,
// play start, PChannels and system-exclusive messages.
#include "TestSupport.h"

#include "platform/formats/dls/DlsCollection.h"

#include <array>
#include <map>

namespace qorn::testseg {
namespace {

using music::PatchSelect;

TEST(SegmentSequence, BandSetsPatchVolumePanAndBendRangeBeforeTheFirstNote) {
    SegmentSpec plan = MelodySpec();
    Instrument piano{0, 0x00050300 | 4, 0x1 | 0x2 | 0x20 | 0x40 | 0x2000, 20, 90, 0, 12, std::nullopt};
    Instrument kit{9, 0x80000000u | 16, 0x1 | 0x40, 64, 127, 0, 2, std::nullopt};
    plan.bands = {{0, {piano, kit}}};
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.sequence.patches.size(), 2u);
    const PatchSelect& p = l.sequence.patches[0];
    EXPECT_EQ(p.channel, 0);
    EXPECT_EQ(p.program, 4);
    EXPECT_EQ(p.bankMsb, 5);
    EXPECT_EQ(p.bankLsb, 3);
    EXPECT_FALSE(p.drums);
    EXPECT_EQ(p.collection, PatchSelect::kNoCollection);
    EXPECT_EQ(l.sequence.patches[1].channel, 9);
    EXPECT_TRUE(l.sequence.patches[1].drums);
    EXPECT_EQ(l.sequence.patches[1].program, 16);
    EXPECT_EQ(l.sequence.patches[1].bankMsb, 0); // no bank-select flag

    // Volume, pan and the RPN 0 pitch-bend range come before the first note.
    std::vector<std::array<int, 3>> before;
    for (const auto& e : l.sequence.events) {
        if ((e.status & 0xF0) == 0x90) break;
        before.push_back({e.status, e.data1, e.data2});
    }
    const std::vector<std::array<int, 3>> expected = {{0xB0, 7, 90},    {0xB0, 10, 20},   {0xB0, 101, 0},
                                                      {0xB0, 100, 0},   {0xB0, 6, 12},    {0xB0, 38, 0},
                                                      {0xB0, 101, 127}, {0xB0, 100, 127}, {0xB9, 7, 127}};
    EXPECT_EQ(before, expected);
}

TEST(SegmentSequence, TransposeAppliesFromTheBandOnExceptOnDrums) {
    SegmentSpec plan = MelodySpec();
    plan.notes.push_back({0, 100, 9, 36, 100});
    plan.bands = {{768, {{0, 0, 0x1 | 0x80, 64, 100, -12}, {9, 0x80000000u, 0x1 | 0x80, 64, 100, 5}}}};
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_TRUE(l.ok) << l.error;
    std::vector<int> keys;
    for (const auto& n : Notes(l.sequence))
        keys.push_back(n.key);
    EXPECT_EQ(keys, (std::vector<int>{60, 36, 50, 52, 55}));
    EXPECT_EQ(l.sequence.patches.at(0).tick, 768u);
}

// A band's note ranges say which keys its instrument is downloaded for: a
// key sounds when its region of the collection's instrument holds a key of
// the ranges (the General MIDI set is taken key by key), until a later band
// moves the ranges. The first band is in the 36-byte record of the first
// authoring tools.
TEST(SegmentSequence, NotesOutsideTheBandsNoteRangesAreNotPlayed) {
    SegmentSpec plan = MelodySpec(); // C4 D4 E4 G4 on PChannel 0
    plan.notes.push_back({2000, 100, 1, 30, 100});
    plan.notes.push_back({2600, 100, 0, 70, 100});
    testdls::CollectionSpec dls = testdls::TestCollection();
    dls.instruments[0].regions = {dls.instruments[0].regions[0], dls.instruments[0].regions[0]};
    dls.instruments[0].regions[0].keyHigh = 65;
    dls.instruments[0].regions[1].keyLow = 66;
    const Reference collection{kCollectionClass, std::nullopt, "Test collection", ""};
    constexpr std::uint32_t kRangesAndPatch = 0x1 | 0x10;
    const std::vector<RangedInstrument> low = {
        {{0, 4, kRangesAndPatch}, {0, 0x3u << 28, 0, 0}}, // General MIDI, keys 60 and 61
        {{1, 7, 0x1}, {0, 0, 0, 1u << 4}}};               // ranges not marked valid
    const std::vector<RangedInstrument> high = {
        {{0, 0, kRangesAndPatch | 0x800, 64, 100, 0, 2, collection}, {0, 0, 1u << 3, 0}, 0xC0000000u}}; // key 67
    plan.container = {{testdls::BuildDls(dls), std::nullopt, ""},
                      {BuildRangedBandFile(low, true, "Low"), std::nullopt, ""},
                      {BuildRangedBandFile(high, false, "High"), std::nullopt, ""}};
    plan.bands = {{0, {}, Reference{kBandClass, std::nullopt, "Low", ""}},
                  {1536, {}, Reference{kBandClass, std::nullopt, "High", ""}}};
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.sequence.patches.size(), 3u);
    EXPECT_EQ(l.sequence.patches[0].program, 4);
    EXPECT_EQ(l.sequence.patches[2].collection, 0);
    std::vector<std::pair<std::uint32_t, int>> heard;
    for (const auto& n : Notes(l.sequence))
        heard.emplace_back(n.on, n.key);
    EXPECT_EQ(heard, (std::vector<std::pair<std::uint32_t, int>>{{0, 60}, {2000, 30}, {2304, 67}, {2600, 70}}));
    EXPECT_EQ(l.file.tracks.back().bands.at(1).instruments.at(0).priority, 0xC0000000u);
}

// A segment written for an audiopath: PChannels 0-15 keep their channels,
// and a flute on PChannel 50 and a drum kit on PChannel 41 play with their
// bands' programs on channels those leave free: one nothing uses, then one
// only a band set up. The kit goes to the drum channel when that is free.
TEST(SegmentSequence, PChannelsAboveFifteenPlayOnChannelsTheFirstSixteenLeaveFree) {
    for (const bool nineFree : {false, true}) {
        SCOPED_TRACE(nineFree ? "drum channel free" : "drum channel taken");
        SegmentSpec plan;
        plan.header.length = 768;
        Band band;
        // PChannels 0-13 play (9 a kit unless it is left free), 14 only has a band.
        for (std::uint32_t p = 0; p < 15; ++p) {
            if (nineFree && p == 9) continue;
            band.instruments.push_back({p, p == 9 ? 0x80000000u : p, 0x1 | 0x2});
            if (p < 14) plan.notes.push_back({0, 100, p, 60});
        }
        band.instruments.push_back({50, 73, 0x1 | 0x2});
        band.instruments.push_back({41, 0x80000000u | 25, 0x1});
        plan.bands = {band};
        plan.notes.push_back({0, 100, 50, 72});
        plan.notes.push_back({0, 100, 41, 36});
        plan.notes.push_back({0, 100, 0xFFFFFFFDu, 62}); // broadcast: nowhere
        const Loaded l = Load(BuildSegment(plan));
        ASSERT_TRUE(l.ok);
        EXPECT_TRUE(l.warnings.empty());
        const int kit = nineFree ? 9 : 15, flute = nineFree ? 15 : 14;
        std::map<int, int> keyOn, program;
        for (const auto& n : Notes(l.sequence)) {
            EXPECT_EQ(n.group, 0);
            EXPECT_TRUE(keyOn.emplace(n.channel, n.key).second) << "two parts on channel " << int(n.channel);
        }
        for (const auto& p : l.sequence.patches) {
            EXPECT_EQ(p.group, 0);
            EXPECT_EQ(p.drums, p.channel == kit || p.channel == 9);
            EXPECT_TRUE(program.emplace(p.channel, p.program).second) << "two bands on channel " << int(p.channel);
        }
        for (int c = 0; c < 14; ++c) {
            if (nineFree && c == 9) continue;
            EXPECT_EQ(keyOn[c], 60) << c;
            EXPECT_EQ(program[c], c == 9 ? 0 : c) << c;
        }
        EXPECT_EQ(keyOn[flute], 72);
        EXPECT_EQ(program[flute], 73);
        EXPECT_EQ(keyOn[kit], 36);
        EXPECT_EQ(program[kit], 25);
        EXPECT_EQ(keyOn.size(), nineFree ? 15u : 16u);
    }
}

// Seventeen PChannels that play: the one left over is named once and not played.
TEST(SegmentSequence, PChannelsBeyondTheFreeChannelsAreNamedAndNotPlayed) {
    SegmentSpec plan;
    plan.header.length = 768;
    for (std::uint32_t p = 0; p < 16; ++p)
        plan.notes.push_back({0, 100, p, 60});
    plan.notes.push_back({0, 100, 50, 72});
    plan.notes.push_back({384, 100, 50, 74});
    plan.bands = {{0, {{50, 73, 0x1 | 0x2}}}};
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.warnings.size(), 1u);
    EXPECT_EQ(l.warnings[0].message, "channel 50 not played: the port has no free channel left for it");
    for (const auto& n : Notes(l.sequence))
        EXPECT_TRUE(n.group != 0 || n.key == 60) << n;
    for (const auto& p : l.sequence.patches)
        EXPECT_NE(p.group, 0);
}

struct CurveCase {
    const char* name;
    Curve curve;
    std::uint8_t status;
    int firstValue, lastValue;
    bool rising;
};

TEST(SegmentSequence, CurvesBecomeSmoothControllerChanges) {
    const CurveCase cases[] = {
        {"linear volume", {0, 768, 0, 0, 0, 0, 127, 0, 4, 0, 7}, 0xB0, 0, 127, true},
        {"exponential pan", {0, 768, 0, 0, 0, 0, 127, 0, 4, 2, 10}, 0xB0, 0, 127, true},
        {"logarithmic", {0, 768, 0, 0, 0, 127, 0, 0, 4, 3, 11}, 0xB0, 127, 0, false},
        {"sine", {0, 768, 0, 0, 0, 0, 127, 0, 4, 4, 1}, 0xB0, 0, 127, true},
        {"pitch bend", {0, 768, 0, 1, 0, 8192, 16383, 0, 3, 0}, 0xE1, 8192, 16383, true},
        {"channel pressure", {0, 768, 0, 0, 0, 0, 100, 0, 5, 0}, 0xD0, 0, 100, true},
        {"poly pressure", {0, 768, 0, 0, 0, 0, 100, 0, 6, 0, 60}, 0xA0, 0, 100, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SegmentSpec plan;
        plan.header.length = 2 * 768;
        plan.curves = {c.curve};
        const Loaded l = Load(BuildSegment(plan));
        ASSERT_TRUE(l.ok);
        std::vector<std::pair<std::uint32_t, int>> points;
        for (const auto& e : l.sequence.events) {
            ASSERT_EQ(e.status, c.status);
            const int v = c.status == 0xE1 ? (e.data1 | (e.data2 << 7)) : c.status == 0xD0 ? e.data1 : e.data2;
            points.push_back({e.tick, v});
        }
        ASSERT_GE(points.size(), 16u) << "a sweep, not a jump";
        EXPECT_EQ(points.front(), std::make_pair(0u, c.firstValue));
        EXPECT_EQ(points.back().second, c.lastValue);
        EXPECT_LE(points.back().first, 768u);
        for (std::size_t i = 1; i < points.size(); ++i) {
            EXPECT_GT(points[i].first, points[i - 1].first);
            if (c.rising) {
                EXPECT_GT(points[i].second, points[i - 1].second);
            } else {
                EXPECT_LT(points[i].second, points[i - 1].second);
            }
            if (c.curve.shape == 0) {
                EXPECT_LE(points[i].first - points[i - 1].first, 48u) << "at least every 1/64 note while changing";
            }
        }
    }
}

TEST(SegmentSequence, CurveShapesDifferInTheMiddle) {
    auto midValue = [](std::uint8_t shape) {
        SegmentSpec plan;
        plan.header.length = 2 * 768;
        plan.curves = {{0, 768, 0, 0, 0, 0, 120, 0, 4, shape, 7}};
        const Loaded l = Load(BuildSegment(plan));
        int v = -1;
        for (const auto& e : l.sequence.events)
            if (e.tick <= 384) v = e.data2;
        return v;
    };
    EXPECT_NEAR(midValue(0), 60, 2); // linear
    EXPECT_LT(midValue(2), 40);      // exponential starts slowly
    EXPECT_GT(midValue(3), 80);      // logarithmic starts fast
    EXPECT_NEAR(midValue(4), 60, 2); // sine passes the middle at half time
    EXPECT_EQ(midValue(1), 120);     // instant
}

// Thousands of curves each lasting for ever must not turn into billions of
// messages: past a budget, curves jump to their end values.
TEST(SegmentSequence, HostileCurvesStayBounded) {
    SegmentSpec plan;
    plan.header.length = 0x7FFFFFFF;
    for (int i = 0; i < 3000; ++i)
        plan.curves.push_back({i, 0x40000000, 0, static_cast<std::uint32_t>(i % 16), 0, 0, 16383, 0, 7, 0});
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_TRUE(l.ok);
    EXPECT_GT(l.sequence.events.size(), 3000u);
    EXPECT_LT(l.sequence.events.size(), (1u << 20) + 3000u * 4u + 16384u);
}

TEST(SegmentSequence, CurveFromTheCurrentValueStartsWhereTheLastOneEnded) {
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.bands = {{0, {{0, 0, 0x40, 64, 90}}}};
    // Written out of order; the fade starts from the band's volume.
    plan.curves = {{1536, 768, 0, 0, 0, 0, 8192, 0, 3, 0, 0, 0x2},
                   {0, 768, 0, 0, 0, 0, 0, 0, 4, 0, 7, 0x2},
                   {768, 384, 0, 0, 0, 8192, 12000, 0, 3, 0}};
    const Loaded l = Load(BuildSegment(plan));
    const auto volume = Controllers(l.sequence, 7);
    ASSERT_GE(volume.size(), 3u);
    EXPECT_EQ(volume[1].data2, 90); // [0] is the band's own
    EXPECT_EQ(volume.back().data2, 0);
    int firstBendAfter1536 = -1;
    for (const auto& e : l.sequence.events)
        if ((e.status & 0xF0) == 0xE0 && e.tick >= 1536 && firstBendAfter1536 < 0)
            firstBendAfter1536 = e.data1 | (e.data2 << 7);
    EXPECT_EQ(firstBendAfter1536, 12000);
}

// A reset value only matters when a curve is cut off; a curve that plays to
// its end keeps its end value.
TEST(SegmentSequence, CurveWithResetKeepsItsEndValue) {
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.curves = {{0, 768, 384, 0, 0, 0, 127, 64, 4, 1, 11, 0x1}};
    const Loaded l = Load(BuildSegment(plan));
    const auto cc = Controllers(l.sequence, 11);
    ASSERT_EQ(cc.size(), 1u);
    EXPECT_EQ(cc[0].tick, 0u);
    EXPECT_EQ(cc[0].data2, 127);
}

TEST(SegmentSequence, LoopRegionRepeatsAndLength) {
    struct Case {
        std::int32_t length, loopStart, loopEnd;
        std::uint32_t repeats, wantStart, wantEnd;
    };
    const Case cases[] = {
        {3072, 768, 2304, 3, 768, 2304},
        {3072, 0, 0, 0xFFFFFFFFu, 0, 0}, // whole segment, for ever
        {3072, 768, 9999, 1, 0, 0},      // loop end past the end: whole segment
        {3072, 2000, 1000, 1, 0, 0},     // reversed: whole segment
    };
    for (const auto& c : cases) {
        SegmentSpec plan = MelodySpec();
        plan.header.length = c.length;
        plan.header.loopStart = c.loopStart;
        plan.header.loopEnd = c.loopEnd;
        plan.header.repeats = c.repeats;
        const Loaded l = Load(BuildSegment(plan));
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(l.sequence.lengthTicks, static_cast<std::uint32_t>(c.length));
        EXPECT_EQ(l.sequence.repeats, c.repeats);
        EXPECT_EQ(l.sequence.loopStartTicks, c.wantStart);
        EXPECT_EQ(l.sequence.loopEndTicks, c.wantEnd);
    }
}

TEST(SegmentSequence, LengthInClockTimeUsesTheTempoMap) {
    SegmentSpec plan = MelodySpec(); // 96 bpm: a quarter lasts 0.625 s
    plan.header.length = 1;
    plan.header.flags = 1;
    plan.header.clockLength = 25'000'000; // 2.5 s in 100 ns units = 4 quarters
    const Loaded l = Load(BuildSegment(plan));
    EXPECT_EQ(l.sequence.lengthTicks, 4u * 768u);
    EXPECT_EQ(Notes(l.sequence).size(), 4u);
}

TEST(SegmentSequence, NotesPastTheEndAreCutAndMissingLengthIsComputed) {
    SegmentSpec plan = MelodySpec();
    plan.header.length = 2000;
    Loaded l = Load(BuildSegment(plan));
    auto notes = Notes(l.sequence);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[2].off, 2000u); // sounding at the end: released there
    EXPECT_LE(l.sequence.events.back().tick, l.sequence.lengthTicks);

    plan.header.length = 0;
    l = Load(BuildSegment(plan));
    EXPECT_EQ(l.sequence.lengthTicks, 3004u);
    EXPECT_EQ(Notes(l.sequence).size(), 4u);
}

TEST(SegmentSequence, PlayStartSkipsEarlierNotesButKeepsTheirSettings) {
    SegmentSpec plan = MelodySpec();
    plan.header.playStart = 768;
    plan.header.loopStart = 1536;
    plan.header.loopEnd = 3072;
    // Written out of time order: the later value must be the one that holds.
    plan.curves = {{500, 0, 0, 0, 0, 0, 99, 0, 4, 1, 7}, {100, 0, 0, 0, 0, 0, 10, 0, 4, 1, 7}};
    plan.bands = {{0, {{0, 7, 0x1}}}, {5000, {{0, 9, 0x1}}}};
    const Loaded l = Load(BuildSegment(plan));
    const auto notes = Notes(l.sequence);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0], (NoteEvent{0, 700, 62, 90, 0, 0}));
    EXPECT_EQ(l.sequence.lengthTicks, 3u * 768u);
    EXPECT_EQ(l.sequence.loopStartTicks, 768u);
    EXPECT_EQ(l.sequence.loopEndTicks, 2304u);
    const auto volume = Controllers(l.sequence, 7);
    ASSERT_EQ(volume.size(), 2u);
    EXPECT_EQ(volume[1].tick, 0u);
    EXPECT_EQ(volume[1].data2, 99);
    ASSERT_EQ(l.sequence.patches.size(), 1u) << "the band after the end is dropped";
    EXPECT_EQ(l.sequence.patches.at(0).tick, 0u);
    EXPECT_EQ(l.sequence.patches.at(0).program, 7);
}

TEST(SegmentSequence, TempoChangesAndSysExKeepTheirTimes) {
    SegmentSpec plan = MelodySpec();
    plan.tempos = {{0, 120.0}, {1536, 60.0}, {768, 240.0}};
    plan.sysex = {{768, Bytes{0xF0, 0x41, 0x10, 0xF7}}};
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_EQ(l.sequence.tempos.size(), 3u);
    EXPECT_EQ(l.sequence.tempos[1].tick, 768u);
    EXPECT_EQ(l.sequence.tempos[1].microsecondsPerQuarter, 250000u);
    EXPECT_EQ(l.sequence.tempos[2].microsecondsPerQuarter, 1000000u);
    ASSERT_EQ(l.sequence.sysex.size(), 1u);
    EXPECT_EQ(l.sequence.sysex[0].tick, 768u);
    const auto& s = l.sequence.sysex[0];
    EXPECT_EQ(Bytes(l.sequence.sysexBytes.begin() + s.offset, l.sequence.sysexBytes.begin() + s.offset + s.length),
              (Bytes{0xF0, 0x41, 0x10, 0xF7}));
}

TEST(SegmentSequence, ReStruckNoteIsNotCutByThePreviousNoteOff) {
    SegmentSpec plan;
    plan.header.length = 2 * 768;
    plan.notes = {{0, 768, 0, 60}, {768, 768, 0, 60}};
    const Loaded l = Load(BuildSegment(plan));
    const auto& e = l.sequence.events;
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[1].tick, 768u);
    EXPECT_EQ(e[1].status & 0xF0, 0x80);
    EXPECT_EQ(e[2].status & 0xF0, 0x90);
}

} // namespace
} // namespace qorn::testseg
