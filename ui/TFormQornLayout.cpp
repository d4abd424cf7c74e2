// The window's controls with their places, texts, hints, fonts, colours and
// starting states.
#include "ui/Fonts.h"
#include "ui/PortComboBox.h"
#include "ui/TFormQorn.h"
#include "ui/TRadioGroup.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

using qorn::ui::MakeFont;
using qorn::ui::TRadioGroup;

namespace {

constexpr int ClientWidth = 441;
constexpr int ClientHeight = 290;

// A label that takes no focus; `autoSize` makes it as large as its text.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect place, bool autoSize) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(place);
    if (autoSize) label->resize(label->sizeHint());
    return label;
}

QLabel* MakePanel(QWidget* parent, const char* name, QRect place, QFrame::Shadow shadow, Qt::Alignment align) {
    auto* panel = new QLabel(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(place);
    panel->setFrameStyle(QFrame::Panel | shadow);
    panel->setLineWidth(1);
    panel->setAlignment(align);
    return panel;
}

QFrame* MakeBevel(QWidget* parent, const char* name, QRect place, QFrame::Shape shape) {
    auto* bevel = new QFrame(parent);
    bevel->setObjectName(QString::fromLatin1(name));
    bevel->setGeometry(place);
    bevel->setFrameStyle(shape | QFrame::Sunken);
    return bevel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect place) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    button->setAutoDefault(false);
    return button;
}

