#include "platform/DirectMusic.h"

#include "platform/alsa/AlsaPort.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"
#include "platform/synth/SynthPort.h"

#include <cstring>
#include <mutex>

namespace qorn::platform {
namespace {

struct BackendFactory {
    std::mutex mutex;
    std::function<std::shared_ptr<AlsaBackend>()> make;
};

BackendFactory& backendFactory() {
    static BackendFactory f;
    return f;
}

void setDescription(DMUS_PORTCAPS& caps, const std::string& text) {
    std::memset(caps.wszDescription, 0, sizeof(caps.wszDescription));
    if (text.empty()) return;
    // Cut to the record's room, keeping the terminator.
    const int need = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0);
    if (need <= 0) return;
    std::vector<WCHAR> wide(std::size_t(need) + 1, 0);
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), int(text.size()), wide.data(), need);
    int n = std::min(need, DMUS_MAX_DESCRIPTION - 1);
    // Never end on the first half of a surrogate pair.
    if (n > 0 && wide[std::size_t(n - 1)] >= 0xD800 && wide[std::size_t(n - 1)] <= 0xDBFF) --n;
    std::memcpy(caps.wszDescription, wide.data(), sizeof(WCHAR) * std::size_t(n));
}

} // namespace

void SetAlsaBackendFactory(std::function<std::shared_ptr<AlsaBackend>()> factory) {
    auto& f = backendFactory();
    std::lock_guard lock(f.mutex);
    f.make = std::move(factory);
}

HRESULT DirectMusic::Activate(BOOL /*enable*/) {
    return S_OK;
}

HRESULT DirectMusic::SetDirectSound(void* /*directSound*/, HWND /*window*/) {
    return S_OK;
}

AlsaBackend& DirectMusic::backend() {
    if (!backend_) {
        std::function<std::shared_ptr<AlsaBackend>()> make;
        {
            auto& f = backendFactory();
            std::lock_guard lock(f.mutex);
            make = f.make;
        }
        backend_ = make ? make() : OpenAlsaBackend();
    }
    return *backend_;
}

void DirectMusic::refreshPorts() {
    alsaPorts_ = backend().listPorts();
    listed_ = true;
}

HRESULT DirectMusic::GetDefaultPort(GUID* portGuid) {
    if (portGuid == nullptr) return E_POINTER;
    *portGuid = GUID_QornSynthPort;
    return S_OK;
}

HRESULT DirectMusic::EnumPort(DWORD index, DMUS_PORTCAPS* caps) {
    if (caps == nullptr) return E_POINTER;
    if (caps->dwSize < sizeof(DMUS_PORTCAPS)) return E_INVALIDARG;
    // A fresh look at the machine each time the list is read from its start.
    if (index == 0 || !listed_) refreshPorts();
    if (index < alsaPorts_.size()) {
        const AlsaPortInfo& info = alsaPorts_[index];
        const DWORD size = caps->dwSize;
        std::memset(caps, 0, sizeof(DMUS_PORTCAPS));
        caps->dwSize = size;
        caps->dwFlags = DMUS_PC_EXTERNAL;
        caps->guidPort = info.guid;
        caps->dwClass = info.writable ? DMUS_PC_OUTPUTCLASS : DMUS_PC_INPUTCLASS;
        caps->dwType = DMUS_PORT_WINMM_DRIVER;
        caps->dwMaxChannelGroups = 1;
        setDescription(*caps, info.description);
        return S_OK;
    }
    if (index == alsaPorts_.size()) {
        const DWORD size = caps->dwSize;
        std::memset(caps, 0, sizeof(DMUS_PORTCAPS));
        caps->dwSize = size;
        caps->dwFlags = DMUS_PC_DLS | DMUS_PC_DLS2 | DMUS_PC_SOFTWARESYNTH;
        caps->guidPort = GUID_QornSynthPort;
        caps->dwClass = DMUS_PC_OUTPUTCLASS;
        caps->dwType = DMUS_PORT_USER_MODE_SYNTH;
        caps->dwMaxChannelGroups = 1;
        caps->dwMaxVoices = 1024;
        caps->dwMaxAudioChannels = 2;
        caps->dwEffectFlags = DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS;
        setDescription(*caps, kSynthDescription);
        return S_OK;
    }
    return S_FALSE;
}

HRESULT DirectMusic::CreatePort(REFGUID portGuid, DMUS_PORTPARAMS* params, IDirectMusicPort** port, IUnknown* outer) {
    if (port == nullptr) return E_POINTER;
    *port = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (portGuid == GUID_NULL || portGuid == GUID_QornSynthPort) {
        SynthConfig config;
        const HRESULT hr = ResolveSynthConfig(params, config);
        if (FAILED(hr)) return hr;
        std::string why;
        SynthPort* synth = SynthPort::Create(config, &why);
        if (synth == nullptr) {
            // Why (a General MIDI set missing or damaged) goes to the caller as error information.
            SetErrorInfoText(why);
            return E_FAIL;
        }
        *port = synth;
        return hr;
    }
    if (params != nullptr && params->dwSize < sizeof(DMUS_PORTPARAMS)) return E_INVALIDARG;
    refreshPorts();
    for (const AlsaPortInfo& info : alsaPorts_) {
        if (info.guid != portGuid) continue;
        if (!info.writable) return E_INVALIDARG;
        std::unique_ptr<AlsaOutput> output = backend().openOutput(portGuid);
        if (!output) return E_FAIL;
        *port = new AlsaPort(std::move(output));
        return S_OK;
    }
    // The port is gone (unplugged since it was listed).
    return E_FAIL;
}

} // namespace qorn::platform
