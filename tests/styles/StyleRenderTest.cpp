// Style-based segments played through the real stack (loader, performance,
// synthesizer) into a buffer: the composed notes sound at the chord's
// pitches, and a segment whose style is missing still loads and plays.
#include "StyleWriter.h"
#include "TestStyles.h"
#include "app/render/OfflineSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <unistd.h>

namespace qorn::styles_test {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 22050;

double KeyFrequency(int key) {
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

// Power of one frequency over [from, to) of the mixed channels (Goertzel).
double Power(const render::RenderedAudio& a, std::size_t from, std::size_t to, double frequency) {
    to = std::min(to, a.left.size());
    const double w = 2.0 * std::numbers::pi * frequency / kRate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double s0 = 0.5 * (a.left[i] + a.right[i]) + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

class StyleRender : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qorn-style-render-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        std::string error;
        session_ = render::OfflineSession::Create(kRate, false, &error);
        if (!session_) GTEST_SKIP() << "no synthesizer: " << error;
    }
    void TearDown() override {
        session_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    render::RenderedAudio play(const std::string& path, platform::DWORD repeats = 0) {
        std::string error;
        EXPECT_TRUE(session_->load(path, &error)) << error;
        if (repeats != 0) session_->setRepeats(repeats);
        EXPECT_TRUE(session_->play());
        return render::RenderToEnd(*session_, 1.0, 60.0);
    }

    fs::path dir_;
    std::unique_ptr<render::OfflineSession> session_;
};

// One part sounding the chord root (music value: octave 5, chord position 0)
// over C major then D minor at the style's 120 bpm: 60 then 62.
TEST_F(StyleRender, ComposedNotesSoundAtTheChordsPitches) {
    st::Style style;
    style.tempo = 120.0;
    auto note = Note(0, 0x5000);
    note.duration = 1536;
    style.parts = {Part(1, st::playmode::kNormalChord, {note})};
    style.patterns = {PatternOf({Ref(1, 0)})};
    write("piano.sty", StyleForm(style));
    const auto audio = play(
        write("song.sgt", StyleSegment(2 * std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "Piano.sty"))));
    EXPECT_NEAR(double(audio.musicFrames) / kRate, 4.0, 0.05); // two measures of 2 s
    const int expected[] = {60, 62};
    for (int m = 0; m < 2; ++m) {
        SCOPED_TRACE("measure " + std::to_string(m));
        const auto from = static_cast<std::size_t>((m * 2.0 + 0.05) * kRate);
        const auto to = from + static_cast<std::size_t>(0.4 * kRate);
        const double own = Power(audio, from, to, KeyFrequency(expected[m]));
        const double other = Power(audio, from, to, KeyFrequency(expected[1 - m]));
        EXPECT_GT(own, 4.0 * other);
        EXPECT_GT(own, 0.0);
    }
}

// A part that takes its two variations in turn: the root (60) on one pass,
// the fifth (67) on the next, heard on every repeat of a one-measure piece
// that lasts its four passes.
TEST_F(StyleRender, EveryRepeatIsComposedAnew) {
    st::Style style;
    style.tempo = 120.0;
    auto root = Note(0, 0x5000, 1);
    auto fifth = Note(0, 0x5200, 2);
    root.duration = fifth.duration = 1536;
    style.parts = {Part(1, st::playmode::kNormalChord, {root, fifth}, 1, 2)};
    style.patterns = {PatternOf({Ref(1, 0, 0, st::variationmode::kSequential)})};
    const auto audio = play(write("turns.sgt", StyleSegment(std::int32_t(kMeasure), TwoChords(), {},
                                                            StyleTrackList(0, "", StyleForm(style)))),
                            3);
    EXPECT_NEAR(double(audio.musicFrames) / kRate, 8.0, 0.05);
    for (int pass = 0; pass < 4; ++pass) {
        SCOPED_TRACE("pass " + std::to_string(pass));
        const int expected = pass % 2 == 0 ? 60 : 67;
        const int other = pass % 2 == 0 ? 67 : 60;
        const auto from = static_cast<std::size_t>((pass * 2.0 + 0.05) * kRate);
        const auto to = from + static_cast<std::size_t>(0.4 * kRate);
        const double own = Power(audio, from, to, KeyFrequency(expected));
        EXPECT_GT(own, 4.0 * Power(audio, from, to, KeyFrequency(other)));
        EXPECT_GT(own, 0.0);
    }
}

TEST_F(StyleRender, ASegmentWhoseStyleIsMissingLoadsAndIsSilent) {
    const auto audio =
        play(write("lost.sgt", StyleSegment(std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "gone.sty"))));
    float peak = 0;
    for (float s : audio.left)
        peak = std::max(peak, std::abs(s));
    EXPECT_LT(peak, 1e-3f);
}

} // namespace
} // namespace qorn::styles_test
