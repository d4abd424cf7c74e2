// libFuzzer target for the DLS instrument collection reader: any bytes must
// read or fail with a reason, and a collection read must be consistent and
// no larger than the file could describe.
#include "platform/formats/dls/DlsReader.h"

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qorn::dls;
    const std::span<const std::uint8_t> bytes(data, size);
    const bool looksLike = LooksLikeDlsCollection(bytes);
    const DlsReadResult result = ReadDlsCollection(bytes);
    if (result.ok() && !looksLike) Broken("read what the probe rejected");
    if (result.ok() == result.error.has_value()) Broken("neither a collection nor an error, or both");
    if (!result.ok()) {
        if (result.error->message.empty()) Broken("failed without a reason");
        if (result.error->offset > size) Broken("error offset outside the file");
        return 0;
    }
    const Collection& c = *result.collection;
    std::size_t samples = 0;
    for (const Wave& w : c.waves) {
        samples += w.samples.size();
        if (w.sampleRate == 0 && !w.samples.empty()) Broken("a wave without a sample rate");
    }
    // At least one byte of the file per mono sample.
    if (samples > size) Broken("more samples than the file holds");
    if (c.instruments.size() > size / 8 + 1) Broken("more instruments than the file holds");
    for (const Instrument& i : c.instruments) {
        if (i.program > 127 || i.bankMsb > 127 || i.bankLsb > 127) Broken("patch number out of range");
        for (const Region& r : i.regions) {
            if (r.waveIndex != Region::kNoWave && r.waveIndex >= c.waves.size()) Broken("region names no wave");
            (void)EffectiveSample(c, r);
        }
        (void)FindInstrument(c, i.bankMsb, i.bankLsb, i.program, i.drums);
    }
    return 0;
}
