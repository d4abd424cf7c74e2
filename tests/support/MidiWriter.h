// Writes small MIDI files for tests, benchmarks and fuzz seeds: exact bytes,
// including deliberately broken ones (wrong lengths, missing End-of-Track,
// running status written by leaving the status byte out).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
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

// The three texts the named files below carry at the start of their track.
inline constexpr std::string_view kCaseTitle = "C Major Scale";
inline constexpr std::string_view kCaseCopyright = "(C) Qor_n tests";
inline constexpr std::string_view kCaseText = "One octave up from middle C, a beat per note.";

// A named file that tests the reader's tolerance: damaged and unusual files
// a player meets, each with what it must do with it.
struct MidiCase {
    std::string name;
    Bytes bytes;
    bool loads;            // the reader accepts it
    std::vector<int> keys; // note-on keys in order (empty: not checked)
    bool hasTexts = false; // title, copyright and text lead the chunk after the header
};

// The named files: a C major scale (96 ticks a quarter, a beat per note) and
// its damaged and unusual variants.
inline std::vector<MidiCase> MidiCases() {
    const std::vector<int> scale = {60, 62, 64, 65, 67, 69, 71, 72};
    const auto texts = [](TrackWriter t) {
        return t.meta(0, 0x03, kCaseTitle).meta(0, 0x02, kCaseCopyright).meta(0, 0x01, kCaseText);
    };
    const auto notes = [&](TrackWriter t) {
        for (int k : scale)
            t.noteOn(0, 0, k, 127).noteOff(96, 0, k);
        return t;
    };
    const Bytes plain = MidiFile(0, 96, {notes(texts({})).endOfTrack()});

    std::vector<MidiCase> out;
    out.push_back({"c-major-scale.mid", plain, true, scale, true});

    Bytes extraByte = plain;
    extraByte.push_back('*'); // after the last chunk
    out.push_back({"extra-byte.mid", extraByte, true, scale, true});

    TrackWriter f4 = texts({});
    f4.event(0, {0xF4}); // an undefined system message
    out.push_back({"undefined-f4.mid", MidiFile(0, 96, {notes(f4).endOfTrack()}), true, scale, true});

    // Running status (note-off as velocity 0) broken by a meta event: the
    // status carries on after it.
    TrackWriter running = texts({});
    running.event(0, {0x90, 60, 127});
    for (std::size_t i = 0; i < scale.size(); ++i) {
        const auto key = static_cast<std::uint8_t>(scale[i]);
        if (i > 0) running.event(0, {key, 127});
        running.event(96, {key, 0});
        if (i == 3) running.meta(0, 0x01, "break");
    }
    out.push_back({"running-status-meta.mid", MidiFile(0, 96, {running.endOfTrack()}), true, scale, true});

    // Every delta time written in four bytes, though shorter would do.
    TrackWriter vlq = texts({});
    for (int k : scale) {
        const auto key = static_cast<std::uint8_t>(k);
        vlq.raw({0x80, 0x80, 0x80, 0x00, 0x90, key, 127}).raw({0x80, 0x80, 0x80, 0x60, 0x80, key, 64});
    }
    out.push_back({"vlq-4-byte.mid", MidiFile(0, 96, {vlq.endOfTrack()}), true, scale, true});

    // A foreign chunk before the track, which a reader skips.
    const std::string junkText = "Not a track, skip me.";
    out.push_back({"foreign-chunk.mid",
                   Concat({HeaderChunk(0, 1, 96), Chunk("Junk", Bytes(junkText.begin(), junkText.end())),
                           Chunk("MTrk", notes(texts({})).endOfTrack().bytes())}),
                   true, scale, false});

    // One note, then silence to the end of the track one half note later.
    TrackWriter shortTrack = texts({});
    shortTrack.noteOn(0, 0, 60, 127).noteOff(96, 0, 60).endOfTrack(192);
    out.push_back({"track-length.mid", MidiFile(0, 96, {shortTrack}), true, {60}, true});

    out.push_back({"empty-track.mid", MidiFile(0, 96, {TrackWriter().endOfTrack()}), true, {}, false});

    // Format 0 allows one track; this one has two (the second holds the notes).
    const TrackWriter conductor = texts({}).tempo(0, 500000).endOfTrack();
    out.push_back({"format-0-two-tracks.mid", MidiFile(0, 96, {conductor, notes({}).endOfTrack()}), true, {}, true});
    out.push_back({"format-1-two-tracks.mid", MidiFile(1, 96, {conductor, notes({}).endOfTrack()}), true, {}, true});

    const std::string text = "not a midi file";
    out.push_back({"not-midi.mid", Bytes(text.begin(), text.end()), false, {}, false});
    out.push_back({"empty-file.mid", Bytes{}, false, {}, false});
    return out;
}

} // namespace qorn::testing
