// The window driven by real X input, as a person drives it: the open dialog
// accepted with Return, the keyboard alone, and the port list opened.
#include "tests/desktop/XDisplay.h"
#include "tests/ui/FormFixture.h"

#include "engine/TDMusicEngine.h"
#include "tests/support/testdouble/TestPlatform.h"
#include "ui/PortComboBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using qorn::test::XInput;
using qorn::testdouble::EnumeratedPort;

// Generous: the machine may be busy; every wait ends as soon as it can.
constexpr auto Deadline = 20s;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = Deadline) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

QPoint Centre(const QWidget* w) {
    return w->mapToGlobal(w->rect().center());
}

class WindowByHandTest : public FormFixture {
  protected:
    void SetUp() override { ASSERT_TRUE(input.Open()) << "no X server with XTEST"; }
    void ShowForm() {
        StartForm();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(WaitFor([&] { return form->isActiveWindow(); }));
    }
    bool Playing() const { return form->TimCheck->isActive(); }
    // Runs `script` on a thread of its own while this thread runs the
    // window's events (and any dialog the script opens). `state` is updated
    // from the GUI thread for the script to wait on.
    void RunByHand(const std::function<void()>& script) {
        std::atomic<bool> finished = false;
        QTimer publish;
        publish.setInterval(10);
        QObject::connect(&publish, &QTimer::timeout, [&] {
            modalShown = QApplication::activeModalWidget() != nullptr;
            playing = Playing();
        });
        publish.start();
        std::thread hand([&] {
            script();
            finished = true;
        });
        WaitFor([&] { return finished.load(); }, 120s);
        hand.join();
    }
    static bool Await(const std::atomic<bool>& flag, bool value) {
        const auto end = std::chrono::steady_clock::now() + Deadline;
        while (flag.load() != value)
            if (std::chrono::steady_clock::now() > end)
                return false;
            else
                std::this_thread::sleep_for(10ms);
        return true;
    }

    XInput input;
    std::atomic<bool> modalShown = false;
    std::atomic<bool> playing = false;
};

TEST_F(WindowByHandTest, OpenedWithReturnInTheDialogOneClickOnStopStops) {
    const std::string path = WriteMidi("song.mid");
    ShowForm();
    const QPoint open = Centre(form->ComOpen);
    const QPoint play = Centre(form->ComPlay);
    bool dialogCame = false, started = false;
    RunByHand([&] {
        input.Click(open);
        if (!(dialogCame = Await(modalShown, true))) return;
        std::this_thread::sleep_for(300ms);
        // Typing the path brings up the dialog's completion list.
        input.Type(path);
        std::this_thread::sleep_for(500ms);
        input.Key("Return");
        if (!(started = Await(playing, true))) return;
        std::this_thread::sleep_for(300ms);
        input.Click(play);
    });
    ASSERT_TRUE(dialogCame);
    ASSERT_TRUE(started) << "the file did not start";
    EXPECT_TRUE(WaitFor([&] { return !Playing(); })) << "the click on Stop was lost";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Play"));
}

TEST_F(WindowByHandTest, TabAndSpaceOperatePlayStop) {
    const std::string path = WriteMidi("song.mid");
    ShowForm();
    Drop({path});
    ASSERT_TRUE(Playing());

    // A mouse click on Stop leaves the keyboard with the button.
    input.Click(Centre(form->ComPlay));
    ASSERT_TRUE(WaitFor([&] { return !Playing(); }));
    input.Key("space");
    EXPECT_TRUE(WaitFor([&] { return Playing(); })) << "Space after a click did nothing";

    // The keyboard alone: Tab to the button, with the focus shown on it.
    form->ComOpen->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(WaitFor([&] { return form->ComOpen->hasFocus(); }));
    const QImage unfocused = form->ComPlay->grab().toImage();
    for (int presses = 0; presses < 12 && !form->ComPlay->hasFocus(); ++presses) {
        input.Key("Tab");
        WaitFor([&] { return false; }, 50ms);
    }
    ASSERT_TRUE(form->ComPlay->hasFocus());
    WaitFor([&] { return false; }, 100ms);
    EXPECT_NE(form->ComPlay->grab().toImage(), unfocused) << "the focus is not shown";
    input.Key("space");
    EXPECT_TRUE(WaitFor([&] { return !Playing(); }));
    input.Key("Return");
    EXPECT_TRUE(WaitFor([&] { return Playing(); })) << "Return on the focused button did nothing";
    input.Key("space");
    EXPECT_TRUE(WaitFor([&] { return !Playing(); }));
}

TEST_F(WindowByHandTest, PortListShowsEveryNameWhole) {
    platform.SetPorts(
        {EnumeratedPort::Output("Midi Through Port-0 (ALSA sequencer client 14)", qorn::testdouble::TestGuid(1)),
         EnumeratedPort::Output("FluidSynth Software Synthesizer [Effects]", qorn::testdouble::TestGuid(2))},
        qorn::testdouble::TestGuid(2));
    ShowForm();
    qorn::ui::PortComboBox* box = form->CoBInst;
    ASSERT_GE(box->count(), 4);
    const QString chosen = box->itemText(box->currentIndex());
    ASSERT_TRUE(chosen.endsWith(QStringLiteral("(SampleRate:22050Hz)"))) << chosen.toStdString();
    // Closed: the end with the rate stays in view, the whole name is the tip.
    EXPECT_TRUE(box->lineEdit()->text().endsWith(QStringLiteral("22050Hz)"))) << box->lineEdit()->text().toStdString();
    EXPECT_TRUE(box->toolTip().contains(chosen));

    input.Click(box->mapToGlobal(QPoint(box->width() - 6, box->height() / 2)));
    QAbstractItemView* list = box->view();
    ASSERT_TRUE(WaitFor([&] { return list->isVisible(); })) << "the list did not open";
    const QRect screen = box->screen()->geometry();
    const QRect shown(list->viewport()->mapToGlobal(QPoint(0, 0)), list->viewport()->size());
    for (int i = 0; i < box->count(); ++i) {
        const QString name = box->itemText(i);
        SCOPED_TRACE(name.toStdString());
        const int needed = list->fontMetrics().horizontalAdvance(name);
        const QRect item = list->visualRect(box->model()->index(i, 0));
        EXPECT_GE(item.width(), needed + 4);
        EXPECT_GE(shown.width(), needed + 4);
    }
    EXPECT_TRUE(screen.contains(shown));
    input.Key("Escape");
    EXPECT_TRUE(WaitFor([&] { return !list->isVisible(); }));
}

} // namespace
