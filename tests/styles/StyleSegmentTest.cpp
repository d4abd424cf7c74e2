#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include "platform/composer/StyleComposer.h"
#include "platform/composer/StyleSegment.h"
#include "platform/formats/segment/ObjectCache.h"
#include "platform/formats/segment/SegmentReader.h"
#include "platform/loader/SegmentAssembly.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace qorn::styles_test {
namespace {

namespace fs = std::filesystem;
namespace seg = formats::segment;

// A bass part (PChannel 2) playing the chord root and a chord part
// (PChannel 5) playing the third, one note per measure; and a band.
st::Style BassAndChords() {
    st::Style style;
    style.tempo = 90.0;
    style.parts = {Part(1, st::playmode::kNormalChord, {Note(0, 0x3000)}),
                   Part(2, st::playmode::kNormalChord, {Note(0, 0x5100)})};
    style.patterns = {PatternOf({Ref(1, 2), Ref(2, 5)})};
    return style;
}

std::vector<std::pair<std::uint32_t, int>> NoteOns(const music::Sequence& s, int channel) {
    std::vector<std::pair<std::uint32_t, int>> out;
    for (const auto& e : s.events)
        if ((e.status & 0xF0) == 0x90 && (e.status & 0x0F) == channel && e.data2 > 0) out.push_back({e.tick, e.data1});
    return out;
}

// The loader's one road for segments, from a folder that does not exist.
std::shared_ptr<const music::Sequence> Load(const Bytes& file, const std::string& path = "/nonexistent/song.sgt") {
    seg::ObjectCache cache;
    std::shared_ptr<const music::Sequence> sequence;
    std::string error;
    if (!platform::LoadSegmentWithTracks(file, path, cache, sequence, &error, nullptr, 1)) return nullptr;
    return sequence;
}

TEST(StyleSegmentTest, ASegmentWithAnEmbeddedStyleComposesIntoItsSequence) {
    const Bytes file =
        StyleSegment(2 * std::int32_t(kMeasure), TwoChords(), {{0, 0, 0, st::command::kGroove, 50, 0, 0}},
                     StyleTrackList(0, "", StyleForm(BassAndChords())));
    const auto loaded = Load(file);
    ASSERT_TRUE(loaded);
    const music::Sequence& sequence = *loaded;

    using Notes = std::vector<std::pair<std::uint32_t, int>>;
    EXPECT_EQ(NoteOns(sequence, 2), (Notes{{0, 36}, {kMeasure, 38}}));
    EXPECT_EQ(NoteOns(sequence, 5), (Notes{{0, 64}, {kMeasure, 65}}));
    EXPECT_EQ(sequence.lengthTicks, 2 * kMeasure);
    // The style's tempo, as the segment has no tempo track of its own.
    ASSERT_FALSE(sequence.tempos.empty());
    EXPECT_NEAR(sequence.tempos[0].microsecondsPerQuarter, 60000000.0 / 90.0, 1.0);
}

// A pattern track holds one pattern with its parts: it plays over the
// segment's chords from start to end, whatever its kind and whatever the
// command track asks, and takes no tempo of its own. Cut anywhere it loads
// or fails cleanly.
TEST(StyleSegmentTest, APatternTrackPlaysItsPatternOverTheSegmentsChords) {
    st::Style pattern = BassAndChords();
    pattern.patterns[0].embellishment = st::embellishment::kIntro;
    pattern.patterns[0].grooveTop = 10;
    const Bytes file = PatternTrackSegment(3 * std::int32_t(kMeasure), TwoChords(), pattern,
                                           {{std::int32_t(kMeasure), 1, 0, st::command::kFill, 90, 0, 0}});
    const auto loaded = Load(file);
    ASSERT_TRUE(loaded);
    using Notes = std::vector<std::pair<std::uint32_t, int>>;
    EXPECT_EQ(NoteOns(*loaded, 2), (Notes{{0, 36}, {kMeasure, 38}, {2 * kMeasure, 38}}));
    EXPECT_EQ(NoteOns(*loaded, 5), (Notes{{0, 64}, {kMeasure, 65}, {2 * kMeasure, 65}}));
    EXPECT_TRUE(loaded->tempos.empty() || loaded->tempos[0].microsecondsPerQuarter == 500000u);
    for (std::size_t n = 0; n < file.size(); n += 5)
        Load(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)));
}

TEST(StyleSegmentTest, ASegmentWithoutStyleTracksIsLeftAsItIs) {
    const Bytes file = Segment(kMeasure, {});
    seg::SegmentFile segment;
    seg::EmbeddedOnlyResolver resolver;
    ASSERT_TRUE(seg::ReadSegmentFile(file, segment, resolver, nullptr));
    const std::size_t tracks = segment.tracks.size();
    seg::StyleTracks styleTracks;
    seg::ReadStyleTracks(file, resolver, styleTracks, segment.warnings);
    EXPECT_FALSE(composer::AddStyleComposition(std::move(styleTracks), resolver, segment, 1));
    EXPECT_EQ(segment.tracks.size(), tracks);
}

class TempFolder {
  public:
    TempFolder() {
        path_ = fs::temp_directory_path() / ("qorn-styles-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    fs::path write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path_ / name;
    }

  private:
    fs::path path_;
};

// The style is a file next to the segment, named in another case (a
// missing one is in tests/segments/MissingPiecesTest.cpp).
TEST(StyleSegmentTest, TheLoaderFindsAReferencedStyleFileBesideTheSegment) {
    TempFolder folder;
    folder.write("bass.sty", StyleForm(BassAndChords()));
    const Bytes file = StyleSegment(2 * std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "BASS.STY"));
    const fs::path path = folder.write("song.sgt", file);
    auto sequence = Load(file, path.string());
    ASSERT_TRUE(sequence);
    EXPECT_EQ(NoteOns(*sequence, 2).size(), 2u);
}

TEST(StyleSegmentTest, SurvivesTruncatedSegments) {
    const Bytes whole = StyleSegment(2 * std::int32_t(kMeasure), TwoChords(), {{0, 0, 0, 0, 50, 0, 0}},
                                     StyleTrackList(0, "", StyleForm(BassAndChords())));
    for (std::size_t n = 0; n < whole.size(); n += 3)
        Load(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
}

// Random damage to sizes, counts and values anywhere in the file: reading
// and composing never fail in a harmful way (run under the sanitizers).
TEST(StyleSegmentTest, SurvivesRandomDamage) {
    const Bytes whole = StyleSegment(4 * std::int32_t(kMeasure), TwoChords(), {{0, 0, 0, 0, 50, 0, 0}},
                                     StyleTrackList(0, "", StyleForm(BassAndChords())));
    std::mt19937 rng(12345);
    for (int i = 0; i < 1500; ++i) {
        Bytes damaged = whole;
        const int flips = 1 + int(rng() % 8);
        for (int f = 0; f < flips; ++f) {
            const std::size_t at = rng() % damaged.size();
            damaged[at] = (rng() % 4 == 0) ? 0xFF : static_cast<std::uint8_t>(rng());
        }
        if (const auto sequence = Load(damaged)) {
            EXPECT_LE(sequence->events.size(), 2 * composer::kMaxComposedNotes);
        }
    }
}

} // namespace
} // namespace qorn::styles_test