void SetBackground(QWidget* widget, QColor colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

void TFormQorn::BuildLayout() {
    using qorn::ui::FixedGothic;
    using qorn::ui::Mincho;
    using qorn::ui::ProportionalGothic;
    using qorn::ui::TimesNewRoman;

    qorn::ui::InstallFontSubstitutions();
    setObjectName(QStringLiteral("FormQorn"));
    setWindowTitle(QStringLiteral("Qor_n"));
    // Single border: no resizing, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    move(223, 106);
    // The window is painted in the button-face colour.
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    setFont(MakeFont(ProportionalGothic, 12));

    // Creation order decides what lies on top where controls overlap.
    LabelST1 = MakeLabel(this, "LabelST1", QStringLiteral("Read File"), {8, 0, 66, 19}, true);
    LabelST1->setFont(MakeFont(TimesNewRoman, 16, true, true));
    LabelST1->resize(LabelST1->sizeHint());

    Bevel2 = MakeBevel(this, "Bevel2", {248, 44, 85, 33}, QFrame::Box);

    LabelTime = MakeLabel(this, "LabelTime", QString(), {252, 48, 77, 25}, false);
    LabelTime->setFont(MakeFont(Mincho, 17, true));
    LabelTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetBackground(LabelTime, QColor(0, 255, 255));

    LabelST2 =
        MakeLabel(this, "LabelST2", QStringLiteral("音量（ DirectMusic 内蔵音源のみ）"), {12, 160, 177, 12}, true);
    Bevel3 = MakeBevel(this, "Bevel3", {60, 208, 381, 57}, QFrame::Panel);
    LabelST3 = MakeLabel(this, "LabelST3", QStringLiteral("演奏する MIDI 環境"), {64, 220, 101, 12}, true);

    ComOpen = MakeButton(this, "ComOpen", QStringLiteral("File Open"), {4, 44, 101, 37});
    ComOpen->setFont(MakeFont(TimesNewRoman, 15, true));
    ComOpen->setToolTip(QStringLiteral("ファイルを開きます"));

    ComPlay = MakeButton(this, "ComPlay", QStringLiteral("Play"), {112, 44, 129, 85});
    ComPlay->setFont(MakeFont(TimesNewRoman, 47, true));
    ComPlay->setToolTip(QStringLiteral("演奏の開始と中止を行います"));
    ComPlay->setEnabled(false);

    RGLoop = new TRadioGroup(QStringLiteral("演奏のループ"),
                             {QStringLiteral("変更なし"), QStringLiteral("ループなし"), QStringLiteral("3回ループ"),
                              QStringLiteral("5回ループ")},
                             this);
    RGLoop->setObjectName(QStringLiteral("RGLoop"));
    RGLoop->setGeometry(248, 80, 105, 89);
    RGLoop->setToolTip(QStringLiteral("セグメントファイルのループ回数を選択します"));
    RGLoop->SetItemIndex(0);
    RGLoop->setEnabled(false);

    RGTempo = new TRadioGroup(QStringLiteral("テンポ"),
                              {QStringLiteral("x 0.5"), QStringLiteral("x 0.75"), QStringLiteral("x 1.0"),
                               QStringLiteral("x 1.25"), QStringLiteral("x 1.5"), QStringLiteral("x 1.75"),
                               QStringLiteral("x 2.0")},
                              this);
    RGTempo->setObjectName(QStringLiteral("RGTempo"));
    RGTempo->setGeometry(356, 44, 85, 125);
    RGTempo->setToolTip(QStringLiteral("テンポの設定をします"));
    RGTempo->SetItemIndex(2);
    RGTempo->setEnabled(false);

    TBVolume = new QSlider(Qt::Horizontal, this);
    TBVolume->setObjectName(QStringLiteral("TBVolume"));
    TBVolume->setGeometry(4, 176, 437, 25);
    TBVolume->setRange(0, 127);
    TBVolume->setSingleStep(2);
    TBVolume->setPageStep(5);
    TBVolume->setTickPosition(QSlider::TicksBelow);
    TBVolume->setTickInterval(1);
    TBVolume->setValue(88);
    TBVolume->setToolTip(QStringLiteral("DirectMusic内蔵音源の音量を設定します"));

    LabelVolume = MakePanel(this, "LabelVolume", {12, 204, 37, 25}, QFrame::Raised, Qt::AlignCenter);
    LabelVolume->setText(QStringLiteral("88"));
    LabelVolume->setFont(MakeFont(ProportionalGothic, 16, true));
    LabelVolume->setToolTip(QStringLiteral("現在の音量の大きさです"));
    SetBackground(LabelVolume, QColor(255, 255, 0));

    CoBInst = new qorn::ui::PortComboBox(QStringLiteral("演奏情報の送信先を設定します"), this);
    CoBInst->setObjectName(QStringLiteral("CoBInst"));
    CoBInst->setGeometry(120, 236, 313, 20);
    CoBInst->setMaxVisibleItems(8);

    ChBEffect = new QCheckBox(QStringLiteral("Direct Music 内蔵音源のエフェクトを有効にする"), this);
    ChBEffect->setObjectName(QStringLiteral("ChBEffect"));
    ChBEffect->setGeometry(172, 216, 265, 17);
    ChBEffect->setChecked(true);
    ChBEffect->setToolTip(QStringLiteral("DirectMusic内蔵音源のエフェクトを設定します"));

    LabelTitle = MakePanel(this, "LabelTitle", {0, 268, 441, 21}, QFrame::Sunken, Qt::AlignCenter);
    LabelTitle->setFont(MakeFont(TimesNewRoman, 13));

    TimTime = new QTimer(this);
    TimTime->setObjectName(QStringLiteral("TimTime"));
    TimTime->setInterval(250);
    TimCheck = new QTimer(this);
    TimCheck->setObjectName(QStringLiteral("TimCheck"));
    TimCheck->setInterval(100);

    LabelFN = MakePanel(this, "LabelFN", {4, 20, 437, 21}, QFrame::Sunken, Qt::AlignLeft | Qt::AlignVCenter);
    LabelFN->setFont(MakeFont(FixedGothic, 15, false, false, true));

    ComInfo = MakeButton(this, "ComInfo", QStringLiteral("File Info."), {4, 132, 101, 25});
    ComInfo->setFont(MakeFont(TimesNewRoman, 15, true));
    ComInfo->setToolTip(QStringLiteral("ファイルに埋め込まれた情報の一部を表示します"));
    ComInfo->setEnabled(false);

    ComDefault = MakeButton(this, "ComDefault", QStringLiteral("Default"), {4, 236, 53, 21});
    ComDefault->setFont(MakeFont(TimesNewRoman, 12));
    ComDefault->setToolTip(QStringLiteral("音量を起動時の大きさに戻します"));

    // Keyboard order as the eye reads the window: the left column of file
    // buttons, the play button, the two groups, the volume bar, then the
    // bottom row from left to right and top to bottom. The panels take no focus.
    QWidget* const tabOrder[] = {ComOpen, ComInfo, ComPlay, RGLoop, RGTempo, TBVolume, ComDefault, ChBEffect, CoBInst};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    // The substitute faces run wider than the named ones: a caption that
    // would be cut gets a smaller size of the same face.
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        qorn::ui::FitCaption(*button);
}

void TFormQorn::BuildOpenDialog() {
    // A third of the window's start-up time: the program builds it once the
    // window is on screen.
    OpenD = new QFileDialog(this, QStringLiteral("File Open"));
    OpenD->setObjectName(QStringLiteral("OpenD"));
    OpenD->setFileMode(QFileDialog::ExistingFile);
    OpenD->setAcceptMode(QFileDialog::AcceptOpen);
    OpenD->setNameFilters({QStringLiteral("Segment File (*.sgt *.sgp)"), QStringLiteral("Standard MIDI File (*.mid)"),
                           QStringLiteral("Template or Style (*.tpl *.sty)"),
                           QStringLiteral("Support File (*.sgt *.sgp *.mid *.tpl *.sty)")});
    OpenD->selectNameFilter(QStringLiteral("Support File (*.sgt *.sgp *.mid *.tpl *.sty)"));
    OpenD->setSizeGripEnabled(true);
    // No popup of the dialog may outlive it: a completion list left open
    // after Return would swallow the next click on the window.
    connect(OpenD, &QDialog::finished, this, [this] {
        for (QCompleter* completer : OpenD->findChildren<QCompleter*>())
            if (QAbstractItemView* popup = completer->popup(); popup != nullptr && popup->isVisible()) popup->hide();
    });
}
