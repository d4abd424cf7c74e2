#include "platform/runtime/FluidLibrary.h"

#include <mutex>

// FluidSynth 2 is the library's third binary interface.
static_assert(FLUIDSYNTH_VERSION_MAJOR == 2, "the library's file name below is FluidSynth 2's");

namespace qorn::fluid {

QORN_RUNTIME_LIBRARY_LOAD("libfluidsynth.so.3", QORN_FLUID_ENTRIES, QORN_FLUID_FUNCTIONS)

} // namespace qorn::fluid
