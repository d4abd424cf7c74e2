// libFuzzer target for the Standard MIDI File reader: any bytes must load or
// fail cleanly, and a loaded piece must be well formed.
#include "platform/formats/smf/StandardMidiFile.h"
#include "tests/formats/SequenceInvariants.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const bool looksLikeMidi = qorn::formats::LooksLikeStandardMidiFile(bytes);
    qorn::music::Sequence seq;
    std::string error;
    const bool loaded = qorn::formats::ReadStandardMidiFile(bytes, seq, &error);
    if (loaded && !looksLikeMidi) {
        std::fprintf(stderr, "loaded what the probe rejected\n");
        std::abort();
    }
    if (!loaded && error.empty()) {
        std::fprintf(stderr, "failed without a reason\n");
        std::abort();
    }
    if (loaded) {
        const std::string broken = qorn::testing::CheckSequenceInvariants(seq, size);
        if (!broken.empty()) {
            std::fprintf(stderr, "broken sequence: %s\n", broken.c_str());
            std::abort();
        }
    }
    return 0;
}
