// Loading and the transport controls around Play.
#include "EngineFixture.h"

namespace qorn::testdouble {
namespace {

struct LoopCase {
    DWORD ownRepeats;
    bool readFails;
    std::vector<std::int32_t> choices;
    std::vector<DWORD> counts;
};

TEST_F(EngineTest, LoopChoicesMapToRepeatCounts) {
    const LoopCase cases[] = {
        {0, false, {0, 1, 2, 3, 9, -1}, {0, 0, 0, 0, 0, 0}},
        {3, false, {0, 1, 2, 3, 9, -1}, {3, 0, 2, 4, 3, 3}},
        {0, true, {0, 1, 2, 3}, {0xFFFFFFFF, 0, 2, 4}}, // unreadable: -1 passed on
    };
    StartUp();
    for (const auto& c : cases) {
        platform.SetSegmentRepeats(c.ownRepeats);
        platform.SetResult("Segment.GetRepeats", c.readFails ? E_FAIL : S_OK);
        ASSERT_TRUE(DMEngine.LoadSegment("/music/a.sgt"));
        EXPECT_EQ(DMEngine.SegmentRepeats, c.readFails ? -1 : std::int32_t(c.ownRepeats));
        const std::size_t first = platform.RepeatsSet().size();
        for (std::int32_t choice : c.choices)
            DMEngine.SetLoop(choice);
        const std::vector<DWORD> counts(platform.RepeatsSet().begin() + std::ptrdiff_t(first),
                                        platform.RepeatsSet().end());
        EXPECT_EQ(counts, c.counts) << "own repeats " << c.ownRepeats;
    }
}

TEST_F(EngineTest, LoopWithoutASegmentDoesNothing) {
    StartUp();
    const std::size_t mark = platform.Mark();
    DMEngine.SetLoop(2);
    EXPECT_TRUE(platform.CallsSince(mark).empty());
}

TEST_F(EngineTest, TempoChoicesMapToFactorsAndUnknownOnesToNormal) {
    StartUp();
    const std::pair<std::int32_t, float> cases[] = {{0, 0.5f},  {1, 0.75f}, {2, 1.0f}, {3, 1.25f}, {4, 1.5f},
                                                    {5, 1.75f}, {6, 2.0f},  {7, 1.0f}, {-1, 1.0f}};
    for (const auto& [choice, factor] : cases) {
        DMEngine.SetTempo(choice);
        const auto& sent = platform.GlobalParams().back();
        EXPECT_EQ(sent.type, GUID_PerfMasterTempo);
        EXPECT_EQ(sent.size, 4u);
        EXPECT_EQ(sent.floatValue, factor) << choice;
    }
}

TEST_F(EngineTest, VolumeFollowsItsTwoLines) {
    StartUp();
    const std::pair<std::int32_t, std::int32_t> cases[] = {{0, -3056}, {15, -2216}, {16, -2160}, {88, 0}, {127, 1170}};
    for (const auto& [position, volume] : cases) {
        DMEngine.SetVolume(position);
        const auto& sent = platform.GlobalParams().back();
        EXPECT_EQ(sent.type, GUID_PerfMasterVolume);
        EXPECT_EQ(sent.size, 4u);
        EXPECT_EQ(sent.intValue, volume) << position;
    }
}

TEST_F(EngineTest, VolumeAndTempoNeedAPerformance) {
    platform.SetResult("CoCreateInstance(Performance)", E_FAIL);
    EXPECT_FALSE(DMEngine.Initialize());
    const std::size_t mark = platform.Mark();
    DMEngine.SetVolume(88);
    DMEngine.SetTempo(2);
    EXPECT_EQ(DMEngine.GetPlayTime(), 0);
    EXPECT_FALSE(DMEngine.IsPlaying());
    EXPECT_TRUE(platform.CallsSince(mark).empty());
}

TEST_F(EngineTest, PlayTimeIsTenthsOfASecondTruncatedTowardZero) {
    StartUp();
    const std::pair<REFERENCE_TIME, std::int64_t> cases[] = {
        {123'400'000, 123}, {999'999, 0}, {-15'500'000, -15}, {0, 0}, {864'000'000'000, 864'000}};
    for (const auto& [now, tenths] : cases) {
        platform.SetTime(now);
        EXPECT_EQ(DMEngine.GetPlayTime(), tenths) << now;
    }
}

TEST_F(EngineTest, IsPlayingIsTrueOnlyForExactlySOk) {
    StartPlaying();
    const std::pair<HRESULT, bool> cases[] = {{S_OK, true}, {S_FALSE, false}, {E_FAIL, false}, {2, false}};
    for (const auto& [result, playing] : cases) {
        platform.QueueResults("Performance.IsPlaying", {result});
        EXPECT_EQ(DMEngine.IsPlaying(), playing) << result;
    }
}

TEST_F(EngineTest, StopMakesItsTwoCallsAndDropsTheState) {
    StartPlaying();
    std::size_t mark = platform.Mark();
    DMEngine.Stop();
    EXPECT_EQ(platform.CallsSince(mark), (Calls{"Performance.Stop(null, null, 0, 0)",
                                                "Performance.Stop(null, state#1, 0, 0)", "Release(state#1)"}));
    EXPECT_FALSE(DMEngine.PlayRequested);
    EXPECT_FALSE(DMEngine.SegmentStateValid);
    EXPECT_EQ(DMEngine.SegmentState, nullptr);

    // Asked afterwards, the question is about the segment alone.
    mark = platform.Mark();
    EXPECT_FALSE(DMEngine.IsPlaying());
    EXPECT_EQ(platform.CallsSince(mark), Calls{"Performance.IsPlaying(segment#1, null)"});

    mark = platform.Mark();
    DMEngine.Stop();
    EXPECT_TRUE(platform.CallsSince(mark).empty());
}

TEST_F(EngineTest, StopWithNothingStartedDoesNothing) {
    StartUpAndLoad();
    const std::size_t mark = platform.Mark();
    DMEngine.Stop();
    EXPECT_TRUE(platform.CallsSince(mark).empty());
}

TEST_F(EngineTest, LoadingWhilePlayingStopsReleasesThenLoads) {
    platform.SetSegmentRepeats(2);
    StartPlaying();
    const std::size_t mark = platform.Mark();
    ASSERT_TRUE(DMEngine.LoadSegment("/music/next.sgt"));
    const Calls expected = {
        "Performance.Stop(null, null, 0, 0)",
        "Performance.Stop(null, state#1, 0, 0)",
        "Release(state#1)",
        "Release(segment#1)",
        "Loader.GetObject(/music/next.sgt)",
        "Segment.SetParam(GUID_StandardMIDIFile, 0xFFFFFFFF, 0, 0, &performance#1)",
        "Segment.GetRepeats()",
    };
    EXPECT_EQ(platform.CallsSince(mark), expected);
    EXPECT_EQ(DMEngine.SegmentRepeats, 2);
    EXPECT_EQ(platform.LiveObjects("segment"), 1);

    const LoadCall& load = platform.Loads().back();
    EXPECT_EQ(load.size, sizeof(DMUS_OBJECTDESC));
    EXPECT_EQ(load.validData, 0x22u);
    EXPECT_EQ(load.objectClass, CLSID_DirectMusicSegment);
    EXPECT_EQ(load.interfaceId, IID_IDirectMusicSegment2);
    EXPECT_TRUE(load.terminated);
}

TEST_F(EngineTest, AFailedLoadLeavesNoSegment) {
    platform.SetSegmentRepeats(5);
    StartUpAndLoad();
    platform.FailLoads();
    EXPECT_FALSE(DMEngine.LoadSegment("/music/broken.sgt"));
    EXPECT_FALSE(DMEngine.SegmentValid);
    EXPECT_EQ(DMEngine.Segment, nullptr);
    EXPECT_EQ(platform.LiveObjects("segment"), 0);
    EXPECT_EQ(DMEngine.SegmentRepeats, 5); // as it was
    EXPECT_STREQ(DMEngine.LastError, "");
    EXPECT_EQ(DMEngine.Play(Synth22k, true), -1);
    EXPECT_EQ(LastError(), "Not Ready DirectMusic");
}

TEST_F(EngineTest, ALoaderSuccessWithoutASegmentIsAFailedLoad) {
    StartUp();
    platform.SetNullOutput("Loader.GetObject");
    EXPECT_FALSE(DMEngine.LoadSegment("/music/a.mid"));
    EXPECT_FALSE(DMEngine.SegmentValid);
    EXPECT_EQ(platform.Count("Segment."), 0);
}

TEST_F(EngineTest, LoadBeforeALoaderExistsFailsAtOnce) {
    platform.SetResult("CoCreateInstance(Loader)", E_FAIL);
    EXPECT_FALSE(DMEngine.Initialize());
    const std::string message = LastError();
    const std::size_t mark = platform.Mark();
    EXPECT_FALSE(DMEngine.LoadSegment("/music/a.mid"));
    EXPECT_TRUE(platform.CallsSince(mark).empty());
    EXPECT_EQ(LastError(), message);
}

TEST_F(EngineTest, PathsReachTheLoaderUnchanged) {
    StartUp();
    const std::string paths[] = {
        "/home/user/音楽/曲.mid",                  // UTF-8
        "/music/\xFF\xFE-latin1-\xE9.sgt",         // not UTF-8: still the same bytes
        "/" + std::string(300, 'a') + "/song.sgt", // longer than the record's old 255 units
        "/" + std::string(4000, 'b'),              // near the longest path Linux allows
    };
    for (const auto& path : paths) {
        ASSERT_TRUE(DMEngine.LoadSegment(path.c_str())) << path.size();
        EXPECT_EQ(platform.Loads().back().path, path);
        EXPECT_TRUE(platform.Loads().back().terminated);
    }
}

TEST_F(EngineTest, APathTooLongForTheRecordFailsWithoutReachingTheLoader) {
    StartUpAndLoad();
    const std::string tooLong = "/" + std::string(DMUS_MAX_FILENAME, 'c');
    const std::size_t mark = platform.Mark();
    EXPECT_FALSE(DMEngine.LoadSegment(tooLong.c_str()));
    EXPECT_EQ(platform.CallsSince(mark), Calls{"Release(segment#1)"});
    EXPECT_FALSE(DMEngine.SegmentValid);
    EXPECT_FALSE(DMEngine.LoadSegment(nullptr));
}

TEST_F(EngineTest, ToWideNeverLeavesTheBufferUnterminated) {
    WCHAR out[8];
    EXPECT_TRUE(DMEngine.ToWide("abcdefg", out, 8));
    EXPECT_EQ(std::u16string(out), u"abcdefg");
    out[0] = u'z';
    EXPECT_FALSE(DMEngine.ToWide("abcdefgh", out, 8));
    EXPECT_EQ(out[0], 0);
}

} // namespace
} // namespace qorn::testdouble
