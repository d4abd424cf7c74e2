// Playback start and stop from the window's settings, and the volume and
// tempo controls that act at once.
#include "ui/TFormQorn.h"

#include "engine/TDMusicEngine.h"
#include "platform/kernel/Kernel.h"
#include "ui/PortComboBox.h"
#include "ui/TRadioGroup.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <cstring>

namespace {

// Fixed messages for an engine that does not follow Play or Stop in time.
constexpr const char* DidNotStart = "Playback Did Not Start";
constexpr const char* DidNotStop = "Playback Did Not Stop";

void StartIfStopped(QTimer* timer) {
    // A running timer keeps its period.
    if (!timer->isActive()) timer->start();
}

} // namespace

int TFormQorn::PortIndex() const {
    return CoBInst->PortIndex();
}

bool TFormQorn::WaitForPlaying(bool playing) {
    // Bounded: an engine that never follows must not freeze the window.
    for (int waited = 0; DMEngine.IsPlaying() != playing; waited += PlaybackWaitStepMs) {
        if (waited >= PlaybackWaitLimitMs) return false;
        qorn::platform::Sleep(PlaybackWaitStepMs);
    }
    return true;
}

int TFormQorn::StartPlayback() {
    RGLoop->setEnabled(false);
    RGTempo->setEnabled(false);
    CoBInst->setEnabled(false);
    ChBEffect->setEnabled(false);
    TBVolume->setEnabled(false);
    DMEngine.SetLoop(RGLoop->ItemIndex());
    DMEngine.SetTempo(RGTempo->ItemIndex());
    const int port = PortIndex();
    const bool effects = ChBEffect->isChecked();
    LabelTime->setText(QStringLiteral("Wait"));
    ApplyVolume();

    int result = DMEngine.Play(port, effects);
    if (result != 0) {
        CoBInst->setEnabled(true);
        ChBEffect->setEnabled(true);
        LabelFN->setText(QString::fromUtf8(
            DMEngine.LastError, static_cast<qsizetype>(strnlen(DMEngine.LastError, sizeof DMEngine.LastError))));
    } else {
        ComPlay->setText(QStringLiteral("Stop"));
        if (WaitForPlaying(true)) {
            playStartTime_ = DMEngine.GetPlayTime();
            nextTimeUpdate_ = -1;
            StartIfStopped(TimCheck);
            StartIfStopped(TimTime);
        } else {
            GiveUpStart();
            result = -1;
        }
    }
    TBVolume->setEnabled(true);
    RGTempo->setEnabled(true);
    if (StateChanged) StateChanged();
    return result;
}

void TFormQorn::GiveUpStart() {
    // Back to idle: a start the engine carries out late must not play unseen.
    DMEngine.Stop();
    ComPlay->setText(QStringLiteral("Play"));
    RGLoop->setEnabled(true);
    CoBInst->setEnabled(true);
    ChBEffect->setEnabled(true);
    LabelFN->setText(QString::fromLatin1(DidNotStart));
}

void TFormQorn::StopPlayback() {
    TimCheck->stop();
    TimTime->stop();
    if (engineReady_) {
        DMEngine.Stop();
        if (!WaitForPlaying(false)) LabelFN->setText(QString::fromLatin1(DidNotStop));
    }
    ComPlay->setText(QStringLiteral("Play"));
    RGLoop->setEnabled(true);
    CoBInst->setEnabled(true);
    ChBEffect->setEnabled(true);
    if (StateChanged) StateChanged();
}

void TFormQorn::ApplyVolume() {
    const int position = TBVolume->value();
    LabelVolume->setText(QString::number(position));
    DMEngine.SetVolume(position);
}

void TFormQorn::TBChange() {
    ApplyVolume();
}

void TFormQorn::ChangeTempo() {
    DMEngine.SetTempo(RGTempo->ItemIndex());
}

void TFormQorn::ComPlayClick() {
    // Disabling the button moves the keyboard focus away; it comes back with
    // the button, so Space works again after a click.
    const bool focused = ComPlay->hasFocus();
    ComPlay->setEnabled(false);
    const auto enableAgain = [&] {
        ComPlay->setEnabled(true);
        if (focused) ComPlay->setFocus(Qt::OtherFocusReason);
    };
    // The toggle follows the engine, not the button's caption.
    if (DMEngine.IsPlaying()) {
        StopPlayback();
        enableAgain();
        return;
    }
    if (StartPlayback() == 0) enableAgain();
}
