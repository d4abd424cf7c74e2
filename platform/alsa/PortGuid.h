// Stable identities for ALSA ports: client numbers change between runs and
// boots, names do not, so a port's GUID is a hash of its names.
#pragma once

#include "platform/com/ComTypes.h"

#include <string_view>

namespace qorn::platform {

// `duplicate` counts earlier ports with the same client and port names
// (identical devices plugged in twice); 0 for the first.
GUID AlsaPortGuid(std::string_view clientName, std::string_view portName, int duplicate = 0);

} // namespace qorn::platform
