#include "platform/waves/WaveData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace qorn::waves {

using formats::ByteReader;
namespace riff = formats::riff;

namespace {

constexpr std::uint32_t kWaveForm = ByteReader::fourCC("WAVE");
constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kMsAdpcm = 2;
constexpr std::uint16_t kFloat = 3;
constexpr std::uint16_t kExtensible = 0xFFFE;

struct Format {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
    // Microsoft ADPCM: frames per block and the predictor coefficient pairs.
    std::uint16_t framesPerBlock = 0;
    std::vector<std::pair<int, int>> coefficients;
};

// The extra fields of Microsoft ADPCM: frames per block, then the number of
// coefficient pairs and the pairs.
void ReadAdpcmFormat(ByteReader& r, Format& f) {
    std::uint16_t extra = 0, count = 0;
    if (!r.readU16LE(extra) || !r.readU16LE(f.framesPerBlock) || !r.readU16LE(count)) return;
    for (std::uint16_t i = 0; i < count && i < 256; ++i) {
        std::uint16_t a = 0, b = 0;
        if (!r.readU16LE(a) || !r.readU16LE(b)) break;
        f.coefficients.emplace_back(static_cast<std::int16_t>(a), static_cast<std::int16_t>(b));
    }
}

// Microsoft ADPCM: each block starts with, per channel, the predictor
// index, the step and the two latest samples (the older one plays first);
// then 4-bit codes follow, high nibble first, channels interleaved.
std::vector<float> DecodeAdpcm(ByteReader data, const Format& f, std::size_t maxFrames) {
    static constexpr int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
    const std::size_t channels = f.channels;
    const std::size_t header = 7 * channels;
    std::vector<float> out;
    if (f.blockAlign <= header || f.coefficients.empty()) return out;
    struct State {
        int coef1 = 0, coef2 = 0, delta = 0, sample1 = 0, sample2 = 0;
    };
    while (data.remaining() > header && out.size() / channels < maxFrames) {
        ByteReader block(data.readBytes(std::min<std::size_t>(f.blockAlign, data.remaining())));
        State st[2];
        for (std::size_t c = 0; c < channels; ++c) {
            std::uint8_t index = 0;
            block.readU8(index);
            const auto& pair = f.coefficients[std::min<std::size_t>(index, f.coefficients.size() - 1)];
            st[c].coef1 = pair.first;
            st[c].coef2 = pair.second;
        }
        for (auto member : {&State::delta, &State::sample1, &State::sample2})
            for (std::size_t c = 0; c < channels; ++c) {
                std::uint16_t v = 0;
                block.readU16LE(v);
                st[c].*member = static_cast<std::int16_t>(v);
            }
        for (std::size_t c = 0; c < channels; ++c)
            out.push_back(static_cast<float>(st[c].sample2) / 32768.0f);
        for (std::size_t c = 0; c < channels; ++c)
            out.push_back(static_cast<float>(st[c].sample1) / 32768.0f);
        // Codes left in the block (a block that says nothing of its frames: all of them).
        std::size_t left =
            f.framesPerBlock == 0 ? SIZE_MAX : std::size_t(std::max<std::uint16_t>(f.framesPerBlock, 2) - 2) * channels;
        std::size_t c = 0;
        std::uint8_t byte = 0;
        while (left > 0 && block.readU8(byte)) {
            for (const int nibble : {byte >> 4, byte & 0xF}) {
                State& s = st[c];
                const int code = nibble >= 8 ? nibble - 16 : nibble;
                // Wide enough for any coefficients and step a file may hold.
                const std::int64_t predicted =
                    ((std::int64_t(s.sample1) * s.coef1 + std::int64_t(s.sample2) * s.coef2) >> 8) +
                    std::int64_t(code) * s.delta;
                const int sample = static_cast<int>(std::clamp<std::int64_t>(predicted, -32768, 32767));
                s.sample2 = s.sample1;
                s.sample1 = sample;
                s.delta = std::clamp(kAdapt[nibble] * s.delta / 256, 16, 1 << 20);
                out.push_back(static_cast<float>(sample) / 32768.0f);
                c = (c + 1) % channels;
                if (--left == 0) break;
            }
        }
    }
    out.resize(std::min(out.size(), maxFrames * channels) / channels * channels);
    return out;
}

bool ReadFormat(ByteReader r, Format& f) {
    std::uint32_t byteRate = 0;
    if (!(r.readU16LE(f.tag) && r.readU16LE(f.channels) && r.readU32LE(f.rate) && r.readU32LE(byteRate) &&
          r.readU16LE(f.blockAlign) && r.readU16LE(f.bits)))
        return false;
    if (f.tag == kExtensible) {
        // cbSize, valid bits, channel mask, then the sub-format GUID whose
        // first two bytes are the plain format tag.
        std::uint16_t extra = 0, valid = 0, sub = 0;
        std::uint32_t mask = 0;
        if (r.readU16LE(extra) && extra >= 22 && r.readU16LE(valid) && r.readU32LE(mask) && r.readU16LE(sub))
            f.tag = sub;
    } else if (f.tag == kMsAdpcm) {
        ReadAdpcmFormat(r, f);
    }
    return true;
}

// DLS 'wsmp': header size, unity note, fine tune, attenuation, options,
// loop count, then loops of (size, type, start, length).
void ReadWsmp(ByteReader r, WaveData& w) {
    std::uint32_t size = 0, attenuation = 0, options = 0, loops = 0;
    std::uint16_t note = 0, tune = 0;
    if (!(r.readU32LE(size) && r.readU16LE(note) && r.readU16LE(tune) && r.readU32LE(attenuation) &&
          r.readU32LE(options) && r.readU32LE(loops)))
        return;
    if (loops == 0 || size < 20 || !r.skip(size - 20)) return;
    std::uint32_t loopSize = 0, type = 0, start = 0, length = 0;
    if (r.readU32LE(loopSize) && r.readU32LE(type) && r.readU32LE(start) && r.readU32LE(length) && length > 0) {
        w.hasLoop = true;
        w.loopStart = start;
        w.loopLength = length;
    }
}

// The standard sampler chunk: 36 bytes of header (loop count at 28), then
// loops of 24 bytes (id, type, start, inclusive end, fraction, play count).
void ReadSmpl(ByteReader r, WaveData& w) {
    std::uint32_t loops = 0;
    if (!r.skip(28) || !r.readU32LE(loops) || loops == 0 || !r.skip(4)) return;
    std::uint32_t id = 0, type = 0, start = 0, end = 0;
    if (r.readU32LE(id) && r.readU32LE(type) && r.readU32LE(start) && r.readU32LE(end) && end >= start) {
        w.hasLoop = true;
        w.loopStart = start;
        w.loopLength = end - start + 1;
    }
}

// 8-bit unsigned, 16-bit signed or 32-bit float samples.
std::vector<float> DecodePcm(ByteReader data, const Format& f) {
    const std::size_t frameBytes = f.bits / 8u * f.channels;
    std::vector<float> out(std::min(data.size() / frameBytes, kMaxFrames) * f.channels);
    for (float& s : out) {
        if (f.bits == 8) {
            std::uint8_t v = 0;
            data.readU8(v);
            s = (static_cast<float>(v) - 128.0f) / 128.0f;
        } else if (f.bits == 16) {
            std::uint16_t v = 0;
            data.readU16LE(v);
            s = static_cast<float>(static_cast<std::int16_t>(v)) / 32768.0f;
        } else {
            std::uint32_t v = 0;
            data.readU32LE(v);
            float x = 0;
            std::memcpy(&x, &v, sizeof x);
            s = std::isfinite(x) ? std::clamp(x, -1.0f, 1.0f) : 0.0f;
        }
    }
    return out;
}

bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

} // namespace

