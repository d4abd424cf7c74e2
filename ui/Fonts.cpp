#include "ui/Fonts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>

#include <fontconfig/fontconfig.h>

namespace qorn::ui {

namespace {
FontConfigWarmUp* gWarmUp = nullptr;
} // namespace

FontConfigWarmUp::FontConfigWarmUp() : thread_([] { FcInit(); }) {
    gWarmUp = this;
}

FontConfigWarmUp::~FontConfigWarmUp() {
    Finish();
    gWarmUp = nullptr;
}

void FontConfigWarmUp::Finish() {
    if (gWarmUp != nullptr && gWarmUp->thread_.joinable()) gWarmUp->thread_.join();
}

void InstallFontSubstitutions() {
    FontConfigWarmUp::Finish();
    static const bool installed = [] {
        // Proportional face to proportional face, fixed to fixed.
        QFont::insertSubstitutions(ProportionalGothic, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
        QFont::insertSubstitutions(FixedGothic, {QStringLiteral("IPAGothic")});
        QFont::insertSubstitutions(Mincho, {QStringLiteral("IPAMincho"), QStringLiteral("IPAPMincho")});
        QFont::insertSubstitutions(TimesNewRoman, {QStringLiteral("Liberation Serif")});
        return true;
    }();
    (void)installed;
}

QString InstalledFamily(const QString& family) {
    // Looked up in the list of installed families: QFontDatabase::hasFamily
    // asks fontconfig to resolve the name as an alias each time, as costly
    // as loading the font.
    static const QStringList installed = QFontDatabase::families();
    const auto find = [](const QString& name) {
        for (const QString& one : installed)
            if (one.compare(name, Qt::CaseInsensitive) == 0) return one;
        return QString();
    };
    if (const QString found = find(family); !found.isEmpty()) return found;
    for (const QString& substitute : QFont::substitutes(family))
        if (const QString found = find(substitute); !found.isEmpty()) return found;
    return family;
}

QFont MakeFont(const QString& family, int pixelHeight, bool bold, bool italic, bool fixedPitch) {
    QFont font(InstalledFamily(family));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setItalic(italic);
    font.setFixedPitch(fixedPitch);
    if (fixedPitch) font.setStyleHint(QFont::Monospace);
    return font;
}

namespace {

constexpr int SmallestPixels = 8;

// Width the style leaves for the caption of `widget`, and the caption.
std::pair<int, QString> CaptionRoom(QWidget& widget) {
    if (auto* label = qobject_cast<QLabel*>(&widget)) {
        const int indent = label->indent() > 0       ? label->indent()
                           : label->frameWidth() > 0 ? label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2
                                                     : 0;
        return {label->contentsRect().width() - 2 * label->margin() - indent, label->text()};
    }
    auto* button = qobject_cast<QAbstractButton*>(&widget);
    if (button == nullptr) return {0, QString()};
    if (QWidget* parent = button->parentWidget(); parent != nullptr && parent->layout() != nullptr)
        parent->layout()->activate();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle* style = button->style();
    if (qobject_cast<QCheckBox*>(button) != nullptr)
        return {style->subElementRect(QStyle::SE_CheckBoxContents, &option, button).width(), button->text()};
    if (qobject_cast<QRadioButton*>(button) != nullptr)
        return {style->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width(), button->text()};
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
    return {style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width() - margin, button->text()};
}

} // namespace

void FitCaption(QWidget& widget) {
    const auto [room, text] = CaptionRoom(widget);
    if (text.isEmpty() || room <= 0) return;
    QFont font = widget.font();
    if (font.pixelSize() <= 0) return;
    while (font.pixelSize() > SmallestPixels && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPixelSize(font.pixelSize() - 1);
    if (font != widget.font()) widget.setFont(font);
}

} // namespace qorn::ui
