// A small writer of segment files for tests: a header of any known size,
// sequence, tempo, time-signature, system-exclusive and band tracks,
// references to collections, a container with embedded collections (or a
// container or script file of its own), and chunks and tracks a reader
// must skip. Record sizes can be made larger
// than the ones a reader knows. Then (qorn::testtracks) the track kinds
// beyond notes and bands: wave, mute, segment trigger, lyrics, marker,
// parameter-control and script tracks, and wave files for them to play.
#pragma once

#include "tests/support/DlsWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qorn::testseg {

using testdls::Append;
using testdls::Bytes;
using testdls::Chunk;
using testdls::List;
using testdls::PutU16;
using testdls::PutU32;

using Guid = std::vector<std::uint8_t>; // 16 bytes, file layout

inline const Guid kSequenceTrack = {0x86, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                    0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};
inline const Guid kTempoTrack = {0x85, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                 0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};
inline const Guid kSysExTrack = {0x87, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                 0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};
inline const Guid kTimeSigTrack = {0x88, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                   0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};
inline const Guid kBandTrack = {0x94, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};
inline const Guid kCollectionClass = {0xB0, 0xF4, 0x0F, 0x48, 0xB2, 0x28, 0xD1, 0x11,
                                      0xBE, 0xF7, 0x00, 0xC0, 0x4F, 0xBF, 0x8F, 0xEF};
inline const Guid kBandClass = {0x00, 0x9E, 0xBA, 0x79, 0xEE, 0xB6, 0xD1, 0x11,
                                0x86, 0xBE, 0x00, 0xC0, 0x4F, 0xBF, 0x8F, 0xEF};
inline const Guid kChordTrack = {0x8B, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                 0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};

inline Bytes WideText(const std::string& ascii) {
    Bytes b;
    for (char c : ascii)
        PutU16(b, static_cast<std::uint8_t>(c));
    PutU16(b, 0);
    return b;
}

inline Bytes Form(const char* type, const Bytes& children) {
    return List(type, children, "RIFF");
}

struct Header {
    std::uint32_t size = 64; // 24, 40, 56 or 64 (or anything for damaged files)
    std::uint32_t repeats = 0;
    std::int32_t length = 0;
    std::int32_t playStart = 0;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::int64_t clockLength = 0;
    std::uint32_t flags = 0;
};

struct Note {
    std::int32_t time = 0;
    std::int32_t duration = 0;
    std::uint32_t pchannel = 0;
    std::uint8_t key = 60;
    std::uint8_t velocity = 100;
    std::int16_t offset = 0;
    std::uint8_t status = 0x90;
};

struct Curve {
    std::int32_t start = 0, duration = 0, resetDuration = 0;
    std::uint32_t pchannel = 0;
    std::int16_t offset = 0, startValue = 0, endValue = 0, resetValue = 0;
    std::uint8_t kind = 4, shape = 0, ccData = 0, flags = 0;
    std::uint16_t paramType = 0;
};

struct Reference {
    Guid classId = kCollectionClass;
    std::optional<Guid> object = std::nullopt;
    std::string name = {};
    std::string file = {};
    bool fullPath = false; // `file` is a full path
};

struct Instrument {
    std::uint32_t pchannel = 0;
    std::uint32_t patch = 0;
    std::uint32_t flags = 0x1 | 0x2 | 0x20 | 0x40; // patch, bank select, pan, volume
    std::uint8_t pan = 64;
    std::uint8_t volume = 100;
    std::int16_t transpose = 0;
    std::int16_t pitchBendRange = 2;
    std::optional<Reference> collection = std::nullopt;
};

struct Band {
    std::int32_t time = 0;
    std::vector<Instrument> instruments = {};
    std::optional<Reference> bandFile = std::nullopt; // the band lives elsewhere
};

struct Embedded {
    Bytes form = {}; // a whole RIFF form (a collection or a band); none: only named
    std::optional<Reference> description = std::nullopt;
    std::string alias = {};
    Guid classId = {}; // the class the entry's header names (none: zeros)
};

