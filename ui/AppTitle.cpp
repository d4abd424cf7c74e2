#include "ui/AppTitle.h"

#include <QGuiApplication>

namespace qorn::ui {

namespace {
QString& Title() {
    static QString title;
    return title;
}
} // namespace

void SetApplicationTitle(const QString& title) {
    Title() = title;
    QGuiApplication::setApplicationDisplayName(title);
}

QString ApplicationTitle() {
    return Title();
}

} // namespace qorn::ui
