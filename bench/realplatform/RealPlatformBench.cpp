// Figures of the real music platform, printed side by side:
//  - engine start-up (Initialize) with the default SoundFont;
//  - offline rendering speed of a dense General MIDI piece at 44100 Hz with
//    effects, against FluidSynth's own file renderer on the same file;
//  - timing: how far after its due frame each event reaches the synthesizer.
#include "app/render/OfflineSession.h"
#include "engine/TDMusicEngine.h"
#include "platform/MusicPlatform.h"
#include "platform/alsa/AlsaPort.h"
#include "platform/formats/smf/StandardMidiFile.h"
#include "platform/loader/Loader.h"
#include "platform/loader/Segment.h"
#include "platform/performance/Performance.h"
#include "platform/synth/SynthConfig.h"
#include "platform/synth/SynthPort.h"

#include "tests/support/MidiFileWriter.h"
#include "tests/support/MidiWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// 16 channels of chords and runs for `seconds` at 120 bpm: many voices at once.
qorn::test::TestPiece densePiece(int seconds) {
    qorn::test::TestPiece p;
    std::mt19937 rng(7);
    const std::uint32_t eighth = 240;
    const std::uint32_t steps = std::uint32_t(seconds) * 4;
    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        for (std::uint32_t s = 0; s < steps; ++s) {
            const std::uint32_t tick = s * eighth;
            if (ch == 9) {
                p.notes.push_back({tick, 60, std::uint8_t(36 + rng() % 12), 110, ch});
                continue;
            }
            const int chord = (s % 4 == 0) ? 3 : 1;
            for (int k = 0; k < chord; ++k)
                p.notes.push_back({tick, eighth * (s % 4 == 0 ? 4 : 1),
                                   std::uint8_t(40 + (ch * 3 + k * 4 + int(rng() % 7)) % 48), 90, ch});
        }
    }
    p.endTick = steps * eighth;
    return p;
}

void benchInitialize() {
    std::printf("== Engine Initialize with %s\n", qorn::platform::SoundFontPath().c_str());
    qorn::platform::RegisterMusicPlatform();
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        DMEngine = TDMusicEngine{};
        const auto t0 = Clock::now();
        const bool ok = DMEngine.Initialize();
        times.push_back(msSince(t0));
        if (!ok) std::printf("   Initialize failed: %s\n", DMEngine.LastError);
        DMEngine.Shutdown();
    }
    std::printf("   runs (ms):");
    for (double t : times)
        std::printf(" %.1f", t);
    std::sort(times.begin(), times.end());
    std::printf("\n   median %.1f ms (target < 150 ms)\n", times[times.size() / 2]);
}

double childCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds the command used: steadier than wall time on a shared machine.
double runCpuSeconds(const std::string& command) {
    const double before = childCpuSeconds();
    const int rc = std::system(command.c_str());
    if (rc != 0) std::printf("   command failed (%d): %s\n", rc, command.c_str());
    return childCpuSeconds() - before;
}

