#include "platform/formats/dls/DlsReader.h"
#include "platform/formats/dls/DlsArticulation.h"
#include "tests/support/DlsWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace qorn::dls {
namespace {

using testdls::BuildDls;
using testdls::Bytes;
using testdls::CollectionSpec;
using testdls::TestCollection;

std::shared_ptr<const Collection> ReadOk(const Bytes& bytes) {
    DlsReadResult result = ReadDlsCollection(bytes);
    EXPECT_TRUE(result.ok()) << (result.error ? result.error->text() : "");
    return result.collection;
}

// Offset of the first chunk header `id` at or after `from`.
std::size_t Find(const Bytes& bytes, const char* id, std::size_t from = 0) {
    auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), id, id + 4);
    EXPECT_NE(it, bytes.end()) << id;
    return static_cast<std::size_t>(it - bytes.begin());
}

void Poke32(Bytes& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

class LevelTest : public ::testing::TestWithParam<bool> {};

TEST_P(LevelTest, ReadsInstrumentsRegionsAndWaves) {
    auto c = ReadOk(BuildDls(TestCollection(GetParam())));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, "Test collection");
    ASSERT_TRUE(c->guid);
    EXPECT_EQ(c->guid->Data1, 0x04030201u);
    EXPECT_EQ(c->guid->Data4[7], 16);

    ASSERT_EQ(c->instruments.size(), 4u);
    const Instrument& sine = c->instruments[0];
    EXPECT_EQ(sine.name, "Sine");
    EXPECT_EQ(sine.program, 0);
    EXPECT_FALSE(sine.drums);
    ASSERT_EQ(sine.regions.size(), 1u);
    EXPECT_EQ(sine.regions[0].waveIndex, 0u);
    ASSERT_EQ(sine.articulations.size(), 1u);
    EXPECT_EQ(sine.articulations[0].level2, GetParam());
    EXPECT_EQ(sine.articulations[0].connections.size(), 3u);

    const Instrument& bank = c->instruments[2];
    EXPECT_EQ(bank.bankMsb, 5);
    EXPECT_EQ(bank.bankLsb, 3);
    EXPECT_EQ(bank.regions[0].waveIndex, 1u);

    const Instrument& kit = c->instruments[3];
    EXPECT_TRUE(kit.drums);
    ASSERT_EQ(kit.regions.size(), 2u);
    EXPECT_EQ(kit.regions[1].keyLow, 38);
    EXPECT_EQ(kit.regions[1].keyHigh, 38);
    EXPECT_EQ(kit.regions[1].waveIndex, 3u);
    ASSERT_TRUE(kit.regions[1].sample);
    EXPECT_EQ(kit.regions[1].sample->unityNote, 38);

    ASSERT_EQ(c->waves.size(), 4u);
    EXPECT_EQ(c->waves[0].name, "sine");
    EXPECT_EQ(c->waves[0].sampleRate, 44000u);
    EXPECT_EQ(c->waves[0].samples.size(), 44000u);
    ASSERT_TRUE(c->waves[0].sample);
    ASSERT_EQ(c->waves[0].sample->loops.size(), 1u);
    EXPECT_EQ(c->waves[0].sample->loops[0].start, 34000u);
    EXPECT_EQ(c->waves[0].sample->loops[0].length, 10000u);
    EXPECT_EQ(EffectiveSample(*c, kit.regions[0]).unityNote, 36);
    EXPECT_EQ(EffectiveSample(*c, sine.regions[0]).unityNote, 69);
}

