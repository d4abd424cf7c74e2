// A file written under a temporary name beside its final one, which it
// takes only when committed: a failed write never leaves a half file under
// the name asked for.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qorn::render {

class TempFile {
  public:
    // error() is set when the file cannot be made.
    explicit TempFile(std::string finalPath) : final_(std::move(finalPath)) {
        const std::filesystem::path target(final_);
        const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
        std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
        fd_ = mkstemp(pattern.data());
        if (fd_ < 0) {
            error_ = "cannot write " + final_ + ": " + std::strerror(errno);
            return;
        }
        temp_ = pattern;
        // mkstemp makes the file private; the result gets the usual permissions.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!temp_.empty()) ::unlink(temp_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const std::string& error() const { return error_; }
    // Sets the error from errno of a failed write.
    bool fail(const std::string& why) {
        error_ = "cannot write " + final_ + ": " + why;
        return false;
    }
    // Writes all of `data`; false, with the error set, when the disk refuses.
    bool write(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd_, bytes + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return fail(n < 0 ? std::strerror(errno) : "the disk is full");
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Closes the file (its last errors show there) and gives it its final name.
    bool commit() {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return fail(std::strerror(errno));
        if (std::rename(temp_.c_str(), final_.c_str()) != 0) return fail(std::strerror(errno));
        temp_.clear();
        return true;
    }

  private:
    std::string final_;
    std::string temp_;
    std::string error_;
    int fd_ = -1;
};

} // namespace qorn::render
