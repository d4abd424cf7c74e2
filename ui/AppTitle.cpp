#include "ui/AppTitle.h"

namespace qorn::ui {

namespace {
QString& Title() {
    static QString title;
    return title;
}
} // namespace

void SetApplicationTitle(const QString& title) {
    Title() = title;
}

QString ApplicationTitle() {
    return Title();
}

} // namespace qorn::ui
