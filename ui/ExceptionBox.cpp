#include "ui/ExceptionBox.h"

#include "ui/AppTitle.h"

#include <QMessageBox>

namespace qorn::ui {

void ShowExceptionBox(const char* message) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromUtf8(message), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace qorn::ui
