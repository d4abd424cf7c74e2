// libFuzzer target for the DLS instrument collection, on the road the
// player takes: the loader's collection read, the warnings a collection in
// use gives, and the articulation its voices are built from (waves decoded
// on the way, MPEG audio included). Any bytes must read or fail with a
// reason; a collection read must be consistent, within its bounds, and when
// damaged keep only whole instruments.
#include "fuzz/FuzzSupport.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/dls/DlsArticulation.h"
#include "platform/formats/dls/DlsReader.h"
#include "platform/formats/segment/ReferenceResolver.h"

#include <cstdio>
#include <cstdlib>

using qorn::fuzz::Broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qorn::dls;
    const std::span<const std::uint8_t> bytes(data, size);
    const bool looksLike = LooksLikeDlsCollection(bytes);
    std::string why;
    const auto read = qorn::formats::segment::ReadCollectionBytes(bytes, &why);
    if (read && !looksLike) Broken("read what the probe rejected");
    if (!read) {
        if (why.empty()) Broken("failed without a reason");
        const DlsReadResult result = ReadDlsCollection(bytes);
        if (result.ok() || !result.error || result.error->offset > size) Broken("a refusal out of place");
        return 0;
    }
    const Collection& c = *read;
    if (c.damage && c.damage->reason.empty()) Broken("damaged without a reason");
    std::size_t samples = 0;
    for (const Wave& w : c.waves) {
        samples += w.samples.size();
        if (w.sampleRate == 0 && !w.samples.empty()) Broken("a wave without a sample rate");
    }
    // Compressed waves expand, within the collection's bound.
    if (samples > qorn::limits::kMaxCollectionSamples) Broken("more samples than a collection may hold");
    if (c.instruments.size() > size / 8 + 1) Broken("more instruments than the file holds");
    for (const Instrument& i : c.instruments) {
        if (i.program > 127 || i.bankMsb > 127 || i.bankLsb > 127) Broken("patch number out of range");
        for (const Region& r : i.regions) {
            if (r.waveIndex != Region::kNoWave && r.waveIndex >= c.waves.size()) Broken("region names no wave");
            if (c.damage && r.waveIndex == Region::kNoWave) Broken("a damaged collection kept a part instrument");
            const VoiceParameters v = DeriveVoiceParameters(i, r, EffectiveSample(c, r));
            if (v.modulators.size() > 64) Broken("more modulators than a voice holds");
        }
        (void)FindInstrument(c, i.bankMsb, i.bankLsb, i.program, i.drums);
    }
    qorn::formats::Diagnostics warnings;
    NoteCollection(c, "'fuzz.dls'", warnings);
    return 0;
}
