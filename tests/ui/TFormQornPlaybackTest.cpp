// Playback start and stop as the user sees them: which controls can be used,
// the play button, the timers, and volume and tempo while a piece plays.
#include "FormFixture.h"

#include "engine/TDMusicEngine.h"
#include "platform/com/Guids.h"
#include "ui/TRadioGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <functional>

namespace {

using qorn::platform::GUID;
using qorn::platform::GUID_PerfMasterTempo;
using qorn::platform::GUID_PerfMasterVolume;

// The controls whose state StartPlayback and StopPlayback decide.
struct ControlState {
    bool loop, tempo, volume, port, effects;
    std::string playCaption;
    bool timers;
    bool operator==(const ControlState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ControlState& s) {
    return out << "loop " << s.loop << " tempo " << s.tempo << " volume " << s.volume << " port " << s.port
               << " effects " << s.effects << " play '" << s.playCaption << "' timers " << s.timers;
}

class PlaybackTest : public FormFixture {
  protected:
    void SetUp() override { StartForm(); }

    ControlState State() const {
        const bool timers = form->TimCheck->isActive();
        EXPECT_EQ(timers, form->TimTime->isActive());
        return {form->RGLoop->isEnabled(),
                form->RGTempo->isEnabled(),
                form->TBVolume->isEnabled(),
                form->CoBInst->isEnabled(),
                form->ChBEffect->isEnabled(),
                form->ComPlay->text().toStdString(),
                timers};
    }
    int Count(const GUID& type) const {
        int n = 0;
        for (const auto& p : platform.GlobalParams())
            n += p.type == type;
        return n;
    }
    qorn::testdouble::GlobalParamCall Last(const GUID& type) const {
        qorn::testdouble::GlobalParamCall last{};
        for (const auto& p : platform.GlobalParams())
            if (p.type == type) last = p;
        return last;
    }
    int Plays() const { return platform.Count("Performance.PlaySegment"); }
};

TEST_F(PlaybackTest, ControlStatesAfterStartRefusalAndStop) {
    struct Case {
        const char* what;
        std::function<void()> act;
        ControlState expected;
        bool playEnabled;
        const char* labelTime;
    };
    const std::string song = WriteFile("song.sgt");
    const Case cases[] = {
        {"start", [&] { Drop({song}); }, {false, true, true, false, false, "Stop", true}, true, "Wait"},
        {"refused start",
         [&] {
             platform.FailPlay();
             Drop({song});
         },
         {false, true, true, true, true, "Play", false},
         false,
         "Wait"},
        {"stop",
         [&] {
             Drop({song});
             form->TimeTimer();
             form->ComPlayClick();
         },
         {true, true, true, true, true, "Play", false},
         true,
         "0:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        form.reset();
        platform.FailPlay(false);
        StartForm();
        c.act();
        EXPECT_EQ(State(), c.expected);
        EXPECT_EQ(form->ComPlay->isEnabled(), c.playEnabled);
        EXPECT_EQ(form->LabelTime->text().toStdString(), c.labelTime);
    }
}

TEST_F(PlaybackTest, RefusedStartShowsTheEngineMessageAndMarksTheCaption) {
    platform.FailPlay();
    Drop({WriteFile("song.sgt")});
    EXPECT_FALSE(form->LabelFN->text().isEmpty());
    EXPECT_EQ(form->LabelFN->text().toStdString(), std::string(DMEngine.LastError));
    EXPECT_EQ(Caption(), "Qor_n [Error]");
    EXPECT_TRUE(form->ComOpen->isEnabled());
    EXPECT_TRUE(form->ComInfo->isEnabled());
}

TEST_F(PlaybackTest, PlayButtonToggles) {
    Drop({WriteFile("song.sgt")});
    form->ComPlayClick();
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Play"));
    EXPECT_FALSE(DMEngine.IsPlaying());
    const int plays = Plays();
    form->ComPlayClick();
    EXPECT_EQ(Plays(), plays + 1);
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(form->ComPlay->isEnabled());
    EXPECT_EQ(form->NextTimeUpdate(), -1);
}

TEST_F(PlaybackTest, StartSendsLoopTempoVolumePortAndEffects) {
    platform.SetSegmentRepeats(1);
    form->RGLoop->SetItemIndex(3);
    form->RGTempo->SetItemIndex(6);
    form->TBVolume->setValue(40);
    form->CoBInst->setCurrentIndex(3);
    form->ChBEffect->setChecked(false);
    const int tempos = Count(GUID_PerfMasterTempo);
    const int volumes = Count(GUID_PerfMasterVolume);
    Drop({WriteFile("song.sgt")});
    EXPECT_EQ(Count(GUID_PerfMasterTempo), tempos + 1);
    EXPECT_FLOAT_EQ(Last(GUID_PerfMasterTempo).floatValue, 2.0f);
    EXPECT_GT(Count(GUID_PerfMasterVolume), volumes);
    EXPECT_EQ(DMEngine.ActivePort, 3);
    EXPECT_FALSE(DMEngine.ActiveEffects);
    ASSERT_FALSE(platform.RepeatsSet().empty());
    EXPECT_EQ(platform.RepeatsSet().back(), 4u);
}

TEST_F(PlaybackTest, TypedPortNameThatIsNoEntryIsRefused) {
    form->CoBInst->setEditText(QStringLiteral("no such port"));
    Drop({WriteFile("song.sgt")});
    EXPECT_EQ(Caption(), "Qor_n [Error]");
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Play"));
    EXPECT_TRUE(form->CoBInst->isEnabled());
}

TEST_F(PlaybackTest, TempoAndVolumeChangeAtOnceWhilePlaying) {
    Drop({WriteFile("song.sgt")});
    const int plays = Plays();
    form->RGTempo->Item(0)->click();
    ASSERT_FALSE(platform.GlobalParams().empty());
    EXPECT_EQ(platform.GlobalParams().back().type, GUID_PerfMasterTempo);
    EXPECT_FLOAT_EQ(platform.GlobalParams().back().floatValue, 0.5f);

    form->TBVolume->setValue(100);
    EXPECT_EQ(form->LabelVolume->text(), QStringLiteral("100"));
    EXPECT_EQ(platform.GlobalParams().back().type, GUID_PerfMasterVolume);
    const int atHundred = platform.GlobalParams().back().intValue;
    form->TBVolume->setValue(20);
    EXPECT_LT(platform.GlobalParams().back().intValue, atHundred);

    EXPECT_EQ(Plays(), plays);
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
}

TEST_F(PlaybackTest, DefaultReturnsTheVolumeTo88) {
    form->TBVolume->setValue(40);
    EXPECT_EQ(form->LabelVolume->text(), QStringLiteral("40"));
    std::size_t mark = platform.Mark();
    form->ComDefault->click();
    EXPECT_EQ(form->TBVolume->value(), 88);
    EXPECT_EQ(form->LabelVolume->text(), QStringLiteral("88"));
    EXPECT_EQ(platform.CallsSince(mark).size(), 1u);
    EXPECT_EQ(platform.GlobalParams().back().type, GUID_PerfMasterVolume);
    EXPECT_EQ(platform.GlobalParams().back().intValue, 0);

    mark = platform.Mark();
    form->ComDefault->click();
    EXPECT_TRUE(platform.CallsSince(mark).empty());
    EXPECT_EQ(form->LabelVolume->text(), QStringLiteral("88"));
}

TEST_F(PlaybackTest, APieceThatNeverStartsGivesUpAfterTwoSeconds) {
    platform.SetPlaying(false);
    const std::size_t sleeps = platform.Sleeps().size();
    Drop({WriteFile("silent.sgt")});
    std::size_t waits = 0;
    for (std::size_t i = sleeps; i < platform.Sleeps().size(); ++i)
        waits += platform.Sleeps()[i] == 50;
    EXPECT_EQ(waits * 50, static_cast<std::size_t>(TFormQorn::PlaybackWaitLimitMs));
    EXPECT_EQ(form->LabelFN->text(), QStringLiteral("Playback Did Not Start"));
    EXPECT_EQ(State(), (ControlState{true, true, true, true, true, "Play", false}));
    EXPECT_TRUE(form->ComOpen->isEnabled());
    EXPECT_EQ(Caption(), "Qor_n [Error]");
}

TEST_F(PlaybackTest, APieceThatNeverStopsGivesUpAfterTwoSeconds) {
    Drop({WriteFile("stubborn.sgt")});
    platform.SetPlaying(true);
    form->ComPlayClick();
    EXPECT_EQ(form->LabelFN->text(), QStringLiteral("Playback Did Not Stop"));
    EXPECT_EQ(State(), (ControlState{true, true, true, true, true, "Play", false}));
    EXPECT_TRUE(form->ComPlay->isEnabled());
}

TEST_F(PlaybackTest, StartWaitsForTheEngineToReportPlaying) {
    platform.PlayingAfter(3);
    Drop({WriteFile("slow.sgt")});
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(form->TimCheck->isActive());
    EXPECT_EQ(Caption(), "Qor_n : slow.sgt");
}

TEST_F(PlaybackTest, StopWithoutAReadyEngineMakesNoEngineCall) {
    form.reset();
    platform.SetResult("CoCreateInstance(DirectMusic)", qorn::platform::E_FAIL);
    StartForm();
    const std::size_t mark = platform.Mark();
    form->StopPlayback();
    EXPECT_TRUE(platform.CallsSince(mark).empty());
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Play"));
    EXPECT_TRUE(form->RGLoop->isEnabled());
}

} // namespace
