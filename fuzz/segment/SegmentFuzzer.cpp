// libFuzzer target for the segment reader (and, through embedded
// collections, the DLS reader): any bytes must load or fail cleanly, and a
// loaded segment must give a well-formed, bounded Sequence.
#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/segment/SegmentSequence.h"

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qorn::formats::segment;
    const std::span<const std::uint8_t> bytes(data, size);
    const bool looksLike = LooksLikeSegmentFile(bytes);
    SegmentFile file;
    std::string error;
    EmbeddedOnlyResolver resolver;
    const bool loaded = ReadSegmentFile(bytes, file, resolver, &error);
    if (loaded && !looksLike) Broken("loaded what the probe rejected");
    if (!loaded) {
        if (error.empty()) Broken("failed without a reason");
        return 0;
    }
    qorn::music::Sequence seq;
    BuildSegmentSequence(file, seq, nullptr);
    // Notes make two messages per 17-byte record; curves may add up to their budget.
    if (seq.events.size() > 2 * size + (1u << 20) + 65536) Broken("too many events for the file");
    for (std::size_t i = 0; i < seq.events.size(); ++i) {
        const auto& e = seq.events[i];
        if (i > 0 && seq.events[i - 1].tick > e.tick) Broken("events out of order");
        if (e.tick > seq.lengthTicks) Broken("event after the end");
        if (e.status < 0x80 || e.status >= 0xF0 || e.data1 > 0x7F || e.data2 > 0x7F) Broken("bad message");
    }
    for (std::size_t i = 1; i < seq.patches.size(); ++i)
        if (seq.patches[i - 1].tick > seq.patches[i].tick) Broken("patches out of order");
    for (std::size_t i = 0; i < seq.tempos.size(); ++i) {
        if (seq.tempos[i].microsecondsPerQuarter == 0) Broken("zero tempo");
        if (i > 0 && seq.tempos[i - 1].tick >= seq.tempos[i].tick) Broken("tempo map not strictly sorted");
    }
    if (seq.loopEndTicks != 0 && (seq.loopStartTicks >= seq.loopEndTicks || seq.loopEndTicks > seq.lengthTicks))
        Broken("loop outside the piece");
    for (const auto& p : seq.patches)
        if (p.collection != qorn::music::PatchSelect::kNoCollection && p.collection >= seq.collections.size())
            Broken("patch names a collection that is not there");
    return 0;
}
