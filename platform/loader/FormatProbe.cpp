#include "platform/loader/FormatProbe.h"

#include "platform/formats/smf/StandardMidiFile.h"

namespace qorn::platform {
namespace {

bool readStandardMidiFile(std::span<const std::uint8_t> bytes, std::shared_ptr<const music::Sequence>& out,
                          std::string* error, formats::Diagnostics* warnings) {
    auto sequence = std::make_shared<music::Sequence>();
    if (!formats::ReadStandardMidiFile(bytes, *sequence, error, warnings)) return false;
    out = std::move(sequence);
    return true;
}

} // namespace

const std::vector<FormatProbe>& FormatProbes() {
    static const std::vector<FormatProbe> probes = {
        {"Standard MIDI File", &formats::LooksLikeStandardMidiFile, &readStandardMidiFile},
    };
    return probes;
}

} // namespace qorn::platform
