// A small DLS collection writer for tests: builds the RIFF bytes of a
// collection from a plain description, with generated sine and square
// waves, a drum kit and bank selects. Header-only so other test folders can
// embed collections in their own fixtures.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace qorn::testdls {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
inline void PutU32(Bytes& b, std::uint32_t v) {
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}
inline void PutFourCC(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(id[i]));
}
inline void Append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

// A chunk with its header and pad byte.
inline Bytes Chunk(const char* id, const Bytes& body) {
    Bytes b;
    PutFourCC(b, id);
    PutU32(b, static_cast<std::uint32_t>(body.size()));
    Append(b, body);
    if (body.size() % 2) b.push_back(0);
    return b;
}
inline Bytes List(const char* type, const Bytes& children, const char* id = "LIST") {
    Bytes body;
    PutFourCC(body, type);
    Append(body, children);
    return Chunk(id, body);
}

struct Loop {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint32_t type = 0;
};

struct SampleInfo { // `wsmp`
    std::uint16_t unityNote = 60;
    std::int16_t fineTune = 0;
    std::int32_t gain = 0;
    std::optional<Loop> loop;
    std::uint32_t extraHeaderBytes = 0; // cbSize larger than the record we know
    std::uint32_t extraLoopBytes = 0;
};

struct ConnectionSpec {
    std::uint16_t source = 0, control = 0, destination = 0, transform = 0;
    std::int32_t scale = 0;
};

struct WaveSpec {
    std::vector<std::int16_t> samples; // mono, 16-bit; written as `bits`
    std::uint32_t sampleRate = 22050;
    std::uint16_t bits = 16;    // 8 or 16
    std::uint16_t channels = 1; // 2 writes each sample on both channels
    std::optional<SampleInfo> sample;
    std::string name;
    // A compressed wave, written instead of `samples` (mono).
    struct Encoded {
        std::uint16_t formatTag = 0;
        Bytes formatFields; // 'fmt ' after its size of extra fields
        Bytes data;
        std::uint32_t frames = 0; // 'fact'
        // 'wavu': the frames a decoder's output starts with that are not the wave.
        std::optional<std::uint32_t> leadingFrames;
    };
    std::optional<Encoded> encoded;
};

struct RegionSpec {
    std::uint16_t keyLow = 0, keyHigh = 127, velocityLow = 0, velocityHigh = 127;
    std::uint16_t keyGroup = 0;
    std::uint32_t wave = 0;        // index into the pool table
    std::uint16_t linkOptions = 0; // 2: one channel of a multichannel wave
    std::uint32_t channel = 1;     // 1 left, 2 right
    std::optional<SampleInfo> sample;
    std::vector<ConnectionSpec> articulation;
};

struct InstrumentSpec {
    std::uint8_t bankMsb = 0, bankLsb = 0, program = 0;
    bool drums = false;
    std::string name;
    std::vector<RegionSpec> regions;
    std::vector<ConnectionSpec> articulation;
};

struct CollectionSpec {
    std::string name = "Test collection";
    std::optional<std::vector<std::uint8_t>> guid; // 16 bytes for `dlid`
    bool level2 = false;                           // rgn2/lar2/art2 and 14-byte rgnh
    bool unknownChunks = false;                    // sprinkle chunks a reader must skip
    bool poolTable = true;
    std::vector<InstrumentSpec> instruments;
    std::vector<WaveSpec> waves;
};

inline Bytes Unknown(const char* id) {
    return Chunk(id, Bytes{1, 2, 3});
}

inline Bytes WsmpChunk(const SampleInfo& s) {
    Bytes b;
    PutU32(b, 20 + s.extraHeaderBytes);
    PutU16(b, s.unityNote);
    PutU16(b, static_cast<std::uint16_t>(s.fineTune));
    PutU32(b, static_cast<std::uint32_t>(s.gain));
    PutU32(b, 0);
    PutU32(b, s.loop ? 1 : 0);
    b.insert(b.end(), s.extraHeaderBytes, 0xEE);
    if (s.loop) {
        PutU32(b, 16 + s.extraLoopBytes);
        PutU32(b, s.loop->type);
        PutU32(b, s.loop->start);
        PutU32(b, s.loop->length);
        b.insert(b.end(), s.extraLoopBytes, 0xEE);
    }
    return Chunk("wsmp", b);
}