INSTANTIATE_TEST_SUITE_P(Dls, LevelTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Level2" : "Level1"; });

TEST(DlsReader, EightBitAndStereoWavesBecomeMono16Bit) {
    CollectionSpec plan;
    testdls::WaveSpec w;
    w.samples = {0, 16384, -16384, 32512, -32768};
    plan.waves = {w, w, w};
    plan.waves[1].bits = 8;
    plan.waves[2].channels = 2;
    auto c = ReadOk(BuildDls(plan));
    ASSERT_TRUE(c);
    ASSERT_EQ(c->waves.size(), 3u);
    for (const Wave& wave : c->waves) {
        ASSERT_EQ(wave.samples.size(), w.samples.size());
        for (std::size_t i = 0; i < w.samples.size(); ++i)
            EXPECT_NEAR(wave.samples[i], w.samples[i], 256) << "bits " << wave.bitsPerSample << " sample " << i;
    }
    EXPECT_EQ(c->waves[1].bitsPerSample, 8);
    EXPECT_EQ(c->waves[2].channels, 2);
}

TEST(DlsReader, LargerRecordsAndUnknownChunksReadAlike) {
    const auto plain = ReadOk(BuildDls(TestCollection()));
    CollectionSpec plan = TestCollection();
    plan.unknownChunks = true;
    for (auto& w : plan.waves) {
        w.sample->extraHeaderBytes = 12;
        w.sample->extraLoopBytes = 8;
    }
    const auto padded = ReadOk(BuildDls(plan));
    ASSERT_TRUE(plain && padded);
    ASSERT_EQ(padded->instruments.size(), plain->instruments.size());
    ASSERT_EQ(padded->waves.size(), plain->waves.size());
    for (std::size_t i = 0; i < plain->waves.size(); ++i) {
        EXPECT_EQ(padded->waves[i].samples, plain->waves[i].samples);
        EXPECT_EQ(padded->waves[i].sample->unityNote, plain->waves[i].sample->unityNote);
        ASSERT_EQ(padded->waves[i].sample->loops.size(), 1u);
        EXPECT_EQ(padded->waves[i].sample->loops[0].start, plain->waves[i].sample->loops[0].start);
    }
    for (std::size_t i = 0; i < plain->instruments.size(); ++i)
        EXPECT_EQ(padded->instruments[i].regions[0].waveIndex, plain->instruments[i].regions[0].waveIndex);
}

TEST(DlsReader, WithoutPoolTableTheIndexNamesTheWave) {
    CollectionSpec plan = TestCollection();
    plan.poolTable = false;
    plan.instruments[0].regions[0].wave = 2;
    plan.instruments[1].regions[0].wave = 9; // no such wave
    auto c = ReadOk(BuildDls(plan));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->instruments[0].regions[0].waveIndex, 2u);
    EXPECT_EQ(c->instruments[1].regions[0].waveIndex, Region::kNoWave);
}

TEST(DlsReader, PoolTableOffsetsFromOtherOriginsStillFindTheirWaves) {
    for (std::uint32_t shift : {0u, 12u, 8u, 5u}) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        Bytes dls = BuildDls(TestCollection());
        const std::size_t ptbl = Find(dls, "ptbl");
        for (std::size_t cue = 0; cue < 4; ++cue) {
            const std::size_t at = ptbl + 16 + 4 * cue;
            std::uint32_t offset = 0;
            std::memcpy(&offset, dls.data() + at, 4);
            Poke32(dls, at, offset + shift);
        }
        auto c = ReadOk(dls);
        ASSERT_TRUE(c);
        for (std::size_t i = 0; i < 3; ++i) {
            const std::uint32_t expected = shift == 5 ? Region::kNoWave : std::uint32_t(i == 2 ? 1 : i);
            EXPECT_EQ(c->instruments[i].regions[0].waveIndex, expected) << i;
        }
    }
}

