// Files the tests write: a private folder removed afterwards, and the bytes
// of Standard MIDI Files put together as strings (by MidiWriter.h).
#pragma once

#include "tests/support/MidiWriter.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace qorn::fileinfo::test {

class TempDir {
  public:
    TempDir() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("qorn-fileinfo-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes `bytes` to `name` inside the folder; returns the full path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path p = path_ / name;
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }

  private:
    std::filesystem::path path_;
};

// The bytes of tests/support/MidiWriter.h as a string.
inline std::string AsString(const testing::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline std::string U32BE(std::uint32_t v) {
    testing::Bytes out;
    testing::AppendBE(out, v, 4);
    return AsString(out);
}

// A meta event at delta time 0 (or `delta`, one byte).
inline std::string Meta(std::uint8_t type, const std::string& data, std::uint8_t delta = 0) {
    return AsString(testing::TrackWriter().meta(delta, type, data).bytes());
}

inline std::string Chunk(const std::string& id, const std::string& data) {
    return AsString(testing::Chunk(id, testing::Bytes(data.begin(), data.end())));
}

inline std::string Header(std::uint16_t format = 0, std::uint16_t tracks = 1) {
    return AsString(testing::HeaderChunk(format, tracks, 0x01E0));
}

inline const std::string EndOfTrack{char(0x00), char(0xFF), char(0x2F), char(0x00)};
inline const std::string NoteOn{char(0x00), char(0x90), char(0x3C), char(0x40)};

// A format-0 file with one track holding `events` and an end of track.
inline std::string Smf(const std::string& events) {
    return Header() + Chunk("MTrk", events + EndOfTrack);
}

} // namespace qorn::fileinfo::test
