#include "platform/runtime/PulseLibrary.h"

#include <mutex>

namespace qorn::pulse {

QORN_RUNTIME_LIBRARY_LOAD("libpulse.so.0", QORN_PULSE_ENTRIES, QORN_PULSE_FUNCTIONS)

} // namespace qorn::pulse
