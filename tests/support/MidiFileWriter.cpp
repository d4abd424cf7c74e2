#include "tests/support/MidiFileWriter.h"

#include "tests/support/MidiWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace qorn::test {
namespace {

struct Timed {
    std::uint32_t tick;
    int order; // note-offs before note-ons of the same tick
    std::vector<std::uint8_t> bytes;
};

} // namespace

std::vector<std::uint8_t> BuildMidiFile(const TestPiece& piece) {
    std::vector<Timed> events;
    const std::uint32_t t = piece.microsecondsPerQuarter;
    events.push_back({0, 0, {0xFF, 0x51, 0x03, std::uint8_t(t >> 16), std::uint8_t(t >> 8), std::uint8_t(t)}});
    std::uint16_t channels = 0;
    std::uint32_t last = 0;
    for (const auto& n : piece.notes) {
        channels = std::uint16_t(channels | (1u << n.channel));
        events.push_back({n.tick, 2, {std::uint8_t(0x90 | n.channel), n.key, n.velocity}});
        events.push_back({n.tick + n.length, 1, {std::uint8_t(0x80 | n.channel), n.key, 0}});
        last = std::max(last, n.tick + n.length);
    }
    for (int ch = 0; ch < 16; ++ch)
        if (channels & (1u << ch)) events.push_back({0, 0, {std::uint8_t(0xC0 | ch), piece.program}});
    std::stable_sort(events.begin(), events.end(), [](const Timed& a, const Timed& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    testing::Bytes track;
    std::uint32_t now = 0;
    for (const auto& e : events) {
        testing::AppendVarLen(track, e.tick - now);
        now = e.tick;
        track.insert(track.end(), e.bytes.begin(), e.bytes.end());
    }
    const std::uint32_t end = std::max(piece.endTick, last);
    testing::AppendVarLen(track, end - now);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});
    return testing::Concat({testing::HeaderChunk(0, 1, piece.ticksPerQuarter), testing::Chunk("MTrk", track)});
}

namespace {

// One folder per process, removed when the process ends.
class TempFolder {
  public:
    TempFolder() {
        const char* tmp = std::getenv("TMPDIR");
        path_ =
            std::filesystem::path(tmp != nullptr ? tmp : "/tmp") / ("qorn-realplatform-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace

std::string WriteTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    static TempFolder folder;
    const std::filesystem::path& dir = folder.path();
    const std::filesystem::path path = dir / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

} // namespace qorn::test
