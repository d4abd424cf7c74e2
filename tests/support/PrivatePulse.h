// A private PulseAudio server with one null sink, and a recorder of that
// sink's monitor that notes when each stretch of sound arrived, so what the
// user would hear can be set against the moment of a click. Shared by the
// desktop benchmark and the sound-server fault tests.
#pragma once

#include "tests/support/ChildProcess.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorn::testing {

using Clock = std::chrono::steady_clock;

class PrivatePulse {
  public:
    PrivatePulse();
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;
    bool Running() const { return ready_; }
    std::string Server() const { return "unix:" + dir_ + "/native"; }
    // The server's process, for measuring it.
    pid_t Pid() const { return server_.pid(); }
    // The server dies at once, as by a crash.
    void Kill();
    // A new server on the same socket, as after a restart of the user's;
    // false when it does not come up.
    bool Start();
    static constexpr const char* Sink = "qornsink";
    static constexpr int Rate = 44100;

  private:
    std::string dir_;
    ChildProcess server_;
    bool ready_ = false;
};

// One stretch of recorded sound.
struct Block {
    double start; // seconds on the steady clock (since the recorder began)
    float peak;
    bool gap; // a run of digital silence inside: the server ran dry
};

class Recorder {
  public:
    static constexpr int BlockFrames = 128;
    explicit Recorder(const std::string& server);
    ~Recorder();
    bool Running() const { return running_; }
    // Seconds since the recorder began, for marking actions.
    double Now() const;
    std::vector<Block> Blocks() const;
    // Blocks from `from` seconds on, as they come; waits up to `limit`.
    bool WaitUntil(double seconds) const;

  private:
    void Run(void* stream);
    Clock::time_point origin_ = Clock::now();
    std::atomic<bool> running_ = false;
    std::atomic<bool> stop_ = false;
    mutable std::mutex mutex_;
    std::vector<Block> blocks_;
    std::thread thread_;
};

} // namespace qorn::testing
