// Writes the track kinds beyond notes and bands into segments made by the
// segment tests' writer: wave, mute, segment trigger, lyrics, marker,
// parameter-control and script tracks, and wave files for them to play.
#pragma once

#include "tests/support/SegmentWriter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace qorn::testtracks {

using namespace qorn::testseg;
using testdls::Loop;

inline const Guid kWaveTrack = {0x61, 0x64, 0xD3, 0xEE, 0xA5, 0x9E, 0xD3, 0x11,
                                0x9B, 0xD1, 0x00, 0x80, 0xC7, 0x15, 0x0A, 0x74};
inline const Guid kMuteTrack = {0x98, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};
inline const Guid kTriggerTrack = {0x65, 0xD6, 0xE4, 0xBA, 0xA1, 0x4E, 0xD3, 0x11,
                                   0x8B, 0xDA, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6};
inline const Guid kLyricsTrack = {0xF5, 0x1C, 0x5C, 0x99, 0xFF, 0x54, 0xD3, 0x11,
                                  0x8B, 0xDA, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6};
inline const Guid kMarkerTrack = {0x00, 0xFD, 0xA8, 0x55, 0x88, 0x42, 0xD3, 0x11,
                                  0x9B, 0xD1, 0x8A, 0x0D, 0x61, 0xC8, 0x88, 0x35};
inline const Guid kParamTrack = {0x7B, 0x53, 0xE0, 0x4B, 0x19, 0x5C, 0xD3, 0x11,
                                 0x8B, 0xDC, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6};
inline const Guid kScriptTrack = {0x85, 0xFA, 0x08, 0x41, 0x86, 0x35, 0xD3, 0x11,
                                  0x8B, 0xD7, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xB6};
inline const Guid kWaveClass = {0x54, 0x71, 0x66, 0x8A, 0xCB, 0xF9, 0xD2, 0x11,
                                0xAD, 0x8A, 0x00, 0x60, 0xB0, 0x57, 0x5A, 0xBC};
inline const Guid kSegmentClass = {0x82, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                   0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};

inline void PutU64(Bytes& b, std::int64_t v) {
    PutU32(b, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
    PutU32(b, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32));
}

// A RIFF WAVE file of `samples` (interleaved, +-1) as 8- or 16-bit PCM.
inline Bytes WaveFile(const std::vector<float>& samples, std::uint32_t rate, std::uint16_t channels,
                      std::uint16_t bits = 16, std::optional<Loop> loop = std::nullopt, const Bytes& extra = {}) {
    Bytes fmt;
    PutU16(fmt, 1);
    PutU16(fmt, channels);
    PutU32(fmt, rate);
    PutU32(fmt, rate * channels * bits / 8);
    PutU16(fmt, channels * bits / 8);
    PutU16(fmt, bits);
    Bytes data;
    for (float s : samples) {
        const float c = std::clamp(s, -1.0f, 1.0f);
        if (bits == 8)
            data.push_back(static_cast<std::uint8_t>(std::lround(c * 127.0f) + 128));
        else
            PutU16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(c * 32767.0f))));
    }
    Bytes body = Chunk("fmt ", fmt);
    Append(body, extra);
    if (loop) {
        Bytes wsmp;
        PutU32(wsmp, 20);
        PutU16(wsmp, 60);
        PutU16(wsmp, 0);
        PutU32(wsmp, 0);
        PutU32(wsmp, 0);
        PutU32(wsmp, 1);
        PutU32(wsmp, 16);
        PutU32(wsmp, 0);
        PutU32(wsmp, loop->start);
        PutU32(wsmp, loop->length);
        Append(body, Chunk("wsmp", wsmp));
    }
    Append(body, Chunk("data", data));
    return Form("WAVE", body);
}

// Wave item flag: play the wave once even where it has a loop.
inline constexpr std::uint32_t kIgnoreLoops = 0x20;

struct WaveItem {
    std::int64_t time = 0;
    std::int64_t duration = 0;
    std::int32_t volume = 0; // hundredths of a decibel
    std::uint32_t loopStart = 0, loopEnd = 0;
    std::uint32_t flags = 0;
    std::int64_t startOffset = 0; // 100 ns
    Reference wave;
};

struct WavePart {
    std::int32_t volume = 0;
    std::uint32_t pchannel = 0;
    std::vector<WaveItem> items;
};

