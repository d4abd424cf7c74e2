#include "platform/waves/WaveData.h"

#include "platform/formats/wave/WaveDecoder.h"

#include <cstdint>
#include <utility>

namespace qorn::waves {

using formats::ByteReader;
namespace riff = formats::riff;
namespace codec = formats::wave;

namespace {

constexpr std::uint32_t kWaveForm = ByteReader::fourCC("WAVE");

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
    codec::Format fmt;
    codec::Extras extras;
    bool haveFormat = false;
    ByteReader data;
    bool haveData = false;
    WaveData w;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("fmt ")) {
            haveFormat = codec::ReadFormat(c.body, fmt);
        } else if (c.id == ByteReader::fourCC("data") && !haveData) {
            data = c.body;
            haveData = true;
        } else if (c.id == ByteReader::fourCC("wsmp")) {
            ReadWsmp(c.body, w);
        } else if (c.id == ByteReader::fourCC("smpl") && !w.hasLoop) {
            ReadSmpl(c.body, w);
        } else {
            codec::ReadExtra(c.id, c.body, extras);
        }
    }
    if (!haveFormat) return Fail(error, "wave without a usable 'fmt ' chunk");
    if (!haveData) return Fail(error, "wave without a 'data' chunk");
    if (fmt.channels < 1 || fmt.channels > 2)
        return Fail(error, "wave of " + std::to_string(fmt.channels) + " channels");
    if (fmt.rate < 1000 || fmt.rate > 384000) return Fail(error, "wave at " + std::to_string(fmt.rate) + " Hz");
    codec::Samples decoded;
    switch (codec::Decode(fmt, data.rest(), extras, kMaxFrames, decoded)) {
    case codec::Decoded::Ok:
        break;
    case codec::Decoded::Unsupported:
        return Fail(error, "wave format " + codec::FormatTagText(fmt.tag) + " of " + std::to_string(fmt.bits) +
                               " bits, which this player cannot decode");
    case codec::Decoded::Broken:
        return Fail(error, "wave of format " + codec::FormatTagText(fmt.tag) + " whose samples do not decode");
    }
    w.sampleRate = decoded.rate;
    w.channels = decoded.channels;
    w.samples = std::move(decoded.samples);
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
