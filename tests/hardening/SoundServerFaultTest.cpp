// The sound server going away while the synthesizer plays through it: the
// window never freezes, playback carries on silently or ends, and the user
// can stop, start again and open another file.
#include "PlayerFixture.h"

#include "engine/TDMusicEngine.h"
#include "platform/audio/PulseAudioOutput.h"
#include "tests/support/ChildProcess.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace qorn::hardening {
namespace {

class SoundServerFaultTest : public PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        if (IsSkipped()) return;
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty()) GTEST_SKIP() << "pulseaudio not installed";
        ASSERT_TRUE(serverDir.isValid());
        const std::string dirPath = serverDir.path().toStdString();
        socket = dirPath + "/native";
        for (const auto& [name, value] : {std::pair<const char*, std::string>{"PULSE_RUNTIME_PATH", dirPath},
                                          {"PULSE_STATE_PATH", dirPath},
                                          {"PULSE_SERVER", "unix:" + socket}}) {
            saved.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
            setenv(name, value.c_str(), 1);
        }
        std::vector<std::string> args{program.toStdString(),
                                      "-n",
                                      "--daemonize=no",
                                      "--exit-idle-time=-1",
                                      "--system=false",
                                      "--use-pid-file=no",
                                      "--log-target=stderr",
                                      "--load=module-null-sink sink_name=qornfault rate=44100 channels=2",
                                      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket};
        if (!server.start(args, {}, dirPath + "/server.log")) GTEST_SKIP() << "pulseaudio cannot start here";
        QElapsedTimer clock;
        clock.start();
        while (!std::filesystem::exists(socket) && server.running() && clock.elapsed() < 10000)
            RunEvents(50);
        if (!std::filesystem::exists(socket)) GTEST_SKIP() << "pulseaudio cannot run here";
        audioDriver = platform::kPulseNativeDriver;
    }
    void TearDown() override {
        PlayerFixture::TearDown();
        server.kill();
        for (const auto& [name, value] : saved) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
    }

    QTemporaryDir serverDir;
    testing::ChildProcess server;
    std::string socket;
    std::vector<std::pair<std::string, std::string>> saved;
};

TEST_F(SoundServerFaultTest, ServerKilledDuringPlaybackNeverFreezesTheWindow) {
    StartPlayer();
    ASSERT_TRUE(form->EngineReady()) << FileLabel();
    Open(Write("long.mid", SmallMidi(30)));
    ASSERT_TRUE(Playing()) << FileLabel();
    RunEvents(300);

    server.kill(); // the sound server dies

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

} // namespace
} // namespace qorn::hardening
