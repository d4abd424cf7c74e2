#include "app/render/Progress.h"

#include <algorithm>
#include <cstdio>

namespace qorn::render {

namespace {

constexpr std::uint32_t kDefaultTempo = 500000;
constexpr auto kShowEvery = std::chrono::milliseconds(200);

// Seconds from tick `from` to tick `to` along the tempo map.
double Span(const music::Sequence& s, std::uint32_t from, std::uint32_t to) {
    if (to <= from) return 0.0;
    const double tpq = s.ticksPerQuarter == 0 ? 1.0 : double(s.ticksPerQuarter);
    double seconds = 0.0;
    std::uint32_t at = from;
    std::uint32_t tempo = kDefaultTempo;
    for (const music::TempoChange& t : s.tempos) {
        if (t.tick > at) {
            const std::uint32_t until = std::min(t.tick, to);
            seconds += double(until - at) * tempo / tpq / 1e6;
            at = until;
            if (at >= to) return seconds;
        }
        tempo = t.microsecondsPerQuarter;
    }
    return seconds + double(to - at) * tempo / tpq / 1e6;
}

} // namespace

double PlaySeconds(const music::Sequence& s, std::uint32_t repeats, double tempoFactor) {
    // The loop region as the player takes it.
    const std::uint32_t length = s.lengthTicks;
    std::uint32_t end = s.loopEndTicks == 0 ? length : std::min(s.loopEndTicks, length);
    std::uint32_t start = s.loopStartTicks;
    if (start >= end) {
        start = 0;
        end = length;
    }
    double seconds = Span(s, 0, length);
    if (repeats > 0 && repeats != 0xFFFFFFFFu)
        seconds = Span(s, 0, end) + double(repeats - 1) * Span(s, start, end) + Span(s, start, length);
    return seconds / (tempoFactor > 0 ? tempoFactor : 1.0);
}

std::string FormatProgress(const std::string& name, double fraction, double elapsed, double audioSeconds) {
    const int secs = int(elapsed);
    const double speed = elapsed > 0.0 ? audioSeconds / elapsed : 0.0;
    char line[128];
    std::snprintf(line, sizeof line, "%4.0f%%  %d:%02d  %.1fx real time", std::clamp(fraction, 0.0, 1.0) * 100.0,
                  secs / 60, secs % 60, speed);
    return name + "  " + line;
}

ProgressLine::ProgressLine(Mode mode, std::string name, double expectedSeconds)
    : mode_(mode), name_(std::move(name)), expected_(expectedSeconds), start_(std::chrono::steady_clock::now()),
      lastShown_(start_) {}

void ProgressLine::update(double audioSeconds) {
    audio_ = audioSeconds;
    if (mode_ == Mode::Off) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown_ < kShowEvery) return;
    lastShown_ = now;
    show(audioSeconds);
}

void ProgressLine::show(double audioSeconds) {
    const double fraction = expected_ > 0.0 ? audioSeconds / expected_ : 0.0;
    if (mode_ == Mode::Pipe) {
        std::fprintf(stderr, "%c%.4f %.3f\n", kProgressMarker, fraction, audioSeconds);
        return;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\r%s\x1b[K", FormatProgress(name_, fraction, elapsed, audioSeconds).c_str());
    shown_ = true;
}

void ProgressLine::finish(bool succeeded) {
    if (mode_ == Mode::Off) return;
    if (succeeded && expected_ > 0.0) expected_ = std::min(expected_, audio_);
    show(audio_);
    if (mode_ == Mode::Terminal && shown_) std::fputc('\n', stderr);
}

} // namespace qorn::render
