// Watching a running piece: its end, and the elapsed time in whole seconds.
#include "ui/TFormQorn.h"

#include "engine/TDMusicEngine.h"

#include <QLabel>

#include <cstdio>

void TFormQorn::CheckTimer() {
    if (!DMEngine.IsPlaying()) StopPlayback();
}

void TFormQorn::TimeTimer() {
    // Tenths of a second of real time since the start, repeats included.
    const std::int64_t elapsed = DMEngine.GetPlayTime() - playStartTime_;
    if (elapsed < nextTimeUpdate_) return;
    const std::int64_t seconds = elapsed / 10;
    // Taken from the current time, so a late tick jumps to the right second.
    nextTimeUpdate_ = seconds * 10 + 10;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    LabelTime->setText(QString::fromLatin1(text));
}
