// The DirectX 6 forms: a segment whose style reference names an 'AASY'
// style plays that style through the real stack with its band's
// instruments; a 'REPs' chordmap reads into the chordmap model.
#include "platform/formats/chordmap/RepsChordmapReader.h"
#include "tests/support/OfflineRenderTest.h"
#include "tests/support/OlderFormsWriter.h"
#include "tests/support/TestStyles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace qorn::styles_test {
namespace {

using Notes = std::vector<std::pair<std::uint32_t, int>>;

Notes NoteOns(const music::Sequence& s, int channel) {
    Notes out;
    for (const auto& e : s.events)
        if ((e.status & 0xF0) == 0x90 && (e.status & 0x0F) == channel && e.data2 > 0) out.push_back({e.tick, e.data1});
    return out;
}

int Controller(const music::Sequence& s, int channel, int number) {
    for (const auto& e : s.events)
        if (e.status == (0xB0 | channel) && e.data1 == number) return e.data2;
    return -1;
}

// Bass (part 4) on the chord root, a chord part (3) on the third a beat
// later, drums (part 5) on kick and snare; the default band is the second
// stored. The drum part plays on channel 10, the others on their numbers.
class OlderStyle : public test::OfflineRenderTest {};

TEST_F(OlderStyle, ASegmentNamingAnAasyStylePlaysItsNotesWithItsDefaultBand) {
    AasyStyle style;
    AasyPattern p;
    p.notes = {{0, 4, 36, 0x3000, 96}, {4, 3, 64, 0x5100, 96}, {0, 5, 1}, {4, 5, 3}};
    style.patterns = {p};
    AasyBand other{"Other", false, {}};
    AasyBand band{"Default", true, {}};
    band.parts[4] = {32, 110, 20, 0};
    band.parts[3] = {25, 90, 100, 0};
    band.parts[5] = {16, 120, 64, 0};
    style.bands = {other, band};
    write("older.sty", AasyStyleFile(style));
    const std::string song =
        write("song.sgt", StyleSegment(2 * std::int32_t(kMeasure), TwoChords(), {}, StyleTrackList(0, "older.sty")));

    std::string error;
    ASSERT_TRUE(session_->load(song, &error)) << error;
    const auto played = session_->playable().sequence;
    ASSERT_TRUE(played);
    const std::uint32_t m = kMeasure, beat = m / 4;
    EXPECT_EQ(NoteOns(*played, 4), (Notes{{0, 36}, {m, 38}}));
    EXPECT_EQ(NoteOns(*played, 3), (Notes{{beat, 64}, {m + beat, 65}}));
    EXPECT_EQ(NoteOns(*played, 9), (Notes{{0, 36}, {beat, 38}, {m, 36}, {m + beat, 38}}));
    auto program = [&](int channel) {
        for (const auto& patch : played->patches)
            if (patch.channel == channel) return std::tuple{int(patch.program), patch.drums};
        return std::tuple{-1, false};
    };
    EXPECT_EQ(program(4), std::tuple(32, false));
    EXPECT_EQ(program(3), std::tuple(25, false));
    EXPECT_EQ(program(9), std::tuple(16, true));
    EXPECT_EQ(Controller(*played, 4, 7), 110);
    EXPECT_EQ(Controller(*played, 4, 10), 20);

    const auto audio = play(song);
    EXPECT_GT(test::Rms(audio, 0, audio.left.size()), 1e-3) << "the parts sound";
}

// The chords, graph edges and signposts with their cadences, as written.
TEST(OlderChordmap, ARepsChordmapReadsIntoTheChordmapModel) {
    RepsChordmap written;
    written.graph = {{1, {0x91, "M", 12}, {{2, 40, 2, 4}}}, {2, {0x89, "m", 14}, {{1}, {2}}}};
    written.signposts = {{{0x91, "M", 12}, {0x89, "m", 14}, {0x891, "7", 19}, 0x100, 0x6}};
    const Bytes bytes = RepsChordmapFile(written);
    ASSERT_TRUE(formats::chordmap::LooksLikeRepsChordmap(bytes));
    formats::chordmap::Chordmap map;
    formats::Diagnostics warnings;
    std::string error, stem;
    ASSERT_TRUE(formats::chordmap::ReadRepsChordmap(bytes, map, warnings, &error, &stem)) << error;
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(map.name, "older");
    EXPECT_EQ(stem, "OLDER");
    EXPECT_EQ(map.palette.size(), 24u);
    ASSERT_EQ(map.graph.size(), 2u);
    EXPECT_EQ(map.graph[1].chord.name, "m");
    EXPECT_EQ(map.graph[1].chord.subChords.at(0).chordRoot, 14);
    EXPECT_EQ(map.graph[1].chord.subChords.at(0).chordPattern, 0x89u);
    ASSERT_EQ(map.graph[0].next.size(), 1u);
    const auto& edge = map.graph[0].next[0];
    EXPECT_EQ(std::tuple(edge.connectionId, edge.weight, edge.minBeats, edge.maxBeats), std::tuple(2, 40, 2, 4));
    EXPECT_EQ(map.graph[1].next.size(), 2u);
    ASSERT_EQ(map.signposts.size(), 1u);
    const auto& s = map.signposts[0];
    EXPECT_EQ(s.groups, 0x100u);
    EXPECT_EQ(s.chord.subChords.at(0).chordRoot, 12);
    ASSERT_EQ(s.cadences.size(), 2u);
    EXPECT_EQ(s.cadences[0].name, "m");
    EXPECT_EQ(s.cadences[1].subChords.at(0).chordRoot, 19);

    // Cut anywhere: read or refused with a reason, never past the bytes.
    for (std::size_t n = 0; n < bytes.size(); n += 7) {
        const Bytes cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
        formats::Diagnostics w;
        std::string why;
        if (!formats::chordmap::ReadRepsChordmap(cut, map, w, &why)) {
            EXPECT_FALSE(why.empty());
        }
    }
}

} // namespace
} // namespace qorn::styles_test
