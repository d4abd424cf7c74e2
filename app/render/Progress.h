// How far a render has come, shown on stderr while it runs: on a terminal
// as one line that updates in place, or, in the processes of a batch, as
// short lines the batch reads to draw every file's line itself.
#pragma once

#include "platform/music/Sequence.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace qorn::render {

// Seconds a play of `sequence` lasts, the loop region played `repeats`
// more times, at `tempoFactor` times its tempo.
double PlaySeconds(const music::Sequence& sequence, std::uint32_t repeats, double tempoFactor);

// "name  45%  0:12  38.2x real time"
std::string FormatProgress(const std::string& name, double fraction, double elapsed, double audioSeconds);

// The marker that starts a progress report in a batch process's stderr:
// "\x01<fraction> <audio seconds>\n".
inline constexpr char kProgressMarker = '\x01';

class ProgressLine {
  public:
    enum class Mode { Off, Terminal, Pipe };
    ProgressLine(Mode mode, std::string name, double expectedSeconds);
    // `audioSeconds` rendered so far; shown at most a few times a second.
    void update(double audioSeconds);
    // Ends the line on a terminal.
    void finish(bool succeeded);

  private:
    void show(double audioSeconds);

    Mode mode_;
    std::string name_;
    double expected_;
    double audio_ = 0.0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastShown_;
    bool shown_ = false;
};

} // namespace qorn::render
