// A polite stop (SIGTERM, SIGINT, SIGHUP: log-out, Ctrl+C) closes the window
// as the user would, so the guard, the engine and the output are torn down
// in their usual order instead of the process just vanishing.
#pragma once

namespace qorn::app {

// Call first in main, before the instance guard is taken: a polite stop that
// comes during start-up then waits for the handler below instead of ending
// the process on the spot with nothing torn down.
void HoldTerminationSignals();

// Call once, after the application object exists; lets held signals through.
void CloseWindowsOnTerminationSignals();

} // namespace qorn::app
