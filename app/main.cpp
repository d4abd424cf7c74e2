// The process entry: one copy per user session, the application, the main
// window, the event loop; the guard goes before the window is torn down.
// `qorn [--soundfont PATH] [FILE]` (app/CommandLine): FILE is played as if
// dropped on the window, PATH (a SoundFont or a DLS collection) is the
// General MIDI set; a second copy hands its file to the first and ends.
#include "app/CommandLine.h"
#include "app/FileHandOff.h"
#include "app/InstanceGuard.h"
#include "app/MprisService.h"
#include "app/QornApplication.h"
#include "app/TerminationSignals.h"
#include "platform/MusicPlatform.h"
#include "platform/formats/common/Diagnostics.h"
#include "ui/AppTitle.h"
#include "ui/ExceptionBox.h"
#include "ui/Fonts.h"
#include "ui/TFormQorn.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// How long a second copy tries to reach the first (which may be starting).
constexpr int HandOffTimeoutMs = 3000;
// How often the start looks whether the General MIDI set has loaded.
constexpr int SetPollMs = 5;

} // namespace

int main(int argc, char* argv[]) {
    using Action = qorn::app::CommandLine::Action;
    const qorn::app::CommandLine arguments = qorn::app::ReadCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (arguments.action) {
    case Action::Help:
    case Action::Version:
        std::fputs(arguments.text.c_str(), stdout);
        return 0;
    case Action::Refuse:
        std::fputs(arguments.text.c_str(), stderr);
        return 2;
    case Action::Run:
        break;
    }
    qorn::app::HoldTerminationSignals();
    qorn::app::InstanceGuard guard(qorn::app::GuardName);
    const std::string socketPath = qorn::app::HandOffSocketPath(qorn::app::GuardName);
    if (guard.OpenExisting()) {
        guard.Close();
        // The running copy keeps the General MIDI set it started with.
        if (!arguments.soundFont.empty())
            std::fputs("qorn: a copy is already running; --soundfont applies only to a copy it starts\n", stderr);
        if (!arguments.file.empty()) {
            QCoreApplication hand(argc, argv);
            qorn::app::HandFileToRunningCopy(socketPath, arguments.file, HandOffTimeoutMs);
        }
        return -1;
    }
    // Read where the synthesizer is made, as QORN_SOUNDFONT is.
    if (!arguments.soundFont.empty()) setenv("QORN_SOUNDFONT", arguments.soundFont.c_str(), 1);
    // A guard that could not be made does not stop the program.
    guard.Create();
    const qorn::ui::FontConfigWarmUp fonts;
    // With a file to play, sound comes first: the General MIDI set loads
    // while the window is made. Without one, the window comes first.
    const bool setEarly = !arguments.file.empty();
    if (setEarly) qorn::platform::PrepareDefaultSynthesizer();

    // The window must go before the application object.
    std::optional<qorn::app::QornApplication> app;
    std::unique_ptr<TFormQorn> form;
    std::unique_ptr<qorn::app::FileHandOffServer> handOff;
    std::unique_ptr<qorn::app::MprisService> mpris;
    try {
        app.emplace(argc, argv);
        qorn::app::CloseWindowsOnTerminationSignals();
        // Wayland compositors find the icon through the desktop entry.
        QGuiApplication::setDesktopFileName(QStringLiteral(QORN_APP_ID));
        qorn::ui::SetApplicationTitle(QStringLiteral("Qor_n"));
        // The window first. Once it is on screen the General MIDI set loads
        // (unless it already does) on a thread of its own while the window
        // stays live; then the engine starts, and the hand-off of files from
        // other copies, the media keys and the file named here are taken on.
        std::string file;
        if (!arguments.file.empty())
            file = QFile::encodeName(QFileInfo(QFile::decodeName(arguments.file.c_str())).absoluteFilePath())
                       .toStdString();
        const auto start = [&form, &handOff, &mpris, &guard, socketPath, file] {
            TFormQorn* window = form.get();
            qorn::platform::RegisterMusicPlatform();
            qorn::formats::ReportToStderr("qorn"); // why a part is silent, for whoever started it from a terminal
            window->LoadDeferred();
            handOff = std::make_unique<qorn::app::FileHandOffServer>(
                [window](const std::string& path) { window->OpenDroppedFile(path); });
            if (guard.Owned()) handOff->Listen(socketPath);
            mpris = std::make_unique<qorn::app::MprisService>(*window);
            mpris->Register();
            if (!file.empty()) window->OpenDroppedFile(file);
        };
        QTimer waitForSet;
        waitForSet.setInterval(SetPollMs);
        QObject::connect(&waitForSet, &QTimer::timeout, [&waitForSet, start] {
            if (!qorn::platform::DefaultSynthesizerPrepared()) return;
            waitForSet.stop();
            start();
        });
        form = TFormQorn::CreateShown([&waitForSet, setEarly] {
            if (!setEarly) qorn::platform::PrepareDefaultSynthesizer();
            // Reading the icon's images starts Qt's image readers: not before
            // the first paint. Up to 128 px: the window hands every size to
            // the display server, and larger ones come from the icon theme.
            QIcon icon;
            for (const int size : {32, 48, 64, 128})
                icon.addFile(QStringLiteral(":/qorn/%1x%1/qorn.png").arg(size), QSize(size, size));
            QApplication::setWindowIcon(icon);
            waitForSet.start();
        });
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
