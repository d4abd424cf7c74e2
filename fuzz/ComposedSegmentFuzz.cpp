// libFuzzer target for the loader's whole segment path: reading, finding
// what the segment references (nothing is there to find), composing what
// its style tracks ask for, and building the playable piece. Any bytes must
// load or fail with a reason; a loaded piece must be well formed.
#include "platform/composer/StyleSegment.h"
#include "platform/formats/segment/ObjectCache.h"
#include "platform/formats/segment/SegmentReader.h"

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
    // A folder that does not exist: references resolve to nothing, quickly.
    static const std::string path = "/nonexistent-qorn-fuzz/piece.sgt";
    ObjectCache cache;
    std::shared_ptr<const qorn::music::Sequence> out;
    std::string error;
    std::vector<std::string> warnings;
    const bool loaded = qorn::composer::LoadComposedSegmentSequence(bytes, path, cache, out, &error, &warnings, 7);
    if (!loaded) {
        if (error.empty()) Broken("failed without a reason");
        return 0;
    }
    if (!LooksLikeSegmentFile(bytes)) Broken("loaded what the probe rejected");
    if (!out) Broken("loaded without a piece");
    const qorn::music::Sequence& seq = *out;
    if (seq.ticksPerQuarter == 0) Broken("no tick rate");
    for (std::size_t i = 0; i < seq.events.size(); ++i) {
        const auto& e = seq.events[i];
        if (i > 0 && seq.events[i - 1].tick > e.tick) Broken("events out of order");
        if (e.tick > seq.lengthTicks) Broken("event after the end");
        if (e.status < 0x80 || e.status >= 0xF0 || e.data1 > 0x7F || e.data2 > 0x7F) Broken("bad message");
    }
    for (std::size_t i = 0; i < seq.tempos.size(); ++i) {
        if (seq.tempos[i].microsecondsPerQuarter == 0) Broken("zero tempo");
        if (i > 0 && seq.tempos[i - 1].tick >= seq.tempos[i].tick) Broken("tempo map not strictly sorted");
    }
    for (const auto& s : seq.sysex)
        if (s.length == 0 || s.offset > seq.sysexBytes.size() || s.length > seq.sysexBytes.size() - s.offset)
            Broken("sysex outside its bytes");
    if (seq.loopEndTicks != 0 && (seq.loopStartTicks >= seq.loopEndTicks || seq.loopEndTicks > seq.lengthTicks))
        Broken("loop outside the piece");
    for (const auto& p : seq.patches)
        if (p.collection != qorn::music::PatchSelect::kNoCollection && p.collection >= seq.collections.size())
            Broken("patch names a collection that is not there");
    return 0;
}
