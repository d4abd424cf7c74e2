// Reading segment files of the different format versions, with what they
// carry that this player does not use, and damaged or hostile files.
#include "TestSupport.h"

#include "platform/formats/dls/DlsCollection.h"

#include <random>

namespace qorn::testseg {
namespace {

using formats::segment::LooksLikeSegmentFile;

TEST(SegmentReader, ProbeAcceptsOnlySegmentForms) {
    EXPECT_TRUE(LooksLikeSegmentFile(BuildSegment(MelodySpec())));
    EXPECT_FALSE(LooksLikeSegmentFile(testdls::BuildDls(testdls::TestCollection())));
    EXPECT_FALSE(LooksLikeSegmentFile(Bytes{'R', 'I', 'F', 'F', 0, 0}));
    EXPECT_FALSE(LooksLikeSegmentFile(Bytes{}));
    const Bytes midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
    EXPECT_FALSE(LooksLikeSegmentFile(midi));
}

TEST(SegmentReader, MelodyGivesNotesTempoAndLength) {
    const Loaded l = Load(BuildSegment(MelodySpec()));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.sequence.ticksPerQuarter, 768u);
    EXPECT_EQ(Notes(l.sequence), MelodyNotes());
    ASSERT_EQ(l.sequence.tempos.size(), 1u);
    EXPECT_EQ(l.sequence.tempos[0].tick, 0u);
    EXPECT_EQ(l.sequence.tempos[0].microsecondsPerQuarter, 625000u); // 96 bpm
    EXPECT_EQ(l.sequence.lengthTicks, 4u * 768u);
    EXPECT_EQ(l.file.name, "Test segment");
}

// Every header size of the known versions, and records grown beyond what
// this reader knows, read alike.
TEST(SegmentReader, HeaderAndRecordSizesOfAllVersionsReadAlike) {
    for (std::uint32_t headerSize : {24u, 40u, 56u, 64u, 72u}) {
        for (std::uint32_t extra : {0u, 4u, 13u}) {
            SCOPED_TRACE("header " + std::to_string(headerSize) + " extra " + std::to_string(extra));
            SegmentSpec plan = MelodySpec();
            plan.header.size = headerSize;
            plan.header.repeats = 2;
            plan.header.loopStart = 768;
            plan.header.loopEnd = 2304;
            plan.extraItemBytes = extra;
            plan.curves = {{0, 768, 0, 0, 0, 0, 127, 0, 4, 0, 7}};
            plan.bands = {{0, {{0, 5, 0x1 | 0x40, 64, 90}}}};
            plan.instrumentExtended = headerSize > 24;
            const Loaded l = Load(BuildSegment(plan));
            ASSERT_TRUE(l.ok) << l.error;
            EXPECT_EQ(l.file.header.storedSize, headerSize);
            EXPECT_EQ(Notes(l.sequence), MelodyNotes());
            EXPECT_EQ(l.sequence.repeats, 2u);
            EXPECT_EQ(l.sequence.loopStartTicks, 768u);
            EXPECT_EQ(l.sequence.loopEndTicks, 2304u);
            EXPECT_EQ(l.sequence.tempos.at(0).microsecondsPerQuarter, 625000u);
            ASSERT_FALSE(Controllers(l.sequence, 7).empty());
            EXPECT_EQ(Controllers(l.sequence, 7).back().data2, 127);
            ASSERT_EQ(l.sequence.patches.size(), 1u);
            EXPECT_EQ(l.sequence.patches[0].program, 5);
        }
    }
}

TEST(SegmentReader, RecordsSmallerThanKnownLoseOnlyTheirChunk) {
    SegmentSpec plan = MelodySpec();
    Bytes bytes = BuildSegment(plan);
    // Shrink the tempo list's item size to 8: too small for a tempo.
    const Bytes tetr = {'t', 'e', 't', 'r'};
    auto it = std::search(bytes.begin(), bytes.end(), tetr.begin(), tetr.end());
    it = std::search(it + 4, bytes.end(), tetr.begin(), tetr.end()); // the chunk, after the track header's id
    ASSERT_NE(it, bytes.end());
    it[8] = 8;
    const Loaded l = Load(bytes);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_TRUE(l.sequence.tempos.empty());
    EXPECT_EQ(Notes(l.sequence), MelodyNotes());
    EXPECT_FALSE(l.warnings.empty());
}

TEST(SegmentReader, UnknownTracksAndChunksAreSkipped) {
    SegmentSpec plan = MelodySpec();
    plan.unknownChunks = true;
    plan.timeSigList = false;
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(Notes(l.sequence), MelodyNotes());
    int unknown = 0;
    for (const auto& t : l.file.tracks)
        unknown += t.kind == formats::segment::Track::Kind::Unknown;
    EXPECT_EQ(unknown, 1);
    for (const auto& t : l.file.tracks) {
        if (t.kind != formats::segment::Track::Kind::Unknown) continue;
        // Kept as stored for readers of other track kinds.
        ASSERT_GE(t.rawData.size(), 12u);
        EXPECT_EQ(std::string(t.rawData.begin() + 8, t.rawData.begin() + 12), "cord");
    }
    bool timeSig = false;
    for (const auto& t : l.file.tracks)
        timeSig |= !t.timeSignatures.empty();
    EXPECT_TRUE(timeSig);
}

TEST(SegmentReader, NotASegmentOrNoHeaderFails) {
    std::string error;
    formats::segment::SegmentFile file;
    formats::segment::EmbeddedOnlyResolver resolver;
    EXPECT_FALSE(ReadSegmentFile(testdls::BuildDls(testdls::TestCollection()), file, resolver, &error));
    EXPECT_NE(error.find("DMSG"), std::string::npos);

    Bytes noHeader = Form("DMSG", List("UNFO", Chunk("UNAM", WideText("x"))));
    EXPECT_FALSE(ReadSegmentFile(noHeader, file, resolver, &error));
    EXPECT_NE(error.find("segh"), std::string::npos);
    EXPECT_NE(error.find("offset 0"), std::string::npos);

    // The segment form is a RIFF chunk, not a LIST (found by fuzzing: the probe refused it, the reader did not).
    Bytes asList = BuildSegment(MelodySpec());
    std::copy_n("LIST", 4, asList.begin());
    EXPECT_FALSE(ReadSegmentFile(asList, file, resolver, &error));

    SegmentSpec tiny = MelodySpec();
    tiny.header.size = 12;
    EXPECT_FALSE(ReadSegmentFile(BuildSegment(tiny), file, resolver, &error));
    EXPECT_NE(error.find("segh"), std::string::npos);
}

TEST(SegmentReader, FileCutShortPlaysWhatIsThere) {
    SegmentSpec plan = MelodySpec();
    plan.bands = {{0, {{0, 5}}}};
    Bytes bytes = BuildSegment(plan);
    // The sequence track comes before the band track: cut inside the band.
    bytes.resize(bytes.size() - 40);
    const Loaded l = Load(bytes);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(Notes(l.sequence), MelodyNotes());
}

TEST(SegmentReader, DeepNestingIsRefusedWithoutRecursingForever) {
    Bytes inner = Chunk("UNAM", WideText("deep"));
    for (int i = 0; i < 5000; ++i)
        inner = List("UNFO", inner);
    Bytes body = HeaderChunk(Header{});
    Append(body, inner);
    Append(body, List("trkl", inner));
    const Loaded l = Load(Form("DMSG", body));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_TRUE(l.sequence.events.empty());
}

// Damaged copies of a full segment (every kind of track, a band and an
// embedded collection) never crash, hang or allocate without bound.
TEST(SegmentReader, RandomDamageIsSurvived) {
    SegmentSpec plan = MelodySpec();
    plan.curves = {{0, 768, 0, 0, 0, 0, 16383, 0, 3, 4}};
    plan.sysex = {{0, Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}};
    plan.bands = {{0, {{0, 0, 0x1, 64, 100, 0, 2, Reference{kCollectionClass, std::nullopt, "", "x.dls"}}}}};
    testdls::CollectionSpec small;
    small.waves.push_back(testdls::LoopedWave(testdls::SineWave(440, 44000, 400)));
    small.instruments.push_back({});
    small.instruments.back().regions.push_back({});
    plan.container = {{testdls::BuildDls(small), Reference{kCollectionClass, std::nullopt, "", "x.dls"}, ""}};
    const Bytes original = BuildSegment(plan);
    ASSERT_TRUE(Load(original).ok);
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        Bytes b = original;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < edits; ++i) {
            const std::size_t at = rng() % b.size();
            switch (rng() % 3) {
            case 0:
                b[at] = static_cast<std::uint8_t>(rng());
                break;
            case 1:
                b[at] = 0xFF;
                break;
            default:
                b.resize(at + 1);
                break;
            }
        }
        const Loaded l = Load(b);
        if (l.ok) {
            EXPECT_LE(l.sequence.events.size(), 16u * b.size() + (4u << 20));
        }
    }
}

} // namespace
} // namespace qorn::testseg
