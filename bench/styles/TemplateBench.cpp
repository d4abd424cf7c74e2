// Figures of template composition: the time to compose a 60-measure
// template (the longest the DirectX SDKs carry) from a chordmap of a few
// dozen graph chords, chords alone and through the whole load (chords,
// style composition and the playable sequence). Composition runs at load,
// before the first note: it should stay well under 50 ms.
#include "platform/composer/TemplateComposer.h"
#include "platform/loader/SegmentAssembly.h"
#include "tests/support/ChordmapWriter.h"
#include "tests/support/TestStyles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using namespace qorn::styles_test;
namespace sp = cm::signpost;
using Clock = std::chrono::steady_clock;

cm::Chordmap BigMap() {
    cm::Chordmap map;
    for (std::uint16_t i = 0; i < 48; ++i) {
        cm::ChordEntry e;
        e.connectionId = i;
        e.chord.name = "M";
        e.chord.subChords = {SubChordOf(std::uint8_t(12 + i % 12), i % 2 ? 0x89 : 0x91, 0)};
        for (std::uint16_t k = 1; k <= 4; ++k)
            e.next.push_back({0, std::uint16_t(10 * k), 1, 8, std::uint16_t((i * 7 + k * 5) % 48)});
        map.graph.push_back(e);
    }
    for (std::uint32_t g = 0; g < 12; ++g)
        map.signposts.push_back({1u << (g % 6), 0, map.graph[g * 4].chord, {map.graph[(g * 4 + 1) % 48].chord}});
    return map;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main() {
    const cm::Chordmap map = BigMap();
    TemplateSketch sketch;
    sketch.length = 60 * std::int32_t(kMeasure);
    for (int m = 0; m < 60; m += 4)
        sketch.signposts.push_back(
            {m * std::int32_t(kMeasure), std::uint16_t(m), (1u << (m / 4 % 6)) | (m % 16 == 12 ? sp::kCadence : 0)});
    sketch.commands = {{0, 0, 0, st::command::kGroove, 50}};

    qorn::composer::ChordComposeRequest request;
    request.chordmap = &map;
    request.signposts = sketch.signposts;
    request.length = sketch.length;
    constexpr int kRuns = 20;
    double worst = 0, total = 0;
    for (int r = 0; r < kRuns; ++r) {
        request.seed = std::uint32_t(r);
        const auto t0 = Clock::now();
        const auto chords = qorn::composer::ComposeChords(request);
        const double ms = Ms(Clock::now() - t0);
        worst = std::max(worst, ms);
        total += ms;
        if (chords.track.chords.empty()) return 1;
    }
    std::printf("template chords, 60 measures, 48 graph chords: %.3f ms mean, %.3f ms worst\n", total / kRuns, worst);

    // The whole load: chords, the style's notes and the playable sequence.
    const auto folder = std::filesystem::temp_directory_path() / ("qorn-template-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    st::Style style;
    style.parts = {Part(1, st::playmode::kNormalChord, {Note(0, 0x4000), Note(4, 0x4100), Note(8, 0x4200)}),
                   Part(2, st::playmode::kNormalChord, {Note(0, 0x3000), Note(8, 0x3000)})};
    style.patterns = {PatternOf({Ref(1, 0), Ref(2, 1)})};
    const Bytes styleBytes = StyleForm(style), mapBytes = BuildChordmap(map), tpl = BuildTemplate(sketch);
    std::ofstream(folder / "long.sty", std::ios::binary)
        .write(reinterpret_cast<const char*>(styleBytes.data()), std::streamsize(styleBytes.size()));
    std::ofstream(folder / "long.cdm", std::ios::binary)
        .write(reinterpret_cast<const char*>(mapBytes.data()), std::streamsize(mapBytes.size()));
    worst = total = 0;
    for (int r = 0; r < kRuns; ++r) {
        qorn::formats::segment::ObjectCache cache;
        qorn::platform::TemplateLoad load;
        load.seed = std::uint32_t(r);
        std::shared_ptr<const qorn::music::Sequence> sequence;
        std::string error;
        const auto t0 = Clock::now();
        if (!qorn::platform::LoadTemplateOrSegment(tpl, (folder / "longa.tpl").string(), cache, load, sequence, &error,
                                                   nullptr, 0, nullptr, nullptr))
            return 1;
        const double ms = Ms(Clock::now() - t0);
        worst = std::max(worst, ms);
        total += ms;
    }
    std::filesystem::remove_all(folder);
    std::printf("template load and composition, 60 measures: %.3f ms mean, %.3f ms worst (target < 50 ms)\n",
                total / kRuns, worst);
    return 0;
}
