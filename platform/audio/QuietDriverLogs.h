// Probing for a sound server or device is expected to fail on many machines;
// while it runs, FluidSynth's and libasound's error and warning output is
// swallowed so the user sees no noise for a normal fallback.
#pragma once

namespace qorn::platform {

// Scoped: silences while alive, restores the previous handlers afterwards.
// Nested and concurrent guards are fine: the outermost one restores.
class QuietDriverLogs {
  public:
    QuietDriverLogs();
    ~QuietDriverLogs();
    QuietDriverLogs(const QuietDriverLogs&) = delete;
    QuietDriverLogs& operator=(const QuietDriverLogs&) = delete;
};

} // namespace qorn::platform
