// The window as it is before its creation handler runs: every control's
// kind, place, texts, hint, font, colour and state.
#include "FormFixture.h"

#include "ui/AppTitle.h"
#include "ui/Fonts.h"
#include "ui/PortComboBox.h"
#include "ui/TRadioGroup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>

#include <optional>

namespace {

enum class Kind { Label, Bevel, Panel, Button, RadioGroup, TrackBar, ComboBox, CheckBox };

struct FontSpec {
    const char* family;
    int pixels;
    bool bold;
    bool italic;
};

constexpr FontSpec WindowFont{"ＭＳ Ｐゴシック", 12, false, false};

struct ControlSpec {
    const char* name;
    Kind kind;
    QRect place;
    bool sizesToText;
    const char* text;
    const char* hint;
    FontSpec font;
    std::optional<QColor> background;
    bool enabled;
};

const ControlSpec Controls[] = {
    {"LabelST1", Kind::Label, {8, 0, 66, 19}, true, "Read File", "", {"Times New Roman", 16, true, true}, {}, true},
    {"Bevel2", Kind::Bevel, {248, 44, 85, 33}, false, "", "", WindowFont, {}, true},
    {"LabelTime",
     Kind::Label,
     {252, 48, 77, 25},
     false,
     "",
     "",
     {"ＭＳ 明朝", 17, true, false},
     QColor(0, 255, 255),
     true},
    {"LabelST2", Kind::Label, {12, 160, 177, 12}, true, "音量（ DirectMusic 内蔵音源のみ）", "", WindowFont, {}, true},
    {"Bevel3", Kind::Bevel, {60, 208, 381, 57}, false, "", "", WindowFont, {}, true},
    {"LabelST3", Kind::Label, {64, 220, 101, 12}, true, "演奏する MIDI 環境", "", WindowFont, {}, true},
    {"ComOpen",
     Kind::Button,
     {4, 44, 101, 37},
     false,
     "File Open",
     "ファイルを開きます",
     {"Times New Roman", 15, true, false},
     {},
     true},
    {"ComPlay",
     Kind::Button,
     {112, 44, 129, 85},
     false,
     "Play",
     "演奏の開始と中止を行います",
     {"Times New Roman", 47, true, false},
     {},
     false},
    {"RGLoop",
     Kind::RadioGroup,
     {248, 80, 105, 89},
     false,
     "演奏のループ",
     "セグメントファイルのループ回数を選択します",
     WindowFont,
     {},
     false},
    {"RGTempo", Kind::RadioGroup, {356, 44, 85, 125}, false, "テンポ", "テンポの設定をします", WindowFont, {}, false},
    {"TBVolume",
     Kind::TrackBar,
     {4, 176, 437, 25},
     false,
     "",
     "DirectMusic内蔵音源の音量を設定します",
     WindowFont,
     {},
     true},
    {"LabelVolume",
     Kind::Panel,
     {12, 204, 37, 25},
     false,
     "88",
     "現在の音量の大きさです",
     {"ＭＳ Ｐゴシック", 16, true, false},
     QColor(255, 255, 0),
     true},
    {"CoBInst", Kind::ComboBox, {120, 236, 313, 20}, false, "", "演奏情報の送信先を設定します", WindowFont, {}, true},
    {"ChBEffect",
     Kind::CheckBox,
     {172, 216, 265, 17},
     false,
     "Direct Music 内蔵音源のエフェクトを有効にする",
     "DirectMusic内蔵音源のエフェクトを設定します",
     WindowFont,
     {},
     true},
    {"LabelTitle", Kind::Panel, {0, 268, 441, 21}, false, "", "", {"Times New Roman", 13, false, false}, {}, true},
    {"LabelFN", Kind::Panel, {4, 20, 437, 21}, false, "", "", {"ＭＳ ゴシック", 15, false, false}, {}, true},
    {"ComInfo",
     Kind::Button,
     {4, 132, 101, 25},
     false,
     "File Info.",
     "ファイルに埋め込まれた情報の一部を表示します",
     {"Times New Roman", 15, true, false},
     {},
     false},
    {"ComDefault",
     Kind::Button,
     {4, 236, 53, 21},
     false,
     "Default",
     "音量を起動時の大きさに戻します",
     {"Times New Roman", 12, false, false},
     {},
     true},
};

// The faces Debian puts in place of the named ones.
QString ExpectedFace(const QString& family) {
    if (family == QStringLiteral("ＭＳ Ｐゴシック")) return QStringLiteral("IPAPGothic");
    if (family == QStringLiteral("ＭＳ ゴシック")) return QStringLiteral("IPAGothic");
    if (family == QStringLiteral("ＭＳ 明朝")) return QStringLiteral("IPAMincho");
    return QStringLiteral("Liberation Serif");
}

bool IsKind(const QWidget* w, Kind kind) {
    const auto* label = qobject_cast<const QLabel*>(w);
    switch (kind) {
    case Kind::Label:
        return label != nullptr && label->frameShape() == QFrame::NoFrame;
    case Kind::Panel:
        return label != nullptr && label->frameShape() == QFrame::Panel;
    case Kind::Bevel:
        return w->metaObject() == &QFrame::staticMetaObject;
    case Kind::Button:
        return qobject_cast<const QPushButton*>(w) != nullptr;
    case Kind::RadioGroup:
        return dynamic_cast<const qorn::ui::TRadioGroup*>(w) != nullptr;
    case Kind::TrackBar:
        return qobject_cast<const QSlider*>(w) != nullptr;
    case Kind::ComboBox:
        return qobject_cast<const QComboBox*>(w) != nullptr;
    case Kind::CheckBox:
        return qobject_cast<const QCheckBox*>(w) != nullptr;
    }
    return false;
}

QString ControlText(const QWidget* w) {
    if (const auto* label = qobject_cast<const QLabel*>(w)) return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) return group->title();
    if (const auto* combo = qobject_cast<const QComboBox*>(w)) return combo->currentText();
    return {};
}

