// The window with the engine: start-up, shutdown, and files chosen by drop
// or through the open dialog.
#include "FormFixture.h"

#include "engine/TDMusicEngine.h"
#include "ui/AppTitle.h"
#include "ui/DroppedFile.h"
#include "ui/TRadioGroup.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace {

using qorn::platform::E_FAIL;

std::string Rendered(const QLabel* label) {
    return label->text().toStdString();
}

class StartUpTest : public FormFixture {};

TEST_F(StartUpTest, ReadyEngineFillsThePortList) {
    StartForm();
    EXPECT_TRUE(form->EngineReady());
    EXPECT_EQ(Caption(), "Qor_n Rev.010");
    EXPECT_EQ(qorn::ui::ApplicationTitle(), QStringLiteral("Qor_n Rev.010"));
    EXPECT_EQ(Rendered(form->LabelTitle),
              "DMusic Segment Player ' Qor_n '(Rev.010) Copyright (C) 2026 Qor_n developers");
    const QStringList ports = {"Test MIDI Out", "Test Software Synth (SampleRate:11025Hz)",
                               "Test Software Synth (SampleRate:22050Hz)", "Test Software Synth (SampleRate:44100Hz)"};
    ASSERT_EQ(form->CoBInst->count(), ports.size());
    for (int i = 0; i < ports.size(); ++i)
        EXPECT_EQ(form->CoBInst->itemText(i), ports[i]);
    EXPECT_EQ(form->CoBInst->currentIndex(), DMEngine.ActivePort);
    EXPECT_EQ(form->CoBInst->currentIndex(), 2);

    for (QWidget* on : std::initializer_list<QWidget*>{form->ComOpen, form->ComDefault, form->RGLoop, form->RGTempo,
                                                       form->CoBInst, form->TBVolume, form->ChBEffect})
        EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
    EXPECT_FALSE(form->ComPlay->isEnabled());
    EXPECT_FALSE(form->ComInfo->isEnabled());
    EXPECT_EQ(Rendered(form->LabelFN), "");
    // No volume is sent before the first start.
    EXPECT_TRUE(form->InfoText1().empty() && form->InfoText2().empty() && form->InfoText3().empty());
}

