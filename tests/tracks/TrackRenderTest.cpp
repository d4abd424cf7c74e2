// Wave, mute and trigger tracks heard through the real stack (loader,
// performance, synthesizer) rendered offline: a wave lines up with its time
// to the frame, with its volume, its loop and the master volume, every time
// it is placed, one variation of its part at a time; a muted
// channel is silent; a triggered segment's notes come in at their times.
#include "app/render/OfflineSession.h"
#include "tests/support/OfflineRenderTest.h"
#include "tests/support/SegmentWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <set>
#include <unistd.h>

namespace qorn::testtracks {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = test::kRenderRate;
using test::KeyFrequency;
using test::Power;
using test::Rms;
constexpr double kSecondsPerTick = 0.5 / 768.0; // 120 beats per minute

std::size_t FrameOf(double tick) {
    return static_cast<std::size_t>(std::llround(tick * kSecondsPerTick * kRate));
}

std::vector<float> Noise(std::size_t frames, float level, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> d(-level, level);
    std::vector<float> v(frames);
    for (float& s : v)
        s = d(random);
    return v;
}

// Correlation of the mixed output with `wave` at each lag in [from, to):
// the best lag and its value divided by the wave's own energy (1.0 for the
// wave at full level).
std::pair<std::size_t, double> BestMatch(const render::RenderedAudio& a, const std::vector<float>& wave,
                                         std::size_t from, std::size_t to) {
    double energy = 0;
    for (float s : wave)
        energy += double(s) * s;
    std::size_t best = from;
    double bestValue = -1e30;
    for (std::size_t lag = from; lag < to && lag + wave.size() <= a.left.size(); ++lag) {
        double sum = 0;
        for (std::size_t i = 0; i < wave.size(); ++i)
            sum += 0.5 * (a.left[lag + i] + a.right[lag + i]) * wave[i];
        if (sum > bestValue) {
            bestValue = sum;
            best = lag;
        }
    }
    return {best, bestValue / energy};
}

class TrackRender : public test::OfflineRenderTest {
  protected:
    render::RenderedAudio play(const std::string& path, int volumePosition = -1,
                               std::optional<std::uint32_t> seed = std::nullopt) {
        return OfflineRenderTest::play(
            path, {.volumePosition = volumePosition, .tailSeconds = 0.5, .limitSeconds = 30.0, .seed = seed});
    }
};

TEST_F(TrackRender, WaveIsHeardAtItsTimeWithItsVolume) {
    const auto burst = Noise(2205, 0.5f, 1);
    write("burst.wav", WaveFile(burst, kRate, 1));
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.tempos = {{0, 120.0}};
    plan.notes = {{0, 4 * 768, 0, 48, 90}}; // the synthesizer plays along
    // Off the block grid on purpose; the second at half the level.
    const std::int64_t t1 = 768 + 101, t2 = 2 * 768 + 333;
    const Bytes waves = WaveTrack({{0,
                                    0,
                                    {{t1, 0, 0, 0, 0, 0, 0, FileRef("burst.wav", kWaveClass)},
                                     {t2, 0, -602, 0, 0, 0, 0, FileRef("burst.wav", kWaveClass)}}}});
    const auto audio = play(write("timed.sgt", WithTracks(BuildSegment(plan), waves)));
    for (const auto& [tick, level] : {std::pair{t1, 1.0}, std::pair{t2, 0.5}}) {
        SCOPED_TRACE("wave at tick " + std::to_string(tick));
        const std::size_t expected = FrameOf(double(tick));
        const auto [lag, value] = BestMatch(audio, burst, expected - 2000, expected + 2000);
        EXPECT_NEAR(double(lag), double(expected), 2.0);
        RecordProperty("lag_error_frames_" + std::to_string(tick), std::to_string(double(lag) - double(expected)));
        EXPECT_NEAR(value, level, 0.05 * level);
    }
}

TEST_F(TrackRender, WavePlacedAgainAndAgainSoundsEveryTime) {
    // Items of the first authoring tools: 64 bytes, no volume and pitch ranges.
    const auto burst = Noise(2205, 0.4f, 5);
    write("again.wav", WaveFile(burst, kRate, 1));
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    WavePart part;
    for (std::int64_t i = 0; i < 3; ++i)
        part.items.push_back({i * 768 + 50, 384, 0, 0, 0, 0, 0, FileRef("again.wav", kWaveClass)});
    const auto audio =
        play(write("again.sgt", WithTracks(BuildSegment(plan), WaveTrack({part}, 0, {.itemRanges = false}))));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("placing " + std::to_string(i));
        const std::size_t expected = FrameOf(i * 768 + 50);
        const auto [lag, value] = BestMatch(audio, burst, expected - 200, expected + 200);
        EXPECT_NEAR(double(lag), double(expected), 2.0);
        EXPECT_NEAR(value, 1.0, 0.05);
    }
}

