// Loads a MIDI file of 1,000,000 notes and prints the load time and the
// memory the loaded piece keeps per event. Prints figures only.
#include "platform/formats/smf/StandardMidiFile.h"
#include "tests/support/MidiWriter.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using qorn::testing::Bytes;

// `tracks` tracks on their own channels, notes of varied length written
// with running status, a tempo change every bar in the first track.
Bytes MillionNoteFile(int format, int tracks) {
    constexpr int kNotes = 1'000'000;
    const int perTrack = kNotes / tracks;
    Bytes file = qorn::testing::HeaderChunk(format, tracks, 480);
    for (int t = 0; t < tracks; ++t) {
        qorn::testing::TrackWriter w;
        const int channel = t % 16;
        w.event(0, {static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(t % 128)});
        for (int n = 0; n < perTrack; ++n) {
            const auto key = static_cast<std::uint8_t>(36 + (n * 7 + t * 5) % 60);
            const std::uint32_t length = 60 + static_cast<std::uint32_t>((n * 13) % 5) * 60;
            if (t == 0 && n % 8 == 0) w.tempo(0, 400000 + static_cast<std::uint32_t>(n % 100) * 1000);
            w.noteOn(0, channel, key, 90);
            w.event(length, {key, 0}); // running-status note-off
        }
        w.endOfTrack();
        const Bytes chunk = qorn::testing::Chunk("MTrk", w.bytes());
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}

// CPU time of this process: wall time on a busy shared machine says little.
double CpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void Measure(const char* name, const Bytes& file) {
    const auto path = std::filesystem::temp_directory_path() / "qorn-bench-million-notes.mid";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    double best = 1e9, bestWithRead = 1e9, bestCpu = 1e9;
    std::size_t events = 0, bytesKept = 0;
    long heapKept = 0;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), {});
        const auto read = std::chrono::steady_clock::now();
        const auto before = mallinfo2().uordblks;
        const double cpuStart = CpuMilliseconds();
        qorn::music::Sequence seq;
        const bool ok = qorn::formats::ReadStandardMidiFile(bytes, seq);
        const auto end = std::chrono::steady_clock::now();
        bestCpu = std::min(bestCpu, CpuMilliseconds() - cpuStart);
        if (!ok) {
            std::printf("%s: load failed\n", name);
            return;
        }
        heapKept = static_cast<long>(mallinfo2().uordblks) - static_cast<long>(before);
        best = std::min(best, std::chrono::duration<double, std::milli>(end - read).count());
        bestWithRead = std::min(bestWithRead, std::chrono::duration<double, std::milli>(end - start).count());
        events = seq.events.size() + seq.tempos.size() + seq.sysex.size();
        bytesKept = seq.events.capacity() * sizeof(qorn::music::SeqEvent) +
                    seq.tempos.capacity() * sizeof(qorn::music::TempoChange) +
                    seq.sysex.capacity() * sizeof(qorn::music::SysExEvent) + seq.sysexBytes.capacity();
    }
    std::filesystem::remove(path);
    std::printf("%s: file %.1f MB, %zu events\n", name, double(file.size()) / 1e6, events);
    std::printf("  load (parse only, best of 5):   %7.1f ms   (target < 250 ms)\n", best);
    std::printf("  load (parse only, CPU time):     %7.1f ms\n", bestCpu);
    std::printf("  load (read file + parse):       %7.1f ms\n", bestWithRead);
    std::printf("  vectors kept: %.2f bytes/event; heap kept (mallinfo2): %.2f bytes/event   (target < 16)\n",
                double(bytesKept) / double(events), double(heapKept) / double(events));
}

} // namespace

int main() {
    Measure("format 1, 16 tracks", MillionNoteFile(1, 16));
    Measure("format 0, 1 track", MillionNoteFile(0, 1));
    return 0;
}
