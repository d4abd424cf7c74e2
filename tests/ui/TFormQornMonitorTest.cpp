// The end check and the elapsed-time display, on a clock the test moves.
#include "FormFixture.h"

#include "engine/TDMusicEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

// The double's clock counts 100 ns units; the window shows tenths of seconds.
constexpr qorn::platform::REFERENCE_TIME Tenth = 1'000'000;
constexpr qorn::platform::REFERENCE_TIME StartClock = 1000 * Tenth;
const QString Untouched = QStringLiteral("untouched");

class MonitorTest : public FormFixture {
  protected:
    void SetUp() override {
        StartForm();
        platform.SetTime(StartClock);
        Drop({WriteFile("song.sgt")});
        ASSERT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
        ASSERT_EQ(form->PlayStartTime(), StartClock / Tenth);
    }
    // One tick at elapsed time `a`; the text written, or Untouched.
    QString TickAt(std::int64_t a) {
        form->LabelTime->setText(Untouched);
        platform.SetTime(StartClock + a * Tenth);
        form->TimeTimer();
        return form->LabelTime->text();
    }
};

TEST_F(MonitorTest, WritesOncePerWholeSecond) {
    const struct {
        int a;
        const char* shown;
    } ticks[] = {{2, "0:00"},   {5, nullptr},  {7, nullptr}, {10, "0:01"}, {12, nullptr},
                 {15, nullptr}, {17, nullptr}, {20, "0:02"}, {53, "0:05"}};
    for (const auto& tick : ticks) {
        SCOPED_TRACE(tick.a);
        const QString text = TickAt(tick.a);
        EXPECT_EQ(text, tick.shown ? QString::fromLatin1(tick.shown) : Untouched);
    }
    // A late tick sets the next update from the current time.
    EXPECT_EQ(form->NextTimeUpdate(), 60);
}

TEST_F(MonitorTest, TextForElapsedTimes) {
    const struct {
        std::int64_t a;
        const char* shown;
    } cases[] = {{9, "0:00"}, {10, "0:01"}, {599, "0:59"}, {600, "1:00"}, {36000, "60:00"}, {60000, "100:00"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a);
        EXPECT_EQ(TickAt(c.a), QString::fromLatin1(c.shown));
    }
}

TEST_F(MonitorTest, NegativeTimesAreNeverShown) {
    EXPECT_EQ(TickAt(-5), Untouched);
    EXPECT_EQ(TickAt(-2), Untouched);
    EXPECT_EQ(TickAt(-1), QStringLiteral("0:00"));
    EXPECT_EQ(form->NextTimeUpdate(), 10);
}

TEST_F(MonitorTest, TheEndOfThePieceReturnsTheWindowToIdle) {
    TickAt(42);
    const QString last = form->LabelTime->text();
    form->CheckTimer();
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
    platform.EndPiece();
    form->CheckTimer();
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Play"));
    EXPECT_TRUE(form->ComPlay->isEnabled());
    EXPECT_FALSE(form->TimCheck->isActive());
    EXPECT_FALSE(form->TimTime->isActive());
    EXPECT_EQ(form->LabelTime->text(), last);
}

TEST_F(MonitorTest, RunningTimersNoticeTheEndByThemselves) {
    platform.EndPiece();
    QElapsedTimer clock;
    clock.start();
    while (form->TimCheck->isActive() && clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(form->TimCheck->isActive());
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Play"));
}

} // namespace
