// Waves from the player to the mixer without a synthesizer: the player
// hands each wave over on the step it falls in with how late it is, the
// voices line the wave up to its frame, loop it, cut it at its end and
// stop it with the play.
#include "platform/waves/WaveVoices.h"
#include "platform/performance/SequencePlayer.h"

#include <gtest/gtest.h>

#include <memory>

namespace qorn::testtracks {
namespace {

struct NullSink : platform::MidiSink {
    void shortMessage(std::uint8_t, std::uint8_t, std::uint8_t) override {}
    void sysEx(const std::uint8_t*, std::size_t) override {}
};

std::shared_ptr<waves::WaveData> Ramp(std::size_t frames, std::uint32_t rate = 1000) {
    auto w = std::make_shared<waves::WaveData>();
    w->sampleRate = rate;
    w->channels = 1;
    for (std::size_t i = 0; i < frames; ++i)
        w->samples.push_back(float(i + 1) / 1000.0f);
    return w;
}

music::WaveItem Item(std::uint32_t tick, std::uint32_t wave = 0) {
    music::WaveItem item{};
    item.tick = tick;
    item.wave = wave;
    item.gain = 1.0f;
    return item;
}

// Mixes `frames` frames and returns the left side.
std::vector<float> Mix(waves::WaveVoices& v, int frames, float gain = 1.0f) {
    std::vector<float> l(static_cast<std::size_t>(frames), 0.0f), r(l);
    v.mix(l.data(), r.data(), frames, gain);
    return l;
}

TEST(WaveVoices, SkipsWhatWasDueBeforeTheBlock) {
    music::Sequence s;
    s.waveData.push_back(Ramp(100));
    waves::WaveVoices v(s, 1000);
    v.start(Item(0), 5);
    const auto out = Mix(v, 10);
    EXPECT_FLOAT_EQ(out[0], 0.006f); // sample 5 of the ramp
    EXPECT_FLOAT_EQ(out[9], 0.015f);
}

TEST(WaveVoices, GainLoopsEndAndStop) {
    music::Sequence s;
    s.waveData.push_back(Ramp(10));
    waves::WaveVoices v(s, 1000);

    auto once = Item(0);
    once.gain = 0.5f;
    v.start(once, 0);
    auto out = Mix(v, 16, 2.0f); // master volume doubles it back
    EXPECT_FLOAT_EQ(out[0], 0.001f);
    EXPECT_FLOAT_EQ(out[9], 0.010f);
    EXPECT_EQ(out[10], 0.0f);
    EXPECT_EQ(v.sounding(), 0);

    auto looped = Item(0);
    looped.loop = true;
    looped.loopStart = 4;
    looped.loopEnd = 8;
    looped.endTick = 100;
    v.start(looped, 0);
    out = Mix(v, 16);
    const float expected[] = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 5, 6, 7, 8};
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(out[std::size_t(i)], expected[i] / 1000.0f) << i;
    v.endBefore(99);
    EXPECT_EQ(v.sounding(), 1);
    v.endBefore(100);
    EXPECT_EQ(v.sounding(), 0);

    v.start(looped, 0);
    v.stopAll();
    EXPECT_EQ(Mix(v, 4)[0], 0.0f);
}

TEST(WaveVoices, ConvertsToTheOutputRate) {
    music::Sequence s;
    s.waveData.push_back(Ramp(100, 500));
    waves::WaveVoices v(s, 1000);
    v.start(Item(0), 0);
    const auto out = Mix(v, 8);
    // Twice the frames, halfway values interpolated.
    EXPECT_FLOAT_EQ(out[0], 0.001f);
    EXPECT_FLOAT_EQ(out[1], 0.0015f);
    EXPECT_FLOAT_EQ(out[2], 0.002f);
}

TEST(WaveVoices, ExtraStartsBeyondTheVoicesAreDropped) {
    music::Sequence s;
    s.waveData.push_back(Ramp(10));
    waves::WaveVoices v(s, 1000);
    for (int i = 0; i < waves::WaveVoices::kMaxVoices + 5; ++i)
        v.start(Item(0), 0);
    EXPECT_EQ(v.sounding(), waves::WaveVoices::kMaxVoices);
}

struct Started {
    std::uint32_t tick;
    double late;
};

class RecordingTarget : public platform::WaveTarget {
  public:
    explicit RecordingTarget(std::vector<Started>& log, int& stops) : log_(log), stops_(stops) {}
    void startWave(const music::WaveItem& w, double late) override { log_.push_back({w.tick, late}); }
    void reached(double) override {}
    void stopWaves() override { ++stops_; }

  private:
    std::vector<Started>& log_;
    int& stops_;
};

TEST(WavePlayback, PlayerStartsWavesOnTheirStepWithTheirLateness) {
    auto seq = std::make_shared<music::Sequence>();
    seq->ticksPerQuarter = 768;
    seq->tempos = {{0, 500000}}; // 1536 ticks a second
    seq->lengthTicks = 3072;
    seq->waveData.push_back(Ramp(10));
    seq->waves = {Item(0), Item(100), Item(1000)};
    auto muted = Item(200);
    muted.group = 3; // a channel block this player does not play
    seq->waves.insert(seq->waves.begin() + 2, muted);

    std::vector<Started> log;
    int stops = 0;
    platform::SequencePlayer player(seq, 0);
    player.setWaveTarget(std::make_unique<RecordingTarget>(log, stops));
    NullSink sink;
    player.advance(0.0, sink);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].tick, 0u);
    EXPECT_DOUBLE_EQ(log[0].late, 0.0);

    player.advance(0.1, sink); // up to tick 153.6
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].tick, 100u);
    EXPECT_NEAR(log[1].late, 53.6 / 1536.0, 1e-9);

    player.advance(1.0, sink);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].tick, 1000u);

    player.advance(2.0, sink); // past the end
    EXPECT_TRUE(player.finished());
    EXPECT_GE(stops, 1);
    EXPECT_EQ(log.size(), 3u);
}

TEST(WavePlayback, RepeatsStartTheWavesAgainAndStopEndsThem) {
    auto seq = std::make_shared<music::Sequence>();
    seq->lengthTicks = 768; // half a second at the default tempo
    seq->waveData.push_back(Ramp(10));
    seq->waves = {Item(10)};
    std::vector<Started> log;
    int stops = 0;
    platform::SequencePlayer player(seq, 2);
    player.setWaveTarget(std::make_unique<RecordingTarget>(log, stops));
    NullSink sink;
    for (int i = 0; i < 40 && !player.finished(); ++i)
        player.advance(0.05, sink);
    EXPECT_EQ(log.size(), 3u);

    platform::SequencePlayer stopped(seq, 0);
    int stops2 = 0;
    std::vector<Started> log2;
    stopped.setWaveTarget(std::make_unique<RecordingTarget>(log2, stops2));
    stopped.advance(0.1, sink);
    stopped.stop(sink);
    EXPECT_EQ(stops2, 1);
}

} // namespace
} // namespace qorn::testtracks