// The program's start: the window is on screen first, and it turns files
// away until the engine has started.
TEST_F(StartUpTest, TheWindowIsPaintedBeforeTheEngineStarts) {
    const std::string early = WriteMidi("early.mid"), later = WriteMidi("later.mid");
    bool painted = false;
    form = TFormQorn::CreateShown([&] { painted = true; });
    EXPECT_TRUE(form->isVisible());
    QElapsedTimer clock;
    clock.start();
    while (!painted && clock.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(painted);
    EXPECT_FALSE(form->EngineReady());
    EXPECT_FALSE(form->ComOpen->isEnabled());
    const auto data = DropOf({early});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    form->OpenDroppedFile(early);

    form->LoadDeferred();
    EXPECT_TRUE(form->EngineReady());
    EXPECT_TRUE(form->ComOpen->isEnabled());
    form->OpenDroppedFile(later);
    EXPECT_EQ(Caption(), "Qor_n : later.mid");
}

TEST_F(StartUpTest, FailedEngineShowsItsReasonAndLocksTheOpenButton) {
    platform.SetResult("CoCreateInstance(DirectMusic)", E_FAIL);
    StartForm();
    EXPECT_FALSE(form->EngineReady());
    EXPECT_EQ(Caption(), "Qor_n Rev.010");
    EXPECT_FALSE(Rendered(form->LabelFN).empty());
    EXPECT_EQ(Rendered(form->LabelFN), std::string(DMEngine.LastError));
    EXPECT_FALSE(form->ComOpen->isEnabled());
    EXPECT_FALSE(form->ComDefault->isEnabled());
    EXPECT_FALSE(form->RGLoop->isEnabled());
    EXPECT_FALSE(form->RGTempo->isEnabled());
    EXPECT_TRUE(form->CoBInst->isEnabled());
    EXPECT_EQ(form->CoBInst->count(), 0);
    EXPECT_TRUE(form->TBVolume->isEnabled());
    EXPECT_TRUE(form->ChBEffect->isEnabled());
}

TEST_F(StartUpTest, ClosingStopsPausesAndShutsTheEngineDown) {
    StartForm();
    Drop({WriteFile("song.sgt")});
    ASSERT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
    const std::size_t sleepsBefore = platform.Sleeps().size();
    const std::size_t mark = platform.Mark();
    form.reset();

    const auto calls = platform.CallsSince(mark);
    const auto stop = std::find_if(calls.begin(), calls.end(),
                                   [](const std::string& c) { return c.rfind("Performance.Stop", 0) == 0; });
    EXPECT_NE(stop, calls.end());
    const std::vector<qorn::platform::DWORD> sleeps(platform.Sleeps().begin() + static_cast<long>(sleepsBefore),
                                                    platform.Sleeps().end());
    ASSERT_GE(sleeps.size(), 2u);
    EXPECT_EQ(sleeps.back(), 200u);
    EXPECT_EQ(platform.LiveObjects(), 0);
    EXPECT_EQ(FormQorn, nullptr);
}

TEST_F(StartUpTest, ClosingAfterAFailedStartStillShutsDownSafely) {
    platform.SetResult("CoCreateInstance(Performance)", E_FAIL);
    StartForm();
    form.reset();
    EXPECT_EQ(platform.LiveObjects(), 0);
    ASSERT_GE(platform.Sleeps().size(), 2u);
    EXPECT_EQ(platform.Sleeps()[platform.Sleeps().size() - 2], 300u);
    EXPECT_EQ(platform.Sleeps().back(), 200u);
}

class DropTest : public FormFixture {
  protected:
    void SetUp() override { StartForm(); }
    int Loads() const { return static_cast<int>(platform.Loads().size()); }
};

TEST_F(DropTest, ExtensionDecidesWhetherADropIsTaken) {
    struct Case {
        const char* name;
        bool taken;
    };
    const Case cases[] = {{"song.mid", true},   {"SONG.MID", true},  {"Tune.Sgt", true},   {"a.SGP", true},
                          {"song.midi", false}, {"song.rmi", false}, {"song.WAV", true},   {"mid", false},
                          {"songmid", false},   {"song.m1d", false}, {"x.sgt.txt", false}, {"boids.TPL", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteFile(c.name);
        form->LastFileName().clear();
        const QString captionBefore = form->windowTitle();
        const std::size_t mark = platform.Mark();
        Drop({path});
        if (c.taken) {
            EXPECT_EQ(Caption(), std::string("Qor_n : ") + c.name);
            ASSERT_FALSE(platform.Loads().empty());
            EXPECT_EQ(platform.Loads().back().path, path);
        } else {
            EXPECT_TRUE(platform.CallsSince(mark).empty());
            EXPECT_EQ(form->windowTitle(), captionBefore);
        }
        EXPECT_EQ(qorn::ui::HasPlayableExtension(c.name), c.taken);
    }
}

TEST_F(DropTest, OnlyTheFirstOfSeveralFilesIsOpened) {
    const std::string first = WriteFile("first.sgt");
    const std::string second = WriteFile("second.sgt");
    Drop({first, second});
    ASSERT_EQ(Loads(), 1);
    EXPECT_EQ(platform.Loads()[0].path, first);
    EXPECT_EQ(Caption(), "Qor_n : first.sgt");
}

TEST_F(DropTest, AFolderNamedLikeAMidiFileIsNotFoundAndTheWindowStaysUsable) {
    const std::string folder = Folder() + "/x.mid";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    Drop({folder});
    EXPECT_EQ(Loads(), 0);
    EXPECT_EQ(Rendered(form->LabelFN), "File Not Found");
    EXPECT_TRUE(form->ComOpen->isEnabled());
    EXPECT_EQ(Caption(), "Qor_n Rev.010");
    EXPECT_NE(Rendered(form->LabelTime), "wait");
}

TEST_F(DropTest, NamesThatAreNotUtf8ArriveByteForByte) {
    // "あ.mid" in Shift-JIS, as an old archive may have unpacked it.
    const std::string path = WriteFile("\x82\xa0.mid");
    Drop({path});
    ASSERT_EQ(Loads(), 2);
    EXPECT_EQ(platform.Loads()[0].path, path);
    EXPECT_EQ(form->LastFileName(), path);
    std::remove(path.c_str()); // a name Qt cannot clean up
}

TEST_F(DropTest, LongPathsAreTakenWhole) {
    std::string sub = Folder();
    while (sub.size() < 700) {
        sub += "/" + std::string(100, 'd');
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(sub)));
    }
    const std::string path = sub + "/song.sgt";
    WriteFile(path.substr(Folder().size() + 1));
    Drop({path});
    ASSERT_EQ(Loads(), 1);
    EXPECT_EQ(platform.Loads()[0].path, path);
}

