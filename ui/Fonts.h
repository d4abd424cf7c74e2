// The window's faces are named as on the original desktop; Debian ships
// metric-compatible IPA faces instead, and fontconfig has no alias from the
// Japanese names, so the program maps them itself.
#pragma once

#include <QFont>
#include <QString>

#include <thread>

class QWidget;

namespace qorn::ui {

inline const QString ProportionalGothic = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString FixedGothic = QStringLiteral("ＭＳ ゴシック");
inline const QString Mincho = QStringLiteral("ＭＳ 明朝");
// Fontconfig's metric aliases give Liberation Serif for it.
inline const QString TimesNewRoman = QStringLiteral("Times New Roman");

// Reads fontconfig's configuration on a thread of its own while the
// application connects to the display: the window's first text otherwise
// waits for it. The first font waits for the thread (Finish) rather than
// read the configuration a second time beside it. Joins on destruction.
class FontConfigWarmUp {
  public:
    FontConfigWarmUp();
    ~FontConfigWarmUp();
    FontConfigWarmUp(const FontConfigWarmUp&) = delete;
    FontConfigWarmUp& operator=(const FontConfigWarmUp&) = delete;

    // Waits for the reading under way, if any (GUI thread).
    static void Finish();

  private:
    std::thread thread_;
};

// Registers the substitutions once per process (repeat calls do nothing).
void InstallFontSubstitutions();

// The first of `family` and its substitutes that is installed, as the
// font database spells it, which is the face Qt would find; `family` when
// none is. A font naming several families has Qt ask fontconfig for each
// one's fallbacks as it loads (most of the window's start-up); one naming a
// single family asks only when a character is missing from it.
QString InstalledFamily(const QString& family);

// A face of `pixelHeight` character height, weight and slant as given,
// naming the first of `family` and its substitutes that is installed.
QFont MakeFont(const QString& family, int pixelHeight, bool bold = false, bool italic = false, bool fixedPitch = false);

// Makes the widget's caption fit its width: the same face a pixel smaller
// at a time (never below 8 pixels) while the text is wider than the room the
// style leaves for it. Measured for the face really drawn.
void FitCaption(QWidget& widget);

} // namespace qorn::ui