struct SegmentSpec {
    Header header;
    std::vector<Note> notes;
    std::vector<Curve> curves;
    std::vector<std::pair<std::int32_t, double>> tempos;
    std::vector<std::pair<std::int32_t, Bytes>> sysex;
    std::vector<Band> bands;
    std::vector<Embedded> container;
    std::uint32_t extraItemBytes = 0; // grow every array record by this much
    bool instrumentExtended = true;   // write the pitch-bend range
    bool unknownChunks = false;       // chunks and a track the reader must skip
    bool timeSigList = true;
    std::optional<Guid> guid;
};

inline Bytes HeaderChunk(const Header& h) {
    Bytes b;
    PutU32(b, h.repeats);
    PutU32(b, static_cast<std::uint32_t>(h.length));
    PutU32(b, static_cast<std::uint32_t>(h.playStart));
    PutU32(b, static_cast<std::uint32_t>(h.loopStart));
    PutU32(b, static_cast<std::uint32_t>(h.loopEnd));
    PutU32(b, 0); // resolution
    PutU32(b, static_cast<std::uint32_t>(h.clockLength));
    PutU32(b, static_cast<std::uint32_t>(static_cast<std::uint64_t>(h.clockLength) >> 32));
    PutU32(b, h.flags);
    PutU32(b, 0);
    while (b.size() < 64)
        b.push_back(0);
    b.resize(h.size, 0);
    return Chunk("segh", b);
}

inline Bytes ReferenceList(const Reference& r) {
    Bytes refh = r.classId;
    std::uint32_t valid = 0x2;
    if (r.object) valid |= 0x1;
    if (!r.name.empty()) valid |= 0x4;
    if (!r.file.empty()) valid |= r.fullPath ? 0x20 : 0x10;
    PutU32(refh, valid);
    Bytes body = Chunk("refh", refh);
    if (r.object) Append(body, Chunk("guid", *r.object));
    if (!r.name.empty()) Append(body, Chunk("name", WideText(r.name)));
    if (!r.file.empty()) Append(body, Chunk("file", WideText(r.file)));
    return List("DMRF", body);
}

// `config`: the track's play flags ('trkx'), none when 0.
inline Bytes TrackForm(const Guid& cls, const char* ckid, const char* fccType, const Bytes& data,
                       std::uint32_t config = 0) {
    Bytes trkh = cls;
    PutU32(trkh, 0);
    PutU32(trkh, 1);
    for (int i = 0; i < 4; ++i)
        trkh.push_back(ckid ? static_cast<std::uint8_t>(ckid[i]) : 0);
    for (int i = 0; i < 4; ++i)
        trkh.push_back(fccType ? static_cast<std::uint8_t>(fccType[i]) : 0);
    Bytes body = Chunk("trkh", trkh);
    if (config != 0) {
        Bytes trkx;
        PutU32(trkx, config);
        PutU32(trkx, 0);
        Append(body, Chunk("trkx", trkx));
    }
    Append(body, data);
    return Form("DMTK", body);
}

inline Bytes BandForm(const Band& band, const SegmentSpec& plan) {
    Bytes items;
    for (const auto& inst : band.instruments) {
        Bytes bins;
        PutU32(bins, inst.patch);
        PutU32(bins, 0);
        for (int i = 0; i < 4; ++i)
            PutU32(bins, 0xFFFFFFFFu);
        PutU32(bins, inst.pchannel);
        PutU32(bins, inst.flags);
        bins.push_back(inst.pan);
        bins.push_back(inst.volume);
        PutU16(bins, static_cast<std::uint16_t>(inst.transpose));
        PutU32(bins, 0);
        if (plan.instrumentExtended) {
            PutU16(bins, static_cast<std::uint16_t>(inst.pitchBendRange));
            PutU16(bins, 0);
        }
        Bytes lbin = Chunk("bins", bins);
        if (inst.collection) Append(lbin, ReferenceList(*inst.collection));
        Append(items, List("lbin", lbin));
    }
    Bytes body = List("UNFO", Chunk("UNAM", WideText("Band")));
    Append(body, List("lbil", items));
    return Form("DMBD", body);
}

