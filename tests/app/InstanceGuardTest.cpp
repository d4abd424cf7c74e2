// The guard's open/create/release/close steps against other holders.
#include "app/InstanceGuard.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using qorn::app::InstanceGuard;

class InstanceGuardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        saved = old ? old : "";
        hadOld = old != nullptr;
        setenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override {
        if (hadOld)
            setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }
    QTemporaryDir dir;
    std::string saved;
    bool hadOld = false;
};

TEST_F(InstanceGuardTest, LivesInTheRuntimeFolder) {
    EXPECT_EQ(InstanceGuard::PathFor("DMusic_Seg.Play_Qor_n"),
              dir.path().toStdString() + "/DMusic_Seg.Play_Qor_n.lock");
}

TEST_F(InstanceGuardTest, FallsBackToAPerUserTemporaryFile) {
    unsetenv("XDG_RUNTIME_DIR");
    const std::string path = InstanceGuard::PathFor("g");
    EXPECT_NE(path.find("/g-"), std::string::npos);
    EXPECT_NE(path.find(".lock"), std::string::npos);
}

TEST_F(InstanceGuardTest, SecondHolderFindsTheFirst) {
    InstanceGuard first(qorn::app::GuardName);
    EXPECT_FALSE(first.OpenExisting());
    EXPECT_TRUE(first.Create());
    EXPECT_TRUE(first.Owned());

    InstanceGuard second(qorn::app::GuardName);
    EXPECT_TRUE(second.OpenExisting());
    second.Close();
    EXPECT_FALSE(second.Create());
    second.Close();

    first.Release();
    first.Close();
    InstanceGuard third(qorn::app::GuardName);
    EXPECT_FALSE(third.OpenExisting());
    EXPECT_TRUE(third.Create());
}

TEST_F(InstanceGuardTest, DestroyedGuardFreesTheName) {
    {
        InstanceGuard held(qorn::app::GuardName);
        ASSERT_FALSE(held.OpenExisting());
        ASSERT_TRUE(held.Create());
    }
    InstanceGuard next(qorn::app::GuardName);
    EXPECT_FALSE(next.OpenExisting());
}

TEST_F(InstanceGuardTest, OtherNamesDoNotCollide) {
    InstanceGuard one("one");
    ASSERT_TRUE(one.Create());
    InstanceGuard two("two");
    EXPECT_FALSE(two.OpenExisting());
}

} // namespace
