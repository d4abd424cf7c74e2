// Files that change or turn hostile between the user's choice and the open:
// the window says plainly what went wrong, stays usable, and the next good
// file plays.
#include "PlayerFixture.h"

#include "fileinfo/MidiInfoReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qorn::hardening {
namespace {

namespace fs = std::filesystem;

class FileFaultTest : public PlayerFixture {
  protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        if (IsSkipped()) return;
        StartPlayer();
        ASSERT_TRUE(form->EngineReady());
        idleCaption = Caption();
    }
    // After a failed open: the message, the window as after start-up, and a
    // good file still plays.
    void ExpectFailureThenRecovery(const std::string& message) {
        EXPECT_EQ(FileLabel(), message);
        EXPECT_EQ(Caption(), idleCaption);
        ExpectIdleAndUsable();
        const std::string good = Write("good.mid", SmallMidi());
        Open(good);
        EXPECT_TRUE(Playing()) << FileLabel();
        EXPECT_EQ(Caption(), "Qor_n : good.mid");
        form->StopPlayback();
    }
    std::string idleCaption;
};

struct Change {
    const char* name;
    std::function<void(const std::string& path)> apply;
    const char* message;
    bool needsNonRoot = false;
};

TEST_F(FileFaultTest, FileChangedBetweenChoosingAndOpening) {
    const std::vector<Change> changes = {
        {"deleted", [](const std::string& p) { fs::remove(p); }, "File Not Found"},
        {"replaced by a folder",
         [](const std::string& p) {
             fs::remove(p);
             fs::create_directory(p);
         },
         "File Not Found"},
        {"made unreadable", [](const std::string& p) { ::chmod(p.c_str(), 0); }, "File Not Found", true},
        {"emptied", [](const std::string& p) { fs::resize_file(p, 0); }, "File Open Error"},
        {"cut short", [](const std::string& p) { fs::resize_file(p, 20); }, "File Open Error"},
        {"overwritten with text",
         [](const std::string& p) { std::ofstream(p, std::ios::trunc) << "not music at all\n"; }, "File Open Error"},
        {"replaced by a FIFO",
         [](const std::string& p) {
             fs::remove(p);
             ::mkfifo(p.c_str(), 0600);
         },
         "File Not Found"},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        if (change.needsNonRoot && ::geteuid() == 0) continue; // root reads whatever the mode says
        const std::string path =
            Write(std::string("song-") + std::to_string(&change - changes.data()) + ".mid", SmallMidi());
        Open(path, [&] { change.apply(path); });
        ExpectFailureThenRecovery(change.message);
    }
}

TEST_F(FileFaultTest, ZeroByteFilesOfEveryKindFailPlainly) {
    for (const char* name : {"empty.mid", "empty.sgt", "empty.sgp"}) {
        SCOPED_TRACE(name);
        Drop(Write(name, {}));
        ExpectFailureThenRecovery("File Open Error");
    }
}

// Peak resident memory since the last reset, in bytes.
std::int64_t PeakRss() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return -1;
}
std::int64_t CurrentRss() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return -1;
}
void ResetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// 1 GiB that starts like a Standard MIDI File whose lengths claim nearly
// all of it, and is garbage (holes) after that.
std::string WriteHugeGarbage(const std::string& path) {
    Bytes head = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0x7F, 0xFF, 0xFF, 0xFF};
    // A text event of about 900 MB, then a copyright of about 100 MB.
    for (std::uint8_t b : {0x00, 0xFF, 0x01, 0x83, 0xAD, 0xA2, 0xC0, 0x00})
        head.push_back(b);
    head.insert(head.end(), 2100, 'x');
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return {};
    const bool ok = ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
                    ::ftruncate(fd, off_t(1) << 30) == 0;
    ::close(fd);
    return ok ? path : std::string{};
}

TEST_F(FileFaultTest, GigabyteOfGarbageNamedMidiIsRefusedQuicklyWithBoundedMemory) {
    const std::string path = WriteHugeGarbage(Folder() + "/huge.mid");
    ASSERT_FALSE(path.empty());

    const std::int64_t before = CurrentRss();
    ResetPeakRss();
    const auto t0 = std::chrono::steady_clock::now();
    Drop(path);
    const double openSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const std::int64_t openPeak = PeakRss() - before;
    EXPECT_EQ(FileLabel(), "File Open Error");
    ExpectIdleAndUsable();

    // The information reader on its own walks the claimed lengths by seeking.
    ResetPeakRss();
    const auto t1 = std::chrono::steady_clock::now();
    const fileinfo::MidiTexts texts = fileinfo::ReadMidiTexts(path);
    const double infoSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
    const std::int64_t infoPeak = PeakRss() - before;
    ASSERT_TRUE(texts.text.has_value());
    EXPECT_EQ(texts.text->bytes.size(), fileinfo::MaxMidiTextBytes + 3) << "cut, with \"...\"";

    std::printf("1 GiB garbage: open refused in %.3f s (peak +%lld KiB), info read in %.3f s (peak +%lld KiB)\n",
                openSeconds, static_cast<long long>(openPeak / 1024), infoSeconds,
                static_cast<long long>(infoPeak / 1024));
    EXPECT_LT(openPeak, 64 << 20);
    EXPECT_LT(infoPeak, 64 << 20);
    ExpectFailureThenRecovery("File Open Error");
}

TEST_F(FileFaultTest, FileGrowingWhileItIsOpenedStillPlays) {
    const std::string path = Write("grow.mid", SmallMidi());
    std::atomic<bool> done{false};
    std::thread writer([&] {
        // Another program still writing: garbage keeps arriving at the end.
        std::ofstream out(path, std::ios::binary | std::ios::app);
        const std::string block(4096, '\x5A');
        while (!done) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            out.flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    Open(path);
    done = true;
    writer.join();
    EXPECT_TRUE(Playing()) << FileLabel();
    EXPECT_EQ(Caption(), "Qor_n : grow.mid");
    EXPECT_EQ(form->InfoText1(), "Hardening");
    form->StopPlayback();
    ExpectIdleAndUsable();

    // Opened again at its new size, it is loaded again and still plays.
    Open(path);
    EXPECT_TRUE(Playing()) << FileLabel();
    form->StopPlayback();
}

} // namespace
} // namespace qorn::hardening
