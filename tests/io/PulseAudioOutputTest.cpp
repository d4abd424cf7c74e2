// The driver path end to end: a private PulseAudio server with a null sink
// stands in for the machine's sound server, and parec records the sink's
// monitor, i.e. exactly what the player sent.
#include "platform/audio/AudioOutput.h"

#include "platform/audio/FluidAudioOutput.h"
#include "platform/audio/PulseAudioOutput.h"
#include "tests/io/EnvOverride.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qorn::platform {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kRate = 44100;
constexpr double kLeftHz = 440.0;
constexpr double kRightHz = 660.0;
constexpr float kAmplitude = 0.25f;

std::optional<std::string> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

// A child process with its own environment and output file; killed and
// reaped on destruction.
class Child {
  public:
    Child(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
          const std::string& outputFile) {
        std::vector<std::string> envStrings(extraEnv);
        for (char** e = environ; *e != nullptr; ++e)
            envStrings.emplace_back(*e);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : envStrings)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (outputFile + ".err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { stop(SIGKILL); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }
    // Asks politely, then insists after a second.
    void stop(int sig = SIGTERM) {
        if (pid_ <= 0) return;
        kill(pid_, sig);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(10ms);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

struct Sine {
    long long frame = 0;
    std::atomic<long long> rendered{0};
};

bool RenderSine(void* context, float* left, float* right, int frames) {
    auto* s = static_cast<Sine*>(context);
    for (int i = 0; i < frames; ++i, ++s->frame) {
        const double t = static_cast<double>(s->frame) / kRate;
        left[i] = kAmplitude * static_cast<float>(std::sin(2 * std::numbers::pi * kLeftHz * t));
        right[i] = kAmplitude * static_cast<float>(std::sin(2 * std::numbers::pi * kRightHz * t));
    }
    s->rendered += frames;
    return true;
}

// Amplitude of the `hz` component of `x`, Hann-windowed.
double ToneAmplitude(const std::vector<float>& x, double hz) {
    double re = 0, im = 0, wsum = 0;
    const std::size_t n = x.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
        const double phase = 2 * std::numbers::pi * hz * static_cast<double>(i) / kRate;
        re += w * x[i] * std::cos(phase);
        im += w * x[i] * std::sin(phase);
        wsum += w;
    }
    return 2 * std::hypot(re, im) / wsum;
}

// A private server, and parec to record its sink.
class PulseServerTest : public testing::Test {
  protected:
    void SetUp() override {
        pulseaudio_ = FindProgram("pulseaudio");
        parec_ = FindProgram("parec");
        if (!pulseaudio_ || !parec_) GTEST_SKIP() << "pulseaudio or parec not installed";
        char dirTemplate[] = "/tmp/qorn-pulse-XXXXXX";
        if (mkdtemp(dirTemplate) == nullptr) GTEST_SKIP() << "no temporary directory";
        dir_ = dirTemplate;
        socket_ = dir_ + "/native";
    }

    void TearDown() override {
        parec_child_.reset();
        if (HasFailure() && !dir_.empty()) {
            std::ifstream log(dir_ + "/server.log.err");
            std::string line, text;
            while (std::getline(log, line))
                text += line + "\n";
            std::cerr << "pulseaudio said:\n" << text.substr(text.size() > 4000 ? text.size() - 4000 : 0);
        }
        server_.reset();
        if (!dir_.empty()) {
            std::error_code ignored;
            fs::remove_all(dir_, ignored);
        }
    }

    std::vector<std::string> privateEnv() const {
        return {"XDG_RUNTIME_DIR=" + dir_, "PULSE_RUNTIME_PATH=" + dir_, "PULSE_STATE_PATH=" + dir_, "HOME=" + dir_,
                "PULSE_SERVER=unix:" + socket_};
    }

    bool startServer() {
        server_.emplace(*pulseaudio_,
                        std::vector<std::string>{
                            "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "--use-pid-file=no",
                            "--disallow-module-loading=no", "--log-target=stderr", "--log-level=info",
                            "--load=module-null-sink sink_name=qorntest format=float32le "
                            "rate=44100 channels=2",
                            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket_},
                        privateEnv(), dir_ + "/server.log");
        if (!server_->started()) return false;
        for (int i = 0; i < 100; ++i) {
            struct stat st {};
            if (stat(socket_.c_str(), &st) == 0) return true;
            if (!server_->running()) return false;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    void startRecording(const std::string& file) {
        parec_child_.emplace(*parec_,
                             std::vector<std::string>{"-d", "qorntest.monitor", "--raw", "--format=float32le",
                                                      "--rate=44100", "--channels=2"},
                             privateEnv(), file);
        ASSERT_TRUE(parec_child_->started());
        std::this_thread::sleep_for(400ms); // let parec connect before anything plays
        // (parec keeps its default latency: asking a null sink's monitor for a
        // very low one stalls the sink's later playback streams.)
    }

    // The left channel of a recording, and the right one.
    static std::pair<std::vector<float>, std::vector<float>> readRecording(const std::string& file) {
        std::ifstream raw(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
        std::vector<float> left, right;
        for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
            float l, r;
            std::memcpy(&l, &bytes[i], 4);
            std::memcpy(&r, &bytes[i + 4], 4);
            left.push_back(l);
            right.push_back(r);
        }
        return {left, right};
    }

    std::optional<std::string> pulseaudio_;
    std::optional<std::string> parec_;
    std::string dir_;
    std::string socket_;
    std::optional<Child> server_;
    std::optional<Child> parec_child_;
};

// Our own client and FluidSynth's driver, which it falls back to.
class PulseAudioOutputTest : public PulseServerTest, public testing::WithParamInterface<std::string> {
  protected:
    void SetUp() override {
        const auto drivers = AvailableAudioDrivers();
        if (GetParam() == "pulseaudio" && std::find(drivers.begin(), drivers.end(), "pulseaudio") == drivers.end())
            GTEST_SKIP() << "FluidSynth has no pulseaudio driver";
        PulseServerTest::SetUp();
    }
};

TEST_P(PulseAudioOutputTest, TheSoundServerReceivesWhatWasRendered) {
    if (!startServer()) GTEST_SKIP() << "pulseaudio cannot run here";

    const std::string recording = dir_ + "/recording.raw";
    startRecording(recording);

    EnvOverride server("PULSE_SERVER", ("unix:" + socket_).c_str());
    EnvOverride cookie("PULSE_COOKIE", (dir_ + "/cookie").c_str());
    EnvOverride force("QORN_AUDIO_DRIVER", GetParam().c_str());
    Sine sine;
    auto output = OpenAudioOutput(kRate, RenderSine, &sine);
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(output->name(), GetParam());
    // About a second of sound; a starved machine gets longer, within bounds.
    const auto deadline = std::chrono::steady_clock::now() + 6s;
    while (sine.rendered < kRate && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    output->stop();
    const long long rendered = sine.rendered;
    std::this_thread::sleep_for(300ms); // the tail reaches the monitor
    EXPECT_EQ(sine.rendered, rendered) << "rendering went on after stop()";
    parec_child_->stop(SIGINT);

    const auto [left, right] = readRecording(recording);
    const auto firstSound =
        std::find_if(left.begin(), left.end(), [](float v) { return std::fabs(v) > 0.01f; }) - left.begin();
    ASSERT_LT(static_cast<std::size_t>(firstSound), left.size()) << "the recording is silent";
    const auto sounding = std::count_if(left.begin(), left.end(), [](float v) { return std::fabs(v) > 0.01f; });
    // Most of what was rendered arrived (a sine is above the threshold ~97% of the time;
    // the server drops what it still buffered when the stream closes).
    EXPECT_GT(static_cast<double>(sounding), 0.5 * static_cast<double>(rendered)) << "rendered " << rendered;

    // A loaded machine may leave gaps in the stream (the server plays
    // silence when the renderer is late), which break the tone's phase: judge
    // the tones in the cleanest stretch, the one where the left tone is
    // strongest. Wrong channels or levels show in every stretch.
    const std::size_t window = 4096;
    ASSERT_LE(static_cast<std::size_t>(firstSound) + 2048 + window, left.size());
    std::size_t from = static_cast<std::size_t>(firstSound) + 2048;
    double strongest = -1.0;
    for (std::size_t at = from; at + window <= left.size(); at += window / 2) {
        const double a = ToneAmplitude(std::vector<float>(left.begin() + at, left.begin() + at + window), kLeftHz);
        if (a > strongest) {
            strongest = a;
            from = at;
        }
    }
    const std::vector<float> l(left.begin() + from, left.begin() + from + window);
    const std::vector<float> r(right.begin() + from, right.begin() + from + window);
    EXPECT_NEAR(ToneAmplitude(l, kLeftHz), kAmplitude, 0.05);
    EXPECT_LT(ToneAmplitude(l, kRightHz), 0.02);
    EXPECT_NEAR(ToneAmplitude(r, kRightHz), kAmplitude, 0.05);
    EXPECT_LT(ToneAmplitude(r, kLeftHz), 0.02);
}

// A sine until told to rest.
struct RestingSine {
    Sine sine;
    std::atomic<bool> rest{true};
    std::atomic<int> calls{0};
};

bool RenderSineUnlessResting(void* context, float* left, float* right, int frames) {
    auto* s = static_cast<RestingSine*>(context);
    ++s->calls;
    return !s->rest && RenderSine(&s->sine, left, right, frames);
}

TEST_F(PulseServerTest, OurClientLeavesTheServerAloneWhileItRestsAndIsHeardWhenWoken) {
    if (!startServer()) GTEST_SKIP() << "pulseaudio cannot run here";
    EnvOverride server("PULSE_SERVER", ("unix:" + socket_).c_str());
    EnvOverride cookie("PULSE_COOKIE", (dir_ + "/cookie").c_str());
    EnvOverride force("QORN_AUDIO_DRIVER", kPulseNativeDriver);
    RestingSine sine;
    auto output = OpenAudioOutput(kRate, RenderSineUnlessResting, &sine);
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(output->name(), kPulseNativeDriver);

    // Nothing to render: after the first call the server asks for nothing
    // more (a running stream would ask about 500 times a second).
    const auto deadline = std::chrono::steady_clock::now() + 6s;
    while (sine.calls == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(300ms);
    const int resting = sine.calls;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sine.calls, resting);
    EXPECT_GE(resting, 1);

    // Woken with something to play, it is heard at the server.
    const std::string recording = dir_ + "/recording.raw";
    startRecording(recording);
    sine.rest = false;
    output->wake();
    while (sine.sine.rendered < kRate / 2 && std::chrono::steady_clock::now() < deadline + 6s)
        std::this_thread::sleep_for(20ms);
    output->stop();
    std::this_thread::sleep_for(300ms); // the tail reaches the monitor
    parec_child_->stop(SIGINT);
    const auto left = readRecording(recording).first;
    const auto sounding = std::count_if(left.begin(), left.end(), [](float v) { return std::fabs(v) > 0.01f; });
    EXPECT_GT(static_cast<double>(sounding), 0.5 * static_cast<double>(sine.sine.rendered.load()));
}

INSTANTIATE_TEST_SUITE_P(Clients, PulseAudioOutputTest, testing::Values(kPulseNativeDriver, "pulseaudio"),
                         [](const auto& client) { return client.param == "pulseaudio" ? "FluidSynth" : "Native"; });

} // namespace
} // namespace qorn::platform
