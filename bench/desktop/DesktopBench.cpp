// The real window with the real synthesizer, heard through a private
// PulseAudio null sink.
//   qorn_desktop_bench latency       Play -> first sound (also from a player
//                                    resting after 2 s stopped), volume and
//                                    tempo changes -> heard, dropouts meanwhile
//   qorn_desktop_bench rest          what the player and the server use while
//                                    nothing plays: CPU and wake-ups over 10 s,
//                                    after start-up and after a Stop
//   qorn_desktop_bench startup [ROUNDS [PLAYER]]
//                                    start -> first paint of the window
//                                    beside a bare Qt 6 window, and
//                                    `qorn FILE` -> first sound (of the
//                                    player built here, or PLAYER)
//   qorn_desktop_bench soak SECONDS  random open/drop/play/stop/tempo/volume/
//                                    port/File Info. on files our writers
//                                    make (damaged ones too); exit status 0
//                                    when nothing took over 2 s, no note was
//                                    held after a Stop (from 300 ms on, only
//                                    silence or tails that die away), and
//                                    memory did not grow by 10 %.
#include "bench/desktop/StartupBench.h"
#include "platform/MusicPlatform.h"
#include "platform/audio/PulseAudioOutput.h"
#include "tests/support/MidiFileWriter.h"
#include "tests/support/PrivatePulse.h"
#include "ui/PortComboBox.h"
#include "ui/TFormQorn.h"
#include "ui/TRadioGroup.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using qorn::test::BuildMidiFile;
using qorn::test::TestPiece;
using qorn::testing::Block;
using qorn::testing::Recorder;

constexpr float Sounding = 0.01f; // -40 dBFS
constexpr double BeatSeconds = 0.25;

void Pump(double seconds) {
    const auto end = qorn::testing::Clock::now() + std::chrono::duration<double>(seconds);
    while (qorn::testing::Clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        usleep(1000);
    }
}