inline Bytes ArticulationList(const std::vector<ConnectionSpec>& connections, bool level2) {
    Bytes b;
    PutU32(b, 8);
    PutU32(b, static_cast<std::uint32_t>(connections.size()));
    for (const auto& c : connections) {
        PutU16(b, c.source);
        PutU16(b, c.control);
        PutU16(b, c.destination);
        PutU16(b, c.transform);
        PutU32(b, static_cast<std::uint32_t>(c.scale));
    }
    return List(level2 ? "lar2" : "lart", Chunk(level2 ? "art2" : "art1", b));
}

inline Bytes InfoList(const std::string& name) {
    Bytes text(name.begin(), name.end());
    text.push_back(0);
    return List("INFO", Chunk("INAM", text));
}

// The chunks of a compressed wave: 'fmt ', 'fact', 'wavu' and 'data'.
inline Bytes EncodedWaveChunks(const WaveSpec& w) {
    const WaveSpec::Encoded& e = *w.encoded;
    Bytes fmt;
    PutU16(fmt, e.formatTag);
    PutU16(fmt, 1);
    PutU32(fmt, w.sampleRate);
    PutU32(fmt, w.sampleRate / 8); // bytes a second: any plausible figure
    PutU16(fmt, 1);
    PutU16(fmt, 0);
    PutU16(fmt, static_cast<std::uint16_t>(e.formatFields.size()));
    Append(fmt, e.formatFields);
    Bytes fact;
    PutU32(fact, e.frames);
    Bytes chunks = Chunk("fmt ", fmt);
    Append(chunks, Chunk("fact", fact));
    if (e.leadingFrames) {
        // Flags (compressed), the uncompressed format, the frames to drop.
        Bytes wavu = {1, 1};
        PutU16(wavu, 1);
        PutU16(wavu, 1);
        PutU32(wavu, w.sampleRate);
        PutU32(wavu, w.sampleRate * 2);
        PutU16(wavu, 2);
        PutU16(wavu, 16);
        PutU16(wavu, 0);
        PutU32(wavu, *e.leadingFrames);
        Append(chunks, Chunk("wavu", wavu));
    }
    if (w.sample) Append(chunks, WsmpChunk(*w.sample));
    Append(chunks, Chunk("data", e.data));
    return chunks;
}

inline Bytes WaveList(const WaveSpec& w, bool unknownChunks) {
    if (w.encoded) return List("wave", EncodedWaveChunks(w));
    Bytes fmt;
    const std::uint16_t bytesPerSample = w.bits / 8;
    PutU16(fmt, 1);
    PutU16(fmt, w.channels);
    PutU32(fmt, w.sampleRate);
    PutU32(fmt, w.sampleRate * bytesPerSample * w.channels);
    PutU16(fmt, static_cast<std::uint16_t>(bytesPerSample * w.channels));
    PutU16(fmt, w.bits);
    Bytes data;
    data.reserve(w.samples.size() * bytesPerSample * w.channels);
    for (std::int16_t s : w.samples) {
        for (int c = 0; c < w.channels; ++c) {
            if (w.bits == 8)
                data.push_back(static_cast<std::uint8_t>((s >> 8) + 128));
            else
                PutU16(data, static_cast<std::uint16_t>(s));
        }
    }
    Bytes children = Chunk("fmt ", fmt);
    if (unknownChunks) Append(children, Unknown("zzzz"));
    if (w.sample) Append(children, WsmpChunk(*w.sample));
    Append(children, Chunk("data", data));
    if (!w.name.empty()) Append(children, InfoList(w.name));
    return List("wave", children);
}

