// libFuzzer target for the chordmap readers (both forms, through the one
// entry the loader uses) and the chord composer behind it: any bytes must
// read or fail with a reason, and whatever chordmap is read must compose a
// template's chords within bounds, without hanging.
#include "platform/composer/TemplateComposer.h"
#include "platform/formats/chordmap/ChordmapReader.h"
#include "platform/formats/common/Limits.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace cm = qorn::formats::chordmap;
    const std::span<const std::uint8_t> bytes(data, size);
    cm::Chordmap map;
    qorn::formats::Diagnostics warnings;
    std::string error;
    if (!cm::ReadChordmap(bytes, map, warnings, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (!cm::LooksLikeChordmapFile(bytes)) std::abort(); // read what the probe rejected
    if (map.graph.size() + map.signposts.size() > qorn::limits::kMaxChordmapChords) std::abort();
    qorn::composer::ChordComposeRequest request;
    request.chordmap = &map;
    // Sixteen measures of 4/4, a signpost of each group every two.
    for (int m = 0; m < 16; m += 2)
        request.signposts.push_back({m * 3072, static_cast<std::uint16_t>(m), (1u << (m / 2 % 6)) | 0x8000u});
    request.length = 16 * 3072;
    request.seed = static_cast<std::uint32_t>(size);
    const auto chords = qorn::composer::ComposeChords(request);
    for (std::size_t i = 1; i < chords.track.chords.size(); ++i)
        if (chords.track.chords[i].time <= chords.track.chords[i - 1].time) std::abort();
    return 0;
}
