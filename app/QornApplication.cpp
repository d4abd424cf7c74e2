#include "app/QornApplication.h"

#include "ui/ExceptionBox.h"

#include <exception>

namespace qorn::app {

QornApplication::QornApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool QornApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        qorn::ui::ShowExceptionBox(e.what());
    }
    return false;
}

} // namespace qorn::app
