// The whole platform stack (loader, performance, synthesizer port) rendering
// into a buffer, judged by what a listener would hear.
#include "app/render/OfflineSession.h"
#include "platform/synth/SynthPort.h"

#include "AudioMeasure.h"
#include "tests/support/MidiFileWriter.h"
#include "tests/support/MidiWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace qorn;
using render::OfflineSession;
using render::RenderToEnd;
using test::LevelDb;

namespace {

constexpr int kRate = 22050;

std::unique_ptr<OfflineSession> makeSession(bool effects = false, int rate = kRate) {
    std::string error;
    auto s = OfflineSession::Create(rate, effects, &error);
    EXPECT_TRUE(s) << error;
    return s;
}

// Four quarter-second notes a second apart (120 bpm, 480 ticks per quarter): 4 s.
test::TestPiece fourNotes() {
    test::TestPiece p;
    for (int i = 0; i < 4; ++i)
        p.notes.push_back({std::uint32_t(i * 960), 240, std::uint8_t(60 + i)});
    p.endTick = 3840;
    return p;
}

std::string writePiece(const std::string& name, const test::TestPiece& piece) {
    return test::WriteTempFile(name, test::BuildMidiFile(piece));
}

double renderedSeconds(const render::RenderedAudio& a, int rate = kRate) {
    return double(a.musicFrames) / rate;
}

class RealPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(platform::SoundFontPath())) GTEST_SKIP() << "no SoundFont installed";
    }
};

TEST_F(RealPlatformTest, NotesSoundAtTheirTimesAndStopSilences) {
    auto s = makeSession();
    ASSERT_TRUE(s);
    std::string error;
    ASSERT_TRUE(s->load(writePiece("four.mid", fourNotes()), &error)) << error;
    ASSERT_TRUE(s->play());
    EXPECT_TRUE(s->isPlaying());
    // 3.1 s: the fourth note is sounding.
    std::vector<float> l(std::size_t(kRate * 31) / 10), r(l.size());
    s->render(l.data(), r.data(), int(l.size()));
    EXPECT_GT(LevelDb(l, r, 0, kRate / 5), -50.0);
    for (int i = 0; i < 3; ++i) {
        const std::size_t from = std::size_t(i) * kRate + kRate * 3 / 4; // after the previous note died away
        EXPECT_LT(LevelDb(l, r, from, from + kRate / 10), -60.0) << "before note " << i + 1;
        const std::size_t onset = test::FirstAbove(l, from, 0.01f);
        ASSERT_NE(onset, std::size_t(-1)) << "note " << i + 1;
        // The attack is on the 64-frame grid right after the note's time.
        EXPECT_NEAR(double(onset) / kRate, double(i + 1), 0.012) << "note " << i + 1;
    }
    EXPECT_GT(LevelDb(l, r, 3 * kRate, 3 * kRate + kRate / 10), -50.0);
    EXPECT_TRUE(s->isPlaying());

    s->stop();
    std::vector<float> after(kRate), afterR(kRate);
    s->render(after.data(), afterR.data(), kRate);
    EXPECT_FALSE(s->isPlaying());
    // The note is cut short and has died away.
    EXPECT_LT(LevelDb(after, afterR, kRate / 2, kRate), -80.0);
}

TEST_F(RealPlatformTest, MasterTempoScalesPlayingTime) {
    const std::string path = writePiece("tempo.mid", fourNotes());
    struct Case {
        float tempo;
        double seconds;
    };
    for (const Case c : {Case{1.0f, 4.0}, Case{2.0f, 2.0}, Case{0.5f, 8.0}}) {
        auto s = makeSession();
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->load(path, nullptr));
        s->setTempo(c.tempo);
        ASSERT_TRUE(s->play());
        const auto audio = RenderToEnd(*s, 0.0);
        EXPECT_NEAR(renderedSeconds(audio), c.seconds, 0.01) << "tempo x" << c.tempo;
    }
}

TEST_F(RealPlatformTest, TempoChangeMidPlayTakesEffectAtOnce) {
    auto s = makeSession();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->load(writePiece("tempo-mid.mid", fourNotes()), nullptr));
    ASSERT_TRUE(s->play());
    std::vector<float> l(kRate), r(kRate);
    s->render(l.data(), r.data(), kRate); // 1 s at x1: a quarter of the piece
    s->setTempo(2.0f);                    // the other 3 s of music take 1.5 s
    const auto rest = RenderToEnd(*s, 0.0);
    EXPECT_NEAR(renderedSeconds(rest), 1.5, 0.01);
}

TEST_F(RealPlatformTest, RepeatsMultiplyPlayingTime) {
    const std::string path = writePiece("repeats.mid", fourNotes());
    for (const platform::DWORD repeats : {0u, 2u}) {
        auto s = makeSession();
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->load(path, nullptr));
        EXPECT_EQ(s->fileRepeats(), 0u);
        s->setRepeats(repeats);
        ASSERT_TRUE(s->play());
        const auto audio = RenderToEnd(*s, 0.0);
        EXPECT_NEAR(renderedSeconds(audio), 4.0 * (repeats + 1), 0.01) << repeats << " repeats";
    }
}

TEST_F(RealPlatformTest, RepeatsForEverUntilStopped) {
    auto s = makeSession();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->load(writePiece("forever.mid", fourNotes()), nullptr));
    s->setRepeats(0xFFFFFFFFu);
    ASSERT_TRUE(s->play());
    const auto audio = RenderToEnd(*s, 0.0, 10.0);
    EXPECT_TRUE(s->isPlaying());
    EXPECT_EQ(audio.musicFrames, audio.left.size());
    // Sound right after the joint at 4 s, as at the start.
    EXPECT_GT(LevelDb(audio.left, audio.right, 4 * kRate + 500, 4 * kRate + 4000), -50.0);
    s->stop();
    float l[64], r[64];
    s->render(l, r, 64);
    EXPECT_FALSE(s->isPlaying());
}

