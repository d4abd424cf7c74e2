// Two real copies of the program: the second leaves at once with 255, and a
// copy killed outright does not block the next start.
#include "app/InstanceGuard.h"
#include "tests/support/ChildProcess.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        env = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir.path().toStdString()};
        setenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit().constData(), 1);
    }
    // The program, with a file on its command line when one is named.
    void Start(qorn::testing::ChildProcess& process, const std::string& file = {}) {
        std::vector<std::string> args{QORN_EXECUTABLE};
        if (!file.empty()) args.push_back(file);
        ASSERT_TRUE(process.start(args, env));
    }
    // True once some process holds the guard in the test's folder. Read from
    // the kernel's lock table: probing with a lock of our own could make a
    // copy that is starting just then believe another one runs.
    static bool Held() {
        const std::string path = qorn::app::InstanceGuard::PathFor(qorn::app::GuardName);
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) return false;
        std::ifstream locks("/proc/locks");
        const std::string inode = ":" + std::to_string(info.st_ino) + " ";
        for (std::string line; std::getline(locks, line);)
            if (line.find("FLOCK") != std::string::npos && line.find(inode) != std::string::npos) return true;
        return false;
    }
    static bool GuardHeld(int timeoutMs, bool held = true) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (Held() == held) return true;
            QThread::msleep(5);
        }
        return false;
    }

    QTemporaryDir dir;
    std::vector<std::string> env;
    qorn::testing::ChildProcess first, second, third;
};

TEST_F(SingleInstanceTest, SecondCopyExitsWith255AndKilledCopyDoesNotBlock) {
    Start(first);
    ASSERT_TRUE(GuardHeld(15000));

    Start(second);
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_TRUE(second.exitedNormally());
    EXPECT_EQ(second.exitCode(), 255);
    EXPECT_TRUE(first.running());

    first.signal(SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));

    // A file on the command line is ignored; the copy starts as usual.
    Start(third, "song.mid");
    ASSERT_TRUE(GuardHeld(15000));
    EXPECT_FALSE(third.waitForFinished(1000));
    EXPECT_TRUE(third.running());
}

TEST_F(SingleInstanceTest, GuardIsGoneBeforeTheWindowIsTornDown) {
    Start(first);
    ASSERT_TRUE(GuardHeld(15000));
    QElapsedTimer clock;
    clock.start();
    // Closes the window as the user would.
    first.signal(SIGTERM);
    ASSERT_TRUE(GuardHeld(10000, false));
    const qint64 released = clock.elapsed();
    // The window's teardown (stop, 300 ms, engine shutdown, 200 ms) follows.
    EXPECT_TRUE(first.running());
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_TRUE(first.exitedNormally());
    EXPECT_EQ(first.exitCode(), 0);
    std::printf("guard released %lld ms after the stop request, process ended after %lld ms\n",
                static_cast<long long>(released), static_cast<long long>(clock.elapsed()));

    // A new copy may start during that teardown.
    Start(second);
    ASSERT_TRUE(GuardHeld(15000));
    EXPECT_FALSE(second.waitForFinished(500));
}

} // namespace
