// The port layer over any SeqApi: the real sequencer or a fake in tests.
#pragma once

#include "platform/alsa/AlsaPorts.h"
#include "platform/alsa/SeqApi.h"

#include <functional>
#include <memory>

namespace qorn::platform {

// The name of the source port we create for each open output.
inline constexpr const char* kAlsaSourcePortName = "Qor_n output";

// `open` is asked for the sequencer whenever the layer has none yet, so a
// sequencer that appears later (module loaded) is found; it may return null.
std::shared_ptr<AlsaBackend> MakeSeqAlsaBackend(std::function<std::shared_ptr<SeqApi>()> open);

// The ports worth listing from a sequencer's full port list, with
// descriptions and GUIDs.
std::vector<AlsaPortInfo> SelectAlsaPorts(const std::vector<SeqPortRecord>& ports, int ownClient);

} // namespace qorn::platform
