// The application object: an exception thrown by an event handler is shown
// in the error box and the event loop goes on.
#pragma once

#include <QApplication>

namespace qorn::app {

class QornApplication : public QApplication {
  public:
    QornApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qorn::app
