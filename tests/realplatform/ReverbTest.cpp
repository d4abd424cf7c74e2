// The reverb sounds the same on every port, apart from bandwidth: the tail
// of a staccato chord falls as fast at 11025, 22050 and 44100 Hz.
#include "app/render/OfflineSession.h"
#include "tests/realplatform/AudioMeasure.h"
#include "tests/support/MidiFileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qorn::test {
namespace {

// How fast the level falls from 0.9 s to 2.6 s, in dB a second: the least
// squares slope of 50 ms levels.
double DecayDbPerSecond(const render::RenderedAudio& audio, int rate) {
    const std::size_t window = std::size_t(rate) / 20;
    double n = 0, st = 0, sl = 0, stt = 0, stl = 0;
    for (std::size_t at = std::size_t(0.9 * rate); at + window <= std::size_t(2.6 * rate); at += window) {
        const double t = double(at) / rate;
        const double level = LevelDb(audio.left, audio.right, at, at + window);
        n += 1;
        st += t;
        sl += level;
        stt += t * t;
        stl += t * level;
    }
    return -(n * stl - st * sl) / (n * stt - st * st);
}

TEST(ReverbTest, TheTailFallsAsFastOnEveryPort) {
    TestPiece chord; // a tenth of a second on the piano, then three seconds of tail
    chord.notes = {{0, 96, 60}, {0, 96, 64}, {0, 96, 67}};
    chord.endTick = 3 * 960;
    const std::string path = WriteTempFile("staccato.mid", BuildMidiFile(chord));
    std::vector<double> decays;
    for (const int rate : {11025, 22050, 44100}) {
        std::string error;
        auto session = render::OfflineSession::Create(rate, true, &error);
        ASSERT_NE(session, nullptr) << error;
        ASSERT_TRUE(session->load(path, &error)) << error;
        ASSERT_TRUE(session->play());
        decays.push_back(DecayDbPerSecond(render::RenderToEnd(*session, 0.0), rate));
    }
    std::printf("reverb tail: %.1f, %.1f, %.1f dB a second at 11025, 22050, 44100 Hz\n", decays[0], decays[1],
                decays[2]);
    const auto [slowest, fastest] = std::minmax_element(decays.begin(), decays.end());
    EXPECT_LT(*fastest, 1.1 * *slowest);
    EXPECT_GT(*slowest, 15.0) << "the tail should fall to silence within a few seconds";
}

} // namespace
} // namespace qorn::test