TEST_F(DropTest, DropWhilePlayingStopsFirstThenPlaysTheNewFile) {
    Drop({WriteFile("one.sgt")});
    ASSERT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
    const std::size_t mark = platform.Mark();
    const std::string next = WriteFile("two.sgt");
    Drop({next});

    const auto calls = platform.CallsSince(mark);
    auto find = [&](const char* prefix) {
        return std::find_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    };
    ASSERT_NE(find("Performance.Stop"), calls.end());
    ASSERT_NE(find("Loader."), calls.end());
    EXPECT_LT(find("Performance.Stop"), find("Loader."));
    EXPECT_EQ(Caption(), "Qor_n : two.sgt");
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
    // The next open dialog starts at the dropped file.
    EXPECT_EQ(form->OpenD->selectedFiles().value(0), QString::fromStdString(next));
}

TEST_F(DropTest, ADropIsTakenEvenWhenTheEngineFailed) {
    form.reset();
    platform.SetResult("CoCreateInstance(Loader)", E_FAIL);
    StartForm();
    ASSERT_FALSE(form->ComOpen->isEnabled());
    Drop({WriteFile("late.sgt")});
    EXPECT_TRUE(form->ComOpen->isEnabled());
    EXPECT_EQ(Rendered(form->LabelFN), "File Open Error");
}

TEST_F(DropTest, RealDropEventReachesTheHandler) {
    const std::string path = WriteFile("event.sgt");
    const auto data = DropOf({path});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    EXPECT_EQ(Caption(), "Qor_n : event.sgt");
}

TEST_F(DropTest, OpenDialogChoiceIsPlayed) {
    const std::string path = WriteMidi("chosen.mid");
    OpenWithDialog(path);
    ASSERT_EQ(Loads(), 2);
    EXPECT_EQ(platform.Loads()[0].path, path);
    EXPECT_EQ(Caption(), "Qor_n : chosen.mid");
    EXPECT_TRUE(form->ComOpen->isEnabled());
    EXPECT_TRUE(form->ComPlay->isEnabled());
    EXPECT_TRUE(form->ComInfo->isEnabled());
}

TEST_F(DropTest, CancelledDialogLeavesPlaybackAlone) {
    Drop({WriteFile("keep.sgt")});
    const std::size_t mark = platform.Mark();
    bool ran = false;
    form->OpenDialogRunner = [&](QFileDialog&) {
        ran = true;
        return false;
    };
    form->ComOpenClick();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(platform.CallsSince(mark).empty());
    EXPECT_EQ(Caption(), "Qor_n : keep.sgt");
    EXPECT_EQ(form->ComPlay->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(form->TimCheck->isActive());
    EXPECT_TRUE(form->ComOpen->isEnabled());
}

// Records the window's captions and counts its paints while a file opens.
class WindowWatch : public QObject {
  public:
    explicit WindowWatch(QWidget* window) : window_(window) { window->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::WindowTitleChange)
            captions.push_back(window_->windowTitle().toStdString());
        if (watched == window_ && event->type() == QEvent::Paint) ++paints;
        return false;
    }
    std::vector<std::string> captions;
    int paints = 0;

  private:
    QWidget* window_;
};

TEST_F(DropTest, ProgressCaptionsArePaintedWhileTheFileOpens) {
    form->show();
    QElapsedTimer clock;
    clock.start();
    while (!(form->windowHandle() && form->windowHandle()->isExposed()) && clock.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    QApplication::processEvents();
    const std::string path = WriteMidi("tune.mid");
    WindowWatch watch(form.get());
    Drop({path});
    const std::vector<std::string> expected = {"Please Wait .",    "Please Wait ..",           "Please Wait ...",
                                               "Please Wait ....", "Please Wait ... tune.mid", "Qor_n : tune.mid"};
    EXPECT_EQ(watch.captions, expected);
    EXPECT_EQ(qorn::ui::ApplicationTitle(), QStringLiteral("Qor_n : tune.mid"));
    // One paint per progress step and one for the shown path, at least.
    EXPECT_GE(watch.paints, 6);
}

} // namespace
