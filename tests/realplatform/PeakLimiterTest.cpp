// Master volume above 0 dB: the synthesizer's output gets louder without
// clipping. A dense piece rendered through the real stack at the loudest
// setting never reaches full scale and keeps the loudness the volume table
// promises.
#include "tests/support/MidiFileWriter.h"
#include "tests/support/OfflineRenderTest.h"

#include <cmath>

namespace qorn::test {
namespace {

constexpr int kUnityPosition = 88; // 0 dB in the volume table
constexpr int kLoudestPosition = 127;
constexpr double kLoudestGainDb = 11.7;

// Loud chords on three channels, sustained and restruck: a dense piece.
TestPiece DensePiece() {
    TestPiece piece;
    piece.microsecondsPerQuarter = 400000;
    for (std::uint32_t bar = 0; bar < 8; ++bar) {
        for (std::uint8_t ch = 0; ch < 3; ++ch) {
            for (const std::uint8_t key : {48, 55, 60, 64, 67, 72}) {
                piece.notes.push_back({bar * 960 + ch * 40u, 900, static_cast<std::uint8_t>(key + ch * 2), 127, ch});
            }
        }
    }
    return piece;
}

float PeakOf(const render::RenderedAudio& a) {
    float peak = 0;
    for (std::size_t i = 0; i < a.left.size(); ++i)
        peak = std::max({peak, std::fabs(a.left[i]), std::fabs(a.right[i])});
    return peak;
}

class PeakLimiterTest : public OfflineRenderTest {};

TEST_F(PeakLimiterTest, LoudestVolumeNeverReachesFullScaleAndKeepsItsLoudness) {
    const std::string path = write("dense.mid", BuildMidiFile(DensePiece()));
    const render::RenderedAudio unity = play(path, {.volumePosition = kUnityPosition, .tailSeconds = 0.5});
    const render::RenderedAudio loud = play(path, {.volumePosition = kLoudestPosition, .tailSeconds = 0.5});
    ASSERT_GT(unity.left.size(), std::size_t(kRenderRate));
    ASSERT_EQ(loud.left.size(), unity.left.size());

    const double gain = std::pow(10.0, kLoudestGainDb / 20.0);
    const float unityPeak = PeakOf(unity);
    // The piece must be one that would clip, else nothing is tested.
    ASSERT_GT(unityPeak * gain, 1.2) << "unity peak " << unityPeak;
    ASSERT_LT(unityPeak, 0.999f) << "already full at 0 dB";

    EXPECT_LT(PeakOf(loud), 1.0f);
    const double unlimitedRms = gain * Rms(unity, 0, unity.left.size());
    const double loudRms = Rms(loud, 0, loud.left.size());
    const double differenceDb = 20.0 * std::log10(loudRms / unlimitedRms);
    EXPECT_NEAR(differenceDb, 0.0, 1.0) << "limited " << loudRms << " unlimited " << unlimitedRms;
    RecordProperty("unlimited_peak", std::to_string(unityPeak * gain));
    RecordProperty("limited_peak", std::to_string(PeakOf(loud)));
    RecordProperty("rms_difference_db", std::to_string(differenceDb));
}

} // namespace
} // namespace qorn::test
