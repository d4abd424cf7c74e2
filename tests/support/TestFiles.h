// Files the tests write: a private folder removed afterwards, and the bytes
// of Standard MIDI Files put together event by event.
#pragma once

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

inline std::string U32BE(std::uint32_t v) {
    return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

// MIDI variable-length quantity.
inline std::string Vlq(std::uint64_t v) {
    std::string out(1, char(v & 0x7F));
    while ((v >>= 7) != 0)
        out.insert(out.begin(), char(0x80 | (v & 0x7F)));
    return out;
}

// A meta event at delta time 0 (or `delta`, one byte).
inline std::string Meta(std::uint8_t type, const std::string& data, std::uint8_t delta = 0) {
    return std::string{char(delta), char(0xFF), char(type)} + Vlq(data.size()) + data;
}

inline std::string Chunk(const std::string& id, const std::string& data) {
    return id + U32BE(data.size()) + data;
}

inline std::string Header(std::uint16_t format = 0, std::uint16_t tracks = 1) {
    return Chunk("MThd", {char(0), char(format), char(0), char(tracks), char(0x01), char(0xE0)});
}

inline const std::string EndOfTrack{char(0x00), char(0xFF), char(0x2F), char(0x00)};
inline const std::string NoteOn{char(0x00), char(0x90), char(0x3C), char(0x40)};

// A format-0 file with one track holding `events` and an end of track.
inline std::string Smf(const std::string& events) {
    return Header() + Chunk("MTrk", events + EndOfTrack);
}

} // namespace qorn::fileinfo::test
