// A segment composed from a style composes every pass of a play anew:
// repeats choose their variations afresh (going on from pass to pass, and
// keeping locked parts together), a seed repeats a play exactly, and the
// play lasts as long as the piece with its repeats always did. Segments
// that compose nothing play as loaded.
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include "platform/formats/segment/ObjectCache.h"
#include "platform/loader/PlayPasses.h"
#include "platform/loader/Segment.h"
#include "platform/loader/SegmentAssembly.h"
#include "platform/performance/SequencePlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

namespace qorn::styles_test {
namespace {

using platform::kRepeatForever;

struct Release {
    void operator()(platform::Segment* s) const {
        if (s) s->Release();
    }
};
using SegmentPtr = std::unique_ptr<platform::Segment, Release>;

SegmentPtr TryLoad(const Bytes& file, std::string* error) {
    formats::segment::ObjectCache cache;
    std::shared_ptr<const music::Sequence> sequence;
    std::shared_ptr<const platform::ComposeInput> recompose;
    if (!platform::LoadSegmentWithTracks(file, "/nonexistent/song.sgt", cache, sequence, error, nullptr, 0, &recompose))
        return nullptr;
    return SegmentPtr(new platform::Segment(sequence, recompose));
}

SegmentPtr Load(const Bytes& file) {
    std::string error;
    SegmentPtr segment = TryLoad(file, &error);
    EXPECT_TRUE(segment) << error;
    return segment;
}

// A one-measure segment (4/4 at 120 bpm: 2 s) over C major.
Bytes OneMeasure(const st::Style& style) {
    return StyleSegment(std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "", StyleForm(style)));
}

// Two measures whose second one repeats, heard from `playStart` on.
Bytes LoopingSecondMeasure(const st::Style& style, std::uint32_t playStart = 0) {
    Out h;
    h.u32(0).u32(2 * kMeasure).u32(playStart).u32(kMeasure).u32(2 * kMeasure).u32(0);
    const Bytes s = StyleTrackList(0, "", StyleForm(style));
    return Riff("DMSG",
                {Chunk("segh", h.b), List("trkl", {Track(0xD2AC288B, nullptr, "cord", ChordTrackList(TwoChords())),
                                                   Track(0xD2AC288D, nullptr, "sttr", s)})});
}

// One part of two variations on PChannel `pchannel`: `first` in the first
// variation, `second` in the other.
st::StylePart TwoWayPart(std::uint32_t id, std::uint16_t first, std::uint16_t second) {
    return Part(id, st::playmode::kNormalChord, {Note(0, first, 1), Note(0, second, 2)}, 1, 2);
}

// Root (60) or fifth (67) of C major.
st::Style RootOrFifth(std::uint8_t mode) {
    st::Style style;
    style.tempo = 120.0;
    style.parts = {TwoWayPart(1, 0x5000, 0x5200)};
    style.patterns = {PatternOf({Ref(1, 0, 0, mode)})};
    return style;
}

// The note-on keys of `channel`, per pass of `passLength` ticks.
std::vector<std::vector<int>> KeysByPass(const music::Sequence& s, int channel, std::uint32_t passLength) {
    std::vector<std::vector<int>> out(s.lengthTicks / passLength);
    for (const auto& e : s.events)
        if ((e.status & 0xF0) == 0x90 && (e.status & 0x0F) == channel && e.data2 > 0 &&
            e.tick / passLength < out.size())
            out[e.tick / passLength].push_back(e.data1);
    return out;
}

using Flat = std::vector<std::tuple<std::uint32_t, int, int, int, int>>;
Flat Flatten(const music::Sequence& s, std::uint32_t before = 0xFFFFFFFFu) {
    Flat out;
    for (const auto& e : s.events)
        if (e.tick < before) out.emplace_back(e.tick, e.status, e.data1, e.data2, e.group);
    return out;
}

platform::Segment::Play PlayOf(const Bytes& file, std::uint32_t repeats, std::uint32_t seed) {
    SegmentPtr segment = Load(file);
    segment->SetRepeats(repeats);
    segment->setCompositionSeed(seed);
    EXPECT_TRUE(segment->composesAnew());
    return segment->playable();
}

TEST(RecomposeTest, RepeatsChooseTheirVariationsAnewAndASeedRepeatsThePlay) {
    const Bytes file = OneMeasure(RootOrFifth(st::variationmode::kRandom));
    int seedsWithChanges = 0;
    std::set<std::vector<std::vector<int>>> different;
    for (std::uint32_t seed = 0; seed < 16; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const auto play = PlayOf(file, 2, seed);
        ASSERT_TRUE(play.sequence);
        EXPECT_EQ(play.repeats, 0u);
        ASSERT_EQ(play.sequence->lengthTicks, 3 * kMeasure);
        const auto keys = KeysByPass(*play.sequence, 0, kMeasure);
        for (const auto& pass : keys) {
            ASSERT_EQ(pass.size(), 1u);
            EXPECT_TRUE(pass[0] == 60 || pass[0] == 67) << pass[0];
        }
        if (keys[0] != keys[1] || keys[1] != keys[2]) ++seedsWithChanges;
        different.insert(keys);
        // Another load with the same seed plays the very same notes.
        EXPECT_EQ(Flatten(*PlayOf(file, 2, seed).sequence), Flatten(*play.sequence));
    }
    EXPECT_GT(seedsWithChanges, 0);
    EXPECT_GT(different.size(), 2u);
}

// A part that plays its variations in turn goes on from pass to pass, as a
// player composing while it plays would.
TEST(RecomposeTest, SequentialVariationsGoOnAcrossPasses) {
    const auto play = PlayOf(OneMeasure(RootOrFifth(st::variationmode::kSequential)), 5, 3);
    using Keys = std::vector<std::vector<int>>;
    EXPECT_EQ(KeysByPass(*play.sequence, 0, kMeasure), (Keys{{60}, {67}, {60}, {67}, {60}, {67}}));
}

TEST(RecomposeTest, LockedPartsStayTogetherOnEveryPass) {
    struct Case {
        std::uint8_t lock;
        bool together;
    };
    for (const Case c : {Case{1, true}, Case{0, false}}) {
        SCOPED_TRACE("lock " + std::to_string(c.lock));
        st::Style style;
        style.tempo = 120.0;
        // Root (60) or fifth (67) on PChannel 0, third (64) or upper root (72) on 1.
        style.parts = {TwoWayPart(1, 0x5000, 0x5200), TwoWayPart(2, 0x5100, 0x6000)};
        style.patterns = {PatternOf({Ref(1, 0, c.lock), Ref(2, 1, c.lock)})};
        const Bytes file = OneMeasure(style);
        bool alwaysTogether = true;
        for (std::uint32_t seed = 0; seed < 6; ++seed) {
            const auto play = PlayOf(file, 9, seed);
            const auto first = KeysByPass(*play.sequence, 0, kMeasure);
            const auto second = KeysByPass(*play.sequence, 1, kMeasure);
            ASSERT_EQ(first.size(), 10u);
            for (std::size_t p = 0; p < first.size(); ++p) {
                ASSERT_EQ(first[p].size(), 1u);
                ASSERT_EQ(second[p].size(), 1u);
                if ((first[p][0] == 60) != (second[p][0] == 64)) alwaysTogether = false;
            }
        }
        EXPECT_EQ(alwaysTogether, c.together);
    }
}

double PlayedSeconds(std::shared_ptr<const music::Sequence> sequence, std::uint32_t repeats, double limit = 1000.0) {
    platform::SequencePlayer player(std::move(sequence), repeats);
    struct Quiet : platform::MidiSink {
        void shortMessage(std::uint8_t, std::uint8_t, std::uint8_t) override {}
        void sysEx(const std::uint8_t*, std::size_t) override {}
    } sink;
    while (!player.finished() && player.elapsedSeconds() < limit)
        player.advance(0.05, sink);
    return player.finished() ? player.elapsedSeconds() : -1.0;
}

TEST(RecomposeTest, ThePlayLastsAsLongAsThePieceWithItsRepeats) {
    struct Case {
        bool looping;
        std::uint32_t repeats;
        double seconds;
    };
    // 2 s a measure; the looping piece plays two measures, then its second again.
    const Case cases[] = {{false, 0, 2}, {false, 2, 6}, {false, 7, 16}, {false, 20, 42}, {true, 3, 10}, {true, 30, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.looping ? "looping, " : "") + "repeats " + std::to_string(c.repeats));
        const st::Style style = RootOrFifth(st::variationmode::kRandom);
        SegmentPtr segment = Load(c.looping ? LoopingSecondMeasure(style) : OneMeasure(style));
        segment->SetRepeats(c.repeats);
        const auto play = segment->playable();
        EXPECT_NEAR(PlayedSeconds(play.sequence, play.repeats), c.seconds, 1e-3);
        EXPECT_NEAR(PlayedSeconds(segment->sequence(), c.repeats), c.seconds, 1e-3);
        platform::DWORD repeats = 0;
        segment->GetRepeats(&repeats);
        EXPECT_EQ(repeats, c.repeats);
    }
}

