// Writes the seed corpora of the information-reader, DLS, DLS font, wave,
// style and chordmap fuzzers, and the style-based and template seeds of the
// segment fuzzer, from the tests' own writers:
//   qorn_make_hardening_seeds FUZZ_CORPUS_DIR
//   (fills midiinfo/ dls/ dlsfont/ wave/ style/ chordmap/ segment/)
#include "tests/support/ChordmapWriter.h"
#include "tests/support/CompressedWaves.h"
#include "tests/support/DlsWriter.h"
#include "tests/support/OlderFormsWriter.h"
#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestStyles.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

template <typename Bytes> void Write(const fs::path& dir, const char* name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void MidiInfoSeeds(const fs::path& dir) {
    using namespace qorn::fileinfo::test;
    Write(dir, "texts.mid", Smf(Meta(0x03, "Title") + Meta(0x02, "(c) 2026 Someone") + Meta(0x01, "Some text")));
    Write(dir, "sjis.mid", Smf(Meta(0x03, "\x83\x65\x83\x58\x83\x67") + Meta(0x01, "\x89\xb9\x8a\x79")));
    Write(dir, "utf8.mid", Smf(Meta(0x03, "\xe6\x9b\xb2 title") + Meta(0x02, "\xc2\xa9 me")));
    Write(dir, "note-first.mid", Smf(NoteOn + Meta(0x03, "late")));
    Write(dir, "long.mid", Smf(Meta(0x01, std::string(2100, 'x'))));
    Write(dir, "zero-inside.mid", Smf(Meta(0x03, std::string("ab\0cd", 5)) + Meta(0x7F, "seq")));
    Write(dir, "format1.mid",
          Header(1, 2) + Chunk("MTrk", Meta(0x03, "Conductor") + EndOfTrack) + Chunk("MTrk", NoteOn + EndOfTrack));
}

void DlsSeeds(const fs::path& dir) {
    using namespace qorn::testdls;
    // The tests' collection with waves cut to a few frames: the structure
    // is what the fuzzer needs, not the sound.
    CollectionSpec full = TestCollection(false);
    for (auto& w : full.waves) {
        w.samples.resize(32);
        if (w.sample && w.sample->loop) w.sample->loop = Loop{4, 16, 0};
    }
    for (auto& i : full.instruments)
        for (auto& r : i.regions)
            if (r.sample && r.sample->loop) r.sample->loop = Loop{4, 16, 0};
    Write(dir, "level1.dls", BuildDls(full));
    CollectionSpec level2 = full;
    level2.level2 = true;
    level2.unknownChunks = true;
    Write(dir, "level2.dls", BuildDls(level2));
    CollectionSpec variants = full;
    variants.poolTable = false;
    variants.guid.reset();
    variants.waves[0].bits = 8;
    variants.waves[1].channels = 2;
    if (variants.waves[0].sample) variants.waves[0].sample->extraHeaderBytes = 4;
    Write(dir, "variants.dls", BuildDls(variants));
    // Waves as DirectX collections compress them: a few MPEG frames, and
    // one in a format there is no decoder for.
    CollectionSpec compressed = full;
    compressed.waves[0] = Mp3Wave(SineWave(440, 8000, 400), 8000);
    compressed.waves[0].sample = full.waves[0].sample;
    compressed.waves[1].encoded = WaveSpec::Encoded{0x0160, {}, Bytes(16, 0x11), 32, {}};
    Write(dir, "compressed.dls", BuildDls(compressed));
}

// Wave files as a piece: plain PCM with a loop, Microsoft ADPCM mono and
// stereo, and MPEG Layer 3 as DirectX tools write it.
void WaveSeeds(const fs::path& dir) {
    using namespace qorn::testtracks;
    std::vector<float> tone(2000), stereo(4000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = stereo[2 * i] = stereo[2 * i + 1] = 0.5f * float(std::sin(double(i) * 0.1));
    Write(dir, "pcm16-loop.wav", WaveFile(tone, 22050, 1, 16, qorn::testdls::Loop{100, 800, 0}));
    Write(dir, "pcm8-stereo.wav", WaveFile(stereo, 11025, 2, 8));
    Write(dir, "adpcm.wav", AdpcmWaveFile(tone, 22050, 1, 128));
    Write(dir, "adpcm-stereo.wav", AdpcmWaveFile(stereo, 22050, 2, 256));
    const auto mp3 = qorn::testdls::Mp3Wave(qorn::testdls::SineWave(440, 8000, 1200), 8000);
    Write(dir, "mp3.wav", qorn::testseg::Form("WAVE", qorn::testdls::EncodedWaveChunks(mp3)));
}

// Collections for the conversion into instruments and SoundFont files:
// region loops on waves without their own, a release loop, a stereo pair.
void DlsFontSeeds(const fs::path& dir) {
    using namespace qorn::testdls;
    CollectionSpec plan = TestCollection(true);
    for (auto& w : plan.waves)
        w.samples.resize(64);
    plan.waves[1].sample->loop.reset();
    plan.instruments[1].regions[0].sample = SampleInfo{69, -37, -3 * 65536, Loop{8, 40, 1}};
    plan.instruments[0].regions.push_back(plan.instruments[0].regions[0]);
    plan.instruments[0].regions[1].linkOptions = 2;
    plan.instruments[0].regions[1].channel = 2;
    plan.instruments[0].regions[1].sample = SampleInfo{69, 0, 0, Loop{4, 50, 0}};
    plan.instruments[0].articulation.push_back({0x0005, 0, 0x0003, 0, 150 * 65536 + 12345});
    Write(dir, "loops.dls", BuildDls(plan));
}

namespace st = qorn::formats::style;
using namespace qorn::styles_test;

st::Style SmallStyle() {
    st::Style style;
    style.tempo = 100.0;
    style.parts = {Part(1, st::playmode::kNormalChord, {Note(0, 0x3000), Note(768, 0x3100, 3)}, 1, 2),
                   Part(2, st::playmode::kNormalChord, {Note(0, 0x5100)}),
                   Part(3, st::playmode::kNone, {Note(0, 36, 1, st::playmode::kFixed)})};
    style.patterns = {PatternOf({Ref(1, 2), Ref(2, 5), Ref(3, 9)}),
                      PatternOf({Ref(1, 2, 1)}, 2, 60, 100, st::embellishment::kFill)};
    return style;
}

void StyleSeeds(const fs::path& dir) {
    Write(dir, "small.sty", StyleForm(SmallStyle()));
    Write(dir, "empty.sty", StyleForm(st::Style{}));
    // The DirectX 6 form: a style of three parts.
    AasyStyle older;
    AasyPattern pattern;
    pattern.notes = {{0, 4, 36, 0x3000, 96}, {4, 3, 64, 0x5100, 96, -4, 90, 0x3}, {0, 5, 1}, {4, 5, 3}};
    older.patterns = {pattern};
    older.bands = {AasyBand{"Default", true, {}}};
    older.chordmaps = {{"jazz", "JAZZ", true}};
    Write(dir, "older.sty", AasyStyleFile(older));
}

void StyleSegmentSeeds(const fs::path& dir) {
    const std::vector<st::Command> commands = {{0, 0, 0, st::command::kGroove, 50, 0, 0},
                                               {std::int32_t(kMeasure), 1, 0, st::command::kFill, 70, 5, 0}};
    Write(dir, "embedded-style.sgt",
          StyleSegment(2 * std::int32_t(kMeasure), TwoChords(), commands,
                       StyleTrackList(0, "", StyleForm(SmallStyle()))));
    Write(dir, "referenced-style.sgt",
          StyleSegment(std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "gone.sty")));
    // A pattern track whose part changes variation at its markers, and a
    // motif of the style in force started at a play marker.
    st::Style pattern = SmallStyle();
    pattern.parts[0].flags = st::StylePart::kUseMarkers;
    pattern.parts[0].markers = {{8, 2, st::StyleMarker::kStart}, {8, 1, st::StyleMarker::kStop}};
    st::Style withMotif = SmallStyle();
    withMotif.patterns[1].embellishment = st::embellishment::kMotif;
    withMotif.patterns[1].name = "Hook";
    withMotif.patterns[1].motifRepeats = 1;
    qorn::testtracks::Trigger motif;
    motif.time = 100;
    motif.flags = 1;
    motif.motif = "Hook";
    motif.playFlags = qorn::testtracks::kAtMarker;
    Bytes patternSegment = PatternTrackSegment(2 * std::int32_t(kMeasure), TwoChords(), pattern);
    Bytes tracks = Track(0xD2AC288D, nullptr, "sttr", StyleTrackList(0, "", StyleForm(withMotif)));
    qorn::testseg::Append(tracks, qorn::testtracks::TriggerTrack({motif}));
    qorn::testseg::Append(tracks, qorn::testtracks::MarkerTrack({0}, {768}));
    Write(dir, "pattern-track.sgt", qorn::testtracks::WithTracks(patternSegment, tracks));
}

namespace cm = qorn::formats::chordmap;

void ChordmapSeeds(const fs::path& dir) {
    cm::Chordmap map = HomeAndAwayChordmap();
    map.palette = {map.graph[0].chord, map.graph[3].chord};
    map.signposts[1].cadenceFlags |= cm::cadence::kSecond;
    map.signposts[1].cadences.push_back(map.graph[1].chord);
    Write(dir, "graph.cdm", BuildChordmap(map));
    Write(dir, "older-header.cdm", BuildChordmap(map, false));
    cm::Chordmap signpostsOnly = map; // as the DirectX 9 SDK's chordmap is
    signpostsOnly.graph.clear();
    Write(dir, "signposts-only.cdm", BuildChordmap(signpostsOnly));
    // The DirectX 6 form, which ReadChordmap reads too.
    qorn::styles_test::RepsChordmap older;
    older.graph = {{1, {0x91, "M", 12}, {{2}}}, {2, {0x89, "m", 14}, {{1}}}};
    older.signposts = {{{0x91, "M", 12}, {0x89, "m", 14}, {0x891, "7", 19}, 0x101, 0x6}};
    Write(dir, "older.cdm", qorn::styles_test::RepsChordmapFile(older));
    older.signpostsOnly = true;
    Write(dir, "older-signposts.cdp", qorn::styles_test::RepsChordmapFile(older));
}

// A template that carries its style and names a chordmap (the fuzzer reads
// no folder: it composes over the key's tonic).
void TemplateSeeds(const fs::path& dir) {
    TemplateSketch t;
    t.length = 8 * std::int32_t(kMeasure);
    t.signposts = {{0, 0, cm::signpost::kA}, {4 * std::int32_t(kMeasure), 4, cm::signpost::kB | 0x8000u}};
    t.commands = {{0, 0, 0, st::command::kGroove, 50, 0, 0}};
    t.embeddedStyle = StyleForm(SmallStyle());
    t.chordmap = "small.cdm";
    Write(dir, "template.tpl", BuildTemplate(t));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FUZZ_CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    MidiInfoSeeds(root / "midiinfo");
    DlsSeeds(root / "dls");
    DlsFontSeeds(root / "dlsfont");
    WaveSeeds(root / "wave");
    StyleSeeds(root / "style");
    ChordmapSeeds(root / "chordmap");
    TemplateSeeds(root / "segment");
    StyleSegmentSeeds(root / "segment");
    return 0;
}
