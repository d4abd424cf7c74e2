// libFuzzer target for the loader's one road for segments: reading (and,
// through embedded collections, the DLS reader), the objects the segment
// carries, composing what its style tracks ask for (a template's chords
// too), its wave, trigger and mute tracks, and building the playable piece. Nothing outside the input
// is found (the folder does not exist). Any bytes must load or fail with a
// reason; a loaded piece must be well formed and bounded by the input.
#include "fuzz/FuzzSupport.h"
#include "platform/formats/segment/ObjectCache.h"
#include "platform/formats/segment/SegmentReader.h"
#include "platform/loader/SegmentAssembly.h"

#include <cstdio>
#include <cstdlib>

using qorn::fuzz::Broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    static const std::string path = "/nonexistent-qorn-fuzz/piece.sgt";
    qorn::formats::segment::ObjectCache cache;
    std::shared_ptr<const qorn::music::Sequence> out;
    std::string error;
    qorn::formats::Diagnostics diagnostics;
    qorn::platform::TemplateLoad compose;
    compose.seed = 7;
    const bool loaded = qorn::platform::LoadTemplateOrSegment(bytes, path, cache, compose, out, &error, &diagnostics, 7,
                                                              nullptr, nullptr);
    if (!loaded) {
        if (error.empty()) Broken("failed without a reason");
        return 0;
    }
    if (!qorn::formats::segment::LooksLikeSegmentFile(bytes)) Broken("loaded what the probe rejected");
    if (!out) Broken("loaded without a piece");
    for (const auto& d : diagnostics)
        if (d.file != path || d.message.empty()) Broken("a report without its file or message");
    const qorn::music::Sequence& seq = *out;
    if (seq.ticksPerQuarter == 0) Broken("no tick rate");
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
    for (const auto& s : seq.sysex)
        if (s.length == 0 || s.offset > seq.sysexBytes.size() || s.length > seq.sysexBytes.size() - s.offset)
            Broken("sysex outside its bytes");
    if (seq.loopEndTicks != 0 && (seq.loopStartTicks >= seq.loopEndTicks || seq.loopEndTicks > seq.lengthTicks))
        Broken("loop outside the piece");
    for (const auto& p : seq.patches)
        if (p.collection != qorn::music::PatchSelect::kNoCollection && p.collection >= seq.collections.size())
            Broken("patch names a collection that is not there");
    for (std::size_t i = 0; i < seq.waves.size(); ++i) {
        const auto& w = seq.waves[i];
        if (w.wave >= seq.waveData.size() || !seq.waveData[w.wave]) Broken("wave item without its wave");
        if (i > 0 && seq.waves[i - 1].tick > w.tick) Broken("waves out of order");
        if (w.endTick != 0 && w.endTick <= w.tick) Broken("wave ends before it starts");
    }
    for (std::size_t i = 0; i < seq.markers.size(); ++i) {
        if (i > 0 && seq.markers[i - 1].tick > seq.markers[i].tick) Broken("markers out of order");
        if (seq.markers[i].tick > seq.lengthTicks) Broken("marker after the end");
    }
    return 0;
}