// A container ('DMCN'), as a segment or a script carries it or as a file.
inline Bytes ContainerForm(const std::vector<Embedded>& entries) {
    Bytes cosl;
    for (const auto& e : entries) {
        Bytes cobl;
        if (!e.alias.empty()) Append(cobl, Chunk("coba", WideText(e.alias)));
        Bytes cobh = e.classId.empty() ? Bytes(16, 0) : e.classId;
        cobh.resize(24, 0);
        Append(cobl, Chunk("cobh", cobh));
        if (e.description) Append(cobl, ReferenceList(*e.description));
        Append(cobl, e.form);
        Append(cosl, List("cobl", cobl));
    }
    Bytes conh;
    PutU32(conh, 0);
    Bytes dmcn = Chunk("conh", conh);
    Append(dmcn, List("cosl", cosl));
    return Form("DMCN", dmcn);
}

// A script ('DMSC') whose container holds `entries`, with a line of source.
inline Bytes BuildScript(const std::vector<Embedded>& entries) {
    Bytes schd;
    PutU32(schd, 3);
    Bytes body = Chunk("schd", schd);
    Append(body, ContainerForm(entries));
    Append(body, Chunk("scsr", WideText("dim x")));
    return Form("DMSC", body);
}

inline Bytes BuildSegment(const SegmentSpec& plan) {
    const std::uint32_t extra = plan.extraItemBytes;
    Bytes tracks;
    if (plan.unknownChunks) {
        // A track class this reader does not know, with a data chunk of its own.
        tracks = TrackForm(kChordTrack, nullptr, "cord", List("cord", Chunk("crdh", Bytes(4, 1)), "RIFF"));
    }
    if (!plan.tempos.empty()) {
        Bytes items;
        PutU32(items, 16 + extra);
        for (auto [time, bpm] : plan.tempos) {
            PutU32(items, static_cast<std::uint32_t>(time));
            PutU32(items, 0);
            std::uint64_t bits = 0;
            std::memcpy(&bits, &bpm, 8);
            PutU32(items, static_cast<std::uint32_t>(bits));
            PutU32(items, static_cast<std::uint32_t>(bits >> 32));
            items.insert(items.end(), extra, 0xAB);
        }
        Append(tracks, TrackForm(kTempoTrack, "tetr", nullptr, Chunk("tetr", items)));
    }
    {
        Bytes tims;
        PutU32(tims, 8 + extra);
        PutU32(tims, 0);
        tims.push_back(4);
        tims.push_back(4);
        PutU16(tims, 4);
        tims.insert(tims.end(), extra, 0xAB);
        Bytes data = plan.timeSigList ? List("TIMS", Chunk("tims", tims)) : Chunk("tims", tims);
        Append(tracks, TrackForm(kTimeSigTrack, plan.timeSigList ? nullptr : "tims",
                                 plan.timeSigList ? "TIMS" : nullptr, data));
    }
    if (!plan.notes.empty() || !plan.curves.empty()) {
        Bytes evtl;
        PutU32(evtl, 20 + extra);
        for (const auto& n : plan.notes) {
            PutU32(evtl, static_cast<std::uint32_t>(n.time));
            PutU32(evtl, static_cast<std::uint32_t>(n.duration));
            PutU32(evtl, n.pchannel);
            PutU16(evtl, static_cast<std::uint16_t>(n.offset));
            evtl.push_back(n.status);
            evtl.push_back(n.key);
            evtl.push_back(n.velocity);
            evtl.insert(evtl.end(), 3 + extra, 0);
        }
        Bytes curl;
        PutU32(curl, 32 + extra);
        for (const auto& c : plan.curves) {
            PutU32(curl, static_cast<std::uint32_t>(c.start));
            PutU32(curl, static_cast<std::uint32_t>(c.duration));
            PutU32(curl, static_cast<std::uint32_t>(c.resetDuration));
            PutU32(curl, c.pchannel);
            PutU16(curl, static_cast<std::uint16_t>(c.offset));
            PutU16(curl, static_cast<std::uint16_t>(c.startValue));
            PutU16(curl, static_cast<std::uint16_t>(c.endValue));
            PutU16(curl, static_cast<std::uint16_t>(c.resetValue));
            curl.push_back(c.kind);
            curl.push_back(c.shape);
            curl.push_back(c.ccData);
            curl.push_back(c.flags);
            PutU16(curl, c.paramType);
            PutU16(curl, 0);
            curl.insert(curl.end(), extra, 0xAB);
        }
        Bytes seqt = Chunk("evtl", evtl);
        if (plan.unknownChunks) Append(seqt, Chunk("zzzz", Bytes(5, 7)));
        Append(seqt, Chunk("curl", curl));
        Append(tracks, TrackForm(kSequenceTrack, "seqt", nullptr, Chunk("seqt", seqt)));
    }
    if (!plan.sysex.empty()) {
        Bytes syex;
        for (const auto& [time, bytes] : plan.sysex) {
            PutU32(syex, static_cast<std::uint32_t>(time));
            PutU32(syex, 0);
            PutU32(syex, static_cast<std::uint32_t>(bytes.size()));
            Append(syex, bytes);
        }
        Append(tracks, TrackForm(kSysExTrack, "syex", nullptr, Chunk("syex", syex)));
    }
    if (!plan.bands.empty()) {
        Bytes lbdl;
        for (const auto& band : plan.bands) {
            Bytes bd2h;
            PutU32(bd2h, static_cast<std::uint32_t>(band.time));
            PutU32(bd2h, static_cast<std::uint32_t>(band.time));
            Bytes lbnd = Chunk("bd2h", bd2h);
            if (band.bandFile)
                Append(lbnd, ReferenceList(*band.bandFile));
            else
                Append(lbnd, BandForm(band, plan));
            Append(lbdl, List("lbnd", lbnd));
        }
        Bytes bdth;
        PutU32(bdth, 1);
        Bytes dmbt = Chunk("bdth", bdth);
        Append(dmbt, List("lbdl", lbdl));
        Append(tracks, TrackForm(kBandTrack, nullptr, "DMBT", Form("DMBT", dmbt)));
    }

    Bytes body = HeaderChunk(plan.header);
    if (plan.guid) Append(body, Chunk("guid", *plan.guid));
    Append(body, List("UNFO", Chunk("UNAM", WideText("Test segment"))));
    if (plan.unknownChunks) Append(body, Chunk("what", Bytes(3, 9)));
    if (!plan.container.empty()) Append(body, ContainerForm(plan.container));
    Append(body, List("trkl", tracks));
    return Form("DMSG", body);
}

