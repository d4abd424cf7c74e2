// Templates composed from a chordmap written by our writers and played
// through the loader: the chords at signposts, the path through the chord
// graph, the cadences, the markers and the notes performed.
#include "tests/support/ChordmapWriter.h"
#include "tests/support/OlderFormsWriter.h"
#include "tests/support/TestStyles.h"

#include "platform/composer/TemplateComposer.h"
#include "platform/formats/chordmap/ChordmapReader.h"
#include "platform/loader/SegmentAssembly.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace qorn::styles_test {
namespace {

namespace sp = cm::signpost;
constexpr std::int32_t kBar = std::int32_t(kMeasure);
constexpr std::int32_t kBeat = 768;

TEST(TemplateCompose, SignpostChordsPathThroughTheGraphAndCadences) {
    cm::Chordmap written = HomeAndAwayChordmap();
    const Bytes bytes = BuildChordmap(written);
    cm::Chordmap map;
    formats::Diagnostics warnings;
    std::string error;
    ASSERT_TRUE(cm::ReadChordmap(bytes, map, warnings, &error)) << error;
    ASSERT_EQ(map.graph.size(), 4u);
    ASSERT_EQ(map.signposts.size(), 2u);
    EXPECT_EQ(map.keyRoot, 12);

    composer::ChordComposeRequest request;
    request.chordmap = &map;
    // A at 0, B at measure 4 (with its cadence), A again at measure 8.
    request.signposts = {{0, 0, sp::kA}, {4 * kBar, 4, sp::kB}, {8 * kBar, 8, sp::kA}};
    request.length = 10 * kBar;
    std::set<std::string> progressions;
    for (std::uint32_t seed = 1; seed <= 5; ++seed) {
        request.seed = seed;
        const auto composed = composer::ComposeChords(request);
        const auto& chords = composed.track.chords;
        std::string progression;
        for (const auto& c : chords)
            progression += std::to_string(c.time / kBeat) + ":" + std::to_string(c.subChords[0].chordRoot) + " ";
        progressions.insert(progression);
        auto rootAt = [&](std::int32_t t) {
            for (const auto& c : chords)
                if (c.time == t && !c.subChords.empty()) return int(c.subChords.front().chordRoot);
            return -1;
        };
        // Signposts: C, then G preceded by its D minor cadence two beats before.
        EXPECT_EQ(rootAt(0), 12) << progression;
        EXPECT_EQ(rootAt(4 * kBar), 19) << progression;
        EXPECT_EQ(rootAt(4 * kBar - 2 * kBeat), 14) << progression;
        // The first span walks the graph: C to F or A minor; the second
        // goes G to C along its one edge.
        ASSERT_EQ(composed.spans.size(), 3u);
        const auto& path = composed.spans[0].path;
        ASSERT_GE(path.size(), 2u) << progression;
        EXPECT_EQ(path[0], 0);
        EXPECT_TRUE(path[1] == 1 || path[1] == 2);
        EXPECT_EQ(composed.spans[0].cadences, 1);
        // From G back to C: every step is an edge of the graph.
        const auto& back = composed.spans[1].path;
        ASSERT_GE(back.size(), 2u);
        EXPECT_EQ(back.front(), 3);
        EXPECT_EQ(back.back(), 0);
        for (std::size_t k = 1; k < back.size(); ++k) {
            bool edge = false;
            for (const auto& n : map.graph[std::size_t(back[k - 1])].next)
                edge = edge || n.connectionId == map.graph[std::size_t(back[k])].connectionId;
            EXPECT_TRUE(edge) << progression;
        }
        EXPECT_EQ(rootAt(8 * kBar), 12) << progression;
    }
    EXPECT_GE(progressions.size(), 2u);
    request.seed = 3;
    EXPECT_EQ(composer::ComposeChords(request).track.chords.size(),
              composer::ComposeChords(request).track.chords.size());
}

// A folder of files our writers made, a template composed in it with seed
// 7, and the pitch class each measure starts with.
class TemplateFolder : public ::testing::Test {
  protected:
    TemplateFolder() { std::filesystem::create_directories(folder_); }
    ~TemplateFolder() override { std::filesystem::remove_all(folder_); }

    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(folder_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    // A style whose one part plays the chord's root at each measure.
    void writeRootStyle(const std::string& name) const {
        st::Style style;
        style.parts = {Part(1, st::playmode::kNormalChord, {Note(0, 0x4000)})};
        style.patterns = {PatternOf({Ref(1, 0)})};
        write(name, StyleForm(style));
    }
    // False (with the reason in `error_`) when the template does not load.
    bool compose(const TemplateSketch& sketch, const std::string& name) {
        load_.seed = 7;
        return platform::LoadTemplateOrSegment(BuildTemplate(sketch), (folder_ / name).string(), cache_, load_,
                                               sequence_, &error_, &diagnostics_, 0, nullptr, nullptr);
    }
    std::map<std::uint32_t, int> rootsByMeasure() const {
        std::map<std::uint32_t, int> keys;
        for (const auto& e : sequence_->events)
            if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && e.tick % kMeasure == 0)
                keys[e.tick / kMeasure] = e.data1 % 12;
        return keys;
    }

