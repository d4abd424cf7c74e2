// Files handed from a second copy to the running one: a local socket beside
// the single-instance lock. The running copy listens; a copy that finds the
// lock taken sends its file there and ends.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace qorn::app {

// The socket's path for the guard named `guardName`.
std::string HandOffSocketPath(const std::string& guardName);

class FileHandOffServer : public QObject {
  public:
    // GUI thread: `onFile` gets each path received, as the file system's bytes.
    explicit FileHandOffServer(std::function<void(const std::string&)> onFile);
    ~FileHandOffServer() override;

    // Call only while holding the guard: a socket left by a dead copy is
    // removed first. False when nothing could listen.
    bool Listen(const std::string& socketPath);

  private:
    void Accept();

    std::function<void(const std::string&)> onFile_;
    std::unique_ptr<QLocalServer> server_;
};

// Sends `path` (made absolute against the current folder) to the copy that
// listens on `socketPath`; false when none took it within `timeoutMs`.
bool HandFileToRunningCopy(const std::string& socketPath, const std::string& path, int timeoutMs);

} // namespace qorn::app
