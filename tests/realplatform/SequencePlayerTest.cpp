#include "platform/performance/SequencePlayer.h"

#include "RecordingSink.h"

#include <gtest/gtest.h>

#include <memory>

using namespace qorn;
using platform::kRepeatForever;
using platform::SequencePlayer;
using test::RecordingSink;

namespace {

// 480 ticks per quarter at 120 bpm: one tick is 1/960 s.
std::shared_ptr<music::Sequence> makeSequence() {
    auto s = std::make_shared<music::Sequence>();
    s->ticksPerQuarter = 480;
    return s;
}

void note(music::Sequence& s, std::uint32_t tick, std::uint32_t length, std::uint8_t key, std::uint8_t ch = 0) {
    s.events.push_back({tick, std::uint8_t(0x90 | ch), key, 100, 0});
    s.events.push_back({tick + length, std::uint8_t(0x80 | ch), key, 0, 0});
}

void sortEvents(music::Sequence& s) {
    std::stable_sort(s.events.begin(), s.events.end(),
                     [](const music::SeqEvent& a, const music::SeqEvent& b) { return a.tick < b.tick; });
}

// Plays to the end in steps of `step` seconds, stamping each message.
void playOut(SequencePlayer& p, RecordingSink& sink, double step, double limit = 600.0) {
    p.advance(0, sink);
    while (!p.finished() && sink.now < limit) {
        sink.now += step;
        p.advance(step, sink);
    }
}

TEST(SequencePlayerTest, EventsArriveAtTheirTimesAcrossTempoChanges) {
    auto s = makeSequence();
    note(*s, 0, 240, 60);
    note(*s, 960, 240, 62);  // 1.0 s at 120 bpm
    note(*s, 1920, 240, 64); // tempo halves at tick 1440: 1.5 s + 480 ticks at 60 bpm = 2.5 s
    s->tempos = {{0, 500000}, {1440, 1000000}};
    s->lengthTicks = 2400;
    sortEvents(*s);
    SequencePlayer p(s, 0);
    RecordingSink sink;
    playOut(p, sink, 0.001);
    auto ons = sink.noteOns();
    ASSERT_EQ(ons.size(), 3u);
    EXPECT_NEAR(ons[0].time, 0.0, 1e-9);
    EXPECT_NEAR(ons[1].time, 1.0, 0.0011);
    EXPECT_NEAR(ons[2].time, 2.5, 0.0011);
    EXPECT_NEAR(p.elapsedSeconds(), 1.5 + 960.0 / 480.0, 0.0011);
}

TEST(SequencePlayerTest, MasterTempoScalesDurationAndTakesEffectMidPlay) {
    struct Case {
        double tempo;
        double expected;
    };
    for (const Case c : {Case{1.0, 2.0}, Case{2.0, 1.0}, Case{0.5, 4.0}}) {
        auto s = makeSequence();
        note(*s, 0, 1920, 60);
        s->lengthTicks = 1920; // 2 s at 120 bpm
        SequencePlayer p(s, 0);
        p.setMasterTempo(c.tempo);
        RecordingSink sink;
        playOut(p, sink, 0.001);
        EXPECT_NEAR(p.elapsedSeconds(), c.expected, 0.002) << "tempo " << c.tempo;
    }
    // Doubling the tempo half way through the piece: 1 s, then 0.5 s.
    auto s = makeSequence();
    note(*s, 0, 1920, 60);
    s->lengthTicks = 1920;
    SequencePlayer p(s, 0);
    RecordingSink sink;
    p.advance(0, sink);
    p.advance(1.0, sink);
    p.setMasterTempo(2.0);
    p.advance(0.49, sink);
    EXPECT_FALSE(p.finished());
    p.advance(0.02, sink);
    EXPECT_TRUE(p.finished());
}

TEST(SequencePlayerTest, RepeatsJoinWithoutGapDoubleOrDroppedNote) {
    auto s = makeSequence();
    note(*s, 0, 480, 60);   // starts on the joint
    note(*s, 480, 480, 62); // ends exactly on the joint
    s->lengthTicks = 960;   // 1 s
    SequencePlayer p(s, 2);
    RecordingSink sink;
    playOut(p, sink, 0.0007); // a step that does not divide the length
    const auto ons = sink.noteOns();
    ASSERT_EQ(ons.size(), 6u);
    for (std::size_t i = 0; i < ons.size(); ++i) {
        EXPECT_EQ(ons[i].data1, i % 2 == 0 ? 60 : 62);
        EXPECT_NEAR(ons[i].time, 0.5 * double(i), 0.0008) << "note " << i;
    }
    // Every note-on has exactly one note-off, and no note is cut at the joint.
    EXPECT_EQ(sink.noteOffs().size(), 6u);
    EXPECT_NEAR(p.elapsedSeconds(), 3.0, 0.001);
    EXPECT_EQ(p.completedPasses(), 2u);
}

TEST(SequencePlayerTest, LoopRegionRepeatsThenTheRestPlays) {
    auto s = makeSequence();
    note(*s, 0, 240, 60);   // intro, once
    note(*s, 480, 240, 62); // loop body
    note(*s, 960, 240, 64); // after the loop, once
    s->lengthTicks = 1440;
    s->loopStartTicks = 480;
    s->loopEndTicks = 960;
    sortEvents(*s);
    SequencePlayer p(s, 2);
    RecordingSink sink;
    playOut(p, sink, 0.001);
    std::vector<int> keys;
    for (const auto& m : sink.noteOns())
        keys.push_back(m.data1);
    EXPECT_EQ(keys, (std::vector<int>{60, 62, 62, 62, 64}));
    EXPECT_NEAR(p.elapsedSeconds(), 0.5 + 3 * 0.5 + 0.5, 0.002);
}

TEST(SequencePlayerTest, ReleasesNotesAndPedalTheFileLeftOnAtTheEnd) {
    auto s = makeSequence();
    s->events = {{0, 0xB1, 64, 127, 0}, {0, 0x91, 60, 100, 0}, {0, 0x91, 64, 100, 0}, {100, 0x81, 64, 0, 0}};
    s->lengthTicks = 480;
    SequencePlayer p(s, 0);
    RecordingSink sink;
    playOut(p, sink, 0.01);
    ASSERT_TRUE(p.finished());
    const auto offs = sink.noteOffs();
    ASSERT_EQ(offs.size(), 2u);
    EXPECT_EQ(offs[1].status, 0x81);
    EXPECT_EQ(offs[1].data1, 60);
    EXPECT_NEAR(offs[1].time, 0.5, 0.011);
    const auto& last = sink.messages.back();
    EXPECT_EQ(last.status, 0xB1);
    EXPECT_EQ(last.data1, 64);
    EXPECT_EQ(last.data2, 0);
}

TEST(SequencePlayerTest, StopSilencesSoundingNotesThenResetsUsedChannels) {
    auto s = makeSequence();
    note(*s, 0, 4800, 60, 0);
    note(*s, 0, 4800, 67, 9);
    s->lengthTicks = 4800;
    sortEvents(*s);
    SequencePlayer p(s, kRepeatForever);
    RecordingSink sink;
    p.advance(0, sink);
    p.advance(1.0, sink);
    sink.messages.clear();
    p.stop(sink);
    EXPECT_TRUE(p.finished());
    ASSERT_EQ(sink.messages.size(), 6u);
    EXPECT_EQ(sink.messages[0].status, 0x80);
    EXPECT_EQ(sink.messages[1].status, 0x89);
    const std::uint8_t expected[][2] = {{0xB0, 123}, {0xB0, 121}, {0xB9, 123}, {0xB9, 121}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sink.messages[std::size_t(2 + i)].status, expected[i][0]);
        EXPECT_EQ(sink.messages[std::size_t(2 + i)].data1, expected[i][1]);
    }
    // Nothing more once stopped.
    sink.messages.clear();
    p.advance(10.0, sink);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(SequencePlayerTest, RepeatsForEverUntilStopped) {
    auto s = makeSequence();
    note(*s, 0, 240, 60);
    s->lengthTicks = 480;
    SequencePlayer p(s, kRepeatForever);
    RecordingSink sink;
    p.advance(0, sink);
    for (int i = 0; i < 1000; ++i)
        p.advance(0.01, sink); // 10 s = 20 plays
    EXPECT_FALSE(p.finished());
    EXPECT_EQ(sink.noteOns().size(), 21u);
}

TEST(SequencePlayerTest, EmptyOrDegeneratePiecesEndAtOnce) {
    SequencePlayer none(nullptr, kRepeatForever);
    RecordingSink sink;
    none.advance(0, sink);
    EXPECT_TRUE(none.finished());

    auto s = makeSequence();
    s->loopStartTicks = 500;
    s->loopEndTicks = 400; // an inverted region does not loop
    s->lengthTicks = 0;
    SequencePlayer p(s, kRepeatForever);
    p.advance(0, sink);
    EXPECT_TRUE(p.finished());
}

TEST(SequencePlayerTest, OnlyAudibleBlocksAreSentAndPatchesComeFirst) {
    auto s = makeSequence();
    s->events = {{0, 0x90, 60, 100, 0}, {0, 0x90, 61, 100, 1}, {10, 0x80, 60, 0, 0}, {10, 0x80, 61, 0, 1}};
    s->patches = {{0, 0, 0, music::PatchSelect::kNoCollection, 1, 2, 40, false}};
    s->lengthTicks = 20;
    SequencePlayer p(s, 0);
    RecordingSink sink;
    playOut(p, sink, 0.01);
    ASSERT_GE(sink.messages.size(), 5u);
    EXPECT_EQ(sink.messages[0].status, 0xB0);
    EXPECT_EQ(sink.messages[0].data2, 1);
    EXPECT_EQ(sink.messages[1].data1, 32);
    EXPECT_EQ(sink.messages[2].status, 0xC0);
    EXPECT_EQ(sink.messages[2].data1, 40);
    for (const auto& m : sink.noteOns())
        EXPECT_EQ(m.data1, 60);
}

TEST(SequencePlayerTest, SendsOnlyWellFormedSystemExclusive) {
    auto s = makeSequence();
    s->sysexBytes = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x01, 0x02};
    s->sysex = {{0, 0, 6, 0}, {0, 6, 2, 0}, {0, 4, 100, 0}};
    s->lengthTicks = 10;
    SequencePlayer p(s, 0);
    RecordingSink sink;
    playOut(p, sink, 0.01);
    ASSERT_EQ(sink.sysex.size(), 1u);
    EXPECT_EQ(sink.sysex[0].size(), 6u);
}

} // namespace