inline Bytes BuildDls(const CollectionSpec& plan) {
    Bytes body;
    PutFourCC(body, "DLS ");
    Bytes colh;
    PutU32(colh, static_cast<std::uint32_t>(plan.instruments.size()));
    Append(body, Chunk("colh", colh));
    if (plan.guid) Append(body, Chunk("dlid", *plan.guid));
    if (plan.unknownChunks) Append(body, Unknown("what"));

    Bytes lins;
    for (const InstrumentSpec& ins : plan.instruments) {
        Bytes insh;
        PutU32(insh, static_cast<std::uint32_t>(ins.regions.size()));
        PutU32(insh, (ins.drums ? 0x80000000u : 0u) | (std::uint32_t(ins.bankMsb) << 8) | ins.bankLsb);
        PutU32(insh, ins.program);
        Bytes lrgn;
        for (const RegionSpec& r : ins.regions) {
            Bytes rgnh;
            PutU16(rgnh, r.keyLow);
            PutU16(rgnh, r.keyHigh);
            PutU16(rgnh, r.velocityLow);
            PutU16(rgnh, r.velocityHigh);
            PutU16(rgnh, 0);
            PutU16(rgnh, r.keyGroup);
            if (plan.level2) PutU16(rgnh, 0);
            Bytes rgn = Chunk("rgnh", rgnh);
            if (plan.unknownChunks) Append(rgn, Unknown("cdl "));
            if (r.sample) Append(rgn, WsmpChunk(*r.sample));
            Bytes wlnk;
            PutU16(wlnk, r.linkOptions);
            PutU16(wlnk, 0);
            PutU32(wlnk, r.channel);
            PutU32(wlnk, r.wave);
            Append(rgn, Chunk("wlnk", wlnk));
            if (!r.articulation.empty()) Append(rgn, ArticulationList(r.articulation, plan.level2));
            Append(lrgn, List(plan.level2 ? "rgn2" : "rgn ", rgn));
        }
        Bytes insBody = Chunk("insh", insh);
        if (plan.unknownChunks) Append(insBody, Unknown("dlid"));
        Append(insBody, List("lrgn", lrgn));
        if (!ins.articulation.empty()) Append(insBody, ArticulationList(ins.articulation, plan.level2));
        if (!ins.name.empty()) Append(insBody, InfoList(ins.name));
        Append(lins, List("ins ", insBody));
    }
    Append(body, List("lins", lins));

    // Waves first, so the pool table can point at them.
    Bytes pool;
    std::vector<std::uint32_t> offsets;
    for (const WaveSpec& w : plan.waves) {
        offsets.push_back(static_cast<std::uint32_t>(pool.size()));
        Append(pool, WaveList(w, plan.unknownChunks));
    }
    if (plan.poolTable) {
        Bytes ptbl;
        PutU32(ptbl, 8);
        PutU32(ptbl, static_cast<std::uint32_t>(offsets.size()));
        for (std::uint32_t o : offsets)
            PutU32(ptbl, o);
        Append(body, Chunk("ptbl", ptbl));
    }
    Append(body, List("wvpl", pool));
    if (!plan.name.empty()) Append(body, InfoList(plan.name));
    return Chunk("RIFF", body);
}

// A copy broken off `lost` bytes before its end. With the collection's
// name left out, the wave pool ends the file and the cut falls in its last
// wave.
inline Bytes Truncated(const Bytes& dls, std::size_t lost) {
    return Bytes(dls.begin(), dls.end() - static_cast<std::ptrdiff_t>(std::min(lost, dls.size())));
}

// --- Generated waves ---

inline std::vector<std::int16_t> SineWave(double frequency, std::uint32_t sampleRate, std::size_t frames,
                                          double amplitude = 0.8) {
    std::vector<std::int16_t> s(frames);
    for (std::size_t i = 0; i < frames; ++i)
        s[i] = static_cast<std::int16_t>(
            std::lround(amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * frequency * double(i) / sampleRate)));
    return s;
}

