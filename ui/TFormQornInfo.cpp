// The file information box: the three lines the last open gathered.
#include "ui/TFormQorn.h"

#include "ui/AppTitle.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {
// Room a window manager's title bar takes beside its caption (icon, close).
constexpr int TitleBarButtonsWidth = 120;
} // namespace

void TFormQorn::ComInfoClick() {
    // The texts are shown as they are: never markup, never a format.
    const QString text = QString::fromStdString(infoText1_) + QLatin1Char('\n') + QString::fromStdString(infoText2_) +
                         QLatin1Char('\n') + QString::fromStdString(infoText3_);
    QMessageBox box(QMessageBox::NoIcon, qorn::ui::ApplicationTitle(), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    // A box sized for its text alone cuts a longer caption in the title bar:
    // make room for the caption and the title bar's buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int captionWidth =
            QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(box.windowTitle());
        grid->addItem(
            new QSpacerItem(captionWidth + TitleBarButtonsWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}