// A band file of its own (RIFF 'DMBD').
inline Bytes BuildBandFile(const Band& band) {
    return BandForm(band, SegmentSpec{});
}

// A band file whose instruments carry note ranges (bit k of word k / 32 lets
// key k play) and a channel priority. `older`: the 36-byte record of the
// first authoring tools, which ends after the transposition.
struct RangedInstrument {
    Instrument base;
    std::uint32_t noteRanges[4] = {0, 0, 0, 0};
    std::uint32_t priority = 0;
};

inline Bytes BuildRangedBandFile(const std::vector<RangedInstrument>& instruments, bool older,
                                 const std::string& name = "Band") {
    Bytes items;
    for (const auto& r : instruments) {
        Bytes bins;
        PutU32(bins, r.base.patch);
        PutU32(bins, 0);
        for (const std::uint32_t range : r.noteRanges)
            PutU32(bins, range);
        PutU32(bins, r.base.pchannel);
        PutU32(bins, r.base.flags);
        bins.push_back(r.base.pan);
        bins.push_back(r.base.volume);
        PutU16(bins, static_cast<std::uint16_t>(r.base.transpose));
        if (!older) {
            PutU32(bins, r.priority);
            PutU16(bins, static_cast<std::uint16_t>(r.base.pitchBendRange));
            PutU16(bins, 0);
        }
        Bytes lbin = Chunk("bins", bins);
        if (r.base.collection) Append(lbin, ReferenceList(*r.base.collection));
        Append(items, List("lbin", lbin));
    }
    Bytes body = List("UNFO", Chunk("UNAM", WideText(name)));
    Append(body, List("lbil", items));
    return Form("DMBD", body);
}

} // namespace qorn::testseg

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

