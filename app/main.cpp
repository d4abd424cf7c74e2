// The process entry: one copy per user session, the application, the main
// window, the event loop; the guard goes before the window is torn down.
// A file named on the command line is played as if dropped on the window;
// a second copy hands its file to the first and ends.
#include "app/FileHandOff.h"
#include "app/InstanceGuard.h"
#include "app/MprisService.h"
#include "app/QornApplication.h"
#include "app/TerminationSignals.h"
#include "platform/MusicPlatform.h"
#include "platform/formats/common/Diagnostics.h"
#include "ui/AppTitle.h"
#include "ui/ExceptionBox.h"
#include "ui/TFormQorn.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace {

// How long a second copy tries to reach the first (which may be starting).
constexpr int HandOffTimeoutMs = 3000;

// The file named on the command line: the one argument that is no option.
std::string FileArgument(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-' && argc == i + 1) return argv[i];
    return {};
}

} // namespace

int main(int argc, char* argv[]) {
    qorn::app::HoldTerminationSignals();
    qorn::app::InstanceGuard guard(qorn::app::GuardName);
    const std::string socketPath = qorn::app::HandOffSocketPath(qorn::app::GuardName);
    if (guard.OpenExisting()) {
        guard.Close();
        if (const std::string file = FileArgument(argc, argv); !file.empty()) {
            QCoreApplication hand(argc, argv);
            qorn::app::HandFileToRunningCopy(socketPath, file, HandOffTimeoutMs);
        }
        return -1;
    }
    // A guard that could not be made does not stop the program.
    guard.Create();

    // The window must go before the application object.
    std::optional<qorn::app::QornApplication> app;
    std::unique_ptr<TFormQorn> form;
    std::unique_ptr<qorn::app::FileHandOffServer> handOff;
    std::unique_ptr<qorn::app::MprisService> mpris;
    try {
        app.emplace(argc, argv);
        qorn::app::CloseWindowsOnTerminationSignals();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/qorn/qorn.png")));
        qorn::ui::SetApplicationTitle(QStringLiteral("Qor_n"));
        qorn::platform::RegisterMusicPlatform();
        qorn::formats::ReportToStderr("qorn"); // why a part is silent, for whoever started it from a terminal
        form = TFormQorn::Create();
        TFormQorn* window = form.get();
        handOff = std::make_unique<qorn::app::FileHandOffServer>(
            [window](const std::string& path) { window->OpenDroppedFile(path); });
        if (guard.Owned()) handOff->Listen(socketPath);
        mpris = std::make_unique<qorn::app::MprisService>(*window);
        mpris->Register();
        form->show();
        // Qt has taken its own options out of the arguments by now.
        const QStringList args = QCoreApplication::arguments();
        if (args.size() == 2 && !args[1].startsWith(QLatin1Char('-'))) {
            const std::string file = QFile::encodeName(QFileInfo(args[1]).absoluteFilePath()).toStdString();
            QTimer::singleShot(0, window, [window, file] { window->OpenDroppedFile(file); });
        }
        QApplication::exec();
    } catch (const std::exception& e) {
        if (app) qorn::ui::ShowExceptionBox(e.what());
    }

    mpris.reset();
    handOff.reset();
    guard.Release();
    guard.Close();
    // Runs FormUnload: stop, pause, engine shutdown, pause.
    form.reset();
    app.reset();
    return 0;
}
