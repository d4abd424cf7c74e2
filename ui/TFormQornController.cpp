// The window's life with the engine, its titles, and the two ways a file is
// chosen: the open dialog and a drop from the file manager.
#include "ui/TFormQorn.h"

#include "engine/TDMusicEngine.h"
#include "fileinfo/OpenAndPlayFile.h"
#include "platform/kernel/Kernel.h"
#include "ui/DroppedFile.h"
#include "ui/Fonts.h"
#include "ui/PortComboBox.h"
#include "ui/TRadioGroup.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* CopyrightLine = "Copyright (C) 2026 Qor_n developers";
constexpr int StartVolume = 88;

QString EngineText(const char* text, std::size_t capacity) {
    return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, capacity)));
}

} // namespace

std::string TFormQorn::RevisionTitle() const {
    char title[64];
    std::snprintf(title, sizeof title, "%s Rev.%03d", appName_.c_str(), static_cast<int>(revision_));
    return title;
}

std::string TFormQorn::BottomTitle() const {
    char title[128];
    std::snprintf(title, sizeof title, "DMusic Segment Player ' %s '(Rev.%03d) ", appName_.c_str(),
                  static_cast<int>(revision_));
    return std::string(title) + CopyrightLine;
}

void TFormQorn::FormLoad() {
    revision_ = 10;
    appName_ = "Qor_n";
    SetTitles(RevisionTitle());
    LabelTitle->setText(QString::fromStdString(BottomTitle()));
    qorn::ui::FitCaption(*LabelTitle);
    infoText1_.clear();
    infoText2_.clear();
    infoText3_.clear();

    if (!DMEngine.Initialize()) {
        LabelFN->setText(EngineText(DMEngine.LastError, sizeof DMEngine.LastError));
        ComOpen->setEnabled(false);
        ComDefault->setEnabled(false);
        return;
    }
    engineReady_ = true;
    RGLoop->setEnabled(true);
    RGTempo->setEnabled(true);
    CoBInst->setEnabled(true);
    const int count = std::clamp(DMEngine.PortCount, 0, TDMusicEngine::MaxPorts);
    for (int i = 0; i < count; ++i)
        CoBInst->addItem(EngineText(DMEngine.PortNames[i], TDMusicEngine::PortNameBytes));
    // An index outside the list leaves nothing selected.
    CoBInst->setCurrentIndex(DMEngine.ActivePort >= 0 && DMEngine.ActivePort < count ? DMEngine.ActivePort : -1);
}

void TFormQorn::FormUnload() {
    StopPlayback();
    ComOpen->setEnabled(false);
    ComPlay->setEnabled(false);
    ComInfo->setEnabled(false);
    ComDefault->setEnabled(false);
    qorn::platform::Sleep(300);
    DMEngine.Shutdown();
    qorn::platform::Sleep(200);
}

void TFormQorn::ShowTitle() {
    SetTitles(RevisionTitle());
}

void TFormQorn::WMDropFiles(const QMimeData& dropped) {
    OpenDroppedFile(qorn::ui::FirstDroppedFile(dropped));
}

void TFormQorn::OpenDroppedFile(const std::string& path) {
    if (path.empty() || OpenD == nullptr || !qorn::ui::HasPlayableExtension(path)) return;

    ComOpen->setEnabled(false);
    ComPlay->setEnabled(false);
    ComInfo->setEnabled(false);
    if (DMEngine.IsPlaying()) StopPlayback();
    ShowTitle();
    OpenD->selectFile(QFile::decodeName(QByteArray::fromStdString(path)));
    qorn::fileinfo::OpenAndPlayFile(*this, path);
}

void TFormQorn::ComOpenClick() {
    if (!OpenDialogRunner || !OpenDialogRunner(*OpenD)) return;
    const QStringList chosen = OpenD->selectedFiles();
    if (chosen.isEmpty()) return;
    const std::string path = QFile::encodeName(chosen.front()).toStdString();

    ComOpen->setEnabled(false);
    ComPlay->setEnabled(false);
    ComInfo->setEnabled(false);
    if (DMEngine.IsPlaying()) StopPlayback();
    SetTitles(RevisionTitle());
    qorn::fileinfo::OpenAndPlayFile(*this, path);
}

void TFormQorn::ComDefaultClick() {
    // The slider reports a change only when the position really moves.
    TBVolume->setValue(StartVolume);
}
