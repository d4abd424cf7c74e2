// Figures of qorn-render run as a program, printed without judgement (the
// machine may be shared: read ratios, not absolute times):
//  - peak memory of a dense 3-minute GM piece at 44100 Hz with effects;
//  - peak memory of a 26-minute piece of 1,000,000 notes, and of twice that;
//  - wall time of one dense piece with --threads 2 against fluidsynth -F;
//  - a batch of 8 pieces on 2 workers against the same 8 one after another;
//  - export of the 1,000,000-note piece to a MIDI file.
// Sections may be named on the command line: rss long threads batch export.
#include "tests/support/MidiFileWriter.h"

#include "platform/synth/SynthConfig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using qorn::test::TestPiece;

// 16 channels of chords and runs for `seconds` at 120 bpm: many voices at once.
TestPiece DensePiece(int seconds, unsigned seed = 7) {
    TestPiece p;
    std::mt19937 rng(seed);
    const std::uint32_t eighth = 240;
    const std::uint32_t steps = std::uint32_t(seconds) * 4;
    for (std::uint8_t ch = 0; ch < 16; ++ch)
        for (std::uint32_t s = 0; s < steps; ++s) {
            const int chord = ch == 9 ? 1 : (s % 4 == 0 ? 3 : 1);
            for (int k = 0; k < chord; ++k)
                p.notes.push_back(
                    {s * eighth, ch == 9 ? 60 : eighth * (s % 4 == 0 ? 4 : 1),
                     std::uint8_t(ch == 9 ? 36 + rng() % 12 : 40 + (ch * 3 + k * 4 + int(rng() % 7)) % 48), 90, ch});
        }
    p.endTick = steps * eighth;
    return p;
}

// `notes` short notes spread evenly over `minutes`, on 16 channels.
TestPiece ManyNotes(int minutes, std::size_t notes) {
    TestPiece p;
    const std::uint64_t ticks = std::uint64_t(minutes) * 60 * 2 * 480;
    p.notes.reserve(notes);
    for (std::size_t i = 0; i < notes; ++i) {
        const auto tick = static_cast<std::uint32_t>(ticks * i / notes);
        p.notes.push_back({tick, 60, std::uint8_t(36 + i % 60), 80, std::uint8_t(i % 16)});
    }
    p.endTick = static_cast<std::uint32_t>(ticks);
    return p;
}

struct Result {
    double seconds = 0.0;
    double peakMiB = 0.0;
    int status = -1;
};

// Runs a command line in a shell of its own; wall time and its peak memory.
Result Run(const std::string& command) {
    Result r;
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.peakMiB = double(usage.ru_maxrss) / 1024.0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r.status != 0) std::printf("   command failed (%d): %s\n", r.status, command.c_str());
    return r;
}

