#include "app/InstanceGuard.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qorn::app {

std::string InstanceGuard::PathFor(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && access(runtime, W_OK | X_OK) == 0)
        return std::string(runtime) + "/" + name + ".lock";
    // The temporary directory is shared by all users: keep one lock per user.
    const char* temp = std::getenv("TMPDIR");
    const std::string dir = (temp != nullptr && temp[0] == '/') ? temp : "/tmp";
    return dir + "/" + name + "-" + std::to_string(getuid()) + ".lock";
}

InstanceGuard::InstanceGuard(const std::string& name) : path_(PathFor(name)) {}

InstanceGuard::~InstanceGuard() {
    Release();
    Close();
}

bool InstanceGuard::OpenFile() {
    if (fd_ >= 0) return true;
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return fd_ >= 0;
}

bool InstanceGuard::TryLock() {
    int rc;
    do {
        rc = flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool InstanceGuard::OpenExisting() {
    if (owned_) return false;
    if (!OpenFile()) return false;
    if (TryLock()) {
        // Nobody holds it: keep the lock, so no other copy can slip in
        // between this look and Create().
        owned_ = true;
        return false;
    }
    return errno == EWOULDBLOCK;
}

bool InstanceGuard::Create() {
    if (owned_) return true;
    if (!OpenFile()) return false;
    owned_ = TryLock();
    return owned_;
}

void InstanceGuard::Release() {
    if (owned_ && fd_ >= 0) flock(fd_, LOCK_UN);
    owned_ = false;
}

void InstanceGuard::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    owned_ = false;
}

} // namespace qorn::app
