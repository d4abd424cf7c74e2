#include "platform/formats/wave/WaveDecoder.h"

#include <mpg123.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace qorn::formats::wave {

namespace {

constexpr std::uint16_t kExtensible = 0xFFFE;
constexpr std::size_t kMaxPcmChannels = 8;

// The extra fields of Microsoft ADPCM: frames per block, then the number of
// coefficient pairs and the pairs.
void ReadAdpcmFormat(ByteReader& r, Format& f) {
    std::uint16_t count = 0;
    if (!r.readU16LE(f.framesPerBlock) || !r.readU16LE(count)) return;
    for (std::uint16_t i = 0; i < count && i < 256; ++i) {
        std::uint16_t a = 0, b = 0;
        if (!r.readU16LE(a) || !r.readU16LE(b)) break;
        f.coefficients.emplace_back(static_cast<std::int16_t>(a), static_cast<std::int16_t>(b));
    }
}

// 8-bit unsigned, 16-, 24- or 32-bit signed, or 32-bit float samples.
Decoded DecodePcm(ByteReader data, const Format& f, std::size_t maxFrames, Samples& out) {
    const bool flt = f.tag == kFloat;
    if (flt ? f.bits != 32 : (f.bits != 8 && f.bits != 16 && f.bits != 24 && f.bits != 32)) return Decoded::Unsupported;
    const std::size_t bytes = f.bits / 8u;
    out.samples.resize(std::min(data.size() / (bytes * f.channels), maxFrames) * f.channels);
    const std::span<const std::uint8_t> in = data.rest();
    const std::uint8_t* p = in.data();
    for (float& s : out.samples) {
        if (bytes == 1) {
            s = (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        } else {
            // Little-endian, left-aligned in 32 bits so the sign comes along.
            std::uint32_t u = 0;
            for (std::size_t i = 0; i < bytes; ++i)
                u |= std::uint32_t(p[i]) << (8 * (4 - bytes + i));
            if (flt) {
                const float x = std::bit_cast<float>(u);
                s = std::isfinite(x) ? std::clamp(x, -1.0f, 1.0f) : 0.0f;
            } else {
                s = static_cast<float>(static_cast<std::int32_t>(u)) / 2147483648.0f;
            }
        }
        p += bytes;
    }
    return Decoded::Ok;
}

// Microsoft ADPCM: each block starts with, per channel, the predictor
// index, the step and the two latest samples (the older one plays first);
// then 4-bit codes follow, high nibble first, channels interleaved.
Decoded DecodeAdpcm(ByteReader data, const Format& f, std::size_t maxFrames, Samples& result) {
    static constexpr int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
    const std::size_t channels = f.channels;
    const std::size_t header = 7 * channels;
    if (f.bits != 4 || channels > 2 || f.blockAlign <= header || f.coefficients.empty()) return Decoded::Broken;
    std::vector<float>& out = result.samples;
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
    return Decoded::Ok;
}

struct Mpg123Delete {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};

// MPEG audio through libmpg123, fed the whole stream from memory. Its own
// gapless trimming stays off (it would trim by a LAME tag these streams do
// not have): the frames before the wave are dropped here.
Decoded DecodeMpeg(std::span<const std::uint8_t> data, const Format& f, const Extras& extras, std::size_t maxFrames,
                   Samples& out) {
    int error = MPG123_OK;
    std::unique_ptr<mpg123_handle, Mpg123Delete> h(mpg123_new(nullptr, &error));
    if (!h) return Decoded::Broken;
    // Quiet: readers never print. One stream only: a second one glued on
    // could change the rate or channels halfway.
    mpg123_param(h.get(), MPG123_FLAGS, MPG123_QUIET | MPG123_NO_FRANKENSTEIN, 0.0);
    // 16-bit output at the stream's own rate and channels.
    mpg123_format_none(h.get());
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(h.get()) != MPG123_OK || mpg123_feed(h.get(), data.data(), data.size()) != MPG123_OK)
        return Decoded::Broken;

    std::size_t skip = extras.leadingFrames ? *extras.leadingFrames : f.tag == kMpegLayer3 ? f.codecDelay : 0;
    long rate = 0;
    int channels = 0, encoding = 0;
    std::int16_t buffer[4608]; // two MPEG frames of 1152 stereo frames
    while (out.frames() < maxFrames) {
        std::size_t bytes = 0;
        const int status = mpg123_read(h.get(), buffer, sizeof buffer, &bytes);
        if (status == MPG123_NEW_FORMAT) {
            if (channels != 0) break;
            mpg123_getformat(h.get(), &rate, &channels, &encoding);
            if (channels < 1 || channels > 2 || encoding != MPG123_ENC_SIGNED_16 || rate <= 0) return Decoded::Broken;
            out.rate = static_cast<std::uint32_t>(rate);
            out.channels = static_cast<std::uint16_t>(channels);
            continue;
        }
        if (channels != 0) {
            std::size_t frames = bytes / sizeof(std::int16_t) / std::size_t(channels);
            const std::size_t dropped = std::min(frames, skip);
            skip -= dropped;
            frames = std::min(frames - dropped, maxFrames - out.frames());
            const std::int16_t* from = buffer + dropped * std::size_t(channels);
            for (std::size_t i = 0; i < frames * std::size_t(channels); ++i)
                out.samples.push_back(static_cast<float>(from[i]) / 32768.0f);
        }
        // The end of the stream, or damage past which nothing is trusted.
        if (status != MPG123_OK) break;
    }
    return out.samples.empty() ? Decoded::Broken : Decoded::Ok;
}

} // namespace