// Writes a generated piece from a process of its own: the memory it takes
// to build stays out of this process, whose children's peaks are measured
// (a forked child starts with its parent's pages).
template <typename Build> std::string Generate(const std::string& name, Build build) {
    const std::string dir = "/tmp/qorn-bench-render";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + name;
    const pid_t pid = fork();
    if (pid == 0) {
        const std::vector<std::uint8_t> bytes = qorn::test::BuildMidiFile(build());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return path;
}

std::string Tool() {
    return QORN_RENDER_TOOL;
}

void BenchRss() {
    std::printf("== Peak memory, dense 3-minute GM piece, 44100 Hz, effects\n");
    const std::string mid = Generate("dense3.mid", [] { return DensePiece(180); });
    const Result r = Run(Tool() + " -q --threads 1 --rate 44100 '" + mid + "' /tmp/qorn-bench-dense3.wav");
    std::printf("   %.1f MiB peak in %.1f s (target <= 80 MiB)\n", r.peakMiB, r.seconds);
    std::remove("/tmp/qorn-bench-dense3.wav");
}

void BenchLong() {
    std::printf("== Peak memory, 1,000,000 notes over 26 minutes, 22050 Hz, effects\n");
    const std::string one = Generate("many1.mid", [] { return ManyNotes(26, 1'000'000); });
    const std::string two = Generate("many2.mid", [] { return ManyNotes(52, 2'000'000); });
    struct Case {
        const char* what;
        std::string args;
    } cases[] = {{"26 minutes, 1,000,000 notes", "'" + one + "'"},
                 {"52 minutes, the same piece played twice", "--repeats 1 '" + one + "'"},
                 {"52 minutes, 2,000,000 notes", "'" + two + "'"}};
    for (const Case& c : cases) {
        const Result r = Run(Tool() + " -q --threads 1 " + c.args + " /tmp/qorn-bench-long.flac");
        std::printf("   %s: %.1f MiB peak in %.1f s (target <= 120 MiB)\n", c.what, r.peakMiB, r.seconds);
        std::fflush(stdout);
        std::remove("/tmp/qorn-bench-long.flac");
    }
}

void BenchThreads() {
    std::printf("== Wall time, dense 60-second piece, 44100 Hz, effects, 128 voices\n");
    const std::string mid = Generate("dense1.mid", [] { return DensePiece(60); });
    const std::string font = qorn::platform::SoundFontPath();
    const Result fluid = Run("fluidsynth -q -F /tmp/qorn-bench-fluid.wav -r 44100 -o synth.polyphony=128 "
                             "-o synth.dynamic-sample-loading=1 -i '" +
                             font + "' '" + mid + "' > /dev/null 2>&1");
    const Result one = Run(Tool() + " -q --threads 1 --rate 44100 '" + mid + "' /tmp/qorn-bench-ours.wav");
    const Result two = Run(Tool() + " -q --threads 2 --rate 44100 '" + mid + "' /tmp/qorn-bench-ours.wav");
    std::printf("   fluidsynth -F %.2f s, qorn-render --threads 1 %.2f s, --threads 2 %.2f s\n", fluid.seconds,
                one.seconds, two.seconds);
    std::printf("   fluidsynth / --threads 2: %.2fx (target >= 1.5x)\n", fluid.seconds / two.seconds);
    std::remove("/tmp/qorn-bench-fluid.wav");
    std::remove("/tmp/qorn-bench-ours.wav");
}

void BenchBatch() {
    std::printf("== Batch of 8 dense 20-second pieces, 22050 Hz\n");
    std::string inputs;
    for (unsigned i = 0; i < 8; ++i)
        inputs += " '" + Generate("batch" + std::to_string(i) + ".mid", [i] { return DensePiece(20, 100 + i); }) + "'";
    const Result serial = Run(Tool() + " -q -j 1 -o /tmp/qorn-bench-batch" + inputs);
    const Result parallel = Run(Tool() + " -q -j 2 -o /tmp/qorn-bench-batch" + inputs);
    std::printf("   one after another %.2f s, -j 2 %.2f s: %.2fx (target >= 1.8x on 2 cores)\n", serial.seconds,
                parallel.seconds, serial.seconds / parallel.seconds);
    std::system("rm -rf /tmp/qorn-bench-batch");
}

void BenchExport() {
    std::printf("== Export of 1,000,000 notes to a MIDI file\n");
    std::fflush(stdout);
    const std::string mid = Generate("many-export.mid", [] { return ManyNotes(26, 1'000'000); });
    const Result r = Run(Tool() + " -q '" + mid + "' /tmp/qorn-bench-export.mid");
    std::printf("   %.2f s, %.1f MiB peak (target < 2 s)\n", r.seconds, r.peakMiB);
    std::remove("/tmp/qorn-bench-export.mid");
}

} // namespace

int main(int argc, char** argv) {
    std::set<std::string> only(argv + 1, argv + argc);
    auto want = [&](const char* name) { return only.empty() || only.count(name) > 0; };
    if (want("rss")) BenchRss();
    if (want("long")) BenchLong();
    if (want("threads")) BenchThreads();
    if (want("batch")) BenchBatch();
    if (want("export")) BenchExport();
    std::filesystem::remove_all("/tmp/qorn-bench-render");
    return 0;
}
