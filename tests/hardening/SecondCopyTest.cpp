// Starting the player while an earlier copy is on its way out: in the last
// half second of its teardown, the earlier copy no longer holds the guard
// and the new one starts normally; a copy killed outright blocks nothing.
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

class SecondCopyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        env = {"QT_QPA_PLATFORM=offscreen", "QORN_AUDIO_DRIVER=silent", "XDG_RUNTIME_DIR=" + dir.path().toStdString()};
        setenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit().constData(), 1);
        guardPath = qorn::app::InstanceGuard::PathFor(qorn::app::GuardName);
    }
    void Start(qorn::testing::ChildProcess& process) { ASSERT_TRUE(process.start({QORN_EXECUTABLE}, env)); }
    // Whether some process holds the guard, read from the kernel's lock
    // table (a probe lock of our own could turn a starting copy away).
    bool Held() const {
        struct stat info {};
        if (stat(guardPath.c_str(), &info) != 0) return false;
        std::ifstream locks("/proc/locks");
        const std::string inode = ":" + std::to_string(info.st_ino) + " ";
        for (std::string line; std::getline(locks, line);)
            if (line.find("FLOCK") != std::string::npos && line.find(inode) != std::string::npos) return true;
        return false;
    }
    bool WaitHeld(bool held, int timeoutMs) const {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (Held() == held) return true;
            QThread::msleep(2);
        }
        return false;
    }

    QTemporaryDir dir;
    std::vector<std::string> env;
    std::string guardPath;
    qorn::testing::ChildProcess first, second;
};

TEST_F(SecondCopyTest, NewCopyStartsDuringTheFirstCopysFinalHalfSecond) {
    Start(first);
    ASSERT_TRUE(WaitHeld(true, 15000));
    first.signal(SIGTERM); // the user closes the window
    ASSERT_TRUE(WaitHeld(false, 10000));
    // Started at once, while the first copy still tears its window down.
    Start(second);
    const bool firstStillRunning = first.running();
    ASSERT_TRUE(WaitHeld(true, 15000)) << "the new copy never took the guard";
    EXPECT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(second.waitForFinished(500)) << "the new copy left: exit code " << second.exitCode();
    EXPECT_TRUE(second.running());
    std::printf("first copy was %s when the new one started\n", firstStillRunning ? "still running" : "gone");
}

TEST_F(SecondCopyTest, CopyKilledOutrightBlocksNothingWhileACopyThatRunsTurnsTheNextAway) {
    Start(first);
    ASSERT_TRUE(WaitHeld(true, 15000));
    Start(second);
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 255) << "a second copy while one runs leaves with -1";

    first.signal(SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    Start(second);
    ASSERT_TRUE(WaitHeld(true, 15000));
    EXPECT_FALSE(second.waitForFinished(500));
    EXPECT_TRUE(second.running());
}

} // namespace
