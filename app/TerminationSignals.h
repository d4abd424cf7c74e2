// A polite stop (SIGTERM, SIGINT, SIGHUP: log-out, Ctrl+C) closes the window
// as the user would, so the guard, the engine and the output are torn down
// in their usual order instead of the process just vanishing.
#pragma once

namespace qorn::app {

// Call once, after the application object exists.
void CloseWindowsOnTerminationSignals();

} // namespace qorn::app
