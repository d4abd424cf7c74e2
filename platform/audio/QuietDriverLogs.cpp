#include "platform/audio/QuietDriverLogs.h"

#include "platform/runtime/FluidLibrary.h"
#include <alsa/asoundlib.h>

#include <mutex>

namespace qorn::platform {
namespace {

std::mutex gMutex;
int gDepth = 0;
fluid_log_function_t gSavedFluid[3] = {};

constexpr int kQuietLevels[3] = {FLUID_ERR, FLUID_WARN, FLUID_INFO};

void DiscardFluidLog(int, const char*, void*) {}

// libasound's handler is variadic; a definition with no parameters used would
// still need the full signature.
void DiscardAlsaError(const char*, int, const char*, int, const char*, ...) {}

} // namespace

QuietDriverLogs::QuietDriverLogs() {
    std::lock_guard lock(gMutex);
    if (gDepth++ > 0) return;
    for (int i = 0; i < 3; ++i)
        gSavedFluid[i] = fluid::fluid_set_log_function(kQuietLevels[i], DiscardFluidLog, nullptr);
    snd_lib_error_set_handler(DiscardAlsaError);
}

QuietDriverLogs::~QuietDriverLogs() {
    std::lock_guard lock(gMutex);
    if (--gDepth > 0) return;
    // FluidSynth does not hand back the previous user data; every handler the
    // program installs uses none, so restoring the function is enough.
    for (int i = 0; i < 3; ++i)
        fluid::fluid_set_log_function(kQuietLevels[i], gSavedFluid[i], nullptr);
    snd_lib_error_set_handler(nullptr);
}

} // namespace qorn::platform