TEST_F(TrackRender, WavePartPlaysOneVariationAndTheSeedChoosesIt) {
    // A part of two variations picked at random, and a part locked to it
    // that answers each with a wave of its own a beat later.
    std::vector<std::vector<float>> bursts;
    for (unsigned i = 0; i < 4; ++i) {
        bursts.push_back(Noise(2205, 0.4f, 20 + i));
        write("v" + std::to_string(i) + ".wav", WaveFile(bursts.back(), kRate, 1));
    }
    auto item = [](int wave, std::uint32_t variations, std::int64_t time) {
        WaveItem w{time, 0, 0, 0, 0, 0, 0, FileRef("v" + std::to_string(wave) + ".wav", kWaveClass)};
        w.variations = variations;
        return w;
    };
    const WavePart lead{0, 0, {item(0, 1, 0), item(1, 2, 0)}, 3, 7, 1};
    const WavePart follower{0, 0, {item(2, 1, 768), item(3, 2, 768)}, 3, 7, 1};
    SegmentSpec plan;
    plan.header.length = 2 * 768;
    const std::string path = write("vary.sgt", WithTracks(BuildSegment(plan), WaveTrack({lead, follower})));
    std::set<bool> firstChosen;
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const auto audio = play(path, -1, seed);
        const std::size_t beat = FrameOf(768);
        const double a = BestMatch(audio, bursts[0], 0, 20).second, b = BestMatch(audio, bursts[1], 0, 20).second;
        const double c = BestMatch(audio, bursts[2], beat - 20, beat + 20).second;
        const double d = BestMatch(audio, bursts[3], beat - 20, beat + 20).second;
        EXPECT_NEAR(std::max(a, b), 1.0, 0.05); // one of them, whole
        EXPECT_LT(std::min(a, b), 0.1);         // and not the other
        EXPECT_NEAR(std::max(c, d), 1.0, 0.05);
        EXPECT_EQ(a > b, c > d); // the locked part follows
        firstChosen.insert(a > b);
    }
    EXPECT_EQ(firstChosen.size(), 2u);
}

TEST_F(TrackRender, WaveFollowsMasterVolume) {
    const auto burst = Noise(2205, 0.5f, 2);
    write("burst.wav", WaveFile(burst, kRate, 1));
    SegmentSpec plan;
    plan.header.length = 2 * 768;
    const Bytes waves = WaveTrack({{0, 0, {{384, 0, 0, 0, 0, 0, 0, FileRef("burst.wav", kWaveClass)}}}});
    const std::string path = write("master.sgt", WithTracks(BuildSegment(plan), waves));
    const std::size_t at = FrameOf(384);
    // Loud, but below where the output limiter would hold the burst down.
    const double full = BestMatch(play(path, 100), burst, at - 100, at + 100).second;
    const double lower = BestMatch(play(path, 60), burst, at - 100, at + 100).second;
    const double expected = std::pow(10.0, (render::VolumeForPosition(60) - render::VolumeForPosition(100)) / 2000.0);
    EXPECT_GT(full, 0.5);
    EXPECT_NEAR(lower / full, expected, 0.05 * expected);
}

TEST_F(TrackRender, LoopedWaveSoundsUntilItsDuration) {
    // A tenth of a second of tone, looped whole, for one beat (half a second).
    std::vector<float> tone(2205);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.4f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 441.0 * double(i) / kRate));
    write("tone.wav", WaveFile(tone, kRate, 1, 16, Loop{0, 2205}));
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    WaveItem looped{0, 768, 0, 0, 0, 0, 0, FileRef("tone.wav", kWaveClass)};
    WaveItem once = looped;
    once.time = 2 * 768;
    once.flags = kIgnoreLoops;
    const auto audio = play(write("loop.sgt", WithTracks(BuildSegment(plan), WaveTrack({{0, 0, {looped, once}}}))));
    const double level = 0.4 / std::sqrt(2.0);
    EXPECT_NEAR(Rms(audio, FrameOf(500), FrameOf(700)), level, 0.1 * level); // past the wave's own end
    EXPECT_LT(Rms(audio, FrameOf(800), FrameOf(1500)), 0.01 * level);        // stopped at its duration
    EXPECT_NEAR(Rms(audio, FrameOf(2 * 768 + 20), FrameOf(2 * 768 + 100)), level, 0.1 * level);
    EXPECT_LT(Rms(audio, FrameOf(2 * 768 + 300), FrameOf(3 * 768)), 0.01 * level); // played once
}

TEST_F(TrackRender, MutedChannelIsSilent) {
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.bands = {{0, {{0, 0, 0x1 | 0x40, 64, 110}, {1, 0, 0x1 | 0x40, 64, 110}}}};
    plan.notes = {{0, 3 * 768, 0, 60, 100}, {0, 3 * 768, 1, 66, 100}};
    const Bytes seg = BuildSegment(plan);
    const auto open = play(write("open.sgt", seg));
    const auto muted = play(write("muted.sgt", WithTracks(seg, MuteTrack({{0, 1}}))));
    const std::size_t from = FrameOf(200), to = FrameOf(2000);
    const double high = KeyFrequency(66), low = KeyFrequency(60);
    EXPECT_GT(Power(open, from, to, high), 100.0 * Power(muted, from, to, high));
    EXPECT_NEAR(Power(muted, from, to, low), Power(open, from, to, low), 0.2 * Power(open, from, to, low));
}

TEST_F(TrackRender, TriggeredSegmentNotesComeInAtTheirTimes) {
    SegmentSpec child;
    child.header.length = 2 * 768;
    child.bands = {{0, {{2, 73, 0x1 | 0x40, 64, 127}}}}; // a flute
    child.notes = {{0, 384, 2, 84, 110, 384}};           // half a beat in, by its grid offset
    write("child.sgt", BuildSegment(child));
    SegmentSpec primary;
    primary.header.length = 6 * 768;
    const auto audio =
        play(write("primary.sgt",
                   WithTracks(BuildSegment(primary), TriggerTrack({{2 * 768, FileRef("child.sgt", kSegmentClass)}}))));
    const std::size_t on = FrameOf(2 * 768 + 384);
    const double flute = KeyFrequency(84);
    EXPECT_LT(Rms(audio, 0, on - 200), 1e-4); // nothing before
    EXPECT_GT(Rms(audio, on + 300, on + 3000), 0.01);
    EXPECT_GT(Power(audio, on + 300, on + 3000, flute), 100.0 * Power(audio, on - 3000, on - 200, flute));
}

} // namespace
} // namespace qorn::testtracks
