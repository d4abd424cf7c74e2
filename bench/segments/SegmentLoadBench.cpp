// Loading a segment that uses a 10 MB instrument collection, first from
// disk and then again with the collection in the loader's cache; once with
// the collection in its own file and once embedded in the segment.
// Prints figures; no pass or fail.
#include "platform/formats/common/Limits.h"
#include "platform/formats/segment/FolderReferenceResolver.h"
#include "platform/loader/SegmentAssembly.h"
#include "tests/support/SegmentWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace qorn;
using namespace qorn::testseg;

namespace {

// About 10 MB of 16-bit waves over 128 instruments.
Bytes BigCollection() {
    testdls::CollectionSpec plan = testdls::TestCollection();
    plan.instruments.clear();
    plan.waves.clear();
    const std::size_t framesPerWave = 10u * 1024 * 1024 / 2 / 128;
    for (int i = 0; i < 128; ++i) {
        plan.waves.push_back(testdls::LoopedWave(testdls::SineWave(110.0 + i, 44000, framesPerWave)));
        testdls::InstrumentSpec inst;
        inst.program = static_cast<std::uint8_t>(i);
        inst.regions.push_back({});
        inst.regions.back().wave = static_cast<std::uint32_t>(i);
        plan.instruments.push_back(inst);
    }
    return testdls::BuildDls(plan);
}

SegmentSpec Piece(const Reference& ref) {
    SegmentSpec plan;
    plan.header.length = 64 * 768;
    plan.tempos = {{0, 120.0}};
    for (int i = 0; i < 256; ++i)
        plan.notes.push_back(
            {i * 192, 180, static_cast<std::uint32_t>(i % 16), static_cast<std::uint8_t>(40 + i % 40)});
    Band band;
    for (std::uint32_t ch = 0; ch < 16; ++ch)
        band.instruments.push_back({ch, ch * 7, 0x1 | 0x2 | 0x20 | 0x40, 64, 100, 0, 2, ref});
    plan.bands = {band};
    return plan;
}

void Write(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

double LoadMs(const fs::path& path, formats::segment::ObjectCache& cache, std::size_t& collections) {
    const auto start = std::chrono::steady_clock::now();
    auto bytes = formats::segment::ReadWholeFile(path, limits::kMaxFileBytes);
    std::shared_ptr<const music::Sequence> sequence;
    std::string error;
    if (!bytes || !platform::LoadSegmentWithTracks(*bytes, path.string(), cache, sequence, &error)) {
        std::fprintf(stderr, "load failed: %s\n", error.c_str());
        return -1;
    }
    const auto end = std::chrono::steady_clock::now();
    collections = sequence->collections.size();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

void Measure(const char* what, const fs::path& segment) {
    formats::segment::ObjectCache cache;
    std::size_t collections = 0;
    const double first = LoadMs(segment, cache, collections);
    std::vector<double> again;
    for (int i = 0; i < 21; ++i) {
        std::size_t n = 0;
        again.push_back(LoadMs(segment, cache, n));
    }
    std::sort(again.begin(), again.end());
    std::printf("%-34s first load %7.2f ms (target < 150)   cached load median %5.2f ms, best %5.2f, worst %5.2f "
                "(target < 5)   collections %zu\n",
                what, first, again[again.size() / 2], again.front(), again.back(), collections);
}

} // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("qorn-seg-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const Bytes dls = BigCollection();
    std::printf("collection size %.2f MB\n", double(dls.size()) / (1024.0 * 1024.0));
    Write(dir / "Big.dls", dls);
    Write(dir / "referenced.sgt", BuildSegment(Piece(Reference{kCollectionClass, std::nullopt, "", "big.DLS"})));
    SegmentSpec embedded = Piece(Reference{kCollectionClass, std::nullopt, "", "inside.dls"});
    embedded.container = {{dls, Reference{kCollectionClass, std::nullopt, "", "inside.dls"}, ""}};
    Write(dir / "embedded.sgt", BuildSegment(embedded));

    Measure("segment + collection file", dir / "referenced.sgt");
    Measure("segment with embedded collection", dir / "embedded.sgt");
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
