#include "platform/formats/dls/DlsCollection.h"

namespace qorn::dls {

const Instrument* FindInstrument(const Collection& collection, std::uint8_t bankMsb, std::uint8_t bankLsb,
                                 std::uint8_t program, bool drums) {
    for (const Instrument& instrument : collection.instruments) {
        if (instrument.bankMsb == bankMsb && instrument.bankLsb == bankLsb && instrument.program == program &&
            instrument.drums == drums)
            return &instrument;
    }
    return nullptr;
}

const Instrument* FindBandInstrument(const Collection& collection, std::uint8_t bankMsb, std::uint8_t bankLsb,
                                     std::uint8_t program, bool drums, bool* exact) {
    const Instrument* found = FindInstrument(collection, bankMsb, bankLsb, program, drums);
    if (exact) *exact = found != nullptr;
    if (found) return found;
    for (const Instrument& instrument : collection.instruments)
        if (instrument.program == program && instrument.drums == drums) return &instrument;
    return nullptr;
}

const WaveSample& EffectiveSample(const Collection& collection, const Region& region) {
    static const WaveSample kDefault{};
    if (region.sample) return *region.sample;
    if (region.waveIndex < collection.waves.size()) {
        const Wave& wave = collection.waves[region.waveIndex];
        if (wave.sample) return *wave.sample;
    }
    return kDefault;
}

} // namespace qorn::dls
