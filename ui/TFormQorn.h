// The player's one window and its controller: the controls, the window's
// state, and the handlers that start and stop the engine, open or take
// dropped files, run playback, watch it and show the file information.
#pragma once

#include "fileinfo/OpenFileHost.h"
// Tests and tools reach the port box through its field.
#include "ui/PortComboBox.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QFileDialog;
class QFrame;
class QLabel;
class QMimeData;
class QPushButton;
class QSlider;
class QTimer;

namespace qorn::ui {
class SegmentChooser;
class TRadioGroup;
} // namespace qorn::ui

class TFormQorn : public QWidget, public qorn::fileinfo::OpenFileHost {
  public:
    // Builds the window, points FormQorn at it and runs FormLoad.
    static std::unique_ptr<TFormQorn> Create();
    // The program's start: the window is shown at once, with Open disabled
    // and drops refused; `painted` runs once it has been painted (or after a
    // second if it never is), and LoadDeferred is left to the caller.
    static std::unique_ptr<TFormQorn> CreateShown(std::function<void()> painted);
    // After CreateShown: builds the open dialog and runs FormLoad.
    void LoadDeferred();

    // Without `withOpenDialog` the open dialog (OpenD) is left to
    // BuildOpenDialog.
    explicit TFormQorn(bool withOpenDialog = true);
    // Hides the window, runs FormUnload, withdraws the drop target.
    ~TFormQorn() override;
    TFormQorn(const TFormQorn&) = delete;
    TFormQorn& operator=(const TFormQorn&) = delete;

    // Controls, in declared order (owned by the window).
    QLabel* LabelST1 = nullptr;
    QPushButton* ComOpen = nullptr;
    QPushButton* ComPlay = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* LabelTime = nullptr;
    qorn::ui::TRadioGroup* RGLoop = nullptr;
    qorn::ui::TRadioGroup* RGTempo = nullptr;
    QSlider* TBVolume = nullptr;
    QLabel* LabelST2 = nullptr;
    QFrame* Bevel3 = nullptr;
    QLabel* LabelST3 = nullptr;
    QLabel* LabelVolume = nullptr;
    qorn::ui::PortComboBox* CoBInst = nullptr;
    QCheckBox* ChBEffect = nullptr;
    QLabel* LabelTitle = nullptr;
    QTimer* TimTime = nullptr;
    QTimer* TimCheck = nullptr;
    QFileDialog* OpenD = nullptr;
    QLabel* LabelFN = nullptr;
    QPushButton* ComInfo = nullptr;
    QPushButton* ComDefault = nullptr;

    // Event handlers.
    void FormLoad();
    void FormUnload();
    void TBChange();
    void ChangeTempo();
    void ComOpenClick();
    void ComPlayClick();
    void CheckTimer();
    void TimeTimer();
    void ComInfoClick();
    void ComDefaultClick();
    // Files dropped on the window (a text/uri-list).
    void WMDropFiles(const QMimeData& dropped);
    // One file handed over from outside (command line, another copy, desktop
    // media controls): taken exactly as a drop of that file.
    void OpenDroppedFile(const std::string& path);

    void ShowTitle() override;
    void StopPlayback();
    void ApplyVolume();

    // Runs the open dialog; true when the user chose a file. Replaceable so
    // that tests never block in a modal dialog.
    std::function<bool(QFileDialog&)> OpenDialogRunner;
    // Runs the list of a script's segments; true when one was chosen to play.
    // Replaceable for the same reason.
    std::function<bool(qorn::ui::SegmentChooser&)> SegmentChooserRunner;
    // Told after playback started or stopped and after the titles changed
    // (a file opened), for watchers such as the desktop's media controls.
    std::function<void()> StateChanged;

    // OpenFileHost: what the open-file workflow reads and writes.
    const std::string& AppName() const override { return appName_; }
    std::string& LastFileName() override { return lastFileName_; }
    std::int32_t& LastFileSize() override { return lastFileSize_; }
    std::string& InfoText1() override { return infoText1_; }
    std::string& InfoText2() override { return infoText2_; }
    std::string& InfoText3() override { return infoText3_; }
    std::string& LastSegment() override { return lastSegment_; }
    void SetTitles(const std::string& text) override;
    void SetLabelFN(const std::string& text) override;
    void SetLabelTime(const std::string& text) override;
    void RepaintNow() override;
    void StopTimers() override;
    int StartPlayback() override;
    void EnableComPlay() override;
    void EnableComInfo() override;
    void EnableComOpen() override;
    int ChooseSegment(const std::string& file, const std::vector<std::string>& names) override;

    std::int32_t Revision() const { return revision_; }
    bool EngineReady() const { return engineReady_; }
    std::int64_t PlayStartTime() const { return playStartTime_; }
    std::int64_t NextTimeUpdate() const { return nextTimeUpdate_; }

    // Longest the window waits for the engine to start or stop a piece.
    static constexpr int PlaybackWaitLimitMs = 2000;
    static constexpr int PlaybackWaitStepMs = 50;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void BuildLayout();
    void BuildOpenDialog();
    void BindEvents();
    std::string RevisionTitle() const;
    std::string BottomTitle() const;
    // The port row CoBInst names: its selected item, or -1 when the edit
    // field holds a text that is no item.
    int PortIndex() const;
    // Extension test, disabling, stop and open shared by drop and open.
    void OpenChosenFile(const std::string& path, bool fromDrop);
    bool WaitForPlaying(bool playing);
    void GiveUpStart();

    std::string appName_;
    std::string lastFileName_;
    std::string infoText1_;
    std::string infoText2_;
    std::string infoText3_;
    std::string lastSegment_;
    std::int32_t lastFileSize_ = 0;
    std::int32_t revision_ = 0;
    std::int64_t playStartTime_ = 0;
    std::int64_t nextTimeUpdate_ = 0;
    bool engineReady_ = false;
    bool centred_ = false;
};

// The single main window, set while it exists.
extern TFormQorn* FormQorn;
