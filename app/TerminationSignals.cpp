#include "app/TerminationSignals.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace qorn::app {

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
    // Only async-signal-safe work here: wake the event loop.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, sig);
    return set;
}

// Lets held signals through once the handler (or the default action, when
// no handler could be set) is in place.
struct LetSignalsThrough {
    ~LetSignalsThrough() {
        const sigset_t set = TerminationSet();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
};

} // namespace

void HoldTerminationSignals() {
    const sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void CloseWindowsOnTerminationSignals() {
    const LetSignalsThrough unblock;
    if (signalPipe[0] >= 0) return;
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char drained[16];
        while (read(signalPipe[0], drained, sizeof drained) > 0) {
        }
        QApplication::closeAllWindows();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
}

} // namespace qorn::app