    const std::filesystem::path folder_ =
        std::filesystem::temp_directory_path() / ("qorn-template-" + std::to_string(::getpid()));
    formats::segment::ObjectCache cache_;
    platform::TemplateLoad load_;
    std::shared_ptr<const music::Sequence> sequence_;
    std::string error_;
    formats::Diagnostics diagnostics_;
};

// A template naming no style composes with the style and chordmap of its
// folder that share its name's beginning; the notes follow the chords and
// the chord changes are markers.
TEST_F(TemplateFolder, TemplateFromItsFolderPlaysTheComposedChords) {
    writeRootStyle("song2.sty");
    writeRootStyle("other.sty");
    write("son.cdm", BuildChordmap(HomeAndAwayChordmap()));
    TemplateSketch sketch;
    sketch.length = 8 * kBar;
    sketch.signposts = {{0, 0, sp::kA}, {4 * kBar, 4, sp::kB}};
    ASSERT_TRUE(compose(sketch, "songa.tpl")) << error_;
    EXPECT_EQ(load_.line, "songa.tpl composed with song2.sty and son.cdm (activity 1, seed 7)");
    const auto keys = rootsByMeasure();
    EXPECT_EQ(keys.at(0), 0); // C
    EXPECT_EQ(keys.at(4), 7); // G
    ASSERT_FALSE(sequence_->markers.empty());
    EXPECT_EQ(sequence_->markers.front().text, "C M");
    bool g = false;
    for (const auto& m : sequence_->markers)
        g = g || (m.tick == std::uint32_t(4 * kBar) && m.text == "G M");
    EXPECT_TRUE(g);
}

// A template that names its chordmap by the name the chordmap gives itself
// (a DirectX 7 form) finds it among its folder's chordmaps, before one whose
// file name begins like its own; a file that is no chordmap read here is
// passed over with a line.
TEST_F(TemplateFolder, ChordmapNamedByItsOwnNameIsFoundInTheFolder) {
    writeRootStyle("song2.sty");
    write("zzz.cdm", BuildChordmap(HomeAndAwayChordmap())); // named "Home"
    cm::Chordmap other;
    other.name = "Away";
    other.signposts = {{sp::kA | sp::kB, 0, ChordOf("M", 17, 0x91), {}}};
    write("other.cdm", BuildChordmap(other));
    write("bad.cdm", {'R', 'E', 'P', 's', 0, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8});
    TemplateSketch sketch;
    sketch.length = 8 * kBar;
    sketch.signposts = {{0, 0, sp::kA}, {4 * kBar, 4, sp::kB}};
    sketch.style = "song2.sty";
    sketch.chordmap = "Home";
    sketch.chordmapByName = true;
    ASSERT_TRUE(compose(sketch, "other.tpl")) << error_;
    EXPECT_EQ(load_.line, "other.tpl composed with song2.sty and zzz.cdm (activity 1, seed 7)");
    bool skipped = false;
    for (const auto& d : diagnostics_)
        skipped = skipped || d.message.find("chordmap 'bad.cdm' skipped") != std::string::npos;
    EXPECT_TRUE(skipped);
    const auto keys = rootsByMeasure();
    EXPECT_EQ(keys.at(0), 0); // C, not the other chordmap's F
    EXPECT_EQ(keys.at(4), 7); // G
}

// A template that names nothing, beside the signposts-only variant of the
// older chordmap (as the DirectX 7 SDK's boids templates are): the folder
// rule finds it by its file name and its signpost chords are played.
TEST_F(TemplateFolder, TheSignpostsOnlyOlderChordmapOfTheFolderComposes) {
    writeRootStyle("boids2.sty");
    RepsChordmap older;
    older.signpostsOnly = true;
    older.stem.clear();
    older.signposts = {{{0x91, "M", 10}, {}, {}, sp::kA, 0}, {{0x4489, "m7", 7}, {}, {}, sp::kB, 0}};
    write("boids.cdp", RepsChordmapFile(older));
    write("chordmap.cdm", BuildChordmap(HomeAndAwayChordmap()));
    TemplateSketch sketch;
    sketch.length = 8 * kBar;
    sketch.signposts = {{0, 0, sp::kA}, {4 * kBar, 4, sp::kB}};
    ASSERT_TRUE(compose(sketch, "boidsca.tpl")) << error_;
    EXPECT_EQ(load_.line, "boidsca.tpl composed with boids2.sty and boids.cdp (activity 1, seed 7)");
    const auto keys = rootsByMeasure();
    EXPECT_EQ(keys.at(0), 10); // B flat
    EXPECT_EQ(keys.at(4), 7);  // G
}

} // namespace
} // namespace qorn::styles_test
