#include "platform/audio/AudioOutput.h"

#include "platform/audio/FluidAudioOutput.h"
#include "platform/audio/PulseAudioOutput.h"
#include "tests/io/EnvOverride.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace qorn::platform {
namespace {

std::atomic<int> gCalls{0};
bool Render(void*, float* left, float* right, int frames) {
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    ++gCalls;
    return true;
}

bool HasSoundDevice() {
    return access("/dev/snd", F_OK) == 0;
}

void ExpectRenders(AudioOutput& output) {
    const int before = gCalls;
    // Waits for the first call, however busy the machine.
    for (int i = 0; i < 1000 && gCalls == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(gCalls, before) << output.name();
}

TEST(AudioOutputTest, AlwaysGivesAWorkingOutput) {
    EnvOverride noForce("QORN_AUDIO_DRIVER", nullptr);
    auto output = OpenAudioOutput(44100, Render, nullptr);
    ASSERT_NE(output, nullptr);
    const auto drivers = AvailableAudioDrivers();
    EXPECT_TRUE(output->name() == "silent" || output->name() == kPulseNativeDriver ||
                std::find(drivers.begin(), drivers.end(), output->name()) != drivers.end())
        << output->name();
    ExpectRenders(*output);
    output->stop();
}

TEST(AudioOutputTest, ForcedChoicesAndUnusableDriversEndInTheSilentSink) {
    struct Case {
        const char* forced;
        bool needsNoDevice;
    };
    const Case cases[] = {{"silent", false}, {"no-such-driver", false}, {"alsa", true}, {"sdl2", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.forced);
        if (c.needsNoDevice && HasSoundDevice()) continue;
        EnvOverride force("QORN_AUDIO_DRIVER", c.forced);
        auto output = OpenAudioOutput(22050, Render, nullptr);
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(output->name(), "silent");
        ExpectRenders(*output);
    }
}

TEST(AudioOutputTest, FallbackPrintsNothing) {
    if (HasSoundDevice()) GTEST_SKIP() << "a sound device is present";
    EnvOverride noForce("QORN_AUDIO_DRIVER", nullptr);
    // No sound server to find either.
    EnvOverride noServer("PULSE_SERVER", "unix:/nonexistent/qorn-test-socket");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    auto output = OpenAudioOutput(44100, Render, nullptr);
    output->stop();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output->name(), "silent");
    EXPECT_EQ(err, "");
    EXPECT_EQ(out, "");

    // Only the probing was quiet: later errors are reported again.
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    fluid_log(FLUID_ERR, "qorn-probe-check");
    const std::string later = testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
    EXPECT_NE(later.find("qorn-probe-check"), std::string::npos);
}

} // namespace
} // namespace qorn::platform
