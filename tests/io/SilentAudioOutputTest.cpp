#include "platform/audio/SilentAudioOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qorn::platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Counter {
    std::atomic<long long> frames{0};
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> buffersWereClear{true};
    std::atomic<int> stallMs{0};
};

void CountingRender(void* context, float* left, float* right, int frames) {
    auto* c = static_cast<Counter*>(context);
    c->inside = true;
    for (int i = 0; i < frames; ++i) {
        if (left[i] != 0.0f || right[i] != 0.0f) c->buffersWereClear = false;
        left[i] = right[i] = 0.5f; // dirty them: the next period must be cleared again
    }
    if (const int ms = c->stallMs.exchange(0); ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    c->frames += frames;
    c->calls += 1;
    c->inside = false;
}

TEST(SilentAudioOutputTest, ConsumesAudioAtRealTimePace) {
    for (int rate : {22050, 44100}) {
        SCOPED_TRACE(rate);
        Counter counter;
        const auto start = Clock::now();
        auto output = MakeSilentAudioOutput(rate, CountingRender, &counter);
        EXPECT_EQ(output->name(), "silent");
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const double frames = static_cast<double>(counter.frames.load());
        output->stop();
        // A loaded machine may oversleep; a period ahead is the sink's design.
        const double expected = elapsed * rate;
        EXPECT_GT(frames, expected * 0.85) << "elapsed " << elapsed;
        EXPECT_LT(frames, expected * 1.05 + 2 * kSilentPeriodFrames) << "elapsed " << elapsed;
        EXPECT_TRUE(counter.buffersWereClear);
    }
}

TEST(SilentAudioOutputTest, StopIsPromptAndFinal) {
    Counter counter;
    auto output = MakeSilentAudioOutput(11025, CountingRender, &counter);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto before = Clock::now();
    output->stop();
    const auto stopTook = Clock::now() - before;
    EXPECT_FALSE(counter.inside);
    const int callsAtStop = counter.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(counter.calls, callsAtStop);
    // One 512-frame period at 11025 Hz is 46 ms; allow for a busy machine.
    EXPECT_LT(stopTook, std::chrono::milliseconds(500));
    output->stop(); // twice is harmless
}

TEST(SilentAudioOutputTest, DestructionJoinsTheThread) {
    Counter counter;
    {
        auto output = MakeSilentAudioOutput(44100, CountingRender, &counter);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    const int calls = counter.calls;
    EXPECT_GT(calls, 0);
    EXPECT_FALSE(counter.inside);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(counter.calls, calls);
}

TEST(SilentAudioOutputTest, LongStallIsNotRenderedInOneBurst) {
    Counter counter;
    const int rate = 44100;
    auto output = MakeSilentAudioOutput(rate, CountingRender, &counter);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    counter.stallMs = 400;
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // the stall starts
    const long long atStall = counter.frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(420)); // it is over
    const long long afterStall = counter.frames;
    output->stop();
    // Catching up all 400 ms at once would deliver ~17600 frames in a rush.
    EXPECT_LT(afterStall - atStall, rate * 0.2) << "frames right after the stall";
}

} // namespace
} // namespace qorn::platform
