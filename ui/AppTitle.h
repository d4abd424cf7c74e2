// The application title (the task-bar text). It is kept here as well as in
// Qt's display name because Qt falls back to the program name when the
// display name is empty, and an empty title must stay empty.
#pragma once

#include <QString>

namespace qorn::ui {

void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

} // namespace qorn::ui
