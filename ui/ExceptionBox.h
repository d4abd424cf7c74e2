// The application's error box for an exception: its message under the
// application title, with the error icon and one OK button.
#pragma once

namespace qorn::ui {

void ShowExceptionBox(const char* message);

} // namespace qorn::ui
