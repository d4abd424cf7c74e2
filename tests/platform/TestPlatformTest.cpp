// The test double itself: scripts, recording and clean-up.
#include "tests/support/EngineTestPlatform.h"

#include "engine/TDMusicEngine.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"

#include <gtest/gtest.h>

namespace qorn::testdouble {
namespace {

using namespace qorn::platform;

TEST(TestPlatformTest, QueuedResultsComeBeforeTheFixedOneAndThenTheNaturalOne) {
    EngineTestPlatform platform;
    ASSERT_TRUE(DMEngine.Initialize());
    ASSERT_TRUE(DMEngine.LoadSegment("/a.mid"));
    ASSERT_EQ(DMEngine.Play(DMEngine.ActivePort, true), 0);
    platform.SetPlaying(false);
    platform.QueueResults("Performance.IsPlaying", {S_OK});
    EXPECT_TRUE(DMEngine.IsPlaying());
    EXPECT_FALSE(DMEngine.IsPlaying());
    platform.FollowPlayback();
    EXPECT_TRUE(DMEngine.IsPlaying());
    platform.EndPiece();
    EXPECT_FALSE(DMEngine.IsPlaying());
    DMEngine.Shutdown();
}

TEST(TestPlatformTest, PlayingAfterAnswersNotYetFirst) {
    EngineTestPlatform platform;
    ASSERT_TRUE(DMEngine.Initialize());
    ASSERT_TRUE(DMEngine.LoadSegment("/a.mid"));
    ASSERT_EQ(DMEngine.Play(DMEngine.ActivePort, true), 0);
    platform.PlayingAfter(2);
    EXPECT_FALSE(DMEngine.IsPlaying());
    EXPECT_FALSE(DMEngine.IsPlaying());
    EXPECT_TRUE(DMEngine.IsPlaying());
    DMEngine.Stop();
    EXPECT_FALSE(DMEngine.IsPlaying());
    DMEngine.Shutdown();
}

TEST(TestPlatformTest, SleepsAreRecordedAndCanDriveTheClock) {
    EngineTestPlatform platform;
    platform.AdvanceClockOnSleep();
    platform.SetTime(10'000'000);
    ASSERT_TRUE(DMEngine.Initialize());
    Sleep(250);
    EXPECT_EQ(platform.Sleeps(), std::vector<DWORD>{250});
    EXPECT_EQ(DMEngine.GetPlayTime(), 12); // 1.0 s + 0.25 s
    DMEngine.Shutdown();
}

TEST(TestPlatformTest, EverythingIsUndoneWhenItGoes) {
    {
        EngineTestPlatform platform;
        ASSERT_TRUE(DMEngine.Initialize());
        DMEngine.Shutdown();
        EXPECT_EQ(platform.LiveObjects(), 0);
    }
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusic, nullptr, 3, IID_IDirectMusic2, &object), REGDB_E_CLASSNOTREG);
    // The next platform starts with a zeroed engine and numbers from 1 again.
    DMEngine.PortCount = 7;
    EngineTestPlatform next;
    EXPECT_EQ(DMEngine.PortCount, 0);
    ASSERT_TRUE(DMEngine.Initialize());
    EXPECT_EQ(next.Calls().front(), "CoInitialize(null)");
    EXPECT_EQ(next.Count("Performance.AddPort(port#1)"), 1);
    DMEngine.Shutdown();
}

TEST(TestPlatformDeathTest, AnUnknownCallNameStopsTheRun) {
    EngineTestPlatform platform;
    EXPECT_DEATH(platform.SetResult("Performance.Plays", E_FAIL), "no call named");
}

} // namespace
} // namespace qorn::testdouble
