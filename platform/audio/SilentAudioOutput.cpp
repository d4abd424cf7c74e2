#include "platform/audio/SilentAudioOutput.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace qorn::platform {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

void SleepUntilNs(std::int64_t deadline) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline / kNsPerSecond);
    ts.tv_nsec = static_cast<long>(deadline % kNsPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

class SilentAudioOutput final : public AudioOutput {
  public:
    SilentAudioOutput(int sampleRate, AudioRenderFn render, void* context, int periodFrames)
        : rate_(sampleRate > 0 ? sampleRate : 44100), period_(periodFrames > 0 ? periodFrames : kSilentPeriodFrames),
          render_(render), context_(context), left_(static_cast<std::size_t>(period_)),
          right_(static_cast<std::size_t>(period_)) {
        thread_ = std::thread([this] { run(); });
    }

    ~SilentAudioOutput() override { stop(); }

    void stop() override {
        std::lock_guard lock(stopMutex_);
        running_.store(false, std::memory_order_release);
        wake();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    }

    std::string name() const override { return "silent"; }

    void wake() override {
        wakes_.fetch_add(1, std::memory_order_release);
        wakes_.notify_one();
    }

  private:
    // Frames are counted from an origin so that rounding never drifts; a
    // stall longer than a few periods moves the origin instead of rendering
    // the missed time in one burst, as a device would after an underrun.
    // With nothing to render the thread sleeps until woken, and the clock
    // starts afresh then.
    void run() {
        pthread_setname_np(pthread_self(), "qorn-silent");
        const std::int64_t maxLagNs = 4 * periodNs();
        std::int64_t origin = NowNs();
        std::int64_t frames = 0;
        while (running_.load(std::memory_order_acquire)) {
            // Read before rendering: a wake after this moment ends the rest
            // below at once, whatever the render saw.
            const std::uint32_t seen = wakes_.load(std::memory_order_acquire);
            // Cleared like a driver's buffers, for renderers that mix into them.
            std::fill(left_.begin(), left_.end(), 0.0f);
            std::fill(right_.begin(), right_.end(), 0.0f);
            if (render_ == nullptr || !render_(context_, left_.data(), right_.data(), period_)) {
                wakes_.wait(seen, std::memory_order_acquire);
                origin = NowNs();
                frames = 0;
                continue;
            }
            frames += period_;
            const std::int64_t deadline = origin + framesToNs(frames);
            const std::int64_t now = NowNs();
            if (now - deadline > maxLagNs) {
                origin = now;
                frames = 0;
                continue;
            }
            SleepUntilNs(deadline);
        }
    }

    std::int64_t framesToNs(std::int64_t frames) const {
        return frames / rate_ * kNsPerSecond + frames % rate_ * kNsPerSecond / rate_;
    }
    std::int64_t periodNs() const { return framesToNs(period_); }

    const int rate_;
    const int period_;
    const AudioRenderFn render_;
    void* const context_;
    std::vector<float> left_;
    std::vector<float> right_;
    std::atomic<bool> running_{true};
    std::atomic<std::uint32_t> wakes_{0};
    std::mutex stopMutex_;
    std::thread thread_;
};

} // namespace

std::unique_ptr<AudioOutput> MakeSilentAudioOutput(int sampleRate, AudioRenderFn render, void* context,
                                                   int periodFrames) {
    return std::make_unique<SilentAudioOutput>(sampleRate, render, context, periodFrames);
}

} // namespace qorn::platform