// The same as Microsoft ADPCM (mono or stereo, blocks of `blockBytes`),
// each block predicting from the last sample only.
inline Bytes AdpcmWaveFile(const std::vector<float>& samples, std::uint32_t rate, std::uint16_t channels,
                           std::uint16_t blockBytes = 256) {
    static constexpr int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
    const std::size_t framesPerBlock = (blockBytes - 7u * channels) * 2u / channels + 2;
    const std::size_t frames = samples.size() / channels;
    auto at = [&](std::size_t frame, std::size_t c) {
        return frame < frames ? int(std::lround(std::clamp(samples[frame * channels + c], -1.0f, 1.0f) * 32767.0f)) : 0;
    };
    Bytes data;
    for (std::size_t first = 0; first < frames; first += framesPerBlock) {
        int delta[2] = {16, 16}, s1[2] = {}, s2[2] = {};
        for (std::size_t c = 0; c < channels; ++c)
            data.push_back(0); // predictor (1, 0)
        for (std::size_t c = 0; c < channels; ++c)
            PutU16(data, 16);
        for (std::size_t c = 0; c < channels; ++c)
            PutU16(data, static_cast<std::uint16_t>(s1[c] = at(first + 1, c)));
        for (std::size_t c = 0; c < channels; ++c)
            PutU16(data, static_cast<std::uint16_t>(s2[c] = at(first, c)));
        std::vector<int> codes;
        for (std::size_t f = first + 2; f < first + framesPerBlock; ++f)
            for (std::size_t c = 0; c < channels; ++c) {
                const int code = std::clamp(int(std::lround(double(at(f, c) - s1[c]) / delta[c])), -8, 7);
                s2[c] = s1[c];
                s1[c] = std::clamp(s1[c] + code * delta[c], -32768, 32767);
                delta[c] = std::max(kAdapt[code & 0xF] * delta[c] / 256, 16);
                codes.push_back(code & 0xF);
            }
        for (std::size_t i = 0; i < codes.size(); i += 2)
            data.push_back(static_cast<std::uint8_t>(codes[i] << 4 | (i + 1 < codes.size() ? codes[i + 1] : 0)));
    }
    static constexpr std::int16_t kCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                         {240, 0}, {460, -208}, {392, -232}};
    Bytes fmt;
    PutU16(fmt, 2);
    PutU16(fmt, channels);
    PutU32(fmt, rate);
    PutU32(fmt, rate * blockBytes / std::uint32_t(framesPerBlock));
    PutU16(fmt, blockBytes);
    PutU16(fmt, 4);
    PutU16(fmt, 32);
    PutU16(fmt, static_cast<std::uint16_t>(framesPerBlock));
    PutU16(fmt, 7);
    for (const auto& pair : kCoefficients) {
        PutU16(fmt, static_cast<std::uint16_t>(pair[0]));
        PutU16(fmt, static_cast<std::uint16_t>(pair[1]));
    }
    Bytes fact;
    PutU32(fact, static_cast<std::uint32_t>(frames));
    Bytes body = Chunk("fmt ", fmt);
    Append(body, Chunk("fact", fact));
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
    std::uint32_t variations = 0xFFFFFFFFu;
};

struct WavePart {
    std::int32_t volume = 0;
    std::uint32_t pchannel = 0;
    std::vector<WaveItem> items;
    std::uint32_t variations = 0xFFFFFFFFu;
    std::uint32_t lock = 0;
    std::uint32_t order = 0; // 0 sequential, 1 random, 2 random start, 3 no repeat, 4 random row
};

struct WaveTrackStyle {
    // The item record of the later tools (72 bytes, with volume and pitch
    // ranges); false: the 64 bytes of the first ones.
    bool itemRanges = true;
    // Times and durations in 100 ns units.
    bool clockTime = false;
};

