// Drives a PortPlayback in real time for ports without an audio clock of
// their own (external MIDI ports, and plays on no port at all): wakes every
// millisecond on absolute deadlines and sends what is due while a piece
// plays, and sleeps while none does.
#pragma once

#include "platform/performance/MidiSink.h"
#include "platform/performance/PortPlayback.h"

#include <atomic>
#include <thread>

namespace qorn::platform {

class TimingThread {
  public:
    // `sink` and `playback` must outlive the thread.
    TimingThread(PortPlayback& playback, MidiSink& sink);
    ~TimingThread();
    TimingThread(const TimingThread&) = delete;
    TimingThread& operator=(const TimingThread&) = delete;

    // Silences what plays and ends the thread; returns once it has ended.
    void stop();

  private:
    void run();

    PortPlayback& playback_;
    MidiSink& sink_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

// A sink that drops everything: the clock of plays that reach no port.
class NullMidiSink : public MidiSink {
  public:
    void shortMessage(std::uint8_t, std::uint8_t, std::uint8_t) override {}
    void sysEx(const std::uint8_t*, std::size_t) override {}
};

} // namespace qorn::platform