TEST(RecomposeTest, AnEndlessPlayCyclesThroughComposedPasses) {
    SegmentPtr segment = Load(OneMeasure(RootOrFifth(st::variationmode::kSequential)));
    segment->SetRepeats(kRepeatForever);
    const auto play = segment->playable();
    EXPECT_EQ(play.repeats, kRepeatForever);
    EXPECT_EQ(play.sequence->loopEndTicks - play.sequence->loopStartTicks, platform::kPassCycle * kMeasure);
    EXPECT_LT(PlayedSeconds(play.sequence, play.repeats, 100.0), 0.0); // still playing
}

TEST(RecomposeTest, TheFirstPassIsThePieceAsLoaded) {
    // Also when the play starts into the first measure: the first pass is
    // composed from the segment's start, as the load composed it.
    for (const std::uint32_t playStart : {0u, 768u}) {
        SCOPED_TRACE("play start " + std::to_string(playStart));
        SegmentPtr segment = Load(LoopingSecondMeasure(RootOrFifth(st::variationmode::kRandom), playStart));
        ASSERT_TRUE(segment->composesAnew());
        EXPECT_EQ(segment->playable().sequence, segment->sequence());
        segment->SetRepeats(3);
        const auto play = segment->playable();
        const std::uint32_t firstPass = 2 * kMeasure - playStart;
        EXPECT_EQ(play.sequence->lengthTicks, firstPass + 3 * kMeasure);
        EXPECT_EQ(Flatten(*play.sequence, firstPass), Flatten(*segment->sequence(), firstPass));
        EXPECT_FALSE(Flatten(*play.sequence, firstPass).empty());
        EXPECT_EQ(segment->playable().sequence, play.sequence); // kept while nothing changes
    }
}

