// Segment files that point at themselves, at each other or at nothing, and
// files nested deeper than any real one: the player plays what they hold or
// says it cannot open them, and never hangs or crashes.
#include "PlayerFixture.h"

#include "tests/support/SegmentWriter.h"
#include "tests/support/StyleWriter.h"
#include "tests/support/TestStyles.h"

#include "fileinfo/DisplayPath.h"
#include "ui/SegmentChooser.h"

#include <QLabel>
#include <QListWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace qorn::hardening {
namespace {

using namespace qorn::testseg;

// Half a second of melody at 120 bpm (768 ticks per quarter), with a band
// whose collection and band file come from elsewhere.
SegmentSpec Melody(const Reference& collection, std::optional<Reference> bandFile = std::nullopt) {
    SegmentSpec plan;
    plan.header.length = 768;
    plan.notes = {{0, 300, 0, 60, 100}, {384, 300, 0, 64, 100}};
    plan.bands = {{0, {{0, 1, 0x1 | 0x2, 64, 100, 0, 2, collection}}}};
    if (bandFile) plan.bands.push_back({384, {}, *bandFile});
    return plan;
}

Reference CollectionFile(const std::string& file) {
    return Reference{kCollectionClass, std::nullopt, "", file};
}
Reference BandFile(const std::string& file) {
    return Reference{kBandClass, std::nullopt, "", file};
}

// `depth` LIST chunks each holding the next, as one chunk of the given type.
testseg::Bytes Nested(const char* type, std::size_t depth) {
    testseg::Bytes b;
    b.reserve(depth * 12);
    for (std::size_t level = 0; level < depth; ++level) {
        for (char c : std::string("LIST"))
            b.push_back(static_cast<std::uint8_t>(c));
        PutU32(b, static_cast<std::uint32_t>(4 + 12 * (depth - level - 1)));
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(type[i]));
    }
    return b;
}

// The RIFF form `form` with `chunk` added as its last child.
testseg::Bytes WithChild(testseg::Bytes form, const testseg::Bytes& chunk) {
    form.insert(form.end(), chunk.begin(), chunk.end());
    const std::uint32_t size = static_cast<std::uint32_t>(form.size() - 8);
    for (int i = 0; i < 4; ++i)
        form[4 + std::size_t(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    return form;
}

class SegmentFaultTest : public PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        if (IsSkipped()) return;
        StartPlayer();
        ASSERT_TRUE(form->EngineReady());
    }
    // The file label, whole when it is cut.
    std::string Shown() const {
        const QString tip = form->LabelFN->toolTip();
        return (tip.isEmpty() ? form->LabelFN->text() : tip).toStdString();
    }
    // Opens `path` by a drop; true when it played (then it is stopped), false
    // when the window refused it with "File Open Error" or said that nothing
    // of it can sound. Anything else fails.
    bool OpenAndSee(const std::string& path) {
        const auto t0 = std::chrono::steady_clock::now();
        Drop(path);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%s: %s after %.3f s\n", path.substr(path.rfind('/') + 1).c_str(),
                    Playing() ? "playing" : FileLabel().c_str(), s);
        if (Playing()) {
            form->StopPlayback();
            ExpectIdleAndUsable();
            return true;
        }
        const std::string silent = "nothing in " + path.substr(path.rfind('/') + 1) + " can sound: ";
        if (Shown() != "File Open Error") {
            EXPECT_EQ(Shown().rfind(silent, 0), 0u) << Shown();
        }
        ExpectIdleAndUsable();
        return false;
    }
};

TEST_F(SegmentFaultTest, SegmentsNamingThemselvesEachOtherOrNothingStillPlay) {
    struct Case {
        const char* name;
        SegmentSpec plan;
    };
    const std::vector<Case> cases = {
        {"self.sgt", Melody(CollectionFile("SELF.SGT"), BandFile("self.sgt"))},
        {"ping.sgt", Melody(CollectionFile("pong.sgt"), BandFile("pong.sgt"))},
        {"pong.sgt", Melody(CollectionFile("ping.sgt"), BandFile("ping.sgt"))},
        {"missing.sgt", Melody(CollectionFile("absent.dls"), BandFile("C:\\Gone\\band.bnd"))},
        {"folder.sgt", Melody(CollectionFile("sub"), BandFile(".."))},
    };
    std::filesystem::create_directory(Folder() + "/sub");
    for (const Case& c : cases)
        Write(c.name, BuildSegment(c.plan));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Their collection is nowhere: each loads, and the window says that
        // nothing of it can sound and why.
        EXPECT_FALSE(OpenAndSee(Folder() + "/" + c.name));
        EXPECT_NE(Shown().find("missing?); " + std::string(c.name) + ": band '"), std::string::npos) << Shown();
    }
}

