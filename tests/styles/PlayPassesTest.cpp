// Passes joined into one piece must play exactly as the player plays the
// piece with repeats: the same messages at the same times, notes released
// at every joint, the tempo in force carried over each jump back, and
// the same end.
#include "platform/loader/PlayPasses.h"
#include "platform/formats/smf/StandardMidiFile.h"
#include "platform/performance/SequencePlayer.h"
#include "tests/segments/TestSupport.h"
#include "tests/support/MidiWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace qorn::styles_test {
namespace {

using platform::PassPlan;

constexpr std::uint32_t kForever = 0xFFFFFFFFu;

// A message and the step of the clock in which it was sent.
using Sent = std::tuple<long, int, int, int>;

// Keeps what a listener could hear: a note-off for a note that is not
// sounding, or a pedal release with the pedal up, changes nothing (a jump
// back to the start of a cycle of joined passes sends the releases of the
// joint before it once more).
class Recorder : public platform::MidiSink {
  public:
    long step = 0;
    std::vector<Sent> sent;
    void shortMessage(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) override {
        const int kind = status & 0xF0;
        const int channel = status & 0x0F;
        if (kind == 0x90 && d2 > 0) {
            ++sounding_[channel][d1 & 0x7F];
        } else if (kind == 0x80 || kind == 0x90) {
            if (sounding_[channel][d1 & 0x7F] == 0) return;
            --sounding_[channel][d1 & 0x7F];
        } else if (kind == 0xB0 && d1 == 64) {
            if (d2 < 64 && !pedal_[channel]) return;
            pedal_[channel] = d2 >= 64;
        }
        sent.emplace_back(step, status, d1, d2);
    }
    void sysEx(const std::uint8_t* data, std::size_t length) override {
        sent.emplace_back(step, 0xF0, int(length), data[1]);
    }

