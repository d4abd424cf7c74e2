// CoInitialize / CoCreateInstance / CoUninitialize over a small class
// registry: an implementation of the music platform registers a factory per
// class id, and the engine asks for objects by class and interface id.
#pragma once

#include "ComTypes.h"

#include <functional>
#include <string>

namespace qorn::platform {

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;

// Creates a new object of one class and hands out the interface `riid` with
// one reference in *ppv; on failure *ppv is null and the result negative.
using ClassFactory = std::function<HRESULT(REFIID riid, void** ppv)>;

// Registers (or replaces) the factory of `clsid`.
void RegisterClassFactory(REFCLSID clsid, ClassFactory factory);
// Removes every registered factory (tests; program exit).
void UnregisterAllClassFactories();

// Optional interception of the apartment calls, so a test double can record
// them and choose their results. Null members fall back to the registry's
// own behaviour.
struct ComApartmentHooks {
    std::function<HRESULT(void* reserved)> coInitialize;
    std::function<void()> coUninitialize;
};
void SetComApartmentHooks(ComApartmentHooks hooks);

// S_OK on the first call of a thread, S_FALSE on nested calls.
HRESULT CoInitialize(void* reserved);
// REGDB_E_CLASSNOTREG when no factory is registered for `clsid`,
// CLASS_E_NOAGGREGATION for a non-null outer object.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** ppv);
void CoUninitialize();

// COM's error information, as text: an object whose call fails for a
// reason the user should read sets it on the calling thread; the caller
// takes it (which clears it). Empty when the failure left none.
void SetErrorInfoText(std::string text);
std::string TakeErrorInfoText();

} // namespace qorn::platform
