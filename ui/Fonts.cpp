#include "ui/Fonts.h"

#include <QStringList>

namespace qorn::ui {

void InstallFontSubstitutions() {
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

QFont MakeFont(const QString& family, int pixelHeight, bool bold, bool italic, bool fixedPitch) {
    QFont font(family);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setItalic(italic);
    font.setFixedPitch(fixedPitch);
    if (fixedPitch) font.setStyleHint(QFont::Monospace);
    return font;
}

} // namespace qorn::ui
