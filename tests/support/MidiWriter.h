// Writes small MIDI files for tests, benchmarks and fuzz seeds: exact bytes,
// including deliberately broken ones (wrong lengths, missing End-of-Track,
// running status written by leaving the status byte out).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

namespace qorn::testing {

using Bytes = std::vector<std::uint8_t>;

inline void AppendVarLen(Bytes& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<std::uint8_t>(value & 0x7Fu);
        value >>= 7;
    } while (value != 0 && n < 5);
    while (n-- > 0)
        out.push_back(static_cast<std::uint8_t>(groups[n] | (n > 0 ? 0x80u : 0u)));
}

inline void AppendBE(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void AppendLE(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The events of one track; each call writes a delta time and the bytes given.
class TrackWriter {
  public:
    // Raw event bytes after the delta (leave the status out for running status).
    TrackWriter& event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
        AppendVarLen(bytes_, delta);
        bytes_.insert(bytes_.end(), bytes);
        return *this;
    }
    TrackWriter& noteOn(std::uint32_t delta, int channel, int key, int velocity = 100) {
        return event(delta, {static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key),
                             static_cast<std::uint8_t>(velocity)});
    }
    TrackWriter& noteOff(std::uint32_t delta, int channel, int key) {
        return event(delta, {static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key), 64});
    }
    TrackWriter& tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter) {
        AppendVarLen(bytes_, delta);
        bytes_.insert(bytes_.end(), {0xFF, 0x51, 0x03});
        AppendBE(bytes_, microsecondsPerQuarter, 3);
        return *this;
    }
    TrackWriter& meta(std::uint32_t delta, std::uint8_t type, std::string_view text) {
        AppendVarLen(bytes_, delta);
        bytes_.push_back(0xFF);
        bytes_.push_back(type);
        AppendVarLen(bytes_, static_cast<std::uint32_t>(text.size()));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    // F0 or F7 event: the status, a length and the bytes.
    TrackWriter& sysex(std::uint32_t delta, std::uint8_t status, const Bytes& body) {
        AppendVarLen(bytes_, delta);
        bytes_.push_back(status);
        AppendVarLen(bytes_, static_cast<std::uint32_t>(body.size()));
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        return *this;
    }
    TrackWriter& endOfTrack(std::uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0x00}); }
    TrackWriter& raw(std::initializer_list<std::uint8_t> bytes) {
        bytes_.insert(bytes_.end(), bytes);
        return *this;
    }

    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

// A chunk; `statedLength` replaces the true length to write a damaged file.
inline Bytes Chunk(std::string_view id, const Bytes& body, std::optional<std::uint32_t> statedLength = {}) {
    Bytes out(id.begin(), id.end());
    AppendBE(out, statedLength.value_or(static_cast<std::uint32_t>(body.size())), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes HeaderChunk(int format, int tracks, std::uint16_t division) {
    Bytes body;
    AppendBE(body, static_cast<std::uint32_t>(format), 2);
    AppendBE(body, static_cast<std::uint32_t>(tracks), 2);
    AppendBE(body, division, 2);
    return Chunk("MThd", body);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A complete file with one MTrk chunk per track.
inline Bytes MidiFile(int format, std::uint16_t division, std::initializer_list<TrackWriter> tracks) {
    Bytes out = HeaderChunk(format, static_cast<int>(tracks.size()), division);
    for (const auto& t : tracks) {
        const Bytes chunk = Chunk("MTrk", t.bytes());
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// The file wrapped in a RIFF RMID container, after an unrelated chunk.
inline Bytes WrapInRmid(const Bytes& smf) {
    Bytes body = {'R', 'M', 'I', 'D'};
    const Bytes info = {'I', 'N', 'F', 'O', 'x'};
    for (const Bytes* part : {&info, &smf}) {
        const bool isData = part == &smf;
        const char* id = isData ? "data" : "LIST";
        body.insert(body.end(), id, id + 4);
        AppendLE(body, static_cast<std::uint32_t>(part->size()));
        body.insert(body.end(), part->begin(), part->end());
        if (part->size() % 2 != 0) body.push_back(0);
    }
    Bytes out = {'R', 'I', 'F', 'F'};
    AppendLE(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

} // namespace qorn::testing
