// The DirectMusic object: lists the output ports (external ALSA ports, then
// the software synthesizer) and creates them.
#pragma once

#include "platform/alsa/AlsaPorts.h"
#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/dmusic/RefCounted.h"

#include <functional>
#include <memory>
#include <vector>

namespace qorn::platform {

// The synthesizer's port GUID: {5A1E0F7C-3B2D-4E8A-9C61-7F0D2B4A8E13}.
inline constexpr GUID GUID_QornSynthPort = {
    0x5A1E0F7C, 0x3B2D, 0x4E8A, {0x9C, 0x61, 0x7F, 0x0D, 0x2B, 0x4A, 0x8E, 0x13}};

inline constexpr char kSynthDescription[] = "FluidSynth Software Synthesizer";

// Where DirectMusic objects get their ALSA sequencer from; tests put a fake
// one here. An empty function restores the real one.
void SetAlsaBackendFactory(std::function<std::shared_ptr<AlsaBackend>()> factory);

class DirectMusic final : public RefCounted<IDirectMusic2> {
  public:
    DirectMusic() = default;

    HRESULT Activate(BOOL enable) override;
    HRESULT SetDirectSound(void* directSound, HWND window) override;
    HRESULT CreatePort(REFGUID portGuid, DMUS_PORTPARAMS* params, IDirectMusicPort** port, IUnknown* outer) override;
    HRESULT GetDefaultPort(GUID* portGuid) override;
    HRESULT EnumPort(DWORD index, DMUS_PORTCAPS* caps) override;

  private:
    ~DirectMusic() override = default;
    AlsaBackend& backend();
    void refreshPorts();

    std::shared_ptr<AlsaBackend> backend_;
    std::vector<AlsaPortInfo> alsaPorts_;
    bool listed_ = false;
};

} // namespace qorn::platform
