#include "platform/synth/SynthConfig.h"

#include <cstdint>
#include <cstdlib>

namespace qorn::platform {
namespace {

constexpr DWORD kRates[] = {11025, 22050, 44100};
constexpr DWORD kMaxVoices = 1024;

DWORD nearestRate(DWORD wanted) {
    DWORD best = kRates[0];
    for (DWORD r : kRates) {
        const auto dist = [wanted](DWORD x) { return x > wanted ? x - wanted : wanted - x; };
        if (dist(r) < dist(best)) best = r;
    }
    return best;
}

} // namespace

HRESULT ResolveSynthConfig(DMUS_PORTPARAMS* params, SynthConfig& config) {
    config = SynthConfig{};
    if (params == nullptr) return S_OK;
    if (params->dwSize < sizeof(DMUS_PORTPARAMS)) return E_INVALIDARG;
    bool adjusted = false;
    const DWORD valid = params->dwValidParams;
    if ((valid & DMUS_PORTPARAMS_SAMPLERATE) && params->dwSampleRate != 0) {
        const DWORD rate = nearestRate(params->dwSampleRate);
        if (rate != params->dwSampleRate) {
            params->dwSampleRate = rate;
            adjusted = true;
        }
        config.sampleRate = static_cast<int>(rate);
    }
    if (valid & DMUS_PORTPARAMS_EFFECTS) {
        const DWORD known = DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS;
        if (params->dwEffectFlags & ~known) {
            params->dwEffectFlags &= known;
            adjusted = true;
        }
        config.reverb = (params->dwEffectFlags & DMUS_EFFECT_REVERB) != 0;
        config.chorus = (params->dwEffectFlags & DMUS_EFFECT_CHORUS) != 0;
    }
    if (valid & DMUS_PORTPARAMS_VOICES) {
        DWORD voices = params->dwVoices;
        if (voices == 0) voices = 1;
        if (voices > kMaxVoices) voices = kMaxVoices;
        if (voices != params->dwVoices) {
            params->dwVoices = voices;
            adjusted = true;
        }
        config.voices = static_cast<int>(voices);
    }
    // One group of 16 channels, rendered to one stereo pair.
    if ((valid & DMUS_PORTPARAMS_CHANNELGROUPS) && params->dwChannelGroups != 1) {
        params->dwChannelGroups = 1;
        adjusted = true;
    }
    if ((valid & DMUS_PORTPARAMS_AUDIOCHANNELS) && params->dwAudioChannels != 2) {
        params->dwAudioChannels = 2;
        adjusted = true;
    }
    return adjusted ? S_FALSE : S_OK;
}

std::string SoundFontPath() {
    const char* env = std::getenv("QORN_SOUNDFONT");
    if (env != nullptr && *env != '\0') return env;
    return "/usr/share/sounds/sf2/default-GM.sf2";
}

int SynthThreads() {
    const char* env = std::getenv("QORN_SYNTH_THREADS");
    const int n = env != nullptr ? std::atoi(env) : 1;
    return n >= 1 && n <= 256 ? n : 1;
}

} // namespace qorn::platform