inline std::vector<std::int16_t> SquareWave(double frequency, std::uint32_t sampleRate, std::size_t frames,
                                            double amplitude = 0.5) {
    std::vector<std::int16_t> s(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double phase = std::fmod(frequency * double(i) / sampleRate, 1.0);
        s[i] = static_cast<std::int16_t>(std::lround((phase < 0.5 ? amplitude : -amplitude) * 32767.0));
    }
    return s;
}

// A one-second 440 Hz wave at 44 kHz (100 frames a cycle), looped over its
// last 100 cycles so it sustains for as long as a note is held.
inline WaveSpec LoopedWave(std::vector<std::int16_t> samples, std::uint16_t unityNote = 69) {
    WaveSpec w;
    w.sampleRate = 44000;
    w.samples = std::move(samples);
    SampleInfo info;
    info.unityNote = unityNote;
    info.loop = Loop{static_cast<std::uint32_t>(w.samples.size() - 10000), 10000, 0};
    w.sample = info;
    return w;
}

// The collection most tests use:
//  wave 0: sine 440 Hz, wave 1: square 440 Hz, wave 2: sine 880 Hz,
//  wave 3: square 220 Hz; all unity note 69 (A4), looped.
//  bank 0/0 program 0: "Sine"; bank 0/0 program 1: "Square";
//  bank 5/3 program 0: "Square bank" (a bank select to a different timbre);
//  drums bank 0/0 program 0: key 36 -> 880 Hz sine, key 38 -> 220 Hz square,
//  each played at its unity pitch whatever the key.
inline CollectionSpec TestCollection(bool level2 = false) {
    CollectionSpec plan;
    plan.level2 = level2;
    plan.guid = std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    plan.waves.push_back(LoopedWave(SineWave(440, 44000, 44000)));
    plan.waves.back().name = "sine";
    plan.waves.push_back(LoopedWave(SquareWave(440, 44000, 44000)));
    plan.waves.back().name = "square";
    plan.waves.push_back(LoopedWave(SineWave(880, 44000, 44000)));
    plan.waves.push_back(LoopedWave(SquareWave(220, 44000, 44000)));

    // A quick organ-like envelope: instant attack, full sustain, short release.
    const std::vector<ConnectionSpec> envelope = {
        {0, 0, 0x0206, 0, static_cast<std::int32_t>(0x80000000u)}, // EG1 attack: none
        {0, 0, 0x020A, 0, 1000 * 65536},                           // EG1 sustain 100 %
        {0, 0, 0x0209, 0, -1200 * 65536 * 3},                      // EG1 release 1/8 s
    };
    InstrumentSpec sine;
    sine.name = "Sine";
    sine.regions.push_back(RegionSpec{});
    sine.regions.back().wave = 0;
    sine.articulation = envelope;
    InstrumentSpec square;
    square.name = "Square";
    square.program = 1;
    square.regions.push_back(RegionSpec{});
    square.regions.back().wave = 1;
    square.articulation = envelope;
    InstrumentSpec squareBank = square;
    squareBank.name = "Square bank";
    squareBank.program = 0;
    squareBank.bankMsb = 5;
    squareBank.bankLsb = 3;

    InstrumentSpec kit;
    kit.name = "Kit";
    kit.drums = true;
    RegionSpec kick;
    kick.keyLow = kick.keyHigh = 36;
    kick.wave = 2;
    kick.sample = SampleInfo{};
    kick.sample->unityNote = 36;
    kick.sample->loop = Loop{34000, 10000, 0};
    RegionSpec snare;
    snare.keyLow = snare.keyHigh = 38;
    snare.wave = 3;
    snare.sample = SampleInfo{};
    snare.sample->unityNote = 38;
    snare.sample->loop = Loop{34000, 10000, 0};
    kit.regions = {kick, snare};
    kit.articulation = envelope;

    plan.instruments = {sine, square, squareBank, kit};
    return plan;
}

} // namespace qorn::testdls
