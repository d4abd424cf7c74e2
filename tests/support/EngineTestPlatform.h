// The test double for tests of the engine and the window: the global engine
// is zeroed when it comes and when it goes, so no test sees another's state.
#pragma once

#include "engine/TDMusicEngine.h"
#include "tests/support/testdouble/TestPlatform.h"

namespace qorn::testdouble {

// Returns the global engine to its state before first use (all zero). The
// engine holds plain pointers, so this releases nothing; the test double
// frees what is left over.
inline void ResetEngine() {
    DMEngine = TDMusicEngine{};
}

class EngineTestPlatform : public TestPlatform {
  public:
    EngineTestPlatform() { ResetEngine(); }
    ~EngineTestPlatform() { ResetEngine(); }
    EngineTestPlatform(const EngineTestPlatform&) = delete;
    EngineTestPlatform& operator=(const EngineTestPlatform&) = delete;
};

} // namespace qorn::testdouble
