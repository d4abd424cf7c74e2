#include "platform/waves/WaveData.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qorn::waves {

using formats::ByteReader;
namespace riff = formats::riff;

namespace {

constexpr std::uint32_t kWaveForm = ByteReader::fourCC("WAVE");
constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kFloat = 3;
constexpr std::uint16_t kExtensible = 0xFFFE;

struct Format {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
};

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
        }
    }
    if (!haveFormat) return Fail(error, "wave without a usable 'fmt ' chunk");
    if (!haveData) return Fail(error, "wave without a 'data' chunk");
    if (fmt.channels < 1 || fmt.channels > 2)
        return Fail(error, "wave of " + std::to_string(fmt.channels) + " channels");
    if (fmt.rate < 1000 || fmt.rate > 384000) return Fail(error, "wave at " + std::to_string(fmt.rate) + " Hz");
    const bool pcm = fmt.tag == kPcm && (fmt.bits == 8 || fmt.bits == 16);
    const bool flt = fmt.tag == kFloat && fmt.bits == 32;
    if (!pcm && !flt)
        return Fail(error, "wave format " + std::to_string(fmt.tag) + " of " + std::to_string(fmt.bits) + " bits");
    const std::size_t bytesPerSample = fmt.bits / 8u;
    const std::size_t frameBytes = bytesPerSample * fmt.channels;
    const std::size_t frames = std::min(data.size() / frameBytes, kMaxFrames);
    w.sampleRate = fmt.rate;
    w.channels = fmt.channels;
    w.samples.resize(frames * fmt.channels);
    ByteReader r = data;
    for (float& s : w.samples) {
        if (fmt.bits == 8) {
            std::uint8_t v = 0;
            r.readU8(v);
            s = (static_cast<float>(v) - 128.0f) / 128.0f;
        } else if (fmt.bits == 16) {
            std::uint16_t v = 0;
            r.readU16LE(v);
            s = static_cast<float>(static_cast<std::int16_t>(v)) / 32768.0f;
        } else {
            std::uint32_t v = 0;
            r.readU32LE(v);
            float f = 0;
            std::memcpy(&f, &v, sizeof f);
            s = std::isfinite(f) ? std::clamp(f, -1.0f, 1.0f) : 0.0f;
        }
    }
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
