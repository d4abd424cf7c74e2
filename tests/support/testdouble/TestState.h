// What the test double's objects share: the script, the machine and the
// record of calls. Internal to the test double.
#pragma once

#include "tests/support/testdouble/TestPlatform.h"

#include <deque>
#include <functional>
#include <map>
#include <set>

namespace qorn::testdouble {

struct TestState {
    std::vector<std::string> calls;

    std::map<std::string, std::deque<HRESULT>, std::less<>> queued;
    std::map<std::string, HRESULT, std::less<>> fixed;
    std::set<std::string, std::less<>> nullOutputs;

    std::vector<EnumeratedPort> ports;
    GUID defaultPort{};
    DWORD segmentRepeats = 0;

    bool sounding = false;
    REFERENCE_TIME now = 0;
    bool clockOnSleep = false;

    std::vector<CreatePortCall> createPorts;
    std::vector<GlobalParamCall> globalParams;
    std::vector<SegmentParamCall> segmentParams;
    std::vector<LoadCall> loads;
    std::vector<DWORD> sleeps;
    std::vector<DWORD> repeatsSet;

    std::map<const void*, std::string> labels;
    std::map<std::string, int, std::less<>> nextId;
    std::map<std::string, int, std::less<>> live;
    // Frees each object still alive when the platform goes, whatever its count.
    std::map<const void*, std::function<void()>> destroyers;

    void Log(std::string entry) { calls.push_back(std::move(entry)); }
    // The scripted result of `call`, else `natural`.
    HRESULT Result(std::string_view call, HRESULT natural);
    bool NullOutput(std::string_view call) const { return nullOutputs.find(call) != nullOutputs.end(); }
    // "port#2" for a live object, "null" for null, "?" for anything else.
    std::string Label(const void* object) const;
    std::string NewLabel(const void* object, const std::string& kind, std::function<void()> destroy);
    void Forget(const void* object, const std::string& kind);
};

// Aborts the test run on a call name the double does not know, so a typo in
// a script cannot pass silently.
void CheckCallName(std::string_view call);

} // namespace qorn::testdouble