void benchRenderSpeed(const std::string& renderTool) {
    std::printf("== Rendering a dense GM piece at 44100 Hz with effects\n");
    const std::string mid = qorn::test::WriteTempFile("dense.mid", qorn::test::BuildMidiFile(densePiece(60)));
    const std::string font = qorn::platform::SoundFontPath();

    // In process: the platform stack only.
    std::string error;
    auto session = qorn::render::OfflineSession::Create(44100, true, &error);
    if (!session || !session->load(mid, &error)) {
        std::printf("   cannot render: %s\n", error.c_str());
        return;
    }
    session->play();
    auto t0 = Clock::now();
    const auto audio = qorn::render::RenderToEnd(*session, 0.0);
    const double ours = msSince(t0) / 1000.0;
    const double music = double(audio.musicFrames) / 44100.0;
    std::printf("   in process: %.1f s of music in %.3f s of wall time (%.0fx real time)\n", music, ours, music / ours);

    // Whole programs, file to file, same SoundFont, rate, voices and sample loading.
    const std::string ourCmd =
        renderTool + " --threads 1 --rate 44100 \"" + mid + "\" /tmp/qorn-bench-ours.wav > /dev/null";
    const std::string fluidCmd = "fluidsynth -q -F /tmp/qorn-bench-fluid.wav -r 44100 -o synth.polyphony=128 "
                                 "-o synth.dynamic-sample-loading=1 -o synth.lock-memory=0 -i \"" +
                                 font + "\" \"" + mid + "\" > /dev/null 2>&1";
    double bestOurs = 1e9;
    double bestFluid = 1e9;
    for (int i = 0; i < 3; ++i) {
        bestOurs = std::min(bestOurs, runCpuSeconds(ourCmd));
        bestFluid = std::min(bestFluid, runCpuSeconds(fluidCmd));
    }
    // qorn-render also renders the reverb tail after the piece ends; compare
    // by rendered audio per second of wall time.
    auto wavSeconds = [](const char* path) {
        std::FILE* f = std::fopen(path, "rb");
        if (f == nullptr) return 0.0;
        std::fseek(f, 0, SEEK_END);
        const long bytes = std::ftell(f);
        std::fclose(f);
        return double(bytes - 44) / (44100.0 * 4);
    };
    const double oursAudio = wavSeconds("/tmp/qorn-bench-ours.wav");
    const double fluidAudio = wavSeconds("/tmp/qorn-bench-fluid.wav");
    const double oursSpeed = oursAudio / bestOurs;
    const double fluidSpeed = fluidAudio / bestFluid;
    std::printf("   qorn-render: %.1f s of audio in %.3f s of CPU = %.1fx real time\n", oursAudio, bestOurs, oursSpeed);
    std::printf("   fluidsynth -F: %.1f s of audio in %.3f s of CPU = %.1fx real time\n", fluidAudio, bestFluid,
                fluidSpeed);
    std::printf("   speed ratio qorn/fluidsynth: %.2f (target >= 0.95)\n", oursSpeed / fluidSpeed);
}

struct Probe {
    std::vector<std::uint64_t> noteOnFrames;
    static void record(void* self, std::uint64_t frame, std::uint8_t status, std::uint8_t /*key*/) {
        // The vector was reserved: no allocation on this path.
        auto* p = static_cast<Probe*>(self);
        if ((status & 0xF0) == 0x90 && p->noteOnFrames.size() < p->noteOnFrames.capacity())
            p->noteOnFrames.push_back(frame);
    }
};

void benchTiming() {
    std::printf("== Timing on the synthesizer (44100 Hz): due frame to effect frame\n");
    // Notes at irregular times and a tempo change, so due times fall anywhere in a block.
    qorn::test::TestPiece piece;
    piece.microsecondsPerQuarter = 437'123;
    std::mt19937 rng(11);
    std::uint32_t tick = 0;
    for (int i = 0; i < 2000; ++i) {
        tick += 1 + rng() % 37;
        piece.notes.push_back({tick, 20, std::uint8_t(48 + rng() % 24), 80, std::uint8_t(i % 8)});
    }
    const auto bytes = qorn::test::BuildMidiFile(piece);
    const std::string mid = qorn::test::WriteTempFile("timing.mid", bytes);
    qorn::music::Sequence seq;
    qorn::formats::ReadStandardMidiFile(bytes, seq);
    std::vector<double> due;
    for (const auto& e : seq.events)
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0) {
            // One tempo throughout this piece.
            const double us = seq.tempos.empty() ? 500000.0 : double(seq.tempos[0].microsecondsPerQuarter);
            due.push_back(double(e.tick) * us / seq.ticksPerQuarter / 1e6);
        }

    std::string error;
    auto session = qorn::render::OfflineSession::Create(44100, true, &error);
    if (!session || !session->load(mid, &error)) {
        std::printf("   cannot render: %s\n", error.c_str());
        return;
    }
    Probe probe;
    probe.noteOnFrames.reserve(due.size());
    session->port().setEventProbe(&Probe::record, &probe);
    const std::uint64_t start = session->port().framesRendered();
    session->play();
    qorn::render::RenderToEnd(*session, 0.0);
    session->port().setEventProbe(nullptr, nullptr);
    if (probe.noteOnFrames.size() != due.size()) {
        std::printf("   %zu note-ons expected, %zu arrived\n", due.size(), probe.noteOnFrames.size());
        return;
    }
    double worst = 0.0;
    double early = 0.0;
    for (std::size_t i = 0; i < due.size(); ++i) {
        const double gap = double(probe.noteOnFrames[i] - start) - due[i] * 44100.0;
        worst = std::max(worst, gap);
        early = std::min(early, gap);
    }
    std::printf("   %zu note-ons: largest delay %.4f frames, earliest %.4f frames (target: 0..64)\n", due.size(), worst,
                early);
}

