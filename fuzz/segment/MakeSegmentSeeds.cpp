// Writes the seed corpus of the segment fuzzer: small segments with every
// kind of track, a band with an embedded collection, format variants, and
// wave, mute and trigger tracks over an embedded wave and segment. (The
// style-based seeds come from qorn_make_hardening_seeds.)
#include "tests/support/SegmentWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace qorn::testseg;

namespace {
void Write(const std::filesystem::path& dir, const char* name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

SegmentSpec Full() {
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.header.repeats = 1;
    plan.header.loopStart = 768;
    plan.header.loopEnd = 2304;
    plan.tempos = {{0, 100.0}, {768, 140.0}};
    plan.notes = {{0, 300, 0, 60, 100}, {768, 300, 17, 64, 90, 12}};
    plan.curves = {{0, 768, 0, 0, 0, 0, 127, 0, 4, 2, 7}, {0, 768, 96, 1, 0, 8192, 16383, 8192, 3, 4, 0, 1}};
    plan.sysex = {{0, Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}};
    return plan;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    SegmentSpec full = Full();
    Write(dir, "full.sgt", BuildSegment(full));
    SegmentSpec old = Full();
    old.header.size = 24;
    old.instrumentExtended = false;
    old.timeSigList = false;
    Write(dir, "header24.sgt", BuildSegment(old));
    SegmentSpec grown = Full();
    grown.extraItemBytes = 8;
    grown.unknownChunks = true;
    Write(dir, "grown.sgt", BuildSegment(grown));

    qorn::testdls::CollectionSpec tiny;
    tiny.guid = Guid{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    tiny.waves.push_back(qorn::testdls::LoopedWave(qorn::testdls::SineWave(440, 44000, 200)));
    tiny.waves.back().sample->loop = qorn::testdls::Loop{100, 100, 0};
    tiny.instruments.push_back({});
    tiny.instruments.back().regions.push_back({});
    SegmentSpec banded = Full();
    const Reference ref{kCollectionClass, tiny.guid, "", "tiny.dls"};
    banded.bands = {{0, {{0, 0x00010200, 0x1 | 0x2 | 0x20 | 0x40 | 0x80 | 0x2000, 30, 90, -12, 12, ref}}},
                    {768, {}, Reference{kBandClass, std::nullopt, "Band", ""}}};
    banded.container = {{qorn::testdls::BuildDls(tiny), ref, ""},
                        {BuildBandFile({0, {{9, 0x80000000u, 0x1}}}), {}, ""}};
    Write(dir, "band.sgt", BuildSegment(banded));

    using namespace qorn::testtracks;
    SegmentSpec carrier = Full();
    Embedded wave;
    wave.form = WaveFile(std::vector<float>(32, 0.25f), 8000, 2, 8);
    wave.description = FileRef("e.wav", kWaveClass);
    carrier.container.push_back(wave);
    SegmentSpec child;
    child.header.length = 768;
    child.notes = {{0, 100, 3, 90}};
    Trigger embedded;
    embedded.time = 768;
    embedded.embedded = BuildSegment(child);
    Bytes tracks = WaveTrack({{0, 0, {{0, 768, -300, 2, 9, 0, 0, FileRef("e.wav", kWaveClass)}}}});
    Append(tracks, MuteTrack({{768, 0}, {1536, 0, 1}}));
    Append(tracks, TriggerTrack({embedded, {1536, FileRef("gone.sgt", kSegmentClass)}}));
    Append(tracks, QuietTracks());
    Write(dir, "tracks.sgt", WithTracks(BuildSegment(carrier), tracks));
    return 0;
}
