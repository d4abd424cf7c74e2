#include "platform/audio/SilentAudioOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qorn::platform {
namespace {

using Clock = std::chrono::steady_clock;

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct Counter {
    std::atomic<long long> frames{0};
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> buffersWereClear{true};
    std::atomic<int> stallMs{0};
    // When the stalled call returned, and the frames asked for in the 100 ms after.
    std::atomic<long long> stallEndNs{0};
    std::atomic<long long> framesRightAfterStall{0};
    // What the render reports: nothing to do, the output may rest.
    std::atomic<bool> nothingToDo{false};
};

bool CountingRender(void* context, float* left, float* right, int frames) {
    auto* c = static_cast<Counter*>(context);
    c->inside = true;
    for (int i = 0; i < frames; ++i) {
        if (left[i] != 0.0f || right[i] != 0.0f) c->buffersWereClear = false;
        left[i] = right[i] = 0.5f; // dirty them: the next period must be cleared again
    }
    const long long stallEnd = c->stallEndNs;
    if (stallEnd != 0 && NowNs() - stallEnd < 100'000'000) c->framesRightAfterStall += frames;
    const int stall = c->stallMs.exchange(0);
    if (stall > 0) std::this_thread::sleep_for(std::chrono::milliseconds(stall));
    c->frames += frames;
    c->calls += 1;
    if (stall > 0) c->stallEndNs = NowNs();
    c->inside = false;
    return !c->nothingToDo;
}

// Waits (up to a minute: the machine may be loaded) until `done` holds.
template <typename Done> bool WaitFor(Done done) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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
        // A period ahead is the sink's design. A loaded machine may starve
        // its thread, so the lower bound only catches a sink far too slow.
        const double expected = elapsed * rate;
        EXPECT_GT(frames, expected * 0.5) << "elapsed " << elapsed;
        EXPECT_LT(frames, expected * 1.05 + 2 * kSilentPeriodFrames) << "elapsed " << elapsed;
        EXPECT_TRUE(counter.buffersWereClear);
    }
}

TEST(SilentAudioOutputTest, StopIsPromptAndFinal) {
    Counter counter;
    auto output = MakeSilentAudioOutput(11025, CountingRender, &counter);
    ASSERT_TRUE(WaitFor([&] { return counter.calls > 0; }));
    const auto before = Clock::now();
    output->stop();
    const auto stopTook = Clock::now() - before;
    EXPECT_FALSE(counter.inside);
    const int callsAtStop = counter.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(counter.calls, callsAtStop);
    // One 512-frame period at 11025 Hz is 46 ms; allow for a busy machine.
    EXPECT_LT(stopTook, std::chrono::milliseconds(2000));
    output->stop(); // twice is harmless
}

TEST(SilentAudioOutputTest, DestructionJoinsTheThread) {
    Counter counter;
    {
        auto output = MakeSilentAudioOutput(44100, CountingRender, &counter);
        ASSERT_TRUE(WaitFor([&] { return counter.calls > 0; }));
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
    ASSERT_TRUE(WaitFor([&] { return counter.calls > 0; }));
    counter.stallMs = 400;
    ASSERT_TRUE(WaitFor([&] { return counter.stallEndNs != 0; }));
    ASSERT_TRUE(WaitFor([&] { return NowNs() - counter.stallEndNs > 200'000'000; }));
    output->stop();
    // Catching up all 400 ms at once would ask for ~17600 frames in a rush;
    // paced, the 100 ms after the stall take ~4400 and a period ahead.
    EXPECT_LT(counter.framesRightAfterStall, rate * 0.2) << "frames right after the stall";
}

TEST(SilentAudioOutputTest, RestsWithNothingToDoUntilWoken) {
    Counter counter;
    counter.nothingToDo = true;
    auto output = MakeSilentAudioOutput(44100, CountingRender, &counter);
    ASSERT_TRUE(WaitFor([&] { return counter.calls > 0; }));
    // Resting: no more calls, however long nothing happens (86 periods a
    // second would come otherwise).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int resting = counter.calls;
    EXPECT_EQ(resting, 1);
    counter.nothingToDo = false;
    output->wake();
    EXPECT_TRUE(WaitFor([&] { return counter.calls > resting + 10; }));
    output->stop();
}

} // namespace
} // namespace qorn::platform