  private:
    int sounding_[16][128] = {};
    bool pedal_[16] = {};
};

struct Played {
    std::vector<Sent> sent; // sorted within each step: a joint may order its releases differently
    double seconds = 0;
    bool finished = false;
};

Played Play(std::shared_ptr<const music::Sequence> sequence, std::uint32_t repeats, double maxSeconds) {
    platform::SequencePlayer player(std::move(sequence), repeats);
    std::bitset<256> groups;
    groups.set(0);
    groups.set(1);
    player.setAudibleGroups(groups);
    Recorder r;
    // A step that no event time falls on exactly.
    constexpr double kStep = 0.0117;
    for (; !player.finished() && r.step * kStep < maxSeconds; ++r.step)
        player.advance(kStep, r);
    Played p;
    p.sent = std::move(r.sent);
    std::sort(p.sent.begin(), p.sent.end());
    p.seconds = player.elapsedSeconds();
    p.finished = player.finished();
    return p;
}

music::SeqEvent Ev(std::uint32_t tick, std::uint8_t status, std::uint8_t d1, std::uint8_t d2, std::uint8_t group = 0) {
    return {tick, status, d1, d2, group};
}

// One measure with the loop region [768, 2304) and a tail: notes across
// the loop end, one ending on it, a pedal held over it, a note-off after
// the end, a tempo change on the loop end, a patch, a system-exclusive
// message and a second channel block.
std::shared_ptr<music::Sequence> Piece(std::uint8_t key = 64) {
    auto s = std::make_shared<music::Sequence>();
    s->lengthTicks = 3072;
    s->loopStartTicks = 768;
    s->loopEndTicks = 2304;
    s->events = {Ev(0, 0x90, 60, 100),    Ev(800, 0x80, 60, 0),    Ev(1000, 0x90, 62, 90), Ev(1000, 0x91, 50, 90, 1),
                 Ev(1200, 0xB0, 64, 127), Ev(2000, 0x90, key, 80), Ev(2304, 0x80, 62, 0),  Ev(2304, 0x90, 66, 70),
                 Ev(2400, 0x90, 67, 80),  Ev(2500, 0xB0, 64, 0),   Ev(2600, 0x80, key, 0), Ev(2900, 0x80, 67, 0),
                 Ev(2950, 0x90, 69, 60),  Ev(3000, 0x80, 66, 0),   Ev(3100, 0x80, 69, 0)};
    s->tempos = {{0, 500000}, {600, 400000}, {1200, 450000}, {2304, 300000}, {2600, 600000}};
    s->patches = {{0, 0, 0, music::PatchSelect::kNoCollection, 0, 0, 5, false},
                  {1536, 0, 0, music::PatchSelect::kNoCollection, 0, 0, 7, false}};
    s->sysexBytes = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    s->sysex = {{1536, 0, 6, 0}};
    return s;
}

std::vector<std::shared_ptr<const music::Sequence>> Copies(std::shared_ptr<const music::Sequence> s, std::size_t n) {
    return std::vector<std::shared_ptr<const music::Sequence>>(n, s);
}

TEST(PlayPassesTest, PlansCoverEveryRepeatWithinTheBounds) {
    struct Case {
        std::uint32_t repeats;
        std::size_t events;
        PassPlan expected;
    };
    const Case cases[] = {
        {0, 100, {0, 0, 0}},
        {1, 100, {0, 1, 0}},
        {16, 100, {0, 16, 0}},                            // unrolled whole
        {17, 100, {1, 8, 1}},                             // 1 + 1 + 8 * 2 passes played
        {1000, 100, {0, 8, 124}},                         // 1 + 8 * 125
        {kForever, 100, {0, 8, kForever}},                // the first pass, then a cycle of eight
        {5, platform::kMaxUnrolledEvents / 4, {0, 1, 4}}, // four passes fit, a cycle of two does not
        {kForever, platform::kMaxUnrolledEvents / 2, {0, 1, kForever}},
        {3, platform::kMaxUnrolledEvents, {0, 0, 0}}, // one pass is all that fits: not unrolled
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("repeats " + std::to_string(c.repeats) + ", events " + std::to_string(c.events));
        const PassPlan p = platform::PlanPasses(c.repeats, c.events);
        EXPECT_EQ(p.prefix, c.expected.prefix);
        EXPECT_EQ(p.cycle, c.expected.cycle);
        EXPECT_EQ(p.cycleRepeats, c.expected.cycleRepeats);
        EXPECT_LE(p.passes(), platform::kMaxUnrolledPasses);
        if (p.passes() > 1) {
            EXPECT_LE(p.passes() * c.events, platform::kMaxUnrolledEvents);
            if (c.repeats != kForever) {
                EXPECT_EQ(1 + p.prefix + std::uint64_t(p.cycle) * (p.cycleRepeats + 1), c.repeats + 1ull);
            }
        }
    }
}

// Joined copies of one piece against the piece played with its repeats.
TEST(PlayPassesTest, JoinedPassesPlayAsThePlayerRepeatsThePiece) {
    const std::shared_ptr<const music::Sequence> piece = Piece();
    for (const std::uint32_t repeats : {1u, 2u, 16u, 17u, 21u, kForever}) {
        SCOPED_TRACE("repeats " + std::to_string(repeats));
        const PassPlan plan = platform::PlanPasses(repeats, piece->events.size());
        ASSERT_GT(plan.passes(), 1u);
        const auto joined = platform::UnrollPasses(Copies(piece, plan.passes()), plan);
        ASSERT_TRUE(joined);
        const double limit = repeats == kForever ? 60.0 : 1000.0;
        const Played expected = Play(piece, repeats, limit);
        const Played got = Play(joined, plan.cycleRepeats, limit);
        EXPECT_EQ(got.finished, expected.finished);
        EXPECT_NEAR(got.seconds, expected.seconds, 1e-6);
        EXPECT_EQ(got.sent, expected.sent);
    }
}

TEST(PlayPassesTest, EachPassPlaysItsOwnVersion) {
    std::vector<std::shared_ptr<const music::Sequence>> passes;
    for (std::uint8_t k = 0; k < 4; ++k)
        passes.push_back(Piece(static_cast<std::uint8_t>(70 + k)));
    const PassPlan plan{0, 3, 0};
    const auto joined = platform::UnrollPasses(passes, plan);
    ASSERT_TRUE(joined);
    // [0, 2304), three loop regions of 1536, then the tail of 768.
    EXPECT_EQ(joined->lengthTicks, 2304u + 3 * 1536u + 768u);
    EXPECT_EQ(joined->loopEndTicks, 0u);
    std::vector<std::pair<std::uint32_t, int>> keyed;
    for (const auto& e : joined->events)
        if (e.status == 0x90 && e.data1 >= 70) keyed.emplace_back(e.tick, e.data1);
    const std::vector<std::pair<std::uint32_t, int>> expected = {
        {2000, 70}, {2000 + 1536, 71}, {2000 + 2 * 1536, 72}, {2000 + 3 * 1536, 73}};
    EXPECT_EQ(keyed, expected);
    EXPECT_TRUE(
        std::is_sorted(joined->events.begin(), joined->events.end(), [](auto& a, auto& b) { return a.tick < b.tick; }));
    // Tempo is the performance's: after each jump back the tempo in force
    // (set at 1200 in the pass before) holds, not the one of the loop start.
    for (std::uint32_t k = 1; k <= 3; ++k) {
        const std::uint32_t start = 2304 + (k - 1) * 1536;
        auto it = std::upper_bound(joined->tempos.begin(), joined->tempos.end(), start,
                                   [](std::uint32_t t, const music::TempoChange& c) { return t < c.tick; });
        ASSERT_NE(it, joined->tempos.begin()) << "pass " << k;
        EXPECT_EQ((it - 1)->microsecondsPerQuarter, 450000u) << "pass " << k;
    }
}

TEST(PlayPassesTest, AnEndlessPlayCyclesThroughItsPasses) {
    std::vector<std::shared_ptr<const music::Sequence>> passes;
    for (std::uint8_t k = 0; k < 3; ++k)
        passes.push_back(Piece(static_cast<std::uint8_t>(70 + k)));
    const PassPlan plan{0, 2, kForever};
    const auto joined = platform::UnrollPasses(passes, plan);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->loopStartTicks, 2304u);
    EXPECT_EQ(joined->loopEndTicks, 2304u + 2 * 1536u);
    // Passes 1 and 2 alternate for ever after the first.
    platform::SequencePlayer player(joined, plan.cycleRepeats);
    Recorder r;
    std::vector<int> keys;
    for (; r.step < 4000 && keys.size() < 7; ++r.step) {
        player.advance(0.0123, r);
        for (const auto& [step, status, d1, d2] : r.sent)
            if (status == 0x90 && d1 >= 70) keys.push_back(d1);
        r.sent.clear();
    }
    EXPECT_EQ(keys, (std::vector<int>{70, 71, 72, 71, 72, 71, 72}));
    EXPECT_FALSE(player.finished());
}