class LayoutTest : public FormFixture {
  protected:
    void SetUp() override {
        qorn::ui::SetApplicationTitle(QStringLiteral("Qor_n"));
        form = std::make_unique<TFormQorn>();
    }
};

TEST_F(LayoutTest, EveryControlMatchesItsDescription) {
    for (const ControlSpec& plan : Controls) {
        SCOPED_TRACE(plan.name);
        auto* w = form->findChild<QWidget*>(QString::fromLatin1(plan.name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), form.get());
        EXPECT_TRUE(IsKind(w, plan.kind));
        if (plan.sizesToText) {
            EXPECT_EQ(w->pos(), plan.place.topLeft());
            EXPECT_EQ(w->size(), w->sizeHint());
        } else {
            EXPECT_EQ(w->geometry(), plan.place);
        }
        EXPECT_EQ(ControlText(w), QString::fromUtf8(plan.text));
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(plan.hint));
        EXPECT_EQ(w->isEnabled(), plan.enabled);

        const QFont font = w->font();
        EXPECT_EQ(font.family(), qorn::ui::InstalledFamily(QString::fromUtf8(plan.font.family)));
        // A face that runs wide is drawn smaller, so the caption fits.
        EXPECT_LE(font.pixelSize(), plan.font.pixels);
        EXPECT_GE(font.pixelSize(), plan.font.pixels - 4);
        EXPECT_EQ(font.bold(), plan.font.bold);
        EXPECT_EQ(font.italic(), plan.font.italic);
        // What is really drawn: the metric-compatible face.
        EXPECT_EQ(QFontInfo(font).family(), ExpectedFace(QString::fromUtf8(plan.font.family)));

        if (plan.background) {
            const QImage image = w->grab().toImage();
            EXPECT_EQ(QColor(image.pixel(3, 3)), *plan.background);
        }
    }
}

TEST_F(LayoutTest, JapaneseTextsHaveGlyphs) {
    for (const char* name : {"LabelST2", "LabelST3", "RGLoop", "ChBEffect"}) {
        SCOPED_TRACE(name);
        auto* w = form->findChild<QWidget*>(QString::fromLatin1(name));
        const QFontMetrics metrics(w->font());
        for (const char32_t c : ControlText(w).toUcs4())
            EXPECT_TRUE(metrics.inFontUcs4(c)) << "U+" << std::hex << static_cast<unsigned>(c);
    }
}

TEST_F(LayoutTest, EveryCaptionFitsItsControlInTheFacesDrawn) {
    form->show();
    for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
        SCOPED_TRACE(button->text().toStdString());
        const int text = QFontMetrics(button->font()).horizontalAdvance(button->text());
        // A box or a radio mark takes about 16 pixels before the text.
        const int mark = qobject_cast<QPushButton*>(button) != nullptr ? 0 : 16;
        EXPECT_LE(text + mark, button->width());
    }
}

