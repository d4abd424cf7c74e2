// The sound server going away while the synthesizer plays through it: the
// window never freezes, playback carries on silently or ends, and the user
// can stop, start again and open another file; once the server is back, the
// music is heard there again.
#include "PlayerFixture.h"

#include "engine/TDMusicEngine.h"
#include "platform/audio/PulseAudioOutput.h"
#include "tests/support/MidiFileWriter.h"
#include "tests/support/PrivatePulse.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace qorn::hardening {
namespace {

class SoundServerFaultTest : public PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        if (IsSkipped()) return;
        if (!server.Running()) GTEST_SKIP() << "pulseaudio cannot run here";
        if (const char* old = std::getenv("PULSE_SERVER")) saved = old;
        setenv("PULSE_SERVER", server.Server().c_str(), 1);
        audioDriver = platform::kPulseNativeDriver;
    }
    void TearDown() override {
        PlayerFixture::TearDown();
        if (saved)
            setenv("PULSE_SERVER", saved->c_str(), 1);
        else
            unsetenv("PULSE_SERVER");
    }

    // Whether sound (-40 dBFS or more) reaches the server's sink from now on,
    // within `limitMs`, while the window runs.
    static bool Heard(const testing::Recorder& sink, int limitMs) {
        const double from = sink.Now();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < limitMs) {
            RunEvents(50);
            for (const testing::Block& b : sink.Blocks())
                if (b.start >= from && b.peak >= 0.01f) return true;
        }
        return false;
    }

    testing::PrivatePulse server;
    std::optional<std::string> saved;
};

TEST_F(SoundServerFaultTest, ServerKilledDuringPlaybackNeverFreezesTheWindow) {
    StartPlayer();
    ASSERT_TRUE(form->EngineReady()) << FileLabel();
    Open(Write("long.mid", SmallMidi(30)));
    ASSERT_TRUE(Playing()) << FileLabel();
    RunEvents(300);

    server.Kill(); // the sound server dies

    // The window goes on answering: its timers run and the time display moves
    // or the piece ends.
    QElapsedTimer clock;
    clock.start();
    RunEvents(1000);
    EXPECT_LT(clock.elapsed(), 1000 + FrozenMs) << "the event loop stalled";
    const long long t0 = DMEngine.GetPlayTime();
    RunEvents(500);
    std::printf("after the server died: %s, play time %lld -> %lld tenths\n", Playing() ? "playing" : "ended", t0,
                static_cast<long long>(DMEngine.GetPlayTime()));

    // Stop, start again, open another file: each returns within the window's
    // own wait limit; the audio keeps being pulled (silently), so the window
    // never has to give up waiting for it.
    for (int round = 0; round < 2; ++round) {
        clock.restart();
        form->ComPlayClick();
        EXPECT_LT(clock.elapsed(), TFormQorn::PlaybackWaitLimitMs) << "round " << round;
        RunEvents(200);
    }
    if (Playing()) form->ComPlayClick();
    ExpectIdleAndUsable();
    clock.restart();
    Open(Write("next.mid", SmallMidi(5)));
    EXPECT_LT(clock.elapsed(), TFormQorn::PlaybackWaitLimitMs + FrozenMs);
    std::printf("opening another file afterwards: %s\n", Playing() ? "plays" : FileLabel().c_str());
    if (Playing()) form->ComPlayClick();
    ExpectIdleAndUsable();

    // Closing the window after all this does not hang either.
    clock.restart();
    ClosePlayer();
    EXPECT_LT(clock.elapsed(), FrozenMs);
}

TEST_F(SoundServerFaultTest, AfterTheServerRestartsTheMusicIsHeardThereAgain) {
    StartPlayer();
    ASSERT_TRUE(form->EngineReady()) << FileLabel();
    test::TestPiece organ;
    organ.program = 19;
    organ.notes = {{0, 960 * 120, 60}, {0, 960 * 120, 67}};
    Open(Write("organ.mid", test::BuildMidiFile(organ)));
    ASSERT_TRUE(Playing()) << FileLabel();

    // Restarted while the piece plays: it comes back with nothing done.
    server.Kill();
    RunEvents(500);
    ASSERT_TRUE(server.Start());
    {
        const testing::Recorder sink(server.Server());
        ASSERT_TRUE(sink.Running());
        EXPECT_TRUE(Heard(sink, 10000)) << "the playing piece did not come back to the restarted server";
    }

    // Restarted while the player rests after a Stop: the next Play is heard.
    form->ComPlayClick();
    ASSERT_FALSE(Playing());
    RunEvents(4000);
    server.Kill();
    RunEvents(500);
    ASSERT_TRUE(server.Start());
    const testing::Recorder sink(server.Server());
    ASSERT_TRUE(sink.Running());
    form->ComPlayClick();
    ASSERT_TRUE(Playing()) << FileLabel();
    EXPECT_TRUE(Heard(sink, 10000)) << "Play after the restart was not heard at the server";
}

} // namespace
} // namespace qorn::hardening