bool ReadFormat(ByteReader r, Format& f) {
    f = Format{};
    std::uint32_t byteRate = 0;
    if (!(r.readU16LE(f.tag) && r.readU16LE(f.channels) && r.readU32LE(f.rate) && r.readU32LE(byteRate) &&
          r.readU16LE(f.blockAlign) && r.readU16LE(f.bits)))
        return false;
    std::uint16_t extra = 0;
    if (!r.readU16LE(extra)) return true;
    if (f.tag == kExtensible) {
        // Valid bits, channel mask, then the sub-format GUID whose first two
        // bytes are the plain format tag.
        std::uint16_t valid = 0, sub = 0;
        std::uint32_t mask = 0;
        if (extra >= 22 && r.readU16LE(valid) && r.readU32LE(mask) && r.readU16LE(sub)) f.tag = sub;
    } else if (f.tag == kMsAdpcm) {
        ReadAdpcmFormat(r, f);
    } else if (f.tag == kMpegLayer3 && extra >= 12) {
        // Id, padding flags, block size, frames per block, then the delay.
        r.skip(10);
        r.readU16LE(f.codecDelay);
    }
    return true;
}

bool ReadExtra(std::uint32_t id, ByteReader body, Extras& extras) {
    std::uint32_t n = 0;
    if (id == ByteReader::fourCC("fact")) {
        if (body.readU32LE(n)) extras.factFrames = n;
        return true;
    }
    if (id == ByteReader::fourCC("wavu")) {
        // Two flag bytes (the second set for a compressed wave), the
        // uncompressed format (18 bytes), then the frames to drop.
        std::uint8_t flags[2] = {};
        if (body.readU8(flags[0]) && body.readU8(flags[1]) && flags[1] != 0 && body.skip(18) && body.readU32LE(n))
            extras.leadingFrames = n;
        return true;
    }
    return false;
}

Decoded Decode(const Format& format, std::span<const std::uint8_t> data, const Extras& extras, std::size_t maxFrames,
               Samples& out) {
    out = Samples{};
    if (format.channels == 0 || format.channels > kMaxPcmChannels || format.rate == 0) return Decoded::Broken;
    out.rate = format.rate;
    out.channels = format.channels;
    switch (format.tag) {
    case kPcm:
    case kFloat:
        return DecodePcm(ByteReader(data), format, maxFrames, out);
    case kMsAdpcm:
        // 'fact' says where the last block ends.
        if (extras.factFrames && *extras.factFrames > 0)
            maxFrames = std::min<std::size_t>(maxFrames, *extras.factFrames);
        return DecodeAdpcm(ByteReader(data), format, maxFrames, out);
    case kMpeg:
    case kMpegLayer3:
        return DecodeMpeg(data, format, extras, maxFrames, out);
    default:
        return Decoded::Unsupported;
    }
}

Decoded DecodeMono16(const Format& format, std::span<const std::uint8_t> data, const Extras& extras,
                     std::size_t maxFrames, MonoSamples& out) {
    out = MonoSamples{};
    if (format.tag == kPcm && format.bits == 16 && format.channels == 1 && format.rate != 0 &&
        std::endian::native == std::endian::little) {
        // The common case, already in the form kept.
        out.rate = format.rate;
        out.samples.resize(std::min(data.size() / 2, maxFrames));
        if (!out.samples.empty()) std::memcpy(out.samples.data(), data.data(), out.samples.size() * 2);
        return Decoded::Ok;
    }
    Samples decoded;
    const Decoded result = Decode(format, data, extras, maxFrames, decoded);
    if (result != Decoded::Ok) return result;
    out.rate = decoded.rate;
    out.samples.resize(decoded.frames());
    const float* p = decoded.samples.data();
    const float scale = 32768.0f / static_cast<float>(decoded.channels);
    for (std::int16_t& sample : out.samples) {
        float sum = 0;
        for (unsigned c = 0; c < decoded.channels; ++c)
            sum += *p++;
        const float v = std::clamp(sum * scale, -32768.0f, 32767.0f);
        sample = static_cast<std::int16_t>(v < 0 ? v - 0.5f : v + 0.5f);
    }
    return Decoded::Ok;
}

std::string FormatTagText(std::uint16_t tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", tag);
    return text;
}

} // namespace qorn::formats::wave
