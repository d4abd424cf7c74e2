// A program a test or benchmark starts beside itself: another copy of the
// player, a sound server. Started with fork and exec, never QProcess:
// QProcess starts children with a vfork-style clone that ThreadSanitizer does
// not intercept, so the child runs on the main thread's ThreadSanitizer state,
// and afterwards the tool lost the ordering of that thread's writes and
// reported races on data handed to the audio threads that were not there.
// Killed and reaped when it goes out of scope.
#pragma once

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qorn::testing {

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { kill(); }

    // Runs args[0] (a path, or a name looked up on PATH) with the test's
    // environment plus `env` (NAME=value entries, which win); a child still
    // running from an earlier start is killed first. Its standard error goes
    // to `stderrPath`, its output nowhere, so a child left behind cannot hold
    // the test runner's pipe open; it is killed if the test dies.
    bool start(std::vector<std::string> args, const std::vector<std::string>& env = {},
               const std::string& stderrPath = "/dev/null") {
        kill();
        if (args.empty()) return false;
        // Everything the child needs is built here: between fork and exec only
        // async-signal-safe calls are allowed.
        std::vector<std::string> entries;
        for (char** e = environ; *e != nullptr; ++e) {
            const char* eq = std::strchr(*e, '=');
            const std::string name(*e, eq != nullptr ? std::size_t(eq - *e) : std::strlen(*e));
            bool overridden = false;
            for (const auto& mine : env)
                overridden = overridden || mine.compare(0, name.size() + 1, name + "=") == 0;
            if (!overridden) entries.emplace_back(*e);
        }
        entries.insert(entries.end(), env.begin(), env.end());
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : entries)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const pid_t parent = ::getpid();

        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            const int out = ::open("/dev/null", O_WRONLY);
            const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0) ::dup2(out, STDOUT_FILENO);
            if (err >= 0) ::dup2(err, STDERR_FILENO);
            ::execvpe(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        status_ = 0;
        return pid_ > 0;
    }

    bool running() { return pid_ > 0 && !reap(WNOHANG); }
    // The child's process id while it has not been reaped, else -1.
    pid_t pid() const { return pid_; }

    // True once the child has ended, within `timeoutMs`.
    bool waitForFinished(int timeoutMs) {
        if (pid_ <= 0) return true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!reap(WNOHANG)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // The exit code of a child that has ended by itself; -1 if a signal ended it.
    int exitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
    bool exitedNormally() const { return WIFEXITED(status_); }

    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        reap(0);
    }

  private:
    // Whether the child has ended (and is reaped now).
    bool reap(int flags) {
        if (pid_ <= 0) return true;
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, flags);
        if (r == 0) return false;
        if (r == pid_) status_ = status;
        pid_ = -1;
        return true;
    }

    pid_t pid_ = -1;
    int status_ = 0;
};

} // namespace qorn::testing