inline Bytes WaveTrack(const std::vector<WavePart>& parts, std::int32_t trackVolume = 0) {
    Bytes wath;
    PutU32(wath, static_cast<std::uint32_t>(trackVolume));
    PutU32(wath, 0);
    Bytes body = Chunk("wath", wath);
    for (const auto& part : parts) {
        Bytes waph;
        PutU32(waph, static_cast<std::uint32_t>(part.volume));
        PutU32(waph, 0xFFFFFFFFu);
        PutU32(waph, part.pchannel);
        PutU32(waph, 0);
        PutU32(waph, 0);
        PutU32(waph, 0);
        Bytes items;
        for (const auto& it : part.items) {
            Bytes waih;
            PutU32(waih, static_cast<std::uint32_t>(it.volume));
            PutU32(waih, 0);
            PutU32(waih, 0xFFFFFFFFu);
            PutU32(waih, 0); // alignment of the 64-bit times
            PutU64(waih, it.time);
            PutU64(waih, it.startOffset);
            PutU64(waih, 0);
            PutU64(waih, it.duration);
            PutU32(waih, static_cast<std::uint32_t>(it.time));
            PutU32(waih, it.loopStart);
            PutU32(waih, it.loopEnd);
            PutU32(waih, it.flags);
            PutU16(waih, 0);
            PutU16(waih, 0);
            PutU32(waih, 0);
            Bytes wave = Chunk("waih", waih);
            Append(wave, ReferenceList(it.wave));
            Append(items, List("wave", wave));
        }
        Bytes wavp = Chunk("waph", waph);
        Append(wavp, List("wavi", items));
        Append(body, List("wavp", wavp));
    }
    return TrackForm(kWaveTrack, nullptr, "wavt", List("wavt", body));
}

struct Mute {
    std::int32_t time = 0;
    std::uint32_t pchannel = 0;
    std::uint32_t mapTo = 0xFFFFFFFFu;
};

inline Bytes MuteTrack(const std::vector<Mute>& mutes) {
    Bytes b;
    PutU32(b, 12);
    for (const auto& m : mutes) {
        PutU32(b, static_cast<std::uint32_t>(m.time));
        PutU32(b, m.pchannel);
        PutU32(b, m.mapTo);
    }
    return TrackForm(kMuteTrack, "mute", nullptr, Chunk("mute", b));
}

struct Trigger {
    std::int32_t time = 0;
    std::optional<Reference> segment;
    Bytes embedded = {}; // a whole segment form instead of a reference
    std::uint32_t flags = 0;
};

inline Bytes TriggerTrack(const std::vector<Trigger>& triggers) {
    Bytes sgth;
    PutU32(sgth, 0);
    Bytes items;
    for (const auto& t : triggers) {
        Bytes sgih;
        PutU32(sgih, static_cast<std::uint32_t>(t.time));
        PutU32(sgih, static_cast<std::uint32_t>(t.time));
        PutU32(sgih, 0);
        PutU32(sgih, t.flags);
        Bytes lseg = Chunk("sgih", sgih);
        if (t.segment) Append(lseg, ReferenceList(*t.segment));
        Append(lseg, t.embedded);
        Append(items, List("lseg", lseg));
    }
    Bytes body = Chunk("sgth", sgth);
    Append(body, List("lsgl", items));
    return TrackForm(kTriggerTrack, nullptr, "segt", List("segt", body));
}

// Tracks that change nothing audible, with plausible content.
inline Bytes QuietTracks() {
    Bytes lyric = Chunk("lyrh", Bytes(8, 0));
    Append(lyric, Chunk("lyrn", WideText("la la")));
    Bytes lyrics = List("lyrl", List("lyrE", lyric));
    Bytes marker = Chunk("mrkh", Bytes(4, 0));
    Bytes out = TrackForm(kLyricsTrack, nullptr, "lyrt", List("lyrt", lyrics));
    Append(out, TrackForm(kMarkerTrack, nullptr, "MARK", List("MARK", List("tmkl", marker))));
    Append(out, TrackForm(kParamTrack, nullptr, "prmt", List("prmt", List("prol", Chunk("proh", Bytes(40, 0))))));
    Append(out, TrackForm(kScriptTrack, nullptr, "scrt", List("scrt", List("scrl", Chunk("scrh", Bytes(28, 0))))));
    return out;
}

// The segment with `tracks` (track forms) added to its track list, which
// the writer puts last in the segment form.
inline Bytes WithTracks(Bytes segment, const Bytes& tracks) {
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(segment[at]) | std::uint32_t(segment[at + 1]) << 8 | std::uint32_t(segment[at + 2]) << 16 |
               std::uint32_t(segment[at + 3]) << 24;
    };
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            segment[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    std::size_t at = 12;
    while (at + 12 <= segment.size()) {
        const std::uint32_t size = u32(at + 4);
        if (std::memcmp(&segment[at], "LIST", 4) == 0 && std::memcmp(&segment[at + 8], "trkl", 4) == 0) {
            if (at + 8 + size != segment.size()) throw std::logic_error("track list is not last");
            put(at + 4, size + static_cast<std::uint32_t>(tracks.size()));
            put(4, u32(4) + static_cast<std::uint32_t>(tracks.size()));
            Append(segment, tracks);
            return segment;
        }
        at += 8 + size + (size & 1);
    }
    throw std::logic_error("no track list");
}

inline Reference FileRef(const std::string& file, const Guid& cls) {
    Reference r;
    r.classId = cls;
    r.file = file;
    return r;
}

} // namespace qorn::testtracks
