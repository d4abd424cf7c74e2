// The file information box: the three lines the last open gathered.
#include "ui/TFormQorn.h"

#include "ui/AppTitle.h"

#include <QMessageBox>

void TFormQorn::ComInfoClick() {
    // The texts are shown as they are: never markup, never a format.
    const QString text = QString::fromStdString(infoText1_) + QLatin1Char('\n') + QString::fromStdString(infoText2_) +
                         QLatin1Char('\n') + QString::fromStdString(infoText3_);
    QMessageBox box(QMessageBox::NoIcon, qorn::ui::ApplicationTitle(), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}
