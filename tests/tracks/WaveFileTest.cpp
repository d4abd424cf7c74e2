// Wave files as a wave track meets them: PCM of 8 and 16 bits, mono and
// stereo, MPEG Layer 3, loops from 'wsmp' or 'smpl', and damaged or
// unsupported files refused with a reason instead of read as noise.
#include "platform/waves/WaveData.h"
#include "tests/support/CompressedWaves.h"
#include "tests/support/SegmentWriter.h"

#include <gtest/gtest.h>

namespace qorn::testtracks {
namespace {

struct FormatCase {
    const char* name;
    std::uint16_t channels;
    std::uint16_t bits;
    float tolerance;
};

TEST(WaveFile, ReadsPcmFormats) {
    const std::vector<float> samples = {0.0f, 0.5f, -0.5f, 0.25f, 1.0f, -1.0f};
    for (const FormatCase c : {FormatCase{"16-bit mono", 1, 16, 1e-4f}, FormatCase{"16-bit stereo", 2, 16, 1e-4f},
                               FormatCase{"8-bit mono", 1, 8, 0.01f}, FormatCase{"8-bit stereo", 2, 8, 0.01f}}) {
        SCOPED_TRACE(c.name);
        waves::WaveData w;
        std::string error;
        ASSERT_TRUE(waves::ReadWaveFile(WaveFile(samples, 11025, c.channels, c.bits), w, &error)) << error;
        EXPECT_EQ(w.sampleRate, 11025u);
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(w.frames(), samples.size() / c.channels);
        ASSERT_EQ(w.samples.size(), samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            EXPECT_NEAR(w.samples[i], samples[i], c.tolerance) << i;
        EXPECT_FALSE(w.hasLoop);
    }
}

// The decoder the DLS collections use: the sound starts at the wave's first
// frame, as it was before encoding.
TEST(WaveFile, ReadsMpegLayer3InStep) {
    const auto sine = testdls::SineWave(441, 22050, 4410);
    waves::WaveData w;
    std::string error;
    ASSERT_TRUE(waves::ReadWaveFile(Form("WAVE", testdls::EncodedWaveChunks(testdls::Mp3Wave(sine, 22050))), w, &error))
        << error;
    EXPECT_EQ(w.sampleRate, 22050u);
    EXPECT_EQ(w.channels, 1u);
    ASSERT_GE(w.frames(), sine.size());
    double together = 0, alone = 0;
    for (std::size_t i = 1000; i < 4000; ++i) {
        together += w.samples[i] * sine[i] / 32768.0;
        alone += sine[i] / 32768.0 * sine[i] / 32768.0;
    }
    EXPECT_GT(together, 0.9 * alone);
}

TEST(WaveFile, ReadsLoopsOfBothChunkKinds) {
    const std::vector<float> samples(100, 0.1f);
    waves::WaveData w;
    ASSERT_TRUE(waves::ReadWaveFile(WaveFile(samples, 8000, 1, 16, Loop{20, 30}), w, nullptr));
    EXPECT_TRUE(w.hasLoop);
    EXPECT_EQ(w.loopStart, 20u);
    EXPECT_EQ(w.loopLength, 30u);

    Bytes smpl(36, 0);
    smpl[28] = 1; // one loop
    PutU32(smpl, 0);
    PutU32(smpl, 0);
    PutU32(smpl, 10); // start
    PutU32(smpl, 59); // inclusive end
    PutU32(smpl, 0);
    PutU32(smpl, 0);
    ASSERT_TRUE(waves::ReadWaveFile(WaveFile(samples, 8000, 1, 16, std::nullopt, Chunk("smpl", smpl)), w, nullptr));
    EXPECT_TRUE(w.hasLoop);
    EXPECT_EQ(w.loopStart, 10u);
    EXPECT_EQ(w.loopLength, 50u);

    // A loop past the samples is dropped, the wave still plays.
    ASSERT_TRUE(waves::ReadWaveFile(WaveFile(samples, 8000, 1, 16, Loop{90, 30}), w, nullptr));
    EXPECT_FALSE(w.hasLoop);
}

TEST(WaveFile, RefusesWhatItCannotPlay) {
    auto withFormat = [&](std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
        Bytes fmt;
        PutU16(fmt, tag);
        PutU16(fmt, channels);
        PutU32(fmt, rate);
        PutU32(fmt, rate * 2);
        PutU16(fmt, 2);
        PutU16(fmt, bits);
        Bytes body = Chunk("fmt ", fmt);
        Append(body, Chunk("data", Bytes(32, 0x40)));
        return Form("WAVE", body);
    };
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"compressed", withFormat(2, 1, 8000, 4)},
        {"12-bit", withFormat(1, 1, 8000, 12)},
        {"no channels", withFormat(1, 0, 8000, 16)},
        {"six channels", withFormat(1, 6, 8000, 16)},
        {"zero rate", withFormat(1, 1, 0, 16)},
        {"not a wave", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}},
        {"no data", Form("WAVE", Chunk("fmt ", Bytes(16, 1)))},
        {"empty", Bytes{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        waves::WaveData w;
        std::string error;
        EXPECT_FALSE(waves::ReadWaveFile(c.bytes, w, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(WaveFile, DataCutShortKeepsWholeFrames) {
    Bytes b = WaveFile(std::vector<float>(10, 0.5f), 8000, 2, 16);
    b.resize(b.size() - 3); // the last frame loses three of its four bytes
    waves::WaveData w;
    ASSERT_TRUE(waves::ReadWaveFile(b, w, nullptr));
    EXPECT_EQ(w.frames(), 4u);
}

} // namespace
} // namespace qorn::testtracks