TEST(RecomposeTest, SegmentsThatComposeNothingPlayAsLoaded) {
    const Bytes plain = Segment(std::int32_t(kMeasure), {SequenceTrackForm({{0, 384, 0, 0, 0x90, 60, 100}})});
    const Bytes lost = StyleSegment(std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "gone.sty"));
    for (const Bytes* file : {&plain, &lost}) {
        SegmentPtr segment = Load(*file);
        EXPECT_FALSE(segment->composesAnew());
        segment->SetRepeats(4);
        const auto play = segment->playable();
        EXPECT_EQ(play.sequence, segment->sequence());
        EXPECT_EQ(play.repeats, 4u);
    }
}

// Damaged sizes, times and loop points: every play is still a piece the
// player can play, of the length of its passes.
TEST(RecomposeTest, DamagedSegmentsStillPlayWholePasses) {
    const Bytes whole = LoopingSecondMeasure(RootOrFifth(st::variationmode::kRandom), 100);
    std::mt19937 rng(777);
    for (int i = 0; i < 400; ++i) {
        Bytes damaged = whole;
        for (int f = 1 + int(rng() % 4); f > 0; --f)
            damaged[rng() % damaged.size()] = static_cast<std::uint8_t>(rng());
        SegmentPtr segment = TryLoad(damaged, nullptr);
        if (!segment) continue;
        for (const std::uint32_t repeats : {2u, 30u, kRepeatForever}) {
            segment->SetRepeats(repeats);
            const auto play = segment->playable();
            ASSERT_TRUE(play.sequence);
            const auto& events = play.sequence->events;
            ASSERT_TRUE(std::is_sorted(events.begin(), events.end(), [](auto& a, auto& b) { return a.tick < b.tick; }));
            if (play.sequence == segment->sequence()) continue; // not unrolled
            const platform::PlayedLoop loop = platform::PlayedLoopOf(*segment->sequence());
            const std::uint32_t region = loop.end - loop.start;
            if (repeats == 2) {
                EXPECT_EQ(play.sequence->lengthTicks, segment->sequence()->lengthTicks + 2 * region);
            } else {
                // A cycle of whole passes repeats.
                const auto cycle = play.sequence->loopEndTicks - play.sequence->loopStartTicks;
                EXPECT_EQ(cycle % region, 0u);
                EXPECT_GT(cycle, 0u);
            }
        }
    }
}

} // namespace
} // namespace qorn::styles_test