TEST(PlayPassesTest, WavesStopWithTheirPass) {
    auto piece = Piece();
    piece->waves = {{100, 0, 0, 1.0f, true, 0, 0, 0, 0},
                    {1000, 3000, 0, 1.0f, false, 0, 0, 0, 0},
                    {2400, 0, 0, 1.0f, false, 0, 0, 0, 0}};
    const PassPlan plan{0, 1, 0};
    const auto joined = platform::UnrollPasses(Copies(piece, 2), plan);
    ASSERT_TRUE(joined);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const auto& w : joined->waves)
        got.emplace_back(w.tick, w.endTick);
    // The first pass cuts both of its waves at the loop end; the last pass
    // starts its copy of the second one again and keeps the tail's own.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {100, 2304}, {1000, 2304}, {1000 + 1536, 3000 + 1536}, {2400 + 1536, 0}};
    EXPECT_EQ(got, expected);
}

TEST(PlayPassesTest, RefusesWhatCannotBeJoined) {
    auto empty = std::make_shared<music::Sequence>();
    EXPECT_FALSE(platform::UnrollPasses(Copies(empty, 2), PassPlan{0, 1, 0}));
    EXPECT_FALSE(platform::UnrollPasses(Copies(Piece(), 2), PassPlan{0, 2, 0})); // one pass short
    auto huge = Piece();
    huge->lengthTicks = 0x7FFF0000u;
    huge->loopEndTicks = 0;
    huge->loopStartTicks = 0;
    EXPECT_FALSE(platform::UnrollPasses(Copies(huge, 3), PassPlan{0, 2, 0})); // too long to time
}

