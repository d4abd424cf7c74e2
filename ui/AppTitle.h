// The application title (the task-bar text of the original desktop). It is
// kept here rather than in Qt's application display name: Qt appends that
// name to every window title it differs from, which would garble the
// caption while both texts change one after the other, and Qt falls back to
// the program name when it is empty, where an empty title must stay empty.
#pragma once

#include <QString>

namespace qorn::ui {

void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

} // namespace qorn::ui
