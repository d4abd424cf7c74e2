// Machines without the devices the player could use, and a MIDI port that is
// unplugged while it is the chosen output: the player starts, plays what it
// can, never freezes, and says what failed.
#include "PlayerFixture.h"

#include "engine/TDMusicEngine.h"
#include "tests/support/SegmentWriter.h"

#include <QComboBox>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace qorn::hardening {
namespace {

class DeviceFaultTest : public PlayerFixture {
  protected:
    // Plays a short piece on the selected entry and waits for its end the
    // way the window notices it (its 100 ms timer).
    void PlayToTheEnd() {
        Open(Write("short.mid", SmallMidi(5)));
        ASSERT_TRUE(Playing()) << FileLabel();
        QElapsedTimer clock;
        clock.start();
        while (Playing() && clock.elapsed() < 10000)
            RunEvents(50);
        EXPECT_FALSE(Playing()) << "the end of the piece was never noticed";
        ExpectIdleAndUsable();
    }
    int EntryCount() const { return form->CoBInst->count(); }
    std::string Entry(int i) const { return form->CoBInst->itemText(i).toStdString(); }
};

TEST_F(DeviceFaultTest, WithoutASoundDeviceTheSynthesizerPlaysIntoSilence) {
    // This machine has no sound card; each driver fails in its own way and
    // the silent output takes over.
    for (const char* driver : {"alsa", "oss", "jack", "no-such-driver"}) {
        SCOPED_TRACE(driver);
        audioDriver = driver;
        StartPlayer();
        ASSERT_TRUE(form->EngineReady()) << FileLabel();
        PlayToTheEnd();
        ClosePlayer();
    }
}

TEST_F(DeviceFaultTest, WithoutAnAlsaSequencerOnlyTheSynthesizerIsListedAndPlays) {
    haveSequencer = false;
    StartPlayer();
    ASSERT_TRUE(form->EngineReady()) << FileLabel();
    ASSERT_EQ(EntryCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(Entry(i).find("(SampleRate:"), std::string::npos) << Entry(i);
    PlayToTheEnd();
}

TEST_F(DeviceFaultTest, UnpluggedPortWhilePlayingNeverFreezesAndTheNextStartSaysSo) {
    alsaPorts = {{24, 0, "Sound Module", "Port 1"}};
    StartPlayer();
    ASSERT_TRUE(form->EngineReady()) << FileLabel();
    ASSERT_EQ(EntryCount(), 4);
    form->CoBInst->setCurrentIndex(0);

    Open(Write("long.mid", SmallMidi(100)));
    ASSERT_TRUE(Playing()) << FileLabel();
    RunEvents(300);
    EXPECT_FALSE(sequencer->received(24, 0).empty()) << "the piece plays on the port";

    sequencer->removePort(24, 0);
    // Playback goes on silently or ends; the window keeps answering.
    QElapsedTimer clock;
    clock.start();
    RunEvents(500);
    EXPECT_LT(clock.elapsed(), 500 + FrozenMs);
    if (Playing()) {
        form->ComPlayClick(); // the user stops it
    }
    EXPECT_FALSE(Playing());
    ExpectIdleAndUsable();

    // The next start on the same entry is refused at once with the engine's
    // message: the port was built for this entry, but its device is gone.
    clock.restart();
    form->ComPlayClick();
    EXPECT_LT(clock.elapsed(), TFormQorn::PlaybackWaitLimitMs) << "waited for a port that is gone";
    EXPECT_FALSE(Playing());
    EXPECT_EQ(FileLabel(), std::string(DMEngine.LastError));
    EXPECT_EQ(FileLabel(), "Can't Play Segment");
    // A refused start leaves the play button to the next open; reopen the file.
    Open(Write("again.mid", SmallMidi(100)));
    EXPECT_FALSE(Playing());
    EXPECT_EQ(FileLabel(), "Can't Play Segment");

    // After playing elsewhere, choosing the port again builds it anew: that
    // fails and the window shows the engine's message.
    form->CoBInst->setCurrentIndex(2);
    form->ComPlayClick();
    ASSERT_TRUE(Playing()) << FileLabel();
    form->ComPlayClick();
    form->CoBInst->setCurrentIndex(0);
    form->ComPlayClick();
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(FileLabel().empty());
    EXPECT_EQ(FileLabel(), std::string(DMEngine.LastError));
    std::printf("rebuilding the unplugged port: \"%s\"\n", FileLabel().c_str());
    ExpectIdleAndUsable();

    // The synthesizer still plays.
    form->CoBInst->setCurrentIndex(1);
    form->ComPlayClick();
    EXPECT_TRUE(Playing()) << FileLabel();
    form->ComPlayClick();
}

// A piece written for an audiopath (a flute on PChannel 50, a kit on PChannel
// 41 beside the one on the drum channel) reaches a MIDI port on the channels
// the synthesizer plays it on, each with its band's program.
TEST_F(DeviceFaultTest, APieceForAnAudiopathReachesAMidiPortOnTheChannelsItWasGiven) {
    alsaPorts = {{24, 0, "Sound Module", "Port 1"}};
    StartPlayer();
    ASSERT_TRUE(form->EngineReady()) << FileLabel();
    form->CoBInst->setCurrentIndex(0);
    testseg::SegmentSpec plan;
    plan.header.length = 768;
    plan.bands = {{0, {{9, 0x80000000u, 0x1}, {41, 0x80000000u | 25, 0x1}, {50, 73, 0x1 | 0x2}}}};
    plan.notes = {{0, 300, 9, 38}, {0, 300, 41, 36}, {0, 300, 50, 72}};
    Open(Write("audiopath.sgt", testseg::BuildSegment(plan)));
    ASSERT_TRUE(Playing()) << FileLabel();
    QElapsedTimer clock;
    clock.start();
    while (Playing() && clock.elapsed() < 10000)
        RunEvents(50);
    const auto got = sequencer->received(24, 0);
    for (const std::vector<std::uint8_t>& sent : std::vector<std::vector<std::uint8_t>>{
             {0x99, 38, 100}, {0xC0, 25}, {0x90, 36, 100}, {0xC1, 73}, {0x91, 72, 100}})
        EXPECT_NE(std::find(got.begin(), got.end(), sent), got.end()) << int(sent[0]) << " " << int(sent[1]);
}

} // namespace
} // namespace qorn::hardening
