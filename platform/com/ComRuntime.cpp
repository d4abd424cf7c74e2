#include "platform/com/ComRuntime.h"

#include <mutex>
#include <utility>
#include <vector>

namespace qorn::platform {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::pair<GUID, ClassFactory>> factories;
    ComApartmentHooks hooks;
};

Registry& registry() {
    static Registry r;
    return r;
}

thread_local int apartmentDepth = 0;
thread_local std::string errorInfo;

} // namespace

void RegisterClassFactory(REFCLSID clsid, ClassFactory factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& [id, f] : r.factories) {
        if (id == clsid) {
            f = std::move(factory);
            return;
        }
    }
    r.factories.emplace_back(clsid, std::move(factory));
}

void UnregisterAllClassFactories() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories.clear();
}

void SetComApartmentHooks(ComApartmentHooks hooks) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.hooks = std::move(hooks);
}

HRESULT CoInitialize(void* reserved) {
    auto& r = registry();
    std::function<HRESULT(void*)> hook;
    {
        std::lock_guard lock(r.mutex);
        hook = r.hooks.coInitialize;
    }
    if (hook) return hook(reserved);
    return apartmentDepth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    auto& r = registry();
    std::function<void()> hook;
    {
        std::lock_guard lock(r.mutex);
        hook = r.hooks.coUninitialize;
    }
    if (hook) {
        hook();
        return;
    }
    if (apartmentDepth > 0) --apartmentDepth;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD /*clsContext*/, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    ClassFactory factory;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        for (const auto& [id, f] : r.factories) {
            if (id == clsid) {
                factory = f;
                break;
            }
        }
    }
    if (!factory) return REGDB_E_CLASSNOTREG;
    HRESULT hr = factory(riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

void SetErrorInfoText(std::string text) {
    errorInfo = std::move(text);
}

std::string TakeErrorInfoText() {
    return std::exchange(errorInfo, std::string());
}

} // namespace qorn::platform
