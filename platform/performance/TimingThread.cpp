#include "platform/performance/TimingThread.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <pthread.h>
#include <sched.h>

namespace qorn::platform {
namespace {

constexpr long kPeriodNs = 1'000'000;
constexpr int kRealtimePriority = 20;

double secondsBetween(const timespec& a, const timespec& b) {
    return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) * 1e-9;
}

void addNs(timespec& t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1'000'000'000) {
        t.tv_nsec -= 1'000'000'000;
        ++t.tv_sec;
    }
}

} // namespace

TimingThread::TimingThread(PortPlayback& playback, MidiSink& sink)
    : playback_(playback), sink_(sink), thread_([this] { run(); }) {}

TimingThread::~TimingThread() {
    stop();
}

void TimingThread::stop() {
    quit_.store(true, std::memory_order_release);
    playback_.wakeRealTime();
    if (thread_.joinable()) thread_.join();
}

void TimingThread::run() {
    // Real-time priority where the system grants it (root, or a user with an
    // rtprio limit): keeps the jitter of sends low on a busy machine. The
    // thread sleeps most of each millisecond, so it cannot starve others.
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    timespec last{};
    clock_gettime(CLOCK_MONOTONIC, &last);
    timespec deadline = last;
    while (!quit_.load(std::memory_order_acquire)) {
        const std::uint32_t seen = playback_.posted();
        addNs(deadline, kPeriodNs);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        // After a long stall (suspend, debugger) do not try to catch up tick by tick.
        if (secondsBetween(deadline, now) > 0.1) deadline = now;
        playback_.applyCommands(sink_, nullptr);
        playback_.advance(secondsBetween(last, now), sink_);
        // The device went away: end the piece, so the window sees it end
        // instead of waiting on music nobody hears.
        if (!sink_.alive()) playback_.stopNow(sink_);
        last = now;
        // Nothing to play: no wake-ups until a command comes.
        if (!playback_.active() && !quit_.load(std::memory_order_acquire)) {
            playback_.waitForCommands(seen);
            clock_gettime(CLOCK_MONOTONIC, &last);
            deadline = last;
        }
    }
    playback_.applyCommands(sink_, nullptr);
    playback_.stopNow(sink_);
}

} // namespace qorn::platform
