// Writes the seed corpus of the script fuzzer from the tests' writers: a
// script and a container that carry a segment with the style, band,
// collection and wave it names, a wave listed as a segment, and a segment
// they only name.
//   qorn_make_script_seeds FUZZ_CORPUS_DIR/script
#include "tests/support/DlsWriter.h"
#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using namespace qorn::testtracks;
namespace sw = qorn::styles_test;
namespace st = qorn::formats::style;

void Write(const std::filesystem::path& dir, const char* name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);

    // A collection of one short looped sine: the structure matters, not the sound.
    qorn::testdls::CollectionSpec collection = qorn::testdls::TestCollection();
    collection.waves.resize(1);
    collection.waves[0].samples.resize(32);
    if (collection.waves[0].sample && collection.waves[0].sample->loop)
        collection.waves[0].sample->loop = qorn::testdls::Loop{4, 16, 0};
    collection.instruments.resize(1);
    const Bytes dls = qorn::testdls::BuildDls(collection);

    st::Style style;
    style.parts = {sw::Part(1, st::playmode::kNormalChord, {sw::Note(0, 0x3000)})};
    style.patterns = {sw::PatternOf({sw::Ref(1, 0)})};
    const Bytes styleForm = sw::StyleForm(style);
    const Band band{0, {{0, 0, 0x1 | 0x2, 64, 100, 0, 2, FileRef("Set.dls", kCollectionClass)}}};
    const Bytes cheer = WaveFile(std::vector<float>(64, 0.25f), 22050, 1);

    SegmentSpec plan;
    plan.header.length = 3072;
    plan.notes = {{0, 300, 0, 60, 100}};
    plan.bands = {{0, {}, FileRef("Set.bnd", kBandClass)}};
    WaveItem item;
    item.wave = FileRef("Cheer.wav", kWaveClass);
    Bytes tracks = sw::Track(0xD2AC288B, nullptr, "cord", sw::ChordTrackList(sw::TwoChords()));
    Append(tracks, sw::Track(0xD2AC288D, nullptr, "sttr", sw::StyleTrackList(0, "Groove.sty")));
    Append(tracks, WaveTrack({{0, 0, {item}}}));
    const Bytes song = WithTracks(BuildSegment(plan), tracks);

    const std::vector<Embedded> entries = {
        Held(song, "Song.sgt", kSegmentClass),
        Held(styleForm, "Groove.sty", kStyleClass),
        Held(BuildBandFile(band), "Set.bnd", kBandClass),
        Held(dls, "Set.dls", kCollectionClass),
        Held(cheer, "Cheer.wav", kSegmentClass),
        Embedded{{}, FileRef("Elsewhere.sgt", kSegmentClass), "", kSegmentClass},
    };
    Write(dir, "script.spt", BuildScript(entries));
    Write(dir, "container.con", ContainerForm(entries));
    return 0;
}