TEST_F(RealPlatformTest, VolumePositionsDifferByTheirDecibels) {
    const std::string path = writePiece("volume.mid", fourNotes());
    double level[2] = {};
    const int positions[2] = {88, 16};
    for (int i = 0; i < 2; ++i) {
        auto s = makeSession(true);
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->load(path, nullptr));
        s->setVolumePosition(positions[i]);
        ASSERT_TRUE(s->play());
        const auto audio = RenderToEnd(*s, 0.0);
        level[i] = LevelDb(audio.left, audio.right, 0, audio.musicFrames);
    }
    EXPECT_NEAR(level[0] - level[1], 21.6, 0.5);
}

TEST_F(RealPlatformTest, EffectsOffLeavesADryTail) {
    // One short staccato note, then two seconds of nothing.
    test::TestPiece piece;
    piece.notes = {{0, 60, 72, 120}};
    piece.endTick = 1920;
    const std::string path = writePiece("tail.mid", piece);
    double tail[2] = {};
    for (int wet = 0; wet < 2; ++wet) {
        auto s = makeSession(wet == 1);
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->load(path, nullptr));
        ASSERT_TRUE(s->play());
        const auto audio = RenderToEnd(*s, 0.0);
        tail[wet] = LevelDb(audio.left, audio.right, kRate * 8 / 10, kRate * 3 / 2);
    }
    EXPECT_LT(tail[0], -90.0) << "dry";
    EXPECT_GT(tail[1], tail[0] + 20.0) << "with reverb";
}

TEST_F(RealPlatformTest, EverySampleRatePlaysInRealTime) {
    const std::string path = writePiece("rates.mid", fourNotes());
    for (const int rate : {11025, 22050, 44100}) {
        auto s = makeSession(false, rate);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->sampleRate(), rate);
        ASSERT_TRUE(s->load(path, nullptr));
        ASSERT_TRUE(s->play());
        const auto audio = RenderToEnd(*s, 0.0);
        // The end is seen on the block grid: within two blocks.
        EXPECT_NEAR(renderedSeconds(audio, rate), 4.0, 2.0 * 64 / rate) << rate;
    }
}

TEST_F(RealPlatformTest, DamagedFilesPlayWhatTheyHoldAndNonMidiFailsCleanly) {
    auto s = makeSession();
    ASSERT_TRUE(s);
    for (const auto& c : qorn::testing::MidiCases()) {
        // Files with no notes to hear are the reader's business alone.
        if (c.loads && c.keys.empty() && c.name != "format-1-two-tracks.mid") continue;
        std::string error;
        const bool loaded = s->load(test::WriteTempFile(c.name, c.bytes), &error);
        EXPECT_EQ(loaded, c.loads) << c.name << ": " << error;
        if (!loaded) {
            EXPECT_FALSE(error.empty()) << c.name;
            EXPECT_FALSE(s->play()) << c.name;
            continue;
        }
        ASSERT_TRUE(s->play()) << c.name;
        const auto audio = RenderToEnd(*s, 0.0, 30.0);
        EXPECT_GT(renderedSeconds(audio), 1.0) << c.name;
        EXPECT_GT(LevelDb(audio.left, audio.right, 0, audio.musicFrames), -60.0) << c.name;
    }
}

TEST_F(RealPlatformTest, FilesThatAreNotMusicFailToLoad) {
    auto s = makeSession();
    ASSERT_TRUE(s);
    const std::string text = test::WriteTempFile("notes.mid", {'h', 'e', 'l', 'l', 'o', '\n'});
    std::vector<std::uint8_t> headerOnly = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 1, 0xE0};
    const std::string noTracks = test::WriteTempFile("header-only.mid", headerOnly);
    const std::string dir = std::filesystem::path(text).parent_path().string();
    for (const std::string& path : {text, noTracks, dir, dir + "/missing.mid", std::string("")}) {
        std::string error;
        EXPECT_FALSE(s->load(path, &error)) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
}

TEST_F(RealPlatformTest, IsPlayingFollowsThePieceAndItsRestart) {
    test::TestPiece piece;
    piece.notes = {{0, 240, 60}};
    piece.endTick = 480; // 0.5 s
    auto s = makeSession();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->load(writePiece("short.mid", piece), nullptr));
    EXPECT_FALSE(s->isPlaying());
    ASSERT_TRUE(s->play());
    const auto first = RenderToEnd(*s, 0.0);
    EXPECT_NEAR(renderedSeconds(first), 0.5, 0.01);
    EXPECT_FALSE(s->isPlaying());
    // A second start of the same segment plays it again in full.
    ASSERT_TRUE(s->play());
    EXPECT_TRUE(s->isPlaying());
    const auto second = RenderToEnd(*s, 0.0);
    EXPECT_NEAR(renderedSeconds(second), 0.5, 0.01);
}

TEST_F(RealPlatformTest, APieceThatEndsAtOnceIsStillSeenToStart) {
    test::TestPiece empty; // no note, no length
    auto s = makeSession();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->load(writePiece("empty.mid", empty), nullptr));
    ASSERT_TRUE(s->play());
    // The audio side takes the play and ends it before anyone asks.
    float left[64], right[64];
    s->render(left, right, 64);
    EXPECT_TRUE(s->isPlaying()) << "a window waiting for the start would wait in vain";
    EXPECT_FALSE(s->isPlaying());
}

} // namespace
