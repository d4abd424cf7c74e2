#include "app/render/Batch.h"

#include "app/render/Progress.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qorn::render {

namespace {

// The file, or "FILE: SEGMENT" for a segment of a script or container.
std::string ShownName(const BatchJob& job) {
    const std::string file = std::filesystem::path(job.input).filename().string();
    return job.segment.empty() ? file : file + ": " + job.segment;
}

struct Running {
    const BatchJob* job = nullptr;
    pid_t pid = -1;
    int fd = -1;
    std::string pending;
    double fraction = 0.0;
    double audio = 0.0;
    std::chrono::steady_clock::time_point start;
};

std::string SelfPath() {
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("qorn-render") : p.string();
}

// Starts this program on one file with its stderr on a pipe; false when it cannot.
bool Start(Running& r, const std::string& self, const std::vector<std::string>& options) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args{self, "--batch-child"};
    args.insert(args.end(), options.begin(), options.end());
    if (!r.job->segment.empty()) args.insert(args.end(), {"--segment", r.job->segment});
    args.insert(args.end(), {"--", r.job->input, r.job->output});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], 2);
        execv(self.c_str(), argv.data());
        _exit(127);
    }
    ::close(fds[1]);
    r.pid = pid;
    r.fd = fds[0];
    r.start = std::chrono::steady_clock::now();
    return true;
}

class Screen {
  public:
    explicit Screen(bool live) : live_(live) {}
    // Prints a finished line above the running ones.
    void message(const std::string& text, const std::vector<Running>& running) {
        clear();
        std::fputs(text.c_str(), stderr);
        if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
        draw(running);
    }
    void refresh(const std::vector<Running>& running) {
        if (!live_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        clear();
        draw(running);
    }
    void clear() {
        if (drawn_ > 0) std::fprintf(stderr, "\x1b[%dA\r\x1b[J", drawn_);
        drawn_ = 0;
    }

  private:
    void draw(const std::vector<Running>& running) {
        if (!live_) return;
        const auto now = std::chrono::steady_clock::now();
        for (const Running& r : running) {
            const double elapsed = std::chrono::duration<double>(now - r.start).count();
            const std::string name = ShownName(*r.job);
            std::fprintf(stderr, "%s\n", FormatProgress(name, r.fraction, elapsed, r.audio).c_str());
            ++drawn_;
        }
        std::fflush(stderr);
    }

    bool live_;
    int drawn_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

// Takes the complete lines a process wrote: progress reports or messages.
void TakeLines(Running& r, Screen& screen, const std::vector<Running>& running) {
    std::size_t nl;
    while ((nl = r.pending.find('\n')) != std::string::npos) {
        std::string line = r.pending.substr(0, nl);
        r.pending.erase(0, nl + 1);
        if (!line.empty() && line[0] == kProgressMarker) {
            std::sscanf(line.c_str() + 1, "%lf %lf", &r.fraction, &r.audio);
        } else {
            screen.message(line, running);
        }
    }
}

} // namespace

BatchResult RunBatch(const std::vector<BatchJob>& jobs, const std::vector<std::string>& options, int workers,
                     bool showProgress) {
    BatchResult result;
    const std::string self = SelfPath();
    Screen screen(showProgress);
    std::vector<Running> running;
    std::size_t next = 0;
    while (next < jobs.size() || !running.empty()) {
        while (next < jobs.size() && int(running.size()) < workers) {
            const BatchJob& job = jobs[next++];
            if (job.duplicate) {
                screen.message("qorn-render: " + job.input + ": another input already writes " + job.output, running);
                ++result.failed;
                continue;
            }
            Running r;
            r.job = &job;
            if (!Start(r, self, options)) {
                screen.message("qorn-render: cannot start a process for " + job.input, running);
                ++result.failed;
                continue;
            }
            running.push_back(std::move(r));
        }
        if (running.empty()) continue;
        std::vector<pollfd> fds;
        for (const Running& r : running)
            fds.push_back({r.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
        for (std::size_t i = running.size(); i-- > 0;) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            Running& r = running[i];
            char buffer[4096];
            const ssize_t n = ::read(r.fd, buffer, sizeof buffer);
            if (n > 0) {
                r.pending.append(buffer, std::size_t(n));
                TakeLines(r, screen, running);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            // The process closed its stderr: it has ended.
            ::close(r.fd);
            int status = 0;
            while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (!r.pending.empty()) screen.message(r.pending, running);
            const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - r.start).count();
            const std::string name = ShownName(*r.job);
            const BatchJob& job = *r.job;
            const double audio = r.audio;
            running.erase(running.begin() + std::ptrdiff_t(i));
            if (ok) {
                ++result.rendered;
                if (showProgress) screen.message(FormatProgress(name, 1.0, elapsed, audio) + "  done", running);
            } else {
                ++result.failed;
                if (WIFSIGNALED(status))
                    screen.message("qorn-render: " + job.input + ": the render crashed (" +
                                       strsignal(WTERMSIG(status)) + ")",
                                   running);
                else if (showProgress)
                    screen.message(name + "  failed", running);
            }
        }
        screen.refresh(running);
    }
    screen.clear();
    return result;
}

} // namespace qorn::render
