// Play: when the output port is rebuilt, what the new port is asked for, and
// what each failure leaves behind.
#include "EngineFixture.h"

#include <functional>

namespace qorn::testdouble {
namespace {

const GUID ListedGuid = TestGuid(0x101);
const GUID SynthGuid = TestGuid(0x102);

TEST_F(EngineTest, FirstPlayOnTheStartUpEntryStartsWithoutRebuilding) {
    StartUpAndLoad();
    const std::size_t mark = platform.Mark();
    EXPECT_EQ(DMEngine.Play(Synth22k, true), 0);
    EXPECT_EQ(platform.CallsSince(mark), Calls{"Performance.PlaySegment(segment#1, 0, 0)"});
    EXPECT_TRUE(DMEngine.PlayRequested);
    EXPECT_TRUE(DMEngine.SegmentStateValid);
    EXPECT_NE(DMEngine.SegmentState, nullptr);
    EXPECT_TRUE(DMEngine.IsPlaying());
}

struct RebuildCase {
    const char* name;
    int port;
    bool effects;
    GUID guid;
    DWORD validParams, sampleRate, effectFlags, sleep;
};

class RebuildTest : public EngineTest, public ::testing::WithParamInterface<RebuildCase> {};

TEST_P(RebuildTest, BuildsThePortTheEntryStandsFor) {
    const RebuildCase& c = GetParam();
    StartUpAndLoad();
    const std::size_t mark = platform.Mark();
    ASSERT_EQ(DMEngine.Play(c.port, c.effects), 0) << DMEngine.LastError;

    const std::string guid = GuidText(c.guid);
    const Calls expected = {
        "Performance.RemovePort(port#1)",
        "Release(port#1)",
        "DirectMusic.CreatePort(" + guid + ")",
        "Port.Activate(TRUE)",
        "Performance.AddPort(port#2)",
        "Performance.SetGlobalParam(GUID_PerfAutoDownload, 1, 4)",
        "Performance.AssignPChannelBlock(0, port#2, 1)",
        "Sleep(" + std::to_string(c.sleep) + ")",
        "Performance.PlaySegment(segment#1, 0, 0)",
    };
    EXPECT_EQ(platform.CallsSince(mark), expected);

    const auto& params = platform.CreatePortCalls().back().params;
    EXPECT_EQ(params.dwSize, 32u);
    EXPECT_EQ(params.dwValidParams, c.validParams);
    EXPECT_EQ(params.dwVoices, 128u);
    EXPECT_EQ(params.dwChannelGroups, 1u);
    EXPECT_EQ(params.dwAudioChannels, 16u);
    EXPECT_EQ(params.dwSampleRate, c.sampleRate);
    EXPECT_EQ(params.dwEffectFlags, c.effectFlags);
    EXPECT_EQ(params.fShare, 0);
    EXPECT_EQ(DMEngine.ActivePort, c.port);
    EXPECT_EQ(DMEngine.ActiveEffects, c.effects);
    EXPECT_EQ(platform.LiveObjects("port"), 1);
}

INSTANTIATE_TEST_SUITE_P(Entries, RebuildTest,
                         ::testing::Values(RebuildCase{"Synth11kEffects", 1, true, SynthGuid, 47, 11025, 3, 450},
                                           RebuildCase{"Synth11kPlain", 1, false, SynthGuid, 47, 11025, 0, 450},
                                           RebuildCase{"Synth22kPlain", 2, false, SynthGuid, 47, 22050, 0, 450},
                                           RebuildCase{"Synth44kEffects", 3, true, SynthGuid, 47, 44100, 3, 450},
                                           RebuildCase{"ListedEffects", 0, true, ListedGuid, 7, 0, 0, 250},
                                           RebuildCase{"ListedPlain", 0, false, ListedGuid, 7, 0, 0, 250}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(EngineTest, EffectsMatterOnlyForSynthesizerEntries) {
    StartPlaying(ListedOut, true);
    DMEngine.Stop();
    std::size_t mark = platform.Mark();
    ASSERT_EQ(DMEngine.Play(ListedOut, false), 0);
    EXPECT_EQ(platform.CallsSince(mark), Calls{"Performance.PlaySegment(segment#1, 0, 0)"});
    EXPECT_TRUE(DMEngine.ActiveEffects); // still what the port was built with

    DMEngine.Stop();
    ASSERT_EQ(DMEngine.Play(Synth44k, false), 0);
    DMEngine.Stop();
    ASSERT_EQ(DMEngine.Play(Synth44k, true), 0);
    EXPECT_EQ(platform.Count("DirectMusic.CreatePort"), 4);
    EXPECT_EQ(platform.CreatePortCalls().back().params.dwEffectFlags, 3u);
}

TEST_F(EngineTest, CreatePortAdjustingParametersIsStillSuccess) {
    StartUpAndLoad();
    platform.SetResult("DirectMusic.CreatePort", S_FALSE);
    EXPECT_EQ(DMEngine.Play(Synth11k, true), 0);
    EXPECT_TRUE(DMEngine.PortValid);
}

TEST_F(EngineTest, PlayWithoutAFileIsNotReadyAndChangesNothing) {
    StartUp();
    const std::size_t mark = platform.Mark();
    EXPECT_EQ(DMEngine.Play(Synth11k, false), -1);
    EXPECT_EQ(LastError(), "Not Ready DirectMusic");
    EXPECT_TRUE(platform.CallsSince(mark).empty());
    EXPECT_EQ(DMEngine.ActivePort, Synth22k);
    EXPECT_FALSE(DMEngine.PlayRequested);
}

struct RebuildFailure {
    const char* name;
    std::function<void(TestPlatform&)> script;
    const char* message;
    bool portHeld;
    int livePorts;
};

class RebuildFailureTest : public EngineTest, public ::testing::WithParamInterface<RebuildFailure> {};

TEST_P(RebuildFailureTest, StopsWithItsMessageAndTheSameRequestThenSkipsTheRebuild) {
    const RebuildFailure& c = GetParam();
    StartUpAndLoad();
    c.script(platform);

    EXPECT_EQ(DMEngine.Play(Synth11k, false), -1);
    EXPECT_EQ(LastError(), c.message);
    EXPECT_EQ(DMEngine.PortValid, c.portHeld);
    EXPECT_EQ(DMEngine.Port != nullptr, c.portHeld);
    EXPECT_EQ(platform.LiveObjects("port"), c.livePorts);
    EXPECT_EQ(DMEngine.ActivePort, Synth11k); // the request was recorded first
    EXPECT_FALSE(DMEngine.ActiveEffects);
    EXPECT_EQ(platform.Count("Performance.PlaySegment"), 0);
    EXPECT_TRUE(platform.Sleeps().empty());
    EXPECT_FALSE(DMEngine.PlayRequested);

    // Nothing is retried: the same choice goes straight to the start.
    const std::size_t mark = platform.Mark();
    EXPECT_EQ(DMEngine.Play(Synth11k, false), 0);
    EXPECT_EQ(platform.CallsSince(mark), Calls{"Performance.PlaySegment(segment#1, 0, 0)"});

    DMEngine.Shutdown();
    EXPECT_EQ(platform.LiveObjects(), 0);
}

auto Fail(const char* call, HRESULT result) {
    return [=](TestPlatform& p) { p.SetResult(call, result); };
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, RebuildFailureTest,
    ::testing::Values(
        RebuildFailure{"RemovePort", Fail("Performance.RemovePort", S_FALSE), "Can't Remove Instrument", true, 1},
        RebuildFailure{"CreatePortFails", Fail("DirectMusic.CreatePort", E_FAIL), "Can't Create Instrument", false, 0},
        RebuildFailure{"CreatePortOtherSuccessCode", Fail("DirectMusic.CreatePort", 2), "Can't Create Instrument",
                       false, 0},
        RebuildFailure{"CreatePortGivesNothing", [](TestPlatform& p) { p.SetNullOutput("DirectMusic.CreatePort"); },
                       "Can't Create Port", false, 0},
        RebuildFailure{"ActivatePort", Fail("Port.Activate", S_FALSE), "Can't Active Port", true, 1},
        RebuildFailure{"AddPort", Fail("Performance.AddPort", E_FAIL), "Can't Set Instrument", true, 1},
        RebuildFailure{"AutoDownload", Fail("Performance.SetGlobalParam", S_FALSE), "Can't Assign Performance", true,
                       1},
        RebuildFailure{"AssignChannelBlock", Fail("Performance.AssignPChannelBlock", E_FAIL), "Can't Assign Instrument",
                       true, 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(EngineTest, AfterAFailedRebuildAnotherChoiceRebuildsAgain) {
    StartUpAndLoad();
    platform.QueueResults("DirectMusic.CreatePort", {E_FAIL});
    ASSERT_EQ(DMEngine.Play(Synth11k, false), -1);
    const std::size_t mark = platform.Mark();
    EXPECT_EQ(DMEngine.Play(ListedOut, false), 0);
    const Calls calls = platform.CallsSince(mark);
    // No port was held, so there is nothing to remove.
    EXPECT_EQ(calls.front(), "DirectMusic.CreatePort(" + GuidText(ListedGuid) + ")");
    EXPECT_TRUE(DMEngine.PortValid);
}

TEST_F(EngineTest, AnIndexOutsideTheTableIsRefusedWithoutReadingIt) {
    StartUpAndLoad();
    for (int index : {-1, 4, 1000}) {
        const std::size_t mark = platform.Mark();
        EXPECT_EQ(DMEngine.Play(index, true), -1) << index;
        EXPECT_EQ(LastError(), "Not Found Port");
        EXPECT_TRUE(platform.CallsSince(mark).empty());
        EXPECT_EQ(DMEngine.ActivePort, Synth22k);
        EXPECT_TRUE(DMEngine.PortValid);
    }
}

TEST_F(EngineTest, WithAnEmptyTableNoSelectionStartsOnTheStartUpPort) {
    platform.SetPorts({}, TestGuid(9));
    StartUpAndLoad();
    ASSERT_EQ(DMEngine.ActivePort, -1);
    const std::size_t mark = platform.Mark();
    EXPECT_EQ(DMEngine.Play(-1, true), 0);
    EXPECT_EQ(platform.CallsSince(mark), Calls{"Performance.PlaySegment(segment#1, 0, 0)"});
}

TEST_F(EngineTest, WithoutTheDefaultListedTheLastEntryStandsForTheStartUpPort) {
    platform.SetPorts({EnumeratedPort::Output("A", TestGuid(2)), EnumeratedPort::Output("B", TestGuid(3))},
                      TestGuid(9));
    StartUpAndLoad();
    EXPECT_EQ(DMEngine.Play(1, false), 0);
    EXPECT_EQ(platform.Count("DirectMusic.CreatePort"), 1);
    DMEngine.Stop();
    EXPECT_EQ(DMEngine.Play(0, true), 0);
    EXPECT_EQ(platform.CreatePortCalls().back().port, TestGuid(2));
    EXPECT_EQ(platform.CreatePortCalls().back().params.dwValidParams, 7u);
    EXPECT_EQ(platform.Sleeps(), std::vector<DWORD>{250});
}

TEST_F(EngineTest, APlaySegmentThatFailsOrGivesNoStateIsAFailure) {
    for (bool nullState : {false, true}) {
        ResetEngine();
        if (nullState) {
            platform.FailPlay(false);
            platform.SetNullOutput("Performance.PlaySegment");
        } else {
            platform.FailPlay();
        }
        StartUpAndLoad();
        EXPECT_EQ(DMEngine.Play(Synth22k, true), -1);
        EXPECT_EQ(LastError(), "Can't Play Segment");
        EXPECT_FALSE(DMEngine.SegmentStateValid);
        EXPECT_EQ(DMEngine.SegmentState, nullptr);
        EXPECT_FALSE(DMEngine.PlayRequested);
        EXPECT_FALSE(DMEngine.IsPlaying());
        DMEngine.Shutdown();
        EXPECT_EQ(platform.LiveObjects(), 0);
    }
}

TEST_F(EngineTest, PlayAgainWithoutStopDoesNotLoseTheEarlierState) {
    StartPlaying();
    ASSERT_EQ(DMEngine.Play(Synth22k, true), 0);
    EXPECT_EQ(platform.LiveObjects("state"), 1);
    DMEngine.Shutdown();
    EXPECT_EQ(platform.LiveObjects(), 0);
}

TEST_F(EngineTest, VolumeFollowsThePortInUseAtTheTimeOfTheCall) {
    StartPlaying(ListedOut, true);
    const std::size_t before = platform.GlobalParams().size();
    DMEngine.SetVolume(88);
    EXPECT_EQ(platform.GlobalParams().size(), before); // a listed port has no master volume
    DMEngine.Stop();
    ASSERT_EQ(DMEngine.Play(Synth22k, true), 0);
    DMEngine.SetVolume(88);
    EXPECT_EQ(platform.GlobalParams().back().type, GUID_PerfMasterVolume);
}

} // namespace
} // namespace qorn::testdouble
