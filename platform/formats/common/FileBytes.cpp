#include "platform/formats/common/FileBytes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorn::formats {
namespace {

class FileHandle {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

} // namespace

FileReadResult ReadFileBytes(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
    out.clear();
    // Non-blocking, so a FIFO put in the file's place cannot hold the caller in open().
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return FileReadResult::NotOpened;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileReadResult::NotOpened;
    if (std::uint64_t(st.st_size) > maxBytes) return FileReadResult::TooLarge;
    out.resize(std::size_t(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(file.get(), out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FileReadResult::NotOpened;
        if (n == 0) break; // the file shrank while we read it
        got += std::size_t(n);
    }
    out.resize(got);
    return FileReadResult::Ok;
}

} // namespace qorn::formats
