#include "app/FileHandOff.h"

#include "app/InstanceGuard.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <memory>

#include <cstdint>

namespace qorn::app {

namespace {

// A path is sent as a 4-byte little-endian length and its bytes; longer
// than any path the system accepts is refused.
constexpr std::uint32_t MaxPathBytes = 4096;
constexpr int ReadTimeoutMs = 2000;

QByteArray Frame(const QByteArray& path) {
    const auto n = static_cast<std::uint32_t>(path.size());
    QByteArray frame;
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(static_cast<char>((n >> shift) & 0xFF));
    return frame + path;
}

} // namespace

std::string HandOffSocketPath(const std::string& guardName) {
    std::string path = InstanceGuard::PathFor(guardName);
    const std::string lockSuffix = ".lock";
    if (path.size() > lockSuffix.size() &&
        path.compare(path.size() - lockSuffix.size(), lockSuffix.size(), lockSuffix) == 0)
        path.resize(path.size() - lockSuffix.size());
    return path + ".sock";
}

FileHandOffServer::FileHandOffServer(std::function<void(const std::string&)> onFile)
    : onFile_(std::move(onFile)), server_(std::make_unique<QLocalServer>()) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, [this] { Accept(); });
}

FileHandOffServer::~FileHandOffServer() {
    server_->close();
}

bool FileHandOffServer::Listen(const std::string& socketPath) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(socketPath));
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

void FileHandOffServer::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The whole message or nothing; a sender that stalls is dropped.
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (buffer->size() < 4) return;
            std::uint32_t n = 0;
            for (int i = 0; i < 4; ++i)
                n |= std::uint32_t(static_cast<unsigned char>((*buffer)[i])) << (8 * i);
            if (n == 0 || n > MaxPathBytes) {
                socket->abort();
                return;
            }
            if (static_cast<std::uint32_t>(buffer->size()) < 4 + n) return;
            const std::string path = buffer->mid(4, static_cast<qsizetype>(n)).toStdString();
            buffer->clear();
            socket->write("\1");
            socket->disconnectFromServer();
            // Opened from the event loop, as a drop is, not inside this read.
            QTimer::singleShot(0, this, [this, path] {
                if (onFile_) onFile_(path);
            });
        });
        QTimer::singleShot(ReadTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

bool HandFileToRunningCopy(const std::string& socketPath, const std::string& path, int timeoutMs) {
    const QString file = QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).absoluteFilePath();
    const QByteArray bytes = QFile::encodeName(file);
    if (bytes.isEmpty() || static_cast<std::uint32_t>(bytes.size()) > MaxPathBytes) return false;
    const QString name = QFile::decodeName(QByteArray::fromStdString(socketPath));
    // The running copy may be starting: it listens soon after taking the lock.
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
            socket.write(Frame(bytes));
            if (!socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
                return false;
            // The answer says the file was taken.
            return socket.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))) &&
                   socket.read(1) == "\1";
        }
        QThread::msleep(50);
    }
    return false;
}

} // namespace qorn::app