TEST_F(LayoutTest, WindowIsFixedAndStartsWithTheProgramName) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Qor_n"));
    EXPECT_EQ(form->size(), QSize(441, 290));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_EQ(form->palette().color(QPalette::Window), form->palette().color(QPalette::Button));
    EXPECT_EQ(form->font().family(), qorn::ui::InstalledFamily(QStringLiteral("ＭＳ Ｐゴシック")));
    EXPECT_EQ(FormQorn, form.get());
    EXPECT_TRUE(form->acceptDrops());

    form->show();
    const QRect screen = form->screen()->availableGeometry();
    EXPECT_LE((form->frameGeometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(LayoutTest, ChoicesStartAsDescribed) {
    const QStringList loops = {"変更なし", "ループなし", "3回ループ", "5回ループ"};
    const QStringList tempos = {"x 0.5", "x 0.75", "x 1.0", "x 1.25", "x 1.5", "x 1.75", "x 2.0"};
    ASSERT_EQ(form->RGLoop->Count(), loops.size());
    for (int i = 0; i < loops.size(); ++i)
        EXPECT_EQ(form->RGLoop->Item(i)->text(), loops[i]);
    ASSERT_EQ(form->RGTempo->Count(), tempos.size());
    for (int i = 0; i < tempos.size(); ++i)
        EXPECT_EQ(form->RGTempo->Item(i)->text(), tempos[i]);
    EXPECT_EQ(form->RGLoop->ItemIndex(), 0);
    EXPECT_EQ(form->RGTempo->ItemIndex(), 2);

    EXPECT_EQ(form->TBVolume->minimum(), 0);
    EXPECT_EQ(form->TBVolume->maximum(), 127);
    EXPECT_EQ(form->TBVolume->value(), 88);
    EXPECT_EQ(form->TBVolume->singleStep(), 2);
    EXPECT_EQ(form->TBVolume->pageStep(), 5);
    EXPECT_EQ(form->TBVolume->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(form->TBVolume->tickInterval(), 1);

    EXPECT_TRUE(form->CoBInst->isEditable());
    EXPECT_EQ(form->CoBInst->count(), 0);
    EXPECT_EQ(form->CoBInst->maxVisibleItems(), 8);
    EXPECT_TRUE(form->ChBEffect->isChecked());
    EXPECT_EQ(form->LabelTime->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(form->LabelFN->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(form->LabelTitle->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(form->LabelVolume->frameShadow(), QFrame::Raised);
    EXPECT_TRUE(form->LabelFN->font().fixedPitch());

    EXPECT_FALSE(form->TimTime->isActive());
    EXPECT_EQ(form->TimTime->interval(), 250);
    EXPECT_FALSE(form->TimCheck->isActive());
    EXPECT_EQ(form->TimCheck->interval(), 100);
}

TEST_F(LayoutTest, OpenDialogOffersTheSupportedFiles) {
    QFileDialog* dialog = form->OpenD;
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("File Open"));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->nameFilters(),
              QStringList({"Segment File (*.sgt *.sgp)", "Standard MIDI File (*.mid)",
                           "Template or Style (*.tpl *.sty)", "Support File (*.sgt *.sgp *.mid *.tpl *.sty)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Support File (*.sgt *.sgp *.mid *.tpl *.sty)"));
    EXPECT_TRUE(dialog->isSizeGripEnabled());
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(LayoutTest, TabKeyVisitsTheControlsInOrder) {
    // As the eye reads the window: file buttons, play, the groups, volume,
    // then the bottom row.
    const std::vector<QWidget*> expected = {form->ComOpen,    form->ComInfo,   form->ComPlay,
                                            form->RGLoop,     form->RGTempo,   form->TBVolume,
                                            form->ComDefault, form->ChBEffect, form->CoBInst};
    // The control each focusable widget belongs to (a radio button to its group).
    auto control = [&](QWidget* w) {
        while (w != nullptr && w->parentWidget() != form.get())
            w = w->parentWidget();
        return w;
    };
    std::vector<QWidget*> visited;
    QWidget* w = form->ComOpen;
    for (int steps = 0; steps < 200; ++steps) {
        if (w->focusPolicy() & Qt::TabFocus) {
            QWidget* owner = control(w);
            if (owner != nullptr && (visited.empty() || visited.back() != owner)) visited.push_back(owner);
        }
        w = w->nextInFocusChain();
        if (w == form->ComOpen) break;
    }
    EXPECT_EQ(visited, expected);
    for (const char* name : {"LabelVolume", "LabelTitle", "LabelFN", "LabelST1", "LabelTime", "Bevel2"})
        EXPECT_EQ(form->findChild<QWidget*>(QString::fromLatin1(name))->focusPolicy(), Qt::NoFocus) << name;
}

} // namespace
