// Start-up of the engine and what Shutdown releases afterwards.
#include "EngineFixture.h"

#include <functional>

namespace qorn::testdouble {
namespace {

TEST_F(EngineTest, StartUpMakesItsCallsInOrder) {
    StartUp();
    const Calls expected = {
        "CoInitialize(null)",
        "CoCreateInstance(DirectMusic)",
        "DirectMusic.Activate(TRUE)",
        "DirectMusic.SetDirectSound(null, null)",
        "CoCreateInstance(Performance)",
        "Performance.Init(null, null, null)",
        "DirectMusic.CreatePort(GUID_NULL)",
        "Port.Activate(TRUE)",
        "Performance.AddPort(port#1)",
        "DirectMusic.GetDefaultPort()",
        "DirectMusic.EnumPort(0)",
        "DirectMusic.EnumPort(1)",
        "DirectMusic.EnumPort(2)",
        "CoCreateInstance(Loader)",
        "Performance.SetGlobalParam(GUID_PerfAutoDownload, 1, 4)",
        "Performance.AssignPChannelBlock(0, port#1, 1)",
    };
    EXPECT_EQ(platform.Calls(), expected);
    EXPECT_TRUE(DMEngine.DirectMusicValid && DMEngine.PerformanceValid && DMEngine.PortValid && DMEngine.LoaderValid);
    EXPECT_FALSE(DMEngine.SegmentValid || DMEngine.SegmentStateValid || DMEngine.PlayRequested);
    EXPECT_TRUE(DMEngine.ActiveEffects);
    EXPECT_STREQ(DMEngine.LastError, "");
}

TEST_F(EngineTest, StartUpPortAsksForTheDefaultPortWithEffects) {
    StartUp();
    ASSERT_EQ(platform.CreatePortCalls().size(), 1u);
    const auto& call = platform.CreatePortCalls()[0];
    EXPECT_EQ(call.port, GUID_NULL);
    EXPECT_EQ(call.params.dwSize, 32u);
    EXPECT_EQ(call.params.dwValidParams, 39u);
    EXPECT_EQ(call.params.dwVoices, 128u);
    EXPECT_EQ(call.params.dwChannelGroups, 1u);
    EXPECT_EQ(call.params.dwAudioChannels, 16u);
    EXPECT_EQ(call.params.dwSampleRate, 0u);
    EXPECT_EQ(call.params.dwEffectFlags, 3u);
    EXPECT_EQ(call.params.fShare, 0);
}

// Results that are only required to be non-negative, or not examined at all.
TEST_F(EngineTest, StartUpToleratesResultsItDoesNotRequireToBeExact) {
    platform.SetResult("CoInitialize", S_FALSE);
    platform.SetResult("DirectMusic.CreatePort", S_FALSE);
    platform.SetResult("Port.Activate", E_FAIL);
    platform.SetResult("Performance.AddPort", S_FALSE);
    platform.SetResult("DirectMusic.GetDefaultPort", S_FALSE);
    platform.SetResult("DirectMusic.EnumPort", E_FAIL);
    StartUp();
    EXPECT_EQ(DMEngine.PortCount, 4);
}

struct StartupFailure {
    const char* name;
    std::function<void(TestPlatform&)> script;
    const char* message;
    bool directMusic, performance, port, loader;
    Calls shutdown;
};

const Calls ReleasePortAndBelow = {"Performance.RemovePort(port#1)", "Release(port#1)",
                                   "Performance.CloseDown()",        "Release(performance#1)",
                                   "Release(directmusic#1)",         "CoUninitialize()"};
const Calls ReleasePerformanceAndBelow = {"Performance.CloseDown()", "Release(performance#1)", "Release(directmusic#1)",
                                          "CoUninitialize()"};
const Calls ReleaseDirectMusic = {"Release(directmusic#1)", "CoUninitialize()"};
const Calls ReleaseNothing = {"CoUninitialize()"};
Calls ReleaseAll() {
    Calls calls = {"Loader.EnableCache(GUID_DirectMusicAllTypes, FALSE)", "Loader.ClearCache(GUID_DirectMusicAllTypes)",
                   "Release(loader#1)"};
    calls.insert(calls.end(), ReleasePortAndBelow.begin(), ReleasePortAndBelow.end());
    return calls;
}

auto Fail(const char* call, HRESULT result) {
    return [=](TestPlatform& p) { p.SetResult(call, result); };
}
auto NoObject(const char* call) {
    return [=](TestPlatform& p) { p.SetNullOutput(call); };
}

class StartupFailureTest : public EngineTest, public ::testing::WithParamInterface<StartupFailure> {};

TEST_P(StartupFailureTest, StopsWithItsMessageKeepsWhatItGotAndShutdownReleasesExactlyThat) {
    const StartupFailure& c = GetParam();
    c.script(platform);

    EXPECT_FALSE(DMEngine.Initialize());
    EXPECT_STREQ(DMEngine.LastError, c.message);
    EXPECT_EQ(DMEngine.DirectMusicValid, c.directMusic);
    EXPECT_EQ(DMEngine.PerformanceValid, c.performance);
    EXPECT_EQ(DMEngine.PortValid, c.port);
    EXPECT_EQ(DMEngine.LoaderValid, c.loader);
    EXPECT_EQ(DMEngine.DirectMusic != nullptr, c.directMusic);
    EXPECT_EQ(DMEngine.Performance != nullptr, c.performance);
    EXPECT_EQ(DMEngine.Port != nullptr, c.port);
    EXPECT_EQ(DMEngine.Loader != nullptr, c.loader);

    if (!c.loader) {
        // Without a loader the window may still try these; none may touch a missing object.
        EXPECT_FALSE(DMEngine.LoadSegment("/music/song.mid"));
        EXPECT_EQ(DMEngine.Play(DMEngine.ActivePort, true), -1);
        EXPECT_FALSE(DMEngine.IsPlaying());
        DMEngine.SetLoop(0);
        DMEngine.SetVolume(88);
        DMEngine.SetTempo(2);
        DMEngine.Stop();
        EXPECT_EQ(DMEngine.GetPlayTime(), 0);
    }

    const std::size_t mark = platform.Mark();
    DMEngine.Shutdown();
    EXPECT_EQ(platform.CallsSince(mark), c.shutdown);
    EXPECT_EQ(platform.LiveObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, StartupFailureTest,
    ::testing::Values(
        StartupFailure{"CoInitialize", Fail("CoInitialize", E_FAIL), "", false, false, false, false, ReleaseNothing},
        StartupFailure{"CallDirectMusic", Fail("CoCreateInstance(DirectMusic)", REGDB_E_CLASSNOTREG),
                       "Can't Call DirectMusic", false, false, false, false, ReleaseNothing},
        StartupFailure{"CreateDirectMusic", NoObject("CoCreateInstance(DirectMusic)"), "Can't Create DirectMusic",
                       false, false, false, false, ReleaseNothing},
        StartupFailure{"ActivateDirectMusic", Fail("DirectMusic.Activate", S_FALSE), "Can't Active DirectMusic", true,
                       false, false, false, ReleaseDirectMusic},
        StartupFailure{"SetDirectSound", Fail("DirectMusic.SetDirectSound", E_FAIL), "Can't Set DirectSound", true,
                       false, false, false, ReleaseDirectMusic},
        StartupFailure{"CallPerformance", Fail("CoCreateInstance(Performance)", E_OUTOFMEMORY),
                       "Can't Call Performance", true, false, false, false, ReleaseDirectMusic},
        StartupFailure{"CreatePerformance", NoObject("CoCreateInstance(Performance)"), "Can't Create Performance", true,
                       false, false, false, ReleaseDirectMusic},
        StartupFailure{"InitPerformance", Fail("Performance.Init", S_FALSE), "Can't Initialize Performance", true, true,
                       false, false, ReleasePerformanceAndBelow},
        StartupFailure{"CallCreatePort", Fail("DirectMusic.CreatePort", E_FAIL), "Can't Call CreatePort", true, true,
                       false, false, ReleasePerformanceAndBelow},
        StartupFailure{"CreatePort", NoObject("DirectMusic.CreatePort"), "Can't Create Port", true, true, false, false,
                       ReleasePerformanceAndBelow},
        StartupFailure{"AddDefaultPort", Fail("Performance.AddPort", E_FAIL), "Can't Set Default Port", true, true,
                       true, false, ReleasePortAndBelow},
        StartupFailure{"GetDefaultPort", Fail("DirectMusic.GetDefaultPort", E_FAIL), "Not Found Default Port", true,
                       true, true, false, ReleasePortAndBelow},
        StartupFailure{"CallLoader", Fail("CoCreateInstance(Loader)", E_FAIL), "Can't Call Loader", true, true, true,
                       false, ReleasePortAndBelow},
        StartupFailure{"CreateLoader", NoObject("CoCreateInstance(Loader)"), "Can't Create Loader", true, true, true,
                       false, ReleasePortAndBelow},
        StartupFailure{"AutoDownload", Fail("Performance.SetGlobalParam", S_FALSE), "Can't Assign Instrument", true,
                       true, true, true, ReleaseAll()},
        StartupFailure{"AssignChannelBlock", Fail("Performance.AssignPChannelBlock", E_FAIL), "Can't Assign Instrument",
                       true, true, true, true, ReleaseAll()}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EngineTest, ReportErrorNeverOverrunsItsBuffer) {
    const std::string longText(2 * TDMusicEngine::ErrorBytes, 'x');
    DMEngine.ReportError(longText.c_str());
    EXPECT_EQ(std::string(DMEngine.LastError), std::string(TDMusicEngine::ErrorBytes - 1, 'x'));
}

TEST_F(EngineTest, ShutdownAfterStartUpReleasesEverythingInOrder) {
    StartUp();
    const std::size_t mark = platform.Mark();
    DMEngine.Shutdown();
    EXPECT_EQ(platform.CallsSince(mark), ReleaseAll());
    EXPECT_EQ(platform.LiveObjects(), 0);
    EXPECT_EQ(DMEngine.DirectMusic, nullptr);
    EXPECT_EQ(DMEngine.Performance, nullptr);
    EXPECT_EQ(DMEngine.Port, nullptr);
    EXPECT_EQ(DMEngine.Loader, nullptr);
}

TEST_F(EngineTest, ShutdownOfAStartedSegmentStopsWaitsAndUnloads) {
    StartPlaying();
    platform.QueueResults("Performance.IsPlaying", {S_OK, S_OK, S_FALSE});
    const std::size_t mark = platform.Mark();
    DMEngine.Shutdown();
    const Calls expected = {
        "Performance.Stop(null, null, 0, 0)",
        "Performance.IsPlaying(segment#1, state#1)",
        "Sleep(50)",
        "Performance.IsPlaying(segment#1, state#1)",
        "Sleep(50)",
        "Performance.IsPlaying(segment#1, state#1)",
        "Loader.EnableCache(GUID_DirectMusicAllTypes, FALSE)",
        "Loader.ClearCache(GUID_DirectMusicAllTypes)",
        "Release(loader#1)",
        "Release(state#1)",
        "Segment.SetParam(GUID_Unload, 0xFFFFFFFF, 0, 0, performance#1)",
        "Release(segment#1)",
        "Performance.RemovePort(port#1)",
        "Release(port#1)",
        "Performance.CloseDown()",
        "Release(performance#1)",
        "Release(directmusic#1)",
        "CoUninitialize()",
    };
    EXPECT_EQ(platform.CallsSince(mark), expected);
    EXPECT_EQ(platform.LiveObjects(), 0);
    EXPECT_EQ(DMEngine.Segment, nullptr);
    EXPECT_EQ(DMEngine.SegmentState, nullptr);
}

TEST_F(EngineTest, ShutdownAfterTheWindowStoppedDoesNotStopAgain) {
    StartPlaying();
    DMEngine.Stop();
    const std::size_t mark = platform.Mark();
    DMEngine.Shutdown();
    const Calls calls = platform.CallsSince(mark);
    EXPECT_EQ(calls.front(), "Loader.EnableCache(GUID_DirectMusicAllTypes, FALSE)");
    EXPECT_EQ(platform.Count("Performance.Stop"), 2); // only the window's stop
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(EngineTest, ShutdownGivesUpWaitingOnAPlatformThatNeverStops) {
    StartPlaying();
    platform.SetPlaying(true);
    DMEngine.Shutdown();
    EXPECT_EQ(platform.Sleeps().size(), 100u);
    EXPECT_EQ(platform.LiveObjects(), 0);
}

} // namespace
} // namespace qorn::testdouble
