// The process entry: one copy per user session, the application, the main
// window, the event loop; the guard goes before the window is torn down.
#include "app/InstanceGuard.h"
#include "app/QornApplication.h"
#include "app/TerminationSignals.h"
#include "platform/MusicPlatform.h"
#include "ui/AppTitle.h"
#include "ui/ExceptionBox.h"
#include "ui/TFormQorn.h"

#include <QIcon>

#include <exception>
#include <memory>
#include <optional>

int main(int argc, char* argv[]) {
    qorn::app::HoldTerminationSignals();
    qorn::app::InstanceGuard guard(qorn::app::GuardName);
    if (guard.OpenExisting()) {
        guard.Close();
        return -1;
    }
    // A guard that could not be made does not stop the program.
    guard.Create();

    // The window must go before the application object.
    std::optional<qorn::app::QornApplication> app;
    std::unique_ptr<TFormQorn> form;
    try {
        // Qt reads its own platform options; the program reads no arguments.
        app.emplace(argc, argv);
        qorn::app::CloseWindowsOnTerminationSignals();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/qorn/qorn.png")));
        qorn::ui::SetApplicationTitle(QStringLiteral("Qor_n"));
        qorn::platform::RegisterMusicPlatform();
        form = TFormQorn::Create();
        form->show();
        QApplication::exec();
    } catch (const std::exception& e) {
        if (app) qorn::ui::ShowExceptionBox(e.what());
    }

    guard.Release();
    guard.Close();
    // Runs FormUnload: stop, pause, engine shutdown, pause.
    form.reset();
    app.reset();
    return 0;
}
