#include "app/render/MidiExport.h"

#include "platform/performance/MidiSink.h"
#include "platform/performance/SequencePlayer.h"

#include <algorithm>
#include <cmath>

namespace qorn::render {

namespace {

constexpr std::uint32_t kDefaultTempo = 500000;

// Keeps what the player sends, at the whole tick of the play it is at.
class TickRecorder : public platform::MidiSink {
  public:
    explicit TickRecorder(music::Sequence& out) : out_(out) {}
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
        out_.events.push_back({tick, status, data1, data2, 0});
    }
    void sysEx(const std::uint8_t* data, std::size_t length) override {
        const auto offset = static_cast<std::uint32_t>(out_.sysexBytes.size());
        out_.sysexBytes.insert(out_.sysexBytes.end(), data, data + length);
        out_.sysex.push_back({tick, offset, static_cast<std::uint32_t>(length), 0});
    }
    std::uint32_t tick = 0;

  private:
    music::Sequence& out_;
};

std::uint32_t TempoAt(const std::vector<music::TempoChange>& tempos, double tick) {
    const auto it = std::upper_bound(tempos.begin(), tempos.end(), tick,
                                     [](double t, const music::TempoChange& c) { return t < double(c.tick); });
    return it == tempos.begin() ? kDefaultTempo : std::prev(it)->microsecondsPerQuarter;
}

} // namespace

music::Sequence UnrollPlay(const std::shared_ptr<const music::Sequence>& sequence, std::uint32_t repeats,
                           double tempoFactor, formats::Diagnostics* warnings, double maxSeconds) {
    music::Sequence out;
    if (!sequence) return out;
    const music::Sequence& in = *sequence;
    out.ticksPerQuarter = std::max<std::uint32_t>(in.ticksPerQuarter, 1);
    if (warnings != nullptr) {
        if (std::any_of(in.patches.begin(), in.patches.end(), [](const music::PatchSelect& p) {
                return p.group == 0 && p.collection != music::PatchSelect::kNoCollection;
            }))
            warnings->push_back("the piece plays DLS instruments, which a MIDI file cannot carry: their bank and "
                                "program numbers are kept");
        if (std::any_of(in.patches.begin(), in.patches.end(), [](const music::PatchSelect& p) {
                return p.group == 0 && p.drums && p.channel != music::kDrumChannel;
            }))
            warnings->push_back("the piece plays drum kits on channels other than 10, where General MIDI players "
                                "play melodic instruments");
        if (std::any_of(in.waves.begin(), in.waves.end(), [](const music::WaveItem& w) { return w.group == 0; }))
            warnings->push_back("the piece plays waves, which a MIDI file cannot carry: they are left out");
    }

    // The same piece with one tempo at which a tick lasts `unit` microseconds,
    // so the player's clock counts whole ticks.
    const double unit = out.ticksPerQuarter <= 4294 ? 1e6 : std::floor(4.29e9 / out.ticksPerQuarter);
    auto timed = std::make_shared<music::Sequence>(in);
    timed->tempos = {{0, static_cast<std::uint32_t>(unit * out.ticksPerQuarter)}};
    timed->waves.clear();

    // Ticks where something happens; the clock stops at each. What lies
    // past the end is sent at the end.
    std::vector<std::uint32_t> stops;
    stops.reserve(in.events.size() + in.patches.size() + in.sysex.size() + in.tempos.size() + 2);
    for (const auto& e : in.events)
        stops.push_back(e.tick);
    for (const auto& p : in.patches)
        stops.push_back(p.tick);
    for (const auto& s : in.sysex)
        stops.push_back(s.tick);
    for (const auto& t : in.tempos)
        stops.push_back(t.tick);
    for (const auto& m : in.markers)
        stops.push_back(m.tick);
    stops.push_back(in.loopEndTicks);
    for (std::uint32_t& tick : stops)
        tick = std::min(tick, in.lengthTicks);
    stops.push_back(in.lengthTicks);
    std::sort(stops.begin(), stops.end());
    stops.erase(std::unique(stops.begin(), stops.end()), stops.end());

    const double factor = std::isfinite(tempoFactor) && tempoFactor > 0 ? std::clamp(tempoFactor, 0.01, 100.0) : 1.0;
    platform::SequencePlayer player(timed, repeats == platform::kRepeatForever ? 1 : repeats);
    TickRecorder recorder(out);
    std::uint32_t tempo = 0;
    auto noteTempo = [&] {
        const auto us = static_cast<std::uint32_t>(std::lround(TempoAt(in.tempos, player.positionTicks()) / factor));
        if (us == tempo) return;
        tempo = us;
        if (!out.tempos.empty() && out.tempos.back().tick == recorder.tick)
            out.tempos.back().microsecondsPerQuarter = us;
        else
            out.tempos.push_back({recorder.tick, us});
    };
    player.advance(0, recorder);
    noteTempo();
    // Markers in (from, to] of the piece's ticks, at the recorder's tick.
    auto markers = [&](double from, double to, bool fromStart) {
        for (const auto& m : in.markers)
            if ((fromStart ? m.tick >= from : m.tick > from + 1e-6) && m.tick <= to + 1e-6)
                out.markers.push_back({recorder.tick, m.text});
    };
    markers(0, 0, true);
    // Seconds of the real play so far: a step never crosses a tempo change.
    double played = 0.0;
    while (!player.finished()) {
        const double pos = player.positionTicks();
        auto next = std::upper_bound(stops.begin(), stops.end(), static_cast<std::uint32_t>(pos + 1e-6));
        double step = next == stops.end() ? 1.0 : std::max(double(*next) - pos, 1e-3);
        const double secondsPerTick = tempo / 1e6 / out.ticksPerQuarter;
        const bool cut = played + step * secondsPerTick >= maxSeconds;
        if (cut) step = std::max(maxSeconds - played, 0.0) / secondsPerTick;
        // Messages sent during this step fall on its end, or on a joint it crosses.
        recorder.tick =
            static_cast<std::uint32_t>(std::llround((player.elapsedSeconds() + step * unit / 1e6) * 1e6 / unit));
        player.advance(step * unit / 1e6, recorder);
        const double now = player.positionTicks();
        if (now + 1e-6 >= pos) {
            markers(pos, now, false);
        } else { // the loop went back
            markers(pos, in.loopEndTicks ? in.loopEndTicks - 1 : in.lengthTicks, false);
            markers(in.loopStartTicks, now, true);
        }
        played += step * secondsPerTick;
        if (cut) {
            player.stop(recorder);
            break;
        }
        noteTempo();
    }
    out.lengthTicks = recorder.tick;
    return out;
}

} // namespace qorn::render
