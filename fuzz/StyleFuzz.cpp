// libFuzzer target for the style reader (both forms) and the composer behind
// it: any bytes must read or fail with a reason, and whatever style is read
// must compose a few measures within the composer's bounds, without hanging.
#include "fuzz/FuzzSupport.h"
#include "platform/composer/StyleComposer.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/style/StyleReader.h"

#include <cstdio>
#include <cstdlib>

using qorn::fuzz::Broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qorn::formats::style;
    const std::span<const std::uint8_t> bytes(data, size);
    const bool looksLike = LooksLikeStyleFile(bytes);
    Style style;
    qorn::formats::Diagnostics warnings;
    std::string error;
    const bool read = ReadStyleFile(bytes, style, warnings, &error);
    if (read && !looksLike) Broken("read what the probe rejected");
    if (!read) {
        if (error.empty()) Broken("failed without a reason");
        return 0;
    }
    if (warnings.size() > size) Broken("more warnings than bytes");

    // Eight measures of 4/4 at 768 ticks per quarter, over the default chord.
    qorn::composer::ComposeRequest request;
    request.style = &style;
    request.start = 0;
    request.end = 8 * 3072;
    request.seed = static_cast<std::uint32_t>(size);
    const qorn::composer::Composition c = qorn::composer::Compose(request);
    if (c.plays.size() > qorn::composer::kMaxPatternPlays) Broken("pattern plays beyond the bound");
    if (c.track.events.size() > 2 * qorn::composer::kMaxComposedNotes) Broken("notes beyond the bound");
    for (const auto& e : c.track.events)
        if (e.data1 > 127 || e.data2 > 127) Broken("a composed note is no MIDI message");
    return 0;
}