bool ReadWaveForm(const riff::Chunk& form, WaveData& out, std::string* error) {
    if (!form.isForm(kWaveForm)) return Fail(error, "not a RIFF WAVE form");
    Format fmt;
    bool haveFormat = false;
    ByteReader data;
    bool haveData = false;
    std::size_t factFrames = kMaxFrames;
    WaveData w;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("fmt ")) {
            haveFormat = ReadFormat(c.body, fmt);
        } else if (c.id == ByteReader::fourCC("data") && !haveData) {
            data = c.body;
            haveData = true;
        } else if (c.id == ByteReader::fourCC("wsmp")) {
            ReadWsmp(c.body, w);
        } else if (c.id == ByteReader::fourCC("smpl") && !w.hasLoop) {
            ReadSmpl(c.body, w);
        } else if (c.id == ByteReader::fourCC("fact")) {
            ByteReader r = c.body;
            std::uint32_t n = 0;
            if (r.readU32LE(n) && n > 0) factFrames = n;
        }
    }
    if (!haveFormat) return Fail(error, "wave without a usable 'fmt ' chunk");
    if (!haveData) return Fail(error, "wave without a 'data' chunk");
    if (fmt.channels < 1 || fmt.channels > 2)
        return Fail(error, "wave of " + std::to_string(fmt.channels) + " channels");
    if (fmt.rate < 1000 || fmt.rate > 384000) return Fail(error, "wave at " + std::to_string(fmt.rate) + " Hz");
    const bool pcm = fmt.tag == kPcm && (fmt.bits == 8 || fmt.bits == 16);
    const bool flt = fmt.tag == kFloat && fmt.bits == 32;
    const bool adpcm = fmt.tag == kMsAdpcm && fmt.bits == 4 && !fmt.coefficients.empty();
    if (!pcm && !flt && !adpcm)
        return Fail(error, "wave format " + std::to_string(fmt.tag) + " of " + std::to_string(fmt.bits) + " bits");
    w.sampleRate = fmt.rate;
    w.channels = fmt.channels;
    // The 'fact' chunk, where there is one, says where the last ADPCM block ends.
    w.samples = adpcm ? DecodeAdpcm(data, fmt, std::min<std::size_t>(factFrames, kMaxFrames)) : DecodePcm(data, fmt);
    const std::size_t frames = w.frames();
    // A loop outside the samples is not played.
    if (w.hasLoop && (w.loopStart >= frames || w.loopLength > frames - w.loopStart)) w.hasLoop = false;
    out = std::move(w);
    return true;
}

bool ReadWaveFile(std::span<const std::uint8_t> bytes, WaveData& out, std::string* error) {
    riff::ChunkReader top{ByteReader(bytes)};
    riff::Chunk root;
    if (!top.next(root) || root.id != riff::kRiff || root.type != kWaveForm)
        return Fail(error, "not a wave file: no 'RIFF WAVE' form at offset 0");
    return ReadWaveForm(root, out, error);
}

} // namespace qorn::waves
