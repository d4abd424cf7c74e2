// Start-up as the user sees it, on a private X server and sound server:
// start -> first paint of the player's window beside a bare Qt 6 window
// (interleaved runs), and `qorn FILE` -> first sound.
#include "bench/desktop/StartupBench.h"

#include "tests/desktop/XDisplay.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MidiFileWriter.h"
#include "tests/support/PrivatePulse.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qorn::bench {

namespace {

using qorn::testing::ChildProcess;
using qorn::testing::Clock;

double Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Ends a child as the desktop does (the player closes its window and shuts
// its engine down on SIGTERM), killing it when it does not.
void End(ChildProcess& child) {
    child.signal(SIGTERM);
    if (!child.waitForFinished(3000)) child.kill();
}

struct Times {
    double mapped = -1;
    double painted = -1;
};

// Watches the new top-level windows of the display: when the first is
// mapped and when anything is first drawn into one (XDamage), timed from
// the child's start.
class PaintWatch {
  public:
    PaintWatch() : display_(XOpenDisplay(nullptr)) {
        int error = 0;
        if (display_ != nullptr && !XDamageQueryExtension(display_, &damageEvent_, &error)) {
            XCloseDisplay(display_);
            display_ = nullptr;
        }
        if (display_ != nullptr) XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    }
    ~PaintWatch() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool Open() const { return display_ != nullptr; }

    Times Run(ChildProcess& child, const std::vector<std::string>& args, const std::vector<std::string>& env) {
        XSync(display_, True); // forget what earlier runs left
        Times times;
        std::vector<Damage> damages;
        const auto t0 = Clock::now();
        child.start(args, env, "/tmp/qorn-startup-bench.log");
        const auto deadline = t0 + std::chrono::seconds(10);
        while (times.painted < 0 && Clock::now() < deadline && child.running()) {
            if (XPending(display_) == 0) {
                pollfd fd{ConnectionNumber(display_), POLLIN, 0};
                poll(&fd, 1, 5);
                continue;
            }
            XEvent event;
            XNextEvent(display_, &event);
            const auto now = Clock::now();
            if (event.type == CreateNotify) {
                damages.push_back(XDamageCreate(display_, event.xcreatewindow.window, XDamageReportNonEmpty));
            } else if (event.type == MapNotify && times.mapped < 0) {
                times.mapped = Ms(t0, now);
            } else if (event.type == damageEvent_ + XDamageNotify) {
                times.painted = Ms(t0, now);
            }
        }
        End(child);
        // The windows are gone with their client, and their damage objects with them.
        XSync(display_, True);
        return times;
    }

  private:
    Display* display_;
    int damageEvent_ = 0;
};

std::string RuntimeDir() {
    char dir[] = "/tmp/qorn-startup-XXXXXX";
    return mkdtemp(dir) != nullptr ? dir : "/tmp";
}

} // namespace

int Startup(const std::string& player, const std::string& bare, int rounds) {
    qorn::test::PrivateXServer x;
    qorn::testing::PrivatePulse pulse;
    if (!x.Running() || !pulse.Running()) {
        std::fprintf(stderr, "cannot start Xvfb or pulseaudio\n");
        return 2;
    }
    PaintWatch watch;
    if (!watch.Open()) {
        std::fprintf(stderr, "no XDamage on the private display\n");
        return 2;
    }
    // Each run on its own runtime folder: no copy of the player already
    // running, as at a fresh start.
    const std::string runtime = RuntimeDir();
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x.Display(),
                                          "PULSE_SERVER=" + pulse.Server(), "XDG_RUNTIME_DIR=" + runtime};
    std::vector<double> bareMapped, barePainted, playerMapped, playerPainted;
    ChildProcess child;
    // One of each first, uncounted: the page cache warms up.
    watch.Run(child, {bare}, env);
    watch.Run(child, {player}, env);
    std::vector<double> ratios; // each round's player against its own bare window
    for (int round = 0; round < rounds; ++round) {
        const Times b = watch.Run(child, {bare}, env);
        const Times p = watch.Run(child, {player}, env);
        if (b.painted >= 0) barePainted.push_back(b.painted);
        if (b.mapped >= 0) bareMapped.push_back(b.mapped);
        if (p.painted >= 0) playerPainted.push_back(p.painted);
        if (p.mapped >= 0) playerMapped.push_back(p.mapped);
        if (b.painted > 0 && p.painted >= 0) ratios.push_back(p.painted / b.painted);
    }
    const auto least = [](const std::vector<double>& v) {
        return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
    };
    std::printf("start_to_map_ms bare %.1f, player %.1f (medians of %d)\n", Median(bareMapped), Median(playerMapped),
                rounds);
    std::printf("start_to_first_paint_ms bare %.1f (n=%zu, min %.1f), player %.1f (n=%zu, min %.1f, max %.1f)\n",
                Median(barePainted), barePainted.size(), least(barePainted), Median(playerPainted),
                playerPainted.size(), least(playerPainted),
                playerPainted.empty() ? 0 : *std::max_element(playerPainted.begin(), playerPainted.end()));
    if (Median(barePainted) > 0)
        std::printf("start_to_first_paint ratio %.2fx the bare window (medians), %.2fx (median of the rounds' "
                    "ratios), %.2fx (minima)\n",
                    Median(playerPainted) / Median(barePainted), Median(ratios),
                    least(barePainted) > 0 ? least(playerPainted) / least(barePainted) : 0.0);

    // `qorn FILE` -> first sound: a held organ chord.
    qorn::testing::Recorder recorder(pulse.Server());
    if (!recorder.Running()) {
        std::fprintf(stderr, "cannot record the null sink\n");
        return 2;
    }
    qorn::test::TestPiece organ;
    organ.program = 19;
    for (const std::uint8_t key : {48, 55, 60, 64})
        organ.notes.push_back({0, 960 * 60, key, 90, 0});
    const std::string file = runtime + "/organ.mid";
    const auto bytes = qorn::test::BuildMidiFile(organ);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::vector<double> sound;
    for (int round = 0; round < std::max(3, rounds / 2); ++round) {
        const double t0 = recorder.Now();
        child.start({player, file}, env, "/tmp/qorn-startup-bench.log");
        for (double waited = 0; waited < 10 && child.running(); waited += 0.05) {
            recorder.WaitUntil(recorder.Now() + 0.05);
            const auto blocks = recorder.Blocks();
            const auto heard = std::find_if(blocks.begin(), blocks.end(), [t0](const qorn::testing::Block& b) {
                return b.start >= t0 && b.peak >= 0.01f;
            });
            if (heard != blocks.end()) {
                sound.push_back((heard->start - t0) * 1000);
                break;
            }
        }
        End(child);
        usleep(300000); // the last notes' tail out of the sink
    }
    std::printf("qorn_file_to_first_sound_ms median %.1f (n=%zu)\n", Median(sound), sound.size());
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
    return 0;
}

} // namespace qorn::bench