std::string WriteFile(const std::filesystem::path& dir, const std::string& name,
                      const std::vector<std::uint8_t>& bytes) {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

// A held organ chord: steady sound with no gaps of its own.
TestPiece Organ(double seconds) {
    TestPiece piece;
    piece.program = 19;
    const auto ticks = static_cast<std::uint32_t>(seconds * 960);
    for (const std::uint8_t key : {48, 55, 60, 64})
        piece.notes.push_back({0, ticks, key, 90, 0});
    return piece;
}

// Short notes on every eighth at 120 beats a minute.
TestPiece Pulses(double seconds) {
    TestPiece piece;
    piece.program = 115; // woodblock: sharp onsets, short decay
    for (std::uint32_t t = 0; t < seconds * 960; t += 240)
        piece.notes.push_back({t, 40, 72, 110, 0});
    return piece;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The first block starting at or after `from` that satisfies `pred`.
template <typename Pred> const Block* FirstAfter(const std::vector<Block>& blocks, double from, Pred pred) {
    for (const Block& b : blocks)
        if (b.start >= from - 0.006 && pred(b)) return &b;
    return nullptr;
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// CPU time and sleeps (each ends in a wake-up) of a process's threads, or
// of those called `thread` only.
struct Usage {
    double cpuSeconds = 0;
    long long sleeps = 0;
};

Usage UsageOf(pid_t pid, const std::string& thread = {}) {
    Usage usage;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (!thread.empty() && name != thread) continue;
        std::ifstream sched(task.path() / "schedstat");
        unsigned long long ns = 0;
        sched >> ns;
        usage.cpuSeconds += double(ns) * 1e-9;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) usage.sleeps += std::atoll(line.c_str() + 24);
    }
    return usage;
}

struct Harness {
    qorn::testing::PrivatePulse pulse;
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<TFormQorn> form;
    std::filesystem::path dir;

    // Without `record` nothing listens to the sink, so that the server's
    // own work can be measured.
    bool Start(bool record = true) {
        if (!pulse.Running()) {
            std::fprintf(stderr, "cannot start pulseaudio\n");
            return false;
        }
        setenv("PULSE_SERVER", pulse.Server().c_str(), 1);
        // Our own client unless another driver is asked for, to compare.
        setenv("QORN_AUDIO_DRIVER", qorn::platform::kPulseNativeDriver, 0);
        if (record) recorder = std::make_unique<Recorder>(pulse.Server());
        if (record && !recorder->Running()) {
            std::fprintf(stderr, "cannot record the null sink\n");
            return false;
        }
        dir = std::filesystem::temp_directory_path() / ("qorn-desktop-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        qorn::platform::RegisterMusicPlatform();
        form = TFormQorn::Create();
        form->show();
        // Where a dialog would block, it answers at once.
        form->OpenDialogRunner = [](QFileDialog&) { return true; };
        Pump(0.5);
        return true;
    }
    ~Harness() {
        form.reset();
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
    bool Playing() const { return form->TimCheck->isActive(); }
    // Until the player's sound-server client thread has not woken for a
    // while, nor the server (unless it records): the player rests, its
    // stream closed. A null sink nobody records serves a new stream only at
    // the end of its idle block (2 s): the wait outlasts that. False after
    // `limit`.
    bool WaitRest(double limit) {
        const double step = recorder ? 0.5 : 2.5;
        for (double waited = 0; waited < limit; waited += step) {
            const Usage client = UsageOf(getpid(), "qorn-pulse"), server = UsageOf(pulse.Pid());
            Pump(step);
            if (UsageOf(getpid(), "qorn-pulse").sleeps == client.sleeps &&
                (recorder || UsageOf(pulse.Pid()).sleeps - server.sleeps <= 2))
                return true;
        }
        return false;
    }
    void WaitSilence() {
        for (int i = 0; i < 200; ++i) {
            const double now = recorder->Now();
            Pump(0.05);
            recorder->WaitUntil(now);
            const auto blocks = recorder->Blocks();
            bool quiet = true;
            for (auto it = blocks.rbegin(); it != blocks.rend() && it->start > now - 0.3; ++it)
                quiet = quiet && it->peak < Sounding;
            if (quiet) return;
        }
    }
};

int Latency() {
    Harness h;
    if (!h.Start()) return 2;
    const std::string organ = WriteFile(h.dir, "organ.mid", BuildMidiFile(Organ(600)));
    const std::string pulses = WriteFile(h.dir, "pulses.mid", BuildMidiFile(Pulses(600)));

    // Play -> first sound, in ms (none when not heard within 0.4 s).
    const auto playToSound = [&h](std::vector<double>& times) {
        const double t0 = h.recorder->Now();
        h.form->ComPlay->click();
        Pump(0.4);
        h.recorder->WaitUntil(t0 + 0.4);
        const auto blocks = h.recorder->Blocks();
        if (const Block* b = FirstAfter(blocks, t0, [](const Block& x) { return x.peak >= Sounding; }))
            times.push_back((b->start - t0) * 1000);
    };
    std::vector<double> play;
    h.form->OpenDroppedFile(organ);
    Pump(1.0);
    for (int trial = 0; trial < 15; ++trial) {
        if (h.Playing()) h.form->ComPlay->click();
        h.WaitSilence();
        playToSound(play);
    }
    // ... and from a player that has rested: stopped for 2 s or more, its
    // output closed.
    std::vector<double> fromRest;
    int rested = 0;
    for (int trial = 0; trial < 6; ++trial) {
        if (h.Playing()) h.form->ComPlay->click();
        Pump(2.0);
        rested += h.WaitRest(8.0);
        playToSound(fromRest);
    }

    // Volume 88 -> 20 (about -20 dB) while the organ holds: heard when the
    // level has fallen by half and stays there. One short block can peak low
    // on its own (the chord's lowest note is longer than a block), so the
    // level is the peak over a lowest-note period.
    std::vector<double> volume;
    Pump(1.0);
    for (int trial = 0; trial < 10; ++trial) {
        h.form->TBVolume->setValue(88);
        Pump(0.8);
        const double t0 = h.recorder->Now();
        h.recorder->WaitUntil(t0);
        float steady = 0;
        for (const Block& b : h.recorder->Blocks())
            if (b.start > t0 - 0.3) steady = std::max(steady, b.peak);
        h.form->TBVolume->setValue(20);
        Pump(0.3);
        h.recorder->WaitUntil(t0 + 0.3);
        const auto blocks = h.recorder->Blocks();
        constexpr std::size_t Period = 4; // 11.6 ms, over the 7.6 ms of C3
        for (std::size_t i = 0; i + Period <= blocks.size(); ++i) {
            if (blocks[i].start < t0 - 0.006) continue;
            float level = 0;
            for (std::size_t j = i; j < i + Period; ++j)
                level = std::max(level, blocks[j].peak);
            if (level < 0.5f * steady) {
                volume.push_back((blocks[i].start - t0) * 1000);
                break;
            }
        }
    }
    h.form->TBVolume->setValue(88);
    // Gaps while the organ held: digital silence with sound on both sides
    // (a start or a stop has sound on one side only).
    int dropouts = 0;
    double heard = 0;
    const auto organBlocks = h.recorder->Blocks();
    for (std::size_t i = 1; i + 1 < organBlocks.size(); ++i) {
        const Block& b = organBlocks[i];
        if (b.peak >= Sounding) heard += double(Recorder::BlockFrames) / qorn::testing::PrivatePulse::Rate;
        if (b.gap && organBlocks[i - 1].peak >= Sounding && organBlocks[i + 1].peak >= Sounding) ++dropouts;
    }

    // Tempo x1.0 -> x2.0 between two pulses: the next pulse comes early by
    // as much as the change was heard in time.
    std::vector<double> tempo;
    h.form->ComPlay->click();
    h.form->OpenDroppedFile(pulses);
    for (int trial = 0; trial < 10; ++trial) {
        h.form->RGTempo->Item(2)->click();
        Pump(1.0 + 0.037 * trial);
        const double t0 = h.recorder->Now();
        h.form->RGTempo->Item(6)->click();
        Pump(0.5);
        h.recorder->WaitUntil(t0 + 0.5);
        const auto blocks = h.recorder->Blocks();
        double previous = -1, next = -1;
        bool was = true;
        for (const Block& b : blocks) {
            const bool loud = b.peak >= 0.05f;
            if (loud && !was) {
                if (b.start < t0)
                    previous = b.start;
                else if (next < 0)
                    next = b.start;
            }
            was = loud;
        }
        // Valid only when the change came before the pulse it shortened.
        if (previous > 0 && next > 0 && next - t0 > 0.04)
            tempo.push_back((2 * next - t0 - previous - BeatSeconds) * 1000);
    }
    h.form->ComPlay->click();

    std::printf("play_to_sound_ms median %.1f (n=%zu, min %.1f, max %.1f)\n", Median(play), play.size(),
                play.empty() ? 0 : *std::min_element(play.begin(), play.end()),
                play.empty() ? 0 : *std::max_element(play.begin(), play.end()));
    std::printf("play_from_rest_ms median %.1f (n=%zu, max %.1f; rested before %d of them)\n", Median(fromRest),
                fromRest.size(), fromRest.empty() ? 0 : *std::max_element(fromRest.begin(), fromRest.end()), rested);
    std::printf("volume_heard_ms median %.1f (n=%zu)\n", Median(volume), volume.size());
    std::printf("tempo_heard_ms median %.1f (n=%zu)\n", Median(tempo), tempo.size());
    std::printf("dropouts %d in %.1f s of sound; server underruns %lld (driver %s)\n", dropouts, heard,
                qorn::platform::PulseAudioUnderruns(), std::getenv("QORN_AUDIO_DRIVER"));
    return 0;
}

// Counts what the window paints.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Lets the event loop run undisturbed (no polling of our own) for `seconds`.
void Idle(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

void MeasureRest(const Harness& h, const char* when, double seconds) {
    PaintCounter painted;
    QApplication::instance()->installEventFilter(&painted);
    const auto t0 = qorn::testing::Clock::now();
    const Usage player0 = UsageOf(getpid()), server0 = UsageOf(h.pulse.Pid());
    Idle(seconds);
    const Usage player1 = UsageOf(getpid()), server1 = UsageOf(h.pulse.Pid());
    const double t = std::chrono::duration<double>(qorn::testing::Clock::now() - t0).count();
    QApplication::instance()->removeEventFilter(&painted);
    std::printf("rest %s, %.0f s: player %.2f %% of a core, %.1f wake-ups/s, %d repaints; "
                "server %.2f %% of a core, %.1f wake-ups/s\n",
                when, t, 100 * (player1.cpuSeconds - player0.cpuSeconds) / t,
                double(player1.sleeps - player0.sleeps) / t, painted.paints,
                100 * (server1.cpuSeconds - server0.cpuSeconds) / t, double(server1.sleeps - server0.sleeps) / t);
}

int Rest() {
    Harness h;
    if (!h.Start(false)) return 2;
    const std::string organ = WriteFile(h.dir, "organ.mid", BuildMidiFile(Organ(600)));
    // Right after start-up, with no file. (The waits for the rest poll;
    // the measurements do not.)
    std::printf("after start-up the player %s\n", h.WaitRest(10.0) ? "rested" : "did NOT rest");
    MeasureRest(h, "after start-up", 10.0);
    // After two seconds of music and a Stop.
    h.form->OpenDroppedFile(organ);
    Idle(2.0);
    if (!h.Playing()) {
        std::fprintf(stderr, "the organ did not play\n");
        return 1;
    }
    h.form->ComPlay->click();
    const auto stopped = qorn::testing::Clock::now();
    const bool rests = h.WaitRest(10.0);
    std::printf("after the stop the player %s after %.1f s\n", rests ? "rested" : "did NOT rest",
                std::chrono::duration<double>(qorn::testing::Clock::now() - stopped).count());
    MeasureRest(h, "after a stop", 10.0);
    return 0;
}

// Damaged copies: cut short, or bytes overwritten at random.
std::vector<std::uint8_t> Damage(std::vector<std::uint8_t> bytes, std::mt19937& random) {
    if (random() % 2 == 0) {
        bytes.resize(std::max<std::size_t>(8, bytes.size() * (random() % 90 + 5) / 100));
    } else {
        for (int i = 0; i < 6; ++i)
            bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

int Soak(double seconds) {
    Harness h;
    if (!h.Start()) return 2;
    std::mt19937 random(
        static_cast<unsigned>(std::getenv("QORN_SOAK_SEED") ? std::atoi(std::getenv("QORN_SOAK_SEED")) : getpid()));
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        TestPiece piece = i % 2 ? Organ(4 + i) : Pulses(3 + i);
        // Instruments that end soon after their note: a pad's long release
        // would sound like a note that did not stop.
        constexpr std::uint8_t ShortRelease[] = {0, 11, 24, 115};
        piece.program = ShortRelease[random() % std::size(ShortRelease)];
        const auto bytes = BuildMidiFile(piece);
        files.push_back(WriteFile(h.dir, "piece" + std::to_string(i) + ".mid", bytes));
        files.push_back(WriteFile(h.dir, "damaged" + std::to_string(i) + ".mid", Damage(bytes, random)));
        // A segment name on bytes that are no segment, and one cut short.
        auto riff = std::vector<std::uint8_t>{'R', 'I', 'F', 'F', 200, 0, 0, 0, 'D', 'M', 'S', 'G'};
        riff.resize(riff.size() + random() % 200, static_cast<std::uint8_t>(random()));
        files.push_back(WriteFile(h.dir, "broken" + std::to_string(i) + ".sgt", riff));
    }

    struct Stop {
        double at;
    };
    std::vector<Stop> stops;
    std::vector<double> starts;                       // moments something may have started sound, or changed its level
    std::vector<std::pair<double, const char*>> done; // every action, for the report
    double slowest = 0;
    std::string slowestAction;
    long rssEarly = 0;
    const double rssMark = std::min(60.0, seconds / 2);
    int actions = 0;
    const double begin = h.recorder->Now();
    while (h.recorder->Now() - begin < seconds) {
        const int kind = static_cast<int>(random() % 9);
        const std::string& file = files[random() % files.size()];
        const char* name = "";
        const double t0 = h.recorder->Now();
        const bool wasPlaying = h.Playing();
        bool listen = false;
        switch (kind) {
        case 0:
            name = "open";
            if (h.form->ComOpen->isEnabled()) {
                h.form->OpenD->selectFile(QFile::decodeName(QByteArray::fromStdString(file)));
                h.form->ComOpen->click();
                starts.push_back(t0);
            }
            break;
        case 1: {
            name = "drop";
            QMimeData data;
            data.setData(QStringLiteral("text/uri-list"),
                         "file://" + QByteArray::fromStdString(file).toPercentEncoding("/") + "\r\n");
            h.form->WMDropFiles(data);
            starts.push_back(t0);
            break;
        }
        case 2:
        case 3:
            name = "play/stop";
            if (h.form->ComPlay->isEnabled()) {
                // A Stop only if the click stopped something: the window
                // toggles on the engine, and a piece that has just ended
                // still shows as playing until the window's next check, so
                // that click starts it again.
                h.form->ComPlay->click();
                if (wasPlaying && !h.Playing()) {
                    stops.push_back({t0});
                    // Half the time the user listens to the silence for a
                    // while, so that the Stop can be judged.
                    listen = random() % 2 == 0;
                } else {
                    starts.push_back(t0);
                }
            }
            break;
        case 4:
            name = "tempo";
            if (h.form->RGTempo->isEnabled()) h.form->RGTempo->Item(static_cast<int>(random() % 7))->click();
            break;
        case 5:
            name = "volume";
            h.form->TBVolume->setValue(static_cast<int>(random() % 128));
            // A louder setting lifts a dying tail too: no decay to judge after it.
            starts.push_back(t0);
            break;
        case 6:
            name = "port";
            if (h.form->CoBInst->isEnabled() && h.form->CoBInst->count() > 0)
                h.form->CoBInst->setCurrentIndex(static_cast<int>(random() % h.form->CoBInst->count()));
            if (h.form->ChBEffect->isEnabled() && random() % 3 == 0) h.form->ChBEffect->click();
            break;
        case 7:
            name = "file info";
            if (h.form->ComInfo->isEnabled()) {
                QTimer::singleShot(100, [] {
                    if (QWidget* box = QApplication::activeModalWidget()) box->close();
                });
                h.form->ComInfo->click();
            }
            break;
        default:
            name = "wait";
            break;
        }
        done.emplace_back(t0, name);
        const double took = h.recorder->Now() - t0;
        if (took > slowest) {
            slowest = took;
            slowestAction = name;
        }
        ++actions;
        Pump(listen ? 1.4 : 0.05 + double(random() % 700) / 1000.0);
        if (rssEarly == 0 && h.recorder->Now() - begin >= rssMark) rssEarly = ResidentKiB();
    }
    if (h.Playing()) {
        const double t0 = h.recorder->Now();
        h.form->ComPlay->click();
        if (h.Playing()) {
            starts.push_back(t0);
            h.form->ComPlay->click();
        }
        stops.push_back({h.recorder->Now()});
    }
    Pump(1.5);
    const long rssEnd = ResidentKiB();
    h.recorder->WaitUntil(h.recorder->Now() - 0.1);
    const auto blocks = h.recorder->Blocks();

    // Over the second from 300 ms after each Stop, unless anything could
    // start sound meanwhile: silence, or a tail that keeps falling (the
    // reverb and the release of the last notes: each quarter of the second
    // quieter than the one before, by 10 dB or to silence in all); a note
    // still held does not, however soft.
    int heldNotes = 0, tails = 0, checked = 0;
    auto peakIn = [&](double from, double to) {
        float peak = 0;
        for (const Block& b : blocks)
            if (b.start >= from && b.start + 0.003 < to) peak = std::max(peak, b.peak);
        return peak;
    };
    constexpr float Silent = 3e-5f; // -90 dBFS
    for (const Stop& s : stops) {
        const double from = s.at + 0.3, until = from + 1.0;
        if (std::any_of(starts.begin(), starts.end(), [&](double st) { return st > s.at && st < until; })) continue;
        ++checked;
        float level[4];
        bool falling = true;
        for (int q = 0; q < 4; ++q) {
            level[q] = peakIn(from + 0.25 * q, from + 0.25 * (q + 1));
            if (q > 0) falling = falling && (level[q] < level[q - 1] || level[q] < Silent);
        }
        if (level[0] < Silent) continue;
        if (falling && (level[3] < Silent || level[3] < level[0] * 0.316f)) {
            ++tails;
            continue;
        }
        ++heldNotes;
        const auto dbfs = [](float peak) { return 20 * std::log10(std::max(peak, 1e-9f)); };
        std::printf("a note held after the Stop at %.2f s (%.0f, %.0f, %.0f, %.0f dBFS over the second from "
                    "300 ms on); actions then:",
                    s.at, double(dbfs(level[0])), double(dbfs(level[1])), double(dbfs(level[2])),
                    double(dbfs(level[3])));
        for (const auto& [at, what] : done)
            if (at >= s.at - 1.0 && at < until) std::printf(" %s at %.2f s;", what, at);
        std::printf("\n");
    }
    const double growth = rssEarly > 0 ? double(rssEnd - rssEarly) / double(rssEarly) : 0;
    std::printf("actions %d in %.0f s; slowest %.0f ms (%s)\n", actions, seconds, slowest * 1000,
                slowestAction.c_str());
    std::printf("stops %zu, checked %d: %d silent, %d tails dying away, %d notes held\n", stops.size(), checked,
                checked - tails - heldNotes, tails, heldNotes);
    std::printf("rss %ld KiB at %.0f s, %ld KiB at the end (%+.1f %%)\n", rssEarly, rssMark, rssEnd, growth * 100);
    const bool ok = slowest <= 2.0 && heldNotes == 0 && growth <= 0.10;
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string mode = argc > 1 ? argv[1] : "latency";
    QApplication app(argc, argv);
    if (mode == "latency") return Latency();
    if (mode == "rest") return Rest();
    if (mode == "startup")
        return qorn::bench::Startup(argc > 3 ? argv[3] : QORN_EXECUTABLE, QORN_BARE_WINDOW,
                                    argc > 2 ? std::atoi(argv[2]) : 10);
    if (mode == "soak") return Soak(argc > 2 ? std::atof(argv[2]) : 600.0);
    std::fprintf(stderr, "usage: %s latency | rest | startup [ROUNDS [PLAYER]] | soak SECONDS\n", argv[0]);
    return 2;
}
