// A private X server for tests that drive the window as a person does, and
// real input into it through the XTEST extension.
#pragma once

#include <QPoint>

#include <string>

struct _XDisplay;

namespace qorn::test {

// Starts Xvfb on a free display and points DISPLAY at it; stops it when
// destroyed. Works as root on a machine without any display.
class PrivateXServer {
  public:
    PrivateXServer();
    ~PrivateXServer();
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    bool Running() const { return pid_ > 0 && !display_.empty(); }
    const std::string& Display() const { return display_; }

  private:
    int pid_ = -1;
    std::string display_;
};

// Real input events through XTEST, on a connection of its own (so a thread
// other than the GUI thread may use it while the GUI thread runs a dialog).
class XInput {
  public:
    XInput();
    ~XInput();
    XInput(const XInput&) = delete;
    XInput& operator=(const XInput&) = delete;
    bool Open() const { return display_ != nullptr; }

    void MoveTo(QPoint global);
    void Click(QPoint global);
    // A key by its X keysym name ("Tab", "space", "Return", "o"), with
    // Control held when `control`.
    void Key(const char* keysymName, bool control = false);
    // Types printable ASCII text.
    void Type(const std::string& text);

  private:
    void PressKeysym(unsigned long keysym, bool control);
    _XDisplay* display_ = nullptr;
};

} // namespace qorn::test
