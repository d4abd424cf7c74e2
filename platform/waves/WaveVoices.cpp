#include "platform/waves/WaveVoices.h"

#include <algorithm>
#include <cmath>

namespace qorn::waves {

PreparedWave PrepareWave(const WaveData& wave, int outputRate) {
    PreparedWave p;
    const std::size_t frames = wave.frames();
    if (frames == 0 || wave.sampleRate == 0 || outputRate <= 0) return p;
    p.ratio = double(outputRate) / wave.sampleRate;
    const auto out =
        static_cast<std::size_t>(std::min<double>(std::floor(double(frames) * p.ratio), double(kMaxFrames)));
    p.left.resize(out);
    p.right.resize(out);
    const std::size_t ch = wave.channels;
    const double step = double(wave.sampleRate) / outputRate;
    for (std::size_t i = 0; i < out; ++i) {
        const double at = double(i) * step;
        const auto a = std::min(static_cast<std::size_t>(at), frames - 1);
        const std::size_t b = std::min(a + 1, frames - 1);
        const auto t = static_cast<float>(at - double(a));
        const float l = wave.samples[a * ch] + t * (wave.samples[b * ch] - wave.samples[a * ch]);
        const float r = ch == 2 ? wave.samples[a * 2 + 1] + t * (wave.samples[b * 2 + 1] - wave.samples[a * 2 + 1]) : l;
        p.left[i] = l;
        p.right[i] = r;
    }
    if (wave.hasLoop) {
        p.loopStart = static_cast<std::uint32_t>(std::llround(wave.loopStart * p.ratio));
        p.loopEnd = static_cast<std::uint32_t>(
            std::min<double>(std::llround((double(wave.loopStart) + wave.loopLength) * p.ratio), double(out)));
        p.hasLoop = p.loopStart < p.loopEnd;
    }
    return p;
}

WaveVoices::WaveVoices(const music::Sequence& sequence, int outputRate) {
    waves_.reserve(sequence.waveData.size());
    for (const auto& w : sequence.waveData)
        waves_.push_back(w ? PrepareWave(*w, outputRate) : PreparedWave{});
}

void WaveVoices::start(const music::WaveItem& item, std::size_t skipFrames) {
    if (item.wave >= waves_.size() || item.gain <= 0.0f) return;
    const PreparedWave& w = waves_[item.wave];
    const std::size_t frames = w.left.size();
    const auto first = static_cast<std::size_t>(std::llround(item.startFrame * w.ratio));
    if (first >= frames) return;
    if (!item.loop && skipFrames >= frames - first) return; // over before it is heard
    for (Voice& v : voices_) {
        if (v.wave != nullptr) continue;
        v.wave = &w;
        v.pos = first + skipFrames;
        v.gain = item.gain;
        v.loop = false;
        if (item.loop) {
            // The item's own loop points win over the file's.
            std::size_t ls = 0, le = 0;
            if (item.loopEnd > item.loopStart) {
                ls = static_cast<std::size_t>(std::llround(item.loopStart * w.ratio));
                le = std::min(static_cast<std::size_t>(std::llround(item.loopEnd * w.ratio)), frames);
            } else if (w.hasLoop) {
                ls = w.loopStart;
                le = w.loopEnd;
            } else {
                le = frames;
            }
            v.loop = ls < le;
            v.loopStart = ls;
            v.loopEnd = le;
        }
        v.endTick = item.endTick > item.tick ? double(item.endTick) : std::numeric_limits<double>::infinity();
        return;
    }
}

void WaveVoices::endBefore(double tick) {
    for (Voice& v : voices_)
        if (v.wave != nullptr && v.endTick <= tick) v.wave = nullptr;
}

void WaveVoices::stopAll() {
    for (Voice& v : voices_)
        v.wave = nullptr;
}

int WaveVoices::sounding() const {
    return static_cast<int>(std::count_if(voices_.begin(), voices_.end(), [](const Voice& v) { return v.wave; }));
}

void WaveVoices::mix(float* left, float* right, int frames, float masterGain) {
    for (Voice& v : voices_) {
        if (v.wave == nullptr) continue;
        const float g = v.gain * masterGain;
        const std::size_t size = v.wave->left.size();
        for (int i = 0; i < frames; ++i) {
            if (v.loop && v.pos >= v.loopEnd) v.pos = v.loopStart + (v.pos - v.loopEnd) % (v.loopEnd - v.loopStart);
            if (v.pos >= size) {
                v.wave = nullptr;
                break;
            }
            left[i] += g * v.wave->left[v.pos];
            right[i] += g * v.wave->right[v.pos];
            ++v.pos;
        }
    }
}

} // namespace qorn::waves