TEST(DlsReader, PatchLookupHonoursBankAndDrumFlag) {
    auto c = ReadOk(BuildDls(TestCollection()));
    ASSERT_TRUE(c);
    struct Case {
        std::uint8_t msb, lsb, program;
        bool drums;
        const char* expected; // nullptr: not in the collection
    };
    const Case cases[] = {
        {0, 0, 0, false, "Sine"}, {0, 0, 1, false, "Square"}, {5, 3, 0, false, "Square bank"},
        {0, 0, 0, true, "Kit"},   {5, 0, 0, false, nullptr},  {0, 3, 0, false, nullptr},
        {0, 0, 1, true, nullptr}, {0, 0, 2, false, nullptr},
    };
    for (const Case& k : cases) {
        const Instrument* found = FindInstrument(*c, k.msb, k.lsb, k.program, k.drums);
        if (k.expected) {
            ASSERT_NE(found, nullptr) << k.expected;
            EXPECT_EQ(found->name, k.expected);
        } else {
            EXPECT_EQ(found, nullptr) << int(k.msb) << "/" << int(k.lsb) << "/" << int(k.program);
        }
        EXPECT_EQ(CollectionHasPatch(*c, k.msb, k.lsb, k.program, k.drums), k.expected != nullptr);
    }
}

TEST(DlsReader, ProbeRecognisesOnlyDlsForms) {
    const Bytes dls = BuildDls(TestCollection());
    EXPECT_TRUE(LooksLikeDlsCollection(dls));
    Bytes wave = dls;
    std::memcpy(wave.data() + 8, "WAVE", 4);
    EXPECT_FALSE(LooksLikeDlsCollection(wave));
    EXPECT_FALSE(LooksLikeDlsCollection(Bytes(dls.begin(), dls.begin() + 11)));
    EXPECT_FALSE(LooksLikeDlsCollection(Bytes{}));
    const DlsReadResult r = ReadDlsCollection(wave);
    EXPECT_FALSE(r.ok());
}

// The reason a read gives, refused or kept.
std::string Reason(const DlsReadResult& r) {
    if (!r.ok()) return r.error ? r.error->message : "";
    return r.collection->damage ? r.collection->damage->reason : "";
}

// Every region of every kept instrument finds its wave.
bool AllWhole(const Collection& c) {
    for (const Instrument& i : c.instruments)
        for (const Region& region : i.regions)
            if (region.waveIndex >= c.waves.size()) return false;
    return true;
}

// Each mutation makes a length or count lie. The reader names the chunk
// where the lie is and keeps the instruments (of Sine, Square, Square bank
// and Kit, in that order) that the lie does not touch, with their waves.
TEST(DlsReader, HostileLengthsAndCountsNameTheChunkAndLoseOnlyWhatTheyTouch) {
    struct Case {
        const char* name;
        const char* chunk; // chunk to patch and to be named
        std::size_t field; // offset of the field from the chunk header
        std::uint32_t value;
        std::size_t kept;
    };
    const Case cases[] = {
        {"wsmp loop count: the kit's region", "wsmp", 8 + 16, 0x40000000u, 3},
        {"wsmp header size", "wsmp", 8, 0x7FFFFFF0u, 3},
        {"wsmp header size too small", "wsmp", 8, 4, 3},
        {"art1 connection count: the sine's", "art1", 8 + 4, 0x10000000u, 3},
        {"art1 header size", "art1", 8, 0xFFFFFFFFu, 3},
        {"ptbl cue count: the cues that are there still hold", "ptbl", 8 + 4, 0x20000000u, 4},
        {"chunk size past its list", "insh", 4, 0x00100000u, 3},
        {"list size past the file: the waves are all there", "wvpl", 4, 0xFFFFFF00u, 4},
    };
    const Bytes good = BuildDls(TestCollection());
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Bytes bad = good;
        // "wvpl" is a list type: its header starts 8 bytes earlier.
        const bool listType = std::strcmp(k.chunk, "wvpl") == 0;
        const std::size_t at = Find(bad, k.chunk) - (listType ? 8 : 0);
        Poke32(bad, at + k.field, k.value);
        const DlsReadResult r = ReadDlsCollection(bad);
        ASSERT_TRUE(r.ok());
        ASSERT_TRUE(r.collection->damage);
        const std::string name = std::string("chunk '") + (listType ? "LIST" : k.chunk) + "' at byte ";
        EXPECT_EQ(Reason(r).rfind(name + std::to_string(at), 0), 0u) << Reason(r);
        EXPECT_EQ(r.collection->instruments.size(), k.kept);
        EXPECT_EQ(r.collection->damage->lost.size(), 4 - k.kept);
        EXPECT_TRUE(AllWhole(*r.collection));
    }
}

