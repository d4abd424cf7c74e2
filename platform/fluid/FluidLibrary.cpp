#include "platform/fluid/FluidLibrary.h"

#include <dlfcn.h>

#include <mutex>

// FluidSynth 2 is the library's third binary interface.
static_assert(FLUIDSYNTH_VERSION_MAJOR == 2, "the library's file name below is FluidSynth 2's");

namespace qorn::fluid {

namespace detail {
Functions gFunctions;
} // namespace detail

bool Load() {
    static std::once_flag once;
    static bool loaded = false;
    std::call_once(once, [] {
        // Kept for the life of the process: synthesizers made from it may
        // live until exit.
        void* library = dlopen("libfluidsynth.so.3", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return;
        detail::Functions found;
        bool complete = true;
#define QORN_FLUID_RESOLVE(name)                                                                                       \
    found.name = reinterpret_cast<decltype(found.name)>(dlsym(library, #name));                                        \
    complete = complete && found.name != nullptr;
        QORN_FLUID_ENTRIES(QORN_FLUID_RESOLVE)
        QORN_FLUID_FUNCTIONS(QORN_FLUID_RESOLVE)
#undef QORN_FLUID_RESOLVE
        if (!complete) return;
        detail::gFunctions = found;
        loaded = true;
    });
    return loaded;
}

} // namespace qorn::fluid
