#include "tests/support/PrivatePulse.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace qorn::testing {

using namespace std::chrono_literals;

PrivatePulse::PrivatePulse() {
    char dirTemplate[] = "/tmp/qorn-pulse-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return;
    dir_ = dirTemplate;
    Start();
}

bool PrivatePulse::Start() {
    const std::string socket = dir_ + "/native";
    std::vector<std::string> args = {"pulseaudio",
                                     "-n",
                                     "--daemonize=no",
                                     "--exit-idle-time=-1",
                                     "--system=false",
                                     "--use-pid-file=no",
                                     "--disallow-module-loading=no",
                                     "--log-target=stderr",
                                     "--realtime=yes",
                                     "--high-priority=yes",
                                     std::string("--load=module-null-sink sink_name=") + Sink +
                                         " format=float32le rate=44100 channels=2",
                                     "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket};
    const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir_, "PULSE_RUNTIME_PATH=" + dir_,
                                          "PULSE_STATE_PATH=" + dir_, "HOME=" + dir_};
    ready_ = false;
    if (dir_.empty() || !server_.start(args, env, dir_ + "/server.log")) return false;
    for (int i = 0; server_.running() && i < 400 && !ready_; ++i) {
        struct stat st {};
        ready_ = stat(socket.c_str(), &st) == 0;
        if (!ready_) std::this_thread::sleep_for(50ms);
    }
    return ready_;
}

void PrivatePulse::Kill() {
    server_.kill();
    // A dead server leaves its socket behind; the next one makes its own.
    std::error_code ignored;
    std::filesystem::remove(dir_ + "/native", ignored);
    ready_ = false;
}

PrivatePulse::~PrivatePulse() {
    // Let it shut down cleanly first; a server that does not is killed.
    server_.signal(SIGTERM);
    server_.waitForFinished(2000);
    server_.kill();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

Recorder::Recorder(const std::string& server) {
    pa_sample_spec format{PA_SAMPLE_FLOAT32LE, PrivatePulse::Rate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = BlockFrames * 8;
    int error = 0;
    const std::string device = std::string(PrivatePulse::Sink) + ".monitor";
    pa_simple* stream = pa_simple_new(server.c_str(), "qorn-bench", PA_STREAM_RECORD, device.c_str(), "monitor",
                                      &format, nullptr, &attr, &error);
    if (stream == nullptr) return;
    running_ = true;
    blocks_.reserve(1 << 20);
    thread_ = std::thread([this, stream] { Run(stream); });
}

Recorder::~Recorder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

double Recorder::Now() const {
    return std::chrono::duration<double>(Clock::now() - origin_).count();
}

void Recorder::Run(void* handle) {
    auto* stream = static_cast<pa_simple*>(handle);
    float frames[BlockFrames * 2];
    int zeros = 0;
    while (!stop_) {
        int error = 0;
        if (pa_simple_read(stream, frames, sizeof frames, &error) < 0) break;
        // Arrived now: it began sounding one block ago.
        const double start = Now() - double(BlockFrames) / PrivatePulse::Rate;
        float peak = 0;
        bool gap = false;
        for (int i = 0; i < BlockFrames; ++i) {
            const float l = frames[2 * i], r = frames[2 * i + 1];
            peak = std::max({peak, std::fabs(l), std::fabs(r)});
            zeros = (l == 0.0f && r == 0.0f) ? zeros + 1 : 0;
            // A sustained organ never holds exactly zero this long.
            if (zeros == 32) gap = true;
        }
        std::lock_guard lock(mutex_);
        blocks_.push_back({start, peak, gap});
    }
    pa_simple_free(stream);
    running_ = false;
}

std::vector<Block> Recorder::Blocks() const {
    std::lock_guard lock(mutex_);
    return blocks_;
}

bool Recorder::WaitUntil(double seconds) const {
    const auto end = Clock::now() + 10s;
    while (Clock::now() < end) {
        {
            std::lock_guard lock(mutex_);
            if (!blocks_.empty() && blocks_.back().start >= seconds) return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

} // namespace qorn::testing