// Cut anywhere, a collection is refused or keeps only whole instruments
// with whole waves, and says it is damaged; cut in the wave pool, it keeps
// the instruments whose waves come before the cut.
TEST(DlsReader, EveryTruncationKeepsOnlyWholeInstruments) {
    CollectionSpec plan = TestCollection(true);
    plan.name.clear(); // the wave pool ends the file
    for (auto& w : plan.waves)
        w.samples.resize(200), w.sample->loop = testdls::Loop{100, 100, 0};
    const Bytes full = BuildDls(plan);
    const std::size_t wavePool = Find(full, "wvpl") - 8;
    std::size_t keptBefore = 0, partly = 0;
    for (std::size_t n = 0; n < full.size(); ++n) {
        const DlsReadResult r = ReadDlsCollection(std::span(full.data(), n));
        EXPECT_FALSE(Reason(r).empty()) << n;
        if (!r.ok()) {
            ASSERT_TRUE(r.error);
            EXPECT_LE(r.error->offset, n);
            continue;
        }
        const std::size_t kept = r.collection->instruments.size();
        EXPECT_TRUE(AllWhole(*r.collection)) << n;
        EXPECT_GE(kept, keptBefore) << "a longer file keeps no fewer instruments, at " << n;
        keptBefore = kept;
        partly += kept < 4;
        // Cut inside the wave pool: the pool list is what runs past the end.
        if (n > wavePool + 12) {
            EXPECT_EQ(Reason(r).rfind("chunk 'LIST' at byte " + std::to_string(wavePool), 0), 0u);
        }
    }
    EXPECT_GT(partly, 0u);
    EXPECT_EQ(keptBefore, 3u) << "a byte short, all but the kit, whose wave comes last";
}

TEST(DlsReader, DeeplyNestedListsAreSkippedWithoutRecursing) {
    CollectionSpec plan = TestCollection();
    Bytes dls = BuildDls(plan);
    // 2000 lists nested inside one another, placed as an unknown chunk
    // inside the instrument list.
    Bytes nested = testdls::Chunk("junk", Bytes{});
    for (int i = 0; i < 2000; ++i)
        nested = testdls::List("ins ", nested);
    const std::size_t lins = Find(dls, "lins") - 8;
    std::uint32_t linsSize = 0;
    std::memcpy(&linsSize, dls.data() + lins + 4, 4);
    dls.insert(dls.begin() + static_cast<std::ptrdiff_t>(lins + 12), nested.begin(), nested.end());
    Poke32(dls, lins + 4, linsSize + static_cast<std::uint32_t>(nested.size()));
    Poke32(dls, 4, static_cast<std::uint32_t>(dls.size() - 8));
    const DlsReadResult r = ReadDlsCollection(dls);
    // The outer "ins " has no header: it is lost, by place; the rest plays.
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.collection->instruments.size(), 4u);
    EXPECT_EQ(Reason(r),
              "chunk 'LIST' at byte " + std::to_string(lins + 12) + " is an instrument without an 'insh' header");
}

