// The engine on the real platform, in real time, with the silent audio
// output standing in for a sound device: what the window does, end to end.
#include "engine/TDMusicEngine.h"
#include "platform/MusicPlatform.h"
#include "platform/synth/SynthConfig.h"

#include "tests/support/DlsWriter.h"
#include "tests/support/MidiFileWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;

bool waitFor(bool wanted, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (DMEngine.IsPlaying() == wanted) return true;
        std::this_thread::sleep_for(5ms);
    }
    return DMEngine.IsPlaying() == wanted;
}

class EngineOnRealPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(qorn::platform::SoundFontPath())) GTEST_SKIP() << "no SoundFont installed";
        setenv("QORN_AUDIO_DRIVER", "silent", 1);
        qorn::platform::RegisterMusicPlatform();
        DMEngine = TDMusicEngine{};
        ASSERT_TRUE(DMEngine.Initialize()) << DMEngine.LastError;
    }
    void TearDown() override {
        if (!IsSkipped()) DMEngine.Shutdown();
    }
};

TEST_F(EngineOnRealPlatformTest, ListsTheSynthesizerAtThreeRates) {
    ASSERT_GE(DMEngine.PortCount, 3);
    const int first = DMEngine.FirstSynthEntry;
    EXPECT_STREQ(DMEngine.PortNames[first], "FluidSynth Software Synthesizer (SampleRate:11025Hz)");
    EXPECT_STREQ(DMEngine.PortNames[first + 1], "FluidSynth Software Synthesizer (SampleRate:22050Hz)");
    EXPECT_STREQ(DMEngine.PortNames[first + 2], "FluidSynth Software Synthesizer (SampleRate:44100Hz)");
    EXPECT_EQ(DMEngine.ActivePort, first + 1);
}

TEST_F(EngineOnRealPlatformTest, PlaysStopsAndEndsByItself) {
    qorn::test::TestPiece piece;
    piece.notes = {{0, 240, 60}, {480, 240, 64}}; // 0.75 s
    const std::string path = qorn::test::WriteTempFile("engine.mid", qorn::test::BuildMidiFile(piece));
    ASSERT_TRUE(DMEngine.LoadSegment(path.c_str()));
    DMEngine.SetLoop(1);
    DMEngine.SetTempo(2);
    DMEngine.SetVolume(88);
    ASSERT_EQ(DMEngine.Play(DMEngine.ActivePort, true), 0) << DMEngine.LastError;
    EXPECT_TRUE(waitFor(true, 10s));
    DMEngine.Stop();
    EXPECT_TRUE(waitFor(false, 10s));

    // Another entry (44100 Hz, no effects) rebuilds the port; the piece then ends on its own.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(DMEngine.Play(DMEngine.FirstSynthEntry + 2, false), 0) << DMEngine.LastError;
    EXPECT_TRUE(waitFor(true, 10s));
    EXPECT_TRUE(waitFor(false, 20s));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(took, 0.7);
    DMEngine.Stop();
}

// A General MIDI set that cannot be used says why in the engine's error,
// which the window shows.
TEST_F(EngineOnRealPlatformTest, ADamagedGeneralMidiSetSaysWhy) {
    DMEngine.Shutdown();
    const qorn::testdls::Bytes whole = qorn::testdls::BuildDls(qorn::testdls::TestCollection());
    const std::string set =
        qorn::test::WriteTempFile("damaged-gm.dls", qorn::testdls::Bytes(whole.begin(), whole.begin() + 60));
    const std::string before = qorn::platform::SoundFontPath();
    setenv("QORN_SOUNDFONT", set.c_str(), 1);
    DMEngine = TDMusicEngine{};
    EXPECT_FALSE(DMEngine.Initialize());
    setenv("QORN_SOUNDFONT", before.c_str(), 1);
    EXPECT_EQ(std::string(DMEngine.LastError)
                  .rfind("Can't Call CreatePort: the General MIDI set 'damaged-gm.dls' is "
                         "damaged: ",
                         0),
              0u)
        << DMEngine.LastError;
    DMEngine.Shutdown();
    DMEngine = TDMusicEngine{};
    ASSERT_TRUE(DMEngine.Initialize()) << DMEngine.LastError;
}

TEST_F(EngineOnRealPlatformTest, LoadingSomethingElseFailsCleanly) {
    const std::string path = qorn::test::WriteTempFile("text.mid", {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'});
    EXPECT_FALSE(DMEngine.LoadSegment(path.c_str()));
    EXPECT_EQ(DMEngine.Play(DMEngine.ActivePort, true), -1);
    EXPECT_STREQ(DMEngine.LastError, "Not Ready DirectMusic");
}

} // namespace
