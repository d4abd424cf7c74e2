#include "fileinfo/BoundedFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorn::fileinfo {
namespace {
constexpr std::size_t BufferBytes = 64 * 1024;
} // namespace

bool BoundedFile::Open(const std::string& path) {
    Close();
    if (path.empty()) return false;
    // Non-blocking so that a FIFO cannot hold the GUI thread in open().
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(end);
    pos_ = 0;
    bufPos_ = bufLen_ = 0;
    return true;
}

void BoundedFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = pos_ = 0;
    bufPos_ = bufLen_ = 0;
    buffer_.clear();
    buffer_.shrink_to_fit();
}

void BoundedFile::ToEnd() {
    pos_ = size_;
    bufPos_ = bufLen_ = 0;
}

bool BoundedFile::Fill() {
    if (fd_ < 0 || pos_ >= size_) return false;
    if (buffer_.empty()) buffer_.resize(BufferBytes);
    std::uint64_t want = size_ - pos_;
    if (want > buffer_.size()) want = buffer_.size();
    ssize_t got = -1;
    do {
        got = ::pread(fd_, buffer_.data(), static_cast<std::size_t>(want), static_cast<off_t>(pos_));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        // Shrunk since it was opened, or unreadable: this is its end now.
        ToEnd();
        return false;
    }
    bufPos_ = 0;
    bufLen_ = static_cast<std::size_t>(got);
    return true;
}

bool BoundedFile::ReadByte(std::uint8_t& b) {
    if (bufPos_ >= bufLen_ && !Fill()) return false;
    b = buffer_[bufPos_++];
    ++pos_;
    return true;
}

bool BoundedFile::ReadBytes(std::uint64_t n, std::string& out) {
    if (n > Left()) {
        ToEnd();
        return false;
    }
    out.reserve(out.size() + static_cast<std::size_t>(n));
    while (n > 0) {
        if (bufPos_ >= bufLen_ && !Fill()) return false;
        std::size_t chunk = bufLen_ - bufPos_;
        if (chunk > n) chunk = static_cast<std::size_t>(n);
        out.append(reinterpret_cast<const char*>(buffer_.data() + bufPos_), chunk);
        bufPos_ += chunk;
        pos_ += chunk;
        n -= chunk;
    }
    return true;
}

bool BoundedFile::Skip(std::uint64_t n) {
    if (n > Left()) {
        ToEnd();
        return false;
    }
    const std::size_t inBuffer = bufLen_ - bufPos_;
    if (n <= inBuffer) {
        bufPos_ += static_cast<std::size_t>(n);
    } else {
        bufPos_ = bufLen_ = 0; // the next read refills at the new position
    }
    pos_ += n;
    return true;
}

} // namespace qorn::fileinfo
