// Style-based segments played through the real stack (loader, performance,
// synthesizer) into a buffer: the composed notes sound at the chord's
// pitches, and a segment whose style is missing still loads and plays.
#include "app/render/OfflineSession.h"
#include "tests/support/OfflineRenderTest.h"
#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <unistd.h>

namespace qorn::styles_test {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = test::kRenderRate;
using test::KeyFrequency;
using test::Power;
using test::Rms;

class StyleRender : public test::OfflineRenderTest {
  protected:
    render::RenderedAudio play(const std::string& path, platform::DWORD repeats = 0) {
        return OfflineRenderTest::play(path, {.repeats = repeats});
    }
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

// The style's band names a collection next to the segment: its part plays
// that collection's sine (no third harmonic). With the collection gone, an
// entry marked General MIDI falls back to that set's square lead (strong third
// harmonic); the collection's own instrument is silent.
TEST_F(StyleRender, TheStylesBandPlaysItsCollection) {
    st::Style style;
    style.tempo = 120.0;
    auto note = Note(0, 0x5000);
    note.duration = 1536;
    style.parts = {Part(1, st::playmode::kNormalChord, {note})};
    style.patterns = {PatternOf({Ref(1, 0)})};
    const testseg::Reference tones{testseg::kCollectionClass, std::nullopt, "", "tones.dls"};
    auto styleWithPatch = [&](std::uint32_t patch, std::uint32_t flags = 0) {
        const testseg::Band band{0, {{0, patch, 0x1 | 0x2 | 0x40 | flags, 64, 127, 0, 2, tones}}};
        return StyleForm(style, {}, {testseg::BandForm(band, testseg::SegmentSpec{})});
    };
    auto song = [&](const std::string& styleFile) {
        return StyleSegment(std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, styleFile));
    };
    const double c4 = KeyFrequency(60);
    const std::size_t from = kRate / 10, to = kRate / 2;

    // Bank 0 program 0 of the test collection is its sine.
    write("tones.dls", testdls::BuildDls(testdls::TestCollection()));
    write("sine.sty", styleWithPatch(0));
    auto audio = play(write("sine.sgt", song("sine.sty")));
    const double sine = Power(audio, from, to, c4);
    EXPECT_GT(sine, 0.0);
    EXPECT_LT(Power(audio, from, to, 3.0 * c4), 0.001 * sine) << "the collection's sine";

    // Program 80 with the collection gone: the General MIDI square lead.
    std::filesystem::remove(dir_ / "tones.dls");
    write("lead.sty", styleWithPatch(80, 0x100));
    audio = play(write("lead.sgt", song("lead.sty")));
    const double lead = Power(audio, from, to, c4);
    EXPECT_GT(lead, 0.0);
    EXPECT_GT(Power(audio, from, to, 3.0 * c4), 0.01 * lead) << "General MIDI square lead";

    write("own.sty", styleWithPatch(80));
    audio = play(write("own.sgt", song("own.sty")));
    EXPECT_LT(Rms(audio, 0, audio.left.size()), 1e-4) << "the collection's own instrument";
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