// A wave dropped on the window plays as a segment. A script plays the one
// segment it holds, or the one chosen from its list, and the file label names
// it and says the load had warnings, which the information box lists; a
// segment with nothing that can sound, one only named and nowhere to be
// found, and a script with no segment at all say why in the file label.
TEST_F(SegmentFaultTest, WaveFilesAndTheSegmentsOfScriptsPlayOrSayWhyNot) {
    Drop(Write("chime.wav", testtracks::WaveFile(std::vector<float>(22050, 0.2f), 22050, 1)));
    EXPECT_TRUE(Playing()) << FileLabel();
    form->StopPlayback();

    // Its collection is missing: it plays from the General MIDI set, with a warning.
    SegmentSpec introPlan = Melody(CollectionFile("absent.dls"));
    introPlan.bands[0].instruments[0].flags |= 0x100;
    const Bytes intro = BuildSegment(introPlan);
    const std::string one =
        Write("one.spt", BuildScript({testtracks::Held(intro, "Intro.sgt", testtracks::kSegmentClass)}));
    Drop(one);
    EXPECT_TRUE(Playing()) << FileLabel();
    const std::string following = ": Intro.sgt [1 warning]";
    EXPECT_EQ(Shown(), fileinfo::ShortenDisplayPath(one, following.size()) + following);
    EXPECT_EQ(form->InfoText1(), "Intro.sgt"); // the desktop's media controls show it
    EXPECT_NE(form->InfoText3().find("one.spt: Intro.sgt: collection 'absent.dls' not found"), std::string::npos)
        << form->InfoText3();
    form->StopPlayback();

    Embedded gone{{}, testtracks::FileRef("Gone.sgt", testtracks::kSegmentClass), "", testtracks::kSegmentClass};
    const Bytes quiet = testtracks::WithTracks(BuildSegment({}), testtracks::QuietTracks());
    const std::string two =
        Write("two.spt", BuildScript({testtracks::Held(intro, "Intro.sgt", testtracks::kSegmentClass),
                                      testtracks::Held(quiet, "Quiet.sgt", testtracks::kSegmentClass), gone}));
    int row = 0;
    QStringList listed;
    form->SegmentChooserRunner = [&](ui::SegmentChooser& chooser) {
        listed.clear();
        for (int i = 0; i < chooser.List->count(); ++i)
            listed << chooser.List->item(i)->text();
        chooser.List->setCurrentRow(row);
        return row >= 0;
    };
    Drop(two);
    EXPECT_TRUE(Playing()) << FileLabel();
    EXPECT_EQ(listed, QStringList({"Intro.sgt", "Quiet.sgt", "Gone.sgt"}));
    EXPECT_EQ(Shown(), fileinfo::ShortenDisplayPath(two, following.size()) + following);
    form->StopPlayback();
    const std::pair<int, std::string> refused[] = {
        {1, "nothing in two.spt: Quiet.sgt can sound: it holds no note or wave, only parameter control (effect "
            "settings) and a script track, which do not sound here"},
        {2, "segment Gone.sgt is only named in two.spt, and there is no file Gone.sgt beside it"},
    };
    for (const auto& [chosen, why] : refused) {
        row = chosen;
        Drop(two);
        EXPECT_FALSE(Playing());
        EXPECT_EQ(Shown(), why);
        ExpectIdleAndUsable();
    }
    row = -1; // cancelled: nothing plays, and there is nothing to say
    Drop(two);
    EXPECT_FALSE(Playing());
    EXPECT_EQ(Shown(), "");
    ExpectIdleAndUsable();

    Drop(Write("empty.spt", BuildScript({})));
    EXPECT_FALSE(Playing());
    EXPECT_EQ(Shown(), "a script, not a piece: it holds no segment");
    ExpectIdleAndUsable();
}

TEST_F(SegmentFaultTest, StyleSegmentWhoseStyleIsMissingOrIsTheSegmentItself) {
    namespace st = formats::style;
    using namespace qorn::styles_test;
    for (const char* file : {"gone.sty", "selfstyle.sgt"}) {
        SCOPED_TRACE(file);
        const std::string path =
            Write(file == std::string("gone.sty") ? "nostyle.sgt" : "selfstyle.sgt",
                  StyleSegment(std::int32_t(kMeasure), TwoChords(), {{0, 0, 0, st::command::kGroove, 50, 0, 0}},
                               StyleTrackList(0, file)));
        OpenAndSee(path); // nothing to play is a plain refusal, never a hang
    }
}

TEST_F(SegmentFaultTest, DeeplyNestedChunksAreRefusedOrSkippedWithoutCrashing) {
    const testseg::Bytes melody = BuildSegment(Melody(CollectionFile("deep.dls")));
    // Deep enough to overflow the stack of any reader that recursed without a limit.
    constexpr std::size_t kDepth = 200000;
    for (const char* type : {"trkl", "DMTK", "lbdl", "lbnd", "DMCN", "UNFO", "zzzz"}) {
        SCOPED_TRACE(type);
        const std::string path = Write(std::string("deep-") + type + ".sgt", WithChild(melody, Nested(type, kDepth)));
        OpenAndSee(path);
    }
    // A collection nested as deep, found through the band's reference.
    testdls::CollectionSpec tiny;
    tiny.waves.push_back(testdls::LoopedWave(testdls::SineWave(440, 22050, 64)));
    tiny.instruments.push_back(testdls::InstrumentSpec{0, 0, 1, false, "Deep", {testdls::RegionSpec{}}, {}});
    int n = 0;
    for (const char* type : {"lins", "ins ", "lrgn", "rgn ", "lart", "wvpl", "INFO"}) {
        SCOPED_TRACE(type);
        const std::string name = "deep" + std::to_string(++n);
        Write(name + ".dls", WithChild(testdls::BuildDls(tiny), Nested(type, kDepth)));
        EXPECT_TRUE(OpenAndSee(Write(name + ".sgt", BuildSegment(Melody(CollectionFile(name + ".dls"))))));
    }
}

} // namespace
} // namespace qorn::hardening
