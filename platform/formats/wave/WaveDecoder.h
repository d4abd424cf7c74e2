// The one decoder of a wave's samples, from its 'fmt ' and 'data' chunks and
// what the chunks beside them say ('fact', 'wavu'): plain PCM of 8 to 32
// bits, 32-bit float, Microsoft ADPCM and MPEG audio (Layer 3 as DirectX
// collections compress their waves; decoded by libmpg123). Used by the DLS
// reader for a collection's wave pool and by the wave files of wave tracks.
#pragma once

#include "platform/formats/common/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qorn::formats::wave {

inline constexpr std::uint16_t kPcm = 0x0001;
inline constexpr std::uint16_t kMsAdpcm = 0x0002;
inline constexpr std::uint16_t kFloat = 0x0003;
inline constexpr std::uint16_t kMpeg = 0x0050;
inline constexpr std::uint16_t kMpegLayer3 = 0x0055;

// 'fmt '. An extensible format is read as the plain format its sub-format
// GUID names.
struct Format {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
    // Microsoft ADPCM: frames per block and the predictor coefficient pairs.
    std::uint16_t framesPerBlock = 0;
    std::vector<std::pair<int, int>> coefficients;
    // MPEG Layer 3: the encoder's delay in frames, 0 when not known.
    std::uint16_t codecDelay = 0;
};

// False when the chunk is shorter than the 16 bytes every format has.
bool ReadFormat(ByteReader body, Format& out);

// What the chunks beside 'fmt ' and 'data' say of the samples.
struct Extras {
    // 'fact': the frames the wave holds.
    std::optional<std::uint32_t> factFrames;
    // 'wavu', which the authoring tool writes beside a compressed wave: the
    // frames a decoder's output starts with that are not part of the wave.
    std::optional<std::uint32_t> leadingFrames;
};

// Takes in chunk `id` when it is one of Extras'; false otherwise.
bool ReadExtra(std::uint32_t id, ByteReader body, Extras& extras);

enum class Decoded {
    Ok,
    Unsupported, // a format (or bit depth) this decoder does not know
    Broken,      // a format it knows, whose fields or samples do not decode
};

struct Samples {
    // The decoded rate and channels: an MPEG stream's own, which may differ
    // from what 'fmt ' says.
    std::uint32_t rate = 0;
    std::uint16_t channels = 0;
    // Interleaved, full scale at +-1.
    std::vector<float> samples;

    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Decodes at most `maxFrames` frames of `data`. Up to 8 channels of PCM,
// one or two of the compressed formats. A compressed wave loses the frames
// its decoder adds before it ('wavu', else the encoder delay 'fmt ' gives)
// and keeps the encoder's padding after it, where the authoring tool's
// loops may reach.
Decoded Decode(const Format& format, std::span<const std::uint8_t> data, const Extras& extras, std::size_t maxFrames,
               Samples& out);

// The same as mono 16-bit samples (the channels averaged), the form a DLS
// collection keeps; plain 16-bit mono is taken as it is.
struct MonoSamples {
    std::uint32_t rate = 0;
    std::vector<std::int16_t> samples;
};
Decoded DecodeMono16(const Format& format, std::span<const std::uint8_t> data, const Extras& extras,
                     std::size_t maxFrames, MonoSamples& out);

// "0x0055", for messages.
std::string FormatTagText(std::uint16_t tag);

} // namespace qorn::formats::wave
