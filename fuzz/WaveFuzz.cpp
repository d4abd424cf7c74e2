// libFuzzer target for a wave file opened as a piece, on the road the
// player takes: the loader's probe reads it (the one wave decoder: PCM,
// float, Microsoft ADPCM, MPEG audio) into a segment of one wave, which the
// synthesizer's wave voices prepare at the output rate and mix. Any bytes
// must load or fail with a reason; a loaded wave must be bounded and mix to
// finite samples.
#include "fuzz/FuzzSupport.h"
#include "platform/loader/FormatProbe.h"
#include "platform/waves/WaveVoices.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using qorn::fuzz::Broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const qorn::platform::FormatProbe* wave = nullptr;
    for (const auto& probe : qorn::platform::FormatProbes())
        if (std::strcmp(probe.name, "wave file") == 0) wave = &probe;
    if (!wave) Broken("no wave probe");
    if (!wave->looksLike(bytes)) return 0;
    std::shared_ptr<const qorn::music::Sequence> out;
    std::string error;
    qorn::formats::Diagnostics warnings;
    if (!wave->read(bytes, out, &error, &warnings)) {
        if (error.empty()) Broken("failed without a reason");
        return 0;
    }
    if (!out || out->waves.size() != 1 || out->waveData.size() != 1 || !out->waveData[0]) Broken("not one wave");
    const qorn::waves::WaveData& w = *out->waveData[0];
    if (w.channels < 1 || w.channels > 2 || w.sampleRate == 0) Broken("a wave of no shape");
    if (w.frames() == 0 || w.frames() > qorn::waves::kMaxFrames) Broken("frames out of bounds");
    if (w.hasLoop && std::uint64_t(w.loopStart) + w.loopLength > w.frames()) Broken("loop outside the wave");
    for (float s : w.samples)
        if (!std::isfinite(s) || std::fabs(s) > 4.0f) Broken("a sample out of range");
    if (out->lengthTicks == 0) Broken("a wave piece of no length");

    // As the synthesizer plays it: prepared at the output rate, mixed.
    qorn::waves::WaveVoices voices(*out, 22050);
    voices.start(out->waves[0], 0);
    float left[256] = {}, right[256] = {};
    for (int block = 0; block < 8; ++block)
        voices.mix(left, right, 256, 1.0f);
    for (int i = 0; i < 256; ++i)
        if (!std::isfinite(left[i]) || !std::isfinite(right[i])) Broken("mixed to a non-finite sample");
    return 0;
}
