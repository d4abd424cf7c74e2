// The factories of the double's three creatable classes. Internal to the
// test double.
#pragma once

#include "tests/support/testdouble/TestState.h"

namespace qorn::testdouble {

HRESULT CreateTestDirectMusic(const std::shared_ptr<TestState>& state, const GUID& riid, void** ppv);
HRESULT CreateTestPerformance(const std::shared_ptr<TestState>& state, const GUID& riid, void** ppv);
HRESULT CreateTestLoader(const std::shared_ptr<TestState>& state, const GUID& riid, void** ppv);

} // namespace qorn::testdouble
