#include "engine/PortSetup.h"

#include "platform/com/Guids.h"

namespace qorn::engine {
using namespace qorn::platform;

DMUS_PORTPARAMS OutputPortParams(bool synthesizer, DWORD sampleRate, bool effects) {
    DMUS_PORTPARAMS params{};
    params.dwSize = sizeof params;
    params.dwValidParams = DMUS_PORTPARAMS_VOICES | DMUS_PORTPARAMS_CHANNELGROUPS | DMUS_PORTPARAMS_AUDIOCHANNELS;
    params.dwVoices = 128;
    params.dwChannelGroups = 1;
    params.dwAudioChannels = 16;
    if (synthesizer) {
        params.dwValidParams |= DMUS_PORTPARAMS_SAMPLERATE | DMUS_PORTPARAMS_EFFECTS;
        params.dwSampleRate = sampleRate;
        params.dwEffectFlags = effects ? DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS : DMUS_EFFECT_NONE;
    }
    return params;
}

PortStep ConnectPort(IDirectMusicPerformance2* performance, IDirectMusicPort* port) {
    if (port->Activate(TRUE) != S_OK) return PortStep::Activate;
    if (performance->AddPort(port) != S_OK) return PortStep::AddPort;
    std::int32_t autoDownload = 1;
    if (performance->SetGlobalParam(GUID_PerfAutoDownload, &autoDownload, sizeof autoDownload) != S_OK)
        return PortStep::AutoDownload;
    if (performance->AssignPChannelBlock(0, port, 1) != S_OK) return PortStep::AssignChannels;
    return PortStep::Done;
}

std::int32_t VolumeForPosition(std::int32_t position) {
    const std::int64_t p = position;
    return static_cast<std::int32_t>(p < 16 ? p * 56 - 3056 : p * 30 - 2640);
}

} // namespace qorn::engine
