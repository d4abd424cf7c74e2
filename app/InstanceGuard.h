// The single-instance guard: a named lock per user session that the system
// frees when its holder dies, so a crashed copy never blocks the next start.
// Its steps mirror a named mutex: look for an existing one, create and own
// it, release it, close it.
#pragma once

#include <string>

namespace qorn::app {

inline constexpr const char* GuardName = "DMusic_Seg.Play_Qor_n";

class InstanceGuard {
  public:
    // The lock lives in $XDG_RUNTIME_DIR (else the temporary directory).
    explicit InstanceGuard(const std::string& name);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // True when another process holds the guard; Close() then drops the
    // handle obtained. When nobody holds it, the lock is kept for Create().
    bool OpenExisting();
    // Takes and owns the guard; false when that failed (the caller may run
    // without it).
    bool Create();
    // Gives up ownership.
    void Release();
    // Drops the handle.
    void Close();

    bool Owned() const { return owned_; }
    const std::string& Path() const { return path_; }

    // Where the guard named `name` lives for this user.
    static std::string PathFor(const std::string& name);

  private:
    bool OpenFile();
    bool TryLock();

    std::string path_;
    int fd_ = -1;
    bool owned_ = false;
};

} // namespace qorn::app
