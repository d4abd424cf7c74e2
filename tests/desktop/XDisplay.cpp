#include "tests/desktop/XDisplay.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qorn::test {

using namespace std::chrono_literals;

PrivateXServer::PrivateXServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    // Xvfb picks a free display itself and writes its number to the pipe.
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args = {"Xvfb",         "-displayfd", fd,    "-screen", "0",
                                     "1280x1024x24", "-nolisten",  "tcp", "-ac"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    // Nothing of the test's output goes to the server: were the test to die,
    // a server still holding it would keep the test runner waiting.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return;
    }
    pid_ = pid;
    std::string number;
    char c = 0;
    // A busy machine may take a while to start the server.
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
}

PrivateXServer::~PrivateXServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(10ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

XInput::XInput() : display_(XOpenDisplay(nullptr)) {
    int event = 0, error = 0, major = 0, minor = 0;
    if (display_ != nullptr && !XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        XCloseDisplay(display_);
        display_ = nullptr;
    }
}

XInput::~XInput() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

void XInput::MoveTo(QPoint global) {
    XTestFakeMotionEvent(display_, -1, global.x(), global.y(), CurrentTime);
    XSync(display_, False);
    std::this_thread::sleep_for(30ms);
}

void XInput::Click(QPoint global) {
    MoveTo(global);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XSync(display_, False);
    std::this_thread::sleep_for(40ms);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
    std::this_thread::sleep_for(40ms);
}

void XInput::PressKeysym(unsigned long keysym, bool control) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code == 0) return;
    // Shift when the symbol is not on the key's first level.
    const bool shift = XkbKeycodeToKeysym(display_, code, 0, 0) != keysym;
    const KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
    const KeyCode controlCode = XKeysymToKeycode(display_, XK_Control_L);
    if (control) XTestFakeKeyEvent(display_, controlCode, True, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, controlCode, False, CurrentTime);
    XSync(display_, False);
    std::this_thread::sleep_for(25ms);
}

void XInput::Key(const char* keysymName, bool control) {
    PressKeysym(XStringToKeysym(keysymName), control);
}

void XInput::Type(const std::string& text) {
    // Printable ASCII has keysyms equal to its code.
    for (const char c : text)
        PressKeysym(static_cast<unsigned char>(c), false);
}

} // namespace qorn::test