// Starting a piece makes its instruments' samples resident first (on the GUI
// thread): the cost of a piece that uses every General MIDI instrument.
void benchAutoDownload() {
    std::printf("== Start of a piece using all 128 GM instruments and the drum kits (auto-download)\n");
    // Every program on channel 1 in turn, then every drum on channel 10.
    qorn::testing::TrackWriter track;
    for (int program = 0; program < 128; ++program)
        track.event(0, {0xC0, static_cast<std::uint8_t>(program)}).noteOn(0, 0, 60).noteOff(48, 0, 60);
    for (int drum = 35; drum <= 81; ++drum)
        track.noteOn(0, 9, drum).noteOff(48, 9, drum);
    const std::string file =
        qorn::test::WriteTempFile("all-gm-sounds.mid", qorn::testing::MidiFile(0, 96, {track.endOfTrack()}));
    std::string error;
    auto session = qorn::render::OfflineSession::Create(22050, true, &error);
    if (!session || !session->load(file, &error)) {
        std::printf("   skipped: %s\n", error.c_str());
        return;
    }
    auto t0 = Clock::now();
    session->play();
    std::printf("   first start: %.1f ms\n", msSince(t0));
    session->stop();
    t0 = Clock::now();
    session->play();
    std::printf("   second start: %.1f ms\n", msSince(t0));
}

class StampingOutput : public qorn::platform::AlsaOutput {
  public:
    explicit StampingOutput(std::vector<Clock::time_point>& stamps) : stamps_(stamps) {}
    bool alive() const override { return true; }
    void shortMessage(std::uint8_t status, std::uint8_t, std::uint8_t data2) override {
        if ((status & 0xF0) == 0x90 && data2 > 0 && stamps_.size() < stamps_.capacity())
            stamps_.push_back(Clock::now());
    }
    void sysEx(const std::uint8_t*, std::size_t) override {}

  private:
    std::vector<Clock::time_point>& stamps_;
};

void benchExternalPortTiming() {
    using namespace qorn::platform;
    std::printf("== Timing on an external port (timing thread): due time to send time\n");
    auto seq = std::make_shared<qorn::music::Sequence>();
    seq->ticksPerQuarter = 480;
    std::mt19937 rng(5);
    std::uint32_t tick = 0;
    for (int i = 0; i < 400; ++i) {
        tick += 1 + rng() % 23; // ~12 ms apart on average
        seq->events.push_back({tick, 0x90, std::uint8_t(60 + i % 12), 90, 0});
        seq->events.push_back({tick + 5, 0x80, std::uint8_t(60 + i % 12), 0, 0});
    }
    std::stable_sort(seq->events.begin(), seq->events.end(),
                     [](const auto& a, const auto& b) { return a.tick < b.tick; });
    seq->lengthTicks = tick + 10;
    std::vector<Clock::time_point> stamps;
    stamps.reserve(400);
    auto* port = new AlsaPort(std::make_unique<StampingOutput>(stamps));
    auto* perf = new Performance();
    auto* segment = new Segment(seq);
    perf->Init(nullptr, nullptr, nullptr);
    port->Activate(TRUE);
    perf->AddPort(port);
    perf->AssignPChannelBlock(0, port, 1);
    perf->PlaySegment(segment, 0, 0, nullptr);
    while (perf->IsPlaying(segment, nullptr) == S_OK)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    perf->CloseDown();
    perf->Release();
    segment->Release();
    port->Release();
    if (stamps.size() != 400) {
        std::printf("   %zu of 400 note-ons arrived\n", stamps.size());
        return;
    }
    // Offsets against the first note: start latency cancels out.
    double lo = 0.0, hi = 0.0;
    std::size_t n = 0;
    for (const auto& e : seq->events) {
        if ((e.status & 0xF0) != 0x90) continue;
        const double due = double(e.tick - seq->events[0].tick) / 960.0;
        const double got = std::chrono::duration<double>(stamps[n] - stamps[0]).count();
        lo = std::min(lo, (got - due) * 1000.0);
        hi = std::max(hi, (got - due) * 1000.0);
        ++n;
    }
    std::printf("   400 note-ons: offsets from due time %.2f .. %.2f ms, jitter %.2f ms (target <= 2 ms)\n", lo, hi,
                hi - lo);
}

} // namespace

int main(int argc, char** argv) {
    const std::string renderTool = argc > 1 ? argv[1] : QORN_RENDER_TOOL;
    benchInitialize();
    benchRenderSpeed(renderTool);
    benchTiming();
    benchExternalPortTiming();
    benchAutoDownload();
    return 0;
}