inline Bytes WaveTrack(const std::vector<WavePart>& parts, std::int32_t trackVolume = 0, WaveTrackStyle style = {}) {
    Bytes wath;
    PutU32(wath, static_cast<std::uint32_t>(trackVolume));
    PutU32(wath, 0);
    Bytes body = Chunk("wath", wath);
    for (const auto& part : parts) {
        Bytes waph;
        PutU32(waph, static_cast<std::uint32_t>(part.volume));
        PutU32(waph, part.variations);
        PutU32(waph, part.pchannel);
        PutU32(waph, part.lock);
        PutU32(waph, part.order);
        PutU32(waph, 0);
        Bytes items;
        for (const auto& it : part.items) {
            Bytes waih;
            PutU32(waih, static_cast<std::uint32_t>(it.volume));
            PutU32(waih, 0);
            PutU32(waih, it.variations);
            PutU32(waih, 0); // alignment of the 64-bit times
            PutU64(waih, it.time);
            PutU64(waih, it.startOffset);
            PutU64(waih, 0);
            PutU64(waih, it.duration);
            PutU32(waih, static_cast<std::uint32_t>(it.time));
            PutU32(waih, it.loopStart);
            PutU32(waih, it.loopEnd);
            PutU32(waih, it.flags);
            if (style.itemRanges) {
                PutU16(waih, 0);
                PutU16(waih, 0);
                PutU32(waih, 0);
            }
            Bytes wave = Chunk("waih", waih);
            Append(wave, ReferenceList(it.wave));
            Append(items, List("wave", wave));
        }
        Bytes wavp = Chunk("waph", waph);
        Append(wavp, List("wavi", items));
        Append(body, List("wavp", wavp));
    }
    return TrackForm(kWaveTrack, nullptr, "wavt", List("wavt", body), 0x10 | (style.clockTime ? 0x40 : 0));
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
    std::optional<Reference> segment; // or the style of a motif
    Bytes embedded = {};              // a whole segment form instead of a reference
    std::uint32_t flags = 0;          // 1: a motif
    std::string motif = {};
    std::uint32_t playFlags = 0;
};

// Trigger play flag: wait for the next play marker.
inline constexpr std::uint32_t kAtMarker = 0x01000000;

inline Bytes TriggerTrack(const std::vector<Trigger>& triggers) {
    Bytes sgth;
    PutU32(sgth, 0);
    Bytes items;
    for (const auto& t : triggers) {
        Bytes sgih;
        PutU32(sgih, static_cast<std::uint32_t>(t.time));
        PutU32(sgih, static_cast<std::uint32_t>(t.time));
        PutU32(sgih, t.playFlags);
        PutU32(sgih, t.flags);
        Bytes lseg = Chunk("sgih", sgih);
        if (t.segment) Append(lseg, ReferenceList(*t.segment));
        Append(lseg, t.embedded);
        if (!t.motif.empty()) Append(lseg, Chunk("snam", WideText(t.motif)));
        Append(items, List("lseg", lseg));
    }
    Bytes body = Chunk("sgth", sgth);
    Append(body, List("lsgl", items));
    return TrackForm(kTriggerTrack, nullptr, "segt", List("segt", body));
}

// A marker track: where the segment may be started, and where another
// segment may start.
inline Bytes MarkerTrack(const std::vector<std::int32_t>& validStarts, const std::vector<std::int32_t>& playMarkers) {
    auto times = [](const std::vector<std::int32_t>& list) {
        Bytes b;
        PutU32(b, 4);
        for (const std::int32_t t : list)
            PutU32(b, static_cast<std::uint32_t>(t));
        return b;
    };
    Bytes mark = Chunk("vals", times(validStarts));
    Append(mark, Chunk("play", times(playMarkers)));
    return TrackForm(kMarkerTrack, nullptr, "MARK", List("MARK", mark));
}

// Tracks that change nothing audible, with plausible content.
inline Bytes QuietTracks() {
    Bytes lyric = Chunk("lyrh", Bytes(8, 0));
    Append(lyric, Chunk("lyrn", WideText("la la")));
    Bytes lyrics = List("lyrl", List("lyrE", lyric));
    Bytes out = TrackForm(kLyricsTrack, nullptr, "lyrt", List("lyrt", lyrics));
    Append(out, MarkerTrack({0, 768}, {768}));
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

inline const Guid kStyleClass = {0x8A, 0x28, 0xAC, 0xD2, 0x9B, 0xB3, 0xD1, 0x11,
                                 0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD};

// An entry of a script's or container's list that carries `form` (a whole
// RIFF form), known by the file name it has as a file of its own, as the
// authoring tool writes it.
inline Embedded Held(const Bytes& form, const std::string& file, const Guid& cls) {
    return Embedded{form, FileRef(file, cls), "", cls};
}

} // namespace qorn::testtracks