// A piece that sets its tempo (68 BPM) at tick 416, not at 0, as an authored
// segment does, played twice: as a MIDI file with one repeat, and as its two
// passes joined. Tempo is the performance's: the repeat keeps 68 from its
// start (four beats of 0.8824 s), not 120 until tick 416 again, and its
// note at tick 768 starts 0.8824 s after the pass does.
TEST(PlayPassesTest, TheTempoInForceCarriesOverARepeat) {
    testing::TrackWriter t;
    t.noteOn(0, 0, 60).tempo(416, 882353).noteOff(352, 0, 60).noteOn(0, 0, 62).noteOff(768, 0, 62).endOfTrack(1536);
    auto piece = std::make_shared<music::Sequence>();
    ASSERT_TRUE(formats::ReadStandardMidiFile(testing::MidiFile(0, 768, {t}), *piece));
    ASSERT_EQ(piece->lengthTicks, 3072u);
    const double pass = 416.0 / 768 * 0.5 + 2656.0 / 768 * 0.882353;
    const PassPlan plan = platform::PlanPasses(1, piece->events.size());
    const auto joined = platform::UnrollPasses(Copies(piece, plan.passes()), plan);
    ASSERT_TRUE(joined);
    for (const auto& [sequence, repeats] :
         {std::pair{std::shared_ptr<const music::Sequence>(piece), 1u}, std::pair{joined, plan.cycleRepeats}}) {
        platform::SequencePlayer player(sequence, repeats);
        struct OnTimes : platform::MidiSink {
            double now = 0;
            std::vector<std::pair<double, int>> ons;
            void shortMessage(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) override {
                if ((status & 0xF0) == 0x90 && d2 > 0) ons.emplace_back(now, d1);
            }
            void sysEx(const std::uint8_t*, std::size_t) override {}
        } sink;
        for (; !player.finished() && sink.now < 20; sink.now += 0.001)
            player.advance(0.001, sink);
        EXPECT_NEAR(player.elapsedSeconds(), pass + 4 * 0.882353, 1e-3);
        ASSERT_EQ(sink.ons.size(), 4u);
        EXPECT_NEAR(sink.ons[2].first, pass, 2e-3);
        EXPECT_EQ(sink.ons[3].second, 62);
        EXPECT_NEAR(sink.ons[3].first, pass + 0.882353, 2e-3);
    }
}

// A fade marked for reset is undone when playback stops inside the curve or
// its reset time, in a piece played once or joined from passes; a stop after
// that time, or a curve without the mark, leaves the faded value.
TEST(CurveReset, StopInsideTheResetTimeRestoresTheAuthoredValue) {
    testseg::SegmentSpec segment;
    segment.header.length = 8 * 768;
    segment.tempos = {{0, 120.0}}; // a beat of 768 ticks is half a second
    segment.notes = {{0, 8 * 768 - 1, 0, 60, 100}, {0, 8 * 768 - 1, 1, 64, 100}};
    // Volume of channel 0 falls 100 -> 10 over a beat, to be reset to 100 up
    // to two beats later; pan of channel 1 moves without a reset.
    segment.curves = {{0, 768, 2 * 768, 0, 0, 100, 10, 100, 4, 0, 7, 1},
                      {0, 768, 2 * 768, 1, 0, 64, 0, 64, 4, 0, 10, 0}};
    const testseg::Loaded l = testseg::Load(testseg::BuildSegment(segment));
    ASSERT_TRUE(l.ok) << l.error;
    auto piece = std::make_shared<const music::Sequence>(l.sequence);
    const PassPlan plan = platform::PlanPasses(1, piece->events.size());
    const auto joined = platform::UnrollPasses(Copies(piece, plan.passes()), plan);
    ASSERT_TRUE(joined);

    struct Tail : platform::MidiSink {
        std::vector<std::tuple<int, int, int>> sent;
        void shortMessage(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) override {
            if ((status & 0xF0) == 0xB0 && (d1 == 7 || d1 == 10)) sent.emplace_back(status, d1, d2);
        }
        void sysEx(const std::uint8_t*, std::size_t) override {}
    };
    auto afterStop = [](std::shared_ptr<const music::Sequence> sequence, std::uint32_t repeats, double at) {
        platform::SequencePlayer player(std::move(sequence), repeats);
        Tail tail;
        for (double t = 0; t < at; t += 0.01)
            player.advance(0.01, tail);
        tail.sent.clear();
        player.stop(tail);
        return tail.sent;
    };
    using Sent3 = std::vector<std::tuple<int, int, int>>;
    // Halfway through the reset time, in the first pass and in the second.
    EXPECT_EQ(afterStop(piece, 1, 1.0), (Sent3{{0xB0, 7, 100}}));
    EXPECT_EQ(afterStop(joined, plan.cycleRepeats, 4.0 + 1.0), (Sent3{{0xB0, 7, 100}}));
    // Past the reset time the fade stays.
    EXPECT_EQ(afterStop(piece, 1, 2.0), Sent3{});
}

} // namespace
} // namespace qorn::styles_test