// Random damage to sizes, counts and fields: the reader either refuses the
// file or returns a model whose references all hold, never reading outside
// the input (the sanitizer builds check that part).
TEST(DlsReader, RandomlyDamagedFilesNeverYieldBrokenModels) {
    CollectionSpec plan = TestCollection(true);
    for (auto& w : plan.waves)
        w.samples.resize(300), w.sample->loop = testdls::Loop{100, 200, 0};
    const Bytes good = BuildDls(plan);
    std::mt19937 rng(1234);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes bad = good;
        const int damages = 1 + static_cast<int>(rng() % 4);
        for (int d = 0; d < damages; ++d) {
            const std::size_t at = rng() % (bad.size() - 4);
            switch (rng() % 3) {
            case 0:
                bad[at] = static_cast<std::uint8_t>(rng());
                break;
            case 1:
                Poke32(bad, at, rng());
                break;
            default:
                Poke32(bad, at, 0xFFFFFFFFu - (rng() % 16));
                break;
            }
        }
        const DlsReadResult r = ReadDlsCollection(bad);
        if (!r.ok()) {
            ASSERT_TRUE(r.error);
            EXPECT_LT(r.error->offset, bad.size());
            continue;
        }
        ++accepted;
        std::size_t samples = 0;
        for (const Wave& w : r.collection->waves)
            samples += w.samples.size();
        EXPECT_LE(samples, bad.size());
        for (const Instrument& i : r.collection->instruments)
            for (const Region& region : i.regions)
                EXPECT_TRUE(region.waveIndex == Region::kNoWave || region.waveIndex < r.collection->waves.size());
        if (r.collection->damage) {
            EXPECT_TRUE(AllWhole(*r.collection));
        }
    }
    EXPECT_GT(accepted, 0); // damage to sample data alone is harmless
}

TEST(DlsArticulation, ConnectionsBecomeGeneratorValues) {
    using namespace conn;
    auto c = [](std::uint16_t src, std::uint16_t dst, std::int32_t scale) {
        return Connection{src, kSrcNone, dst, 0, scale};
    };
    Instrument instrument;
    instrument.articulations.push_back(
        Articulation{false,
                     {c(kSrcNone, kDstEg1AttackTime, -1200 * 65536), c(kSrcNone, kDstEg1DecayTime, 1200 * 65536),
                      c(kSrcNone, kDstEg1SustainLevel, 500 * 65536), c(kSrcNone, kDstEg1ReleaseTime, kTimeZero),
                      c(kSrcNone, kDstPan, -250 * 65536), c(kSrcLfo, kDstPitch, 50 * 65536),
                      c(kSrcNone, kDstLfoFrequency, -600 * 65536), c(kSrcVibrato, kDstPitch, 20 * 65536),
                      // A depth the mod wheel scales is the wheel's to set.
                      Connection{kSrcLfo, 0x0081, kDstPitch, 0, 999 * 65536}}});
    Region region;
    WaveSample sample;
    sample.gain = -60 * 65536; // 6 dB quieter
    VoiceParameters p = DeriveVoiceParameters(instrument, region, sample);
    EXPECT_DOUBLE_EQ(p.volEnvAttack, -1200);
    EXPECT_DOUBLE_EQ(p.volEnvDecay, 1200);
    EXPECT_DOUBLE_EQ(p.volEnvSustain, 480);
    EXPECT_DOUBLE_EQ(p.volEnvRelease, -12000);
    EXPECT_DOUBLE_EQ(p.pan, -250);
    EXPECT_DOUBLE_EQ(p.modLfoToPitch, 50);
    EXPECT_DOUBLE_EQ(p.modLfoFrequency, -600);
    EXPECT_DOUBLE_EQ(p.vibLfoToPitch, 20);
    EXPECT_DOUBLE_EQ(p.attenuation, 60);

    // A region's own articulation replaces the instrument's.
    region.articulations.push_back(Articulation{true, {c(kSrcNone, kDstPan, 400 * 65536)}});
    p = DeriveVoiceParameters(instrument, region, WaveSample{});
    EXPECT_DOUBLE_EQ(p.pan, 400);
    EXPECT_DOUBLE_EQ(p.volEnvAttack, -12000);
}

} // namespace
} // namespace qorn::dls
