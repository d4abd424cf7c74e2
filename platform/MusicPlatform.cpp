#include "platform/MusicPlatform.h"

#include "platform/DirectMusic.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/loader/Loader.h"
#include "platform/performance/Performance.h"
#include "platform/synth/SynthPort.h"

namespace qorn::platform {
namespace {

// Hands out a new object as `riid` if that is the interface it implements.
template <typename Object, typename Interface> ClassFactory factoryFor(const IID& iid) {
    return [iid](REFIID riid, void** ppv) -> HRESULT {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != iid) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(new Object());
        return S_OK;
    };
}

} // namespace

void RegisterMusicPlatform() {
    RegisterClassFactory(CLSID_DirectMusic, factoryFor<DirectMusic, IDirectMusic2>(IID_IDirectMusic2));
    RegisterClassFactory(CLSID_DirectMusicPerformance,
                         factoryFor<Performance, IDirectMusicPerformance2>(IID_IDirectMusicPerformance2));
    RegisterClassFactory(CLSID_DirectMusicLoader, factoryFor<Loader, IDirectMusicLoader>(IID_IDirectMusicLoader));
}

void PrepareDefaultSynthesizer() {
    // The default port's settings: those of a port asked for without any.
    SynthPort::Prepare(SynthConfig{});
}

bool DefaultSynthesizerPrepared() {
    return SynthPort::Prepared();
}

} // namespace qorn::platform
