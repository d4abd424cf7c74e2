// The hand-over between the GUI thread and the real-time thread of one port
// (the synthesizer's audio callback or an external port's timing thread):
// commands go one way through a lock-free queue, finished players come back
// through a second one to be freed on the GUI thread, and the play state is
// published through atomics. Nothing here blocks or allocates on the
// real-time side.
#pragma once

#include "platform/performance/MidiSink.h"
#include "platform/performance/SequencePlayer.h"
#include "platform/performance/SpscQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace qorn::platform {

// Settings of the port itself that the real-time side applies (the
// synthesizer's gain); ports without such settings ignore them.
class PortControls {
  public:
    virtual ~PortControls() = default;
    virtual void setGain(float linearGain) = 0;
    // A new play is about to send its first message (the last one is silenced).
    virtual void playStarting() {}
    // GUI thread, after a command was queued: a real-time side that rests
    // (its output paused) must run again to take it.
    virtual void wake() {}
};

class PortPlayback {
  public:
    PortPlayback() = default;
    PortPlayback(const PortPlayback&) = delete;
    PortPlayback& operator=(const PortPlayback&) = delete;
    ~PortPlayback();

    // --- GUI thread ---
    // Starts `player` as play number `id` (ids only grow), replacing and
    // silencing whatever this port played.
    void start(std::unique_ptr<SequencePlayer> player, std::uint64_t id);
    // Stops play `id`, or whatever plays when `id` is 0.
    void stop(std::uint64_t id);
    void setMasterTempo(float factor);
    void setGain(float linearGain);
    // True from start(id) until that play ended or was stopped. A play the
    // real-time side took counts as playing at least until first asked
    // about: a piece that ends at once was still seen to start.
    bool isPlaying(std::uint64_t id) const;
    // Whether the real-time side runs. While it does not, nothing starts
    // (a play on a port that is not running ends at once).
    void setRunning(bool running) { running_ = running; }
    // Where gain changes go while the real-time side does not run.
    void setControls(PortControls* controls) { controls_ = controls; }
    // After the real-time side stopped: applies what it left in the queue
    // and silences what played, on the calling thread.
    void drain(MidiSink& sink, PortControls* controls);
    // Frees players the real-time side has let go of.
    void collectGarbage();
    // Ends a waitForCommands() (also done for every command queued).
    void wakeRealTime();
    // When the real-time side is not running (port inactive, or rendering
    // offline on the caller's thread), the caller drives it itself: then it
    // may call the real-time functions below from the GUI thread.

    // --- real-time thread ---
    // Applies the queued commands; silencing goes to `sink`.
    void applyCommands(MidiSink& sink, PortControls* controls);
    // Moves the current play forward by `seconds`, sending what is due.
    void advance(double seconds, MidiSink& sink);
    // Whether a play is running (real-time side's view).
    bool active() const { return current_ != nullptr; }
    // Whether advance(seconds) now would send nothing and change nothing
    // but the play's clock.
    bool quietFor(double seconds) const {
        return current_ == nullptr || (!fresh_ && !current_->finished() && seconds < current_->quietSeconds());
    }
    // The play running now, or null (real-time side's view).
    SequencePlayer* current() const { return current_; }
    // Stops the current play at once (port going away).
    void stopNow(MidiSink& sink);
    // For a real-time side with nothing to play: read posted() before
    // applyCommands(), then waitForCommands() with that value sleeps until
    // a command comes that applyCommands() did not see yet.
    std::uint32_t posted() const { return posted_.load(std::memory_order_acquire); }
    void waitForCommands(std::uint32_t seen) const { posted_.wait(seen, std::memory_order_acquire); }

  private:
    struct Command {
        enum Kind : std::uint8_t { Start, Stop, Tempo, Gain } kind = Stop;
        SequencePlayer* player = nullptr;
        std::uint64_t id = 0;
        float value = 0.0f;
    };
    bool send(const Command& c);
    void retire(MidiSink& sink);

    SpscQueue<Command, 256> commands_;
    SpscQueue<SequencePlayer*, 256> garbage_;
    std::uint64_t lastSent_ = 0;       // GUI side
    bool running_ = false;             // GUI side
    mutable bool startUnseen_ = false; // GUI side
    PortControls* controls_ = nullptr;
    std::atomic<std::uint64_t> finishedId_{0};
    std::atomic<std::uint32_t> posted_{0};
    // Real-time side.
    SequencePlayer* current_ = nullptr;
    std::uint64_t currentId_ = 0;
    float masterTempo_ = 1.0f;
    // A play just started begins at its own time zero, whatever the step.
    bool fresh_ = false;
};

} // namespace qorn::platform
