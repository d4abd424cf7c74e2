// A template and a style dropped on the window compose through the loader
// and play; a chordmap dropped alone says how to hear it.
#include "PlayerFixture.h"

#include "tests/support/ChordmapWriter.h"
#include "tests/support/TestStyles.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qorn::hardening {
namespace {

using namespace qorn::styles_test;
namespace sp = cm::signpost;
constexpr std::int32_t kBar = std::int32_t(kMeasure);

class ComposedDropTest : public PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        if (IsSkipped()) return;
        alsaPorts = {{24, 0, "Sound Module", "Port 1"}};
        StartPlayer();
        ASSERT_TRUE(form->EngineReady()) << FileLabel();
        form->CoBInst->setCurrentIndex(0); // the port, to see every note sent
    }
    // Pitch classes of the notes the port received until `path`, dropped,
    // ended (or `ms` passed, then stopped).
    std::set<int> PlayedClasses(const std::string& path, int ms) {
        const std::size_t before = sequencer->received(24, 0).size();
        Drop(path);
        EXPECT_TRUE(Playing()) << FileLabel();
        QElapsedTimer clock;
        clock.start();
        while (Playing() && clock.elapsed() < ms)
            RunEvents(50);
        if (Playing()) form->ComPlayClick();
        std::set<int> classes;
        const auto got = sequencer->received(24, 0);
        for (std::size_t i = before; i < got.size(); ++i)
            if (got[i].size() == 3 && (got[i][0] & 0xF0) == 0x90 && got[i][2] > 0) classes.insert(got[i][1] % 12);
        return classes;
    }
};

TEST_F(ComposedDropTest, TemplatesAndStylesPlayComposedChordsAndAChordmapSaysHowToHearIt) {
    // The style plays the chord's root each beat; the chordmap sets C at
    // group A and G at group B; the template asks for A then B.
    st::Style style;
    style.tempo = 240.0;
    style.parts = {
        Part(1, st::playmode::kNormalChord, {Note(0, 0x4000), Note(4, 0x4000), Note(8, 0x4000), Note(12, 0x4000)})};
    style.patterns = {PatternOf({Ref(1, 0)})};
    Write("song2.sty", StyleForm(style));
    cm::Chordmap map;
    map.name = "Home";
    map.keyRoot = 12;
    map.signposts = {{sp::kA, 0, ChordOf("M", 12, 0x91), {}}, {sp::kB, 0, ChordOf("M", 19, 0x91), {}}};
    Write("son.cdm", BuildChordmap(map));
    TemplateSketch sketch;
    sketch.length = 4 * kBar;
    sketch.signposts = {{0, 0, sp::kA}, {2 * kBar, 2, sp::kB}};
    const std::string tpl = Write("songa.tpl", BuildTemplate(sketch));

    EXPECT_EQ(PlayedClasses(tpl, 10000), (std::set<int>{0, 7}));
    ExpectIdleAndUsable();
    // The style alone composes a shape over the same chordmap: its
    // signpost chords are heard.
    const std::set<int> alone = PlayedClasses(Folder() + "/song2.sty", 3000);
    EXPECT_TRUE(alone.count(0) || alone.count(7)) << alone.size();
    ExpectIdleAndUsable();

    Drop(Folder() + "/son.cdm");
    EXPECT_FALSE(Playing());
    const QString shown = form->LabelFN->toolTip().isEmpty() ? form->LabelFN->text() : form->LabelFN->toolTip();
    EXPECT_EQ(shown.toStdString(),
              "a chordmap, not a piece: hear it with a style, for example qorn-render --chordmap son.cdm song2.sty "
              "out.wav");
    ExpectIdleAndUsable();
}

} // namespace
} // namespace qorn::hardening
