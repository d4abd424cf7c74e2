#include "tests/support/testdouble/TestPlatform.h"

#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"
#include "tests/support/testdouble/TestObjects.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qorn::testdouble {

using namespace qorn::platform;

namespace {

constexpr std::string_view KnownCalls[] = {
    "CoInitialize",
    "CoCreateInstance(DirectMusic)",
    "CoCreateInstance(Performance)",
    "CoCreateInstance(Loader)",
    "DirectMusic.Activate",
    "DirectMusic.SetDirectSound",
    "DirectMusic.CreatePort",
    "DirectMusic.GetDefaultPort",
    "DirectMusic.EnumPort",
    "Port.Activate",
    "Performance.Init",
    "Performance.AddPort",
    "Performance.RemovePort",
    "Performance.AssignPChannelBlock",
    "Performance.SetGlobalParam",
    "Performance.PlaySegment",
    "Performance.Stop",
    "Performance.IsPlaying",
    "Performance.GetTime",
    "Performance.CloseDown",
    "Loader.GetObject",
    "Loader.EnableCache",
    "Loader.ClearCache",
    "Segment.SetParam",
    "Segment.GetRepeats",
    "Segment.SetRepeats",
};

std::u16string Utf16(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, out.data(), units);
    return out;
}

} // namespace

void CheckCallName(std::string_view call) {
    if (std::find(std::begin(KnownCalls), std::end(KnownCalls), call) != std::end(KnownCalls)) return;
    std::fprintf(stderr, "TestPlatform: no call named \"%.*s\"\n", static_cast<int>(call.size()), call.data());
    std::abort();
}

HRESULT TestState::Result(std::string_view call, HRESULT natural) {
    if (auto q = queued.find(call); q != queued.end() && !q->second.empty()) {
        const HRESULT hr = q->second.front();
        q->second.pop_front();
        return hr;
    }
    if (auto f = fixed.find(call); f != fixed.end()) return f->second;
    return natural;
}

std::string TestState::Label(const void* object) const {
    if (object == nullptr) return "null";
    auto it = labels.find(object);
    return it == labels.end() ? "?" : it->second;
}

std::string TestState::NewLabel(const void* object, const std::string& kind, std::function<void()> destroy) {
    const std::string label = kind + "#" + std::to_string(++nextId[kind]);
    labels[object] = label;
    destroyers[object] = std::move(destroy);
    ++live[kind];
    return label;
}

void TestState::Forget(const void* object, const std::string& kind) {
    labels.erase(object);
    destroyers.erase(object);
    --live[kind];
}

GUID TestGuid(std::uint32_t n) {
    return GUID{n, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
}

std::string GuidText(const GUID& guid) {
    struct Named {
        GUID guid;
        const char* name;
    };
    static const Named known[] = {
        {GUID_NULL, "GUID_NULL"},
        {GUID_PerfAutoDownload, "GUID_PerfAutoDownload"},
        {GUID_PerfMasterVolume, "GUID_PerfMasterVolume"},
        {GUID_PerfMasterTempo, "GUID_PerfMasterTempo"},
        {GUID_StandardMIDIFile, "GUID_StandardMIDIFile"},
        {GUID_DirectMusicAllTypes, "GUID_DirectMusicAllTypes"},
        {GUID_Unload, "GUID_Unload"},
        {CLSID_DirectMusicSegment, "CLSID_DirectMusicSegment"},
    };
    for (const auto& k : known) {
        if (k.guid == guid) return k.name;
    }
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

EnumeratedPort EnumeratedPort::Output(std::string_view utf8Description, const GUID& guid) {
    return EnumeratedPort{DMUS_PC_OUTPUTCLASS, guid, Utf16(utf8Description)};
}

EnumeratedPort EnumeratedPort::Input(std::string_view utf8Description, const GUID& guid) {
    return EnumeratedPort{DMUS_PC_INPUTCLASS, guid, Utf16(utf8Description)};
}

TestPlatform::TestPlatform() : state_(std::make_shared<TestState>()) {
    SetPorts({EnumeratedPort::Input("Test MIDI In", TestGuid(0x100)),
              EnumeratedPort::Output("Test MIDI Out", TestGuid(0x101)),
              EnumeratedPort::Output("Test Software Synth", TestGuid(0x102))},
             TestGuid(0x102));

    UnregisterAllClassFactories();
    auto state = state_;
    RegisterClassFactory(CLSID_DirectMusic,
                         [state](REFIID riid, void** ppv) { return CreateTestDirectMusic(state, riid, ppv); });
    RegisterClassFactory(CLSID_DirectMusicPerformance,
                         [state](REFIID riid, void** ppv) { return CreateTestPerformance(state, riid, ppv); });
    RegisterClassFactory(CLSID_DirectMusicLoader,
                         [state](REFIID riid, void** ppv) { return CreateTestLoader(state, riid, ppv); });

    ComApartmentHooks hooks;
    hooks.coInitialize = [state](void* reserved) {
        state->Log("CoInitialize(" + state->Label(reserved) + ")");
        return state->Result("CoInitialize", S_OK);
    };
    hooks.coUninitialize = [state] { state->Log("CoUninitialize()"); };
    SetComApartmentHooks(std::move(hooks));

    SetSleepHook([state](DWORD milliseconds) {
        state->Log("Sleep(" + std::to_string(milliseconds) + ")");
        state->sleeps.push_back(milliseconds);
        if (state->clockOnSleep) state->now += static_cast<REFERENCE_TIME>(milliseconds) * 10000;
    });
}

TestPlatform::~TestPlatform() {
    // A test that ends without Shutdown leaves objects in the engine: free
    // them and forget them, so nothing leaks into the next test.
    auto leftovers = std::move(state_->destroyers);
    state_->destroyers.clear();
    for (auto& [object, destroy] : leftovers)
        destroy();
    UnregisterAllClassFactories();
    SetComApartmentHooks({});
    SetSleepHook({});
}

void TestPlatform::SetResult(std::string_view call, HRESULT result) {
    CheckCallName(call);
    state_->fixed[std::string(call)] = result;
}

void TestPlatform::ClearResult(std::string_view call) {
    CheckCallName(call);
    if (auto it = state_->fixed.find(call); it != state_->fixed.end()) state_->fixed.erase(it);
    if (auto it = state_->queued.find(call); it != state_->queued.end()) state_->queued.erase(it);
}

void TestPlatform::QueueResults(std::string_view call, std::vector<HRESULT> results) {
    CheckCallName(call);
    auto& queue = state_->queued[std::string(call)];
    queue.insert(queue.end(), results.begin(), results.end());
}

void TestPlatform::SetNullOutput(std::string_view call, bool null) {
    CheckCallName(call);
    if (null) {
        state_->nullOutputs.emplace(call);
    } else if (auto it = state_->nullOutputs.find(call); it != state_->nullOutputs.end()) {
        state_->nullOutputs.erase(it);
    }
}

void TestPlatform::SetPorts(std::vector<EnumeratedPort> ports, const GUID& defaultPort) {
    state_->ports = std::move(ports);
    state_->defaultPort = defaultPort;
}

void TestPlatform::SetSegmentRepeats(DWORD repeats) {
    state_->segmentRepeats = repeats;
}

void TestPlatform::FailLoads(bool fail) {
    if (fail) {
        SetResult("Loader.GetObject", E_FAIL);
    } else {
        ClearResult("Loader.GetObject");
    }
}

void TestPlatform::FailPlay(bool fail) {
    if (fail) {
        SetResult("Performance.PlaySegment", E_FAIL);
    } else {
        ClearResult("Performance.PlaySegment");
    }
}

void TestPlatform::SetPlaying(bool playing) {
    SetResult("Performance.IsPlaying", playing ? S_OK : S_FALSE);
}

void TestPlatform::FollowPlayback() {
    ClearResult("Performance.IsPlaying");
}

void TestPlatform::PlayingAfter(int notYet) {
    QueueResults("Performance.IsPlaying", std::vector<HRESULT>(static_cast<std::size_t>(std::max(notYet, 0)), S_FALSE));
}

void TestPlatform::EndPiece() {
    state_->sounding = false;
}

bool TestPlatform::Sounding() const {
    return state_->sounding;
}

void TestPlatform::SetTime(REFERENCE_TIME now) {
    state_->now = now;
}

void TestPlatform::AdvanceTime(REFERENCE_TIME delta) {
    state_->now += delta;
}

void TestPlatform::AdvanceClockOnSleep(bool advance) {
    state_->clockOnSleep = advance;
}

const std::vector<std::string>& TestPlatform::Calls() const {
    return state_->calls;
}

std::vector<std::string> TestPlatform::CallsSince(std::size_t mark) const {
    const auto& calls = state_->calls;
    if (mark >= calls.size()) return {};
    return {calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end()};
}

std::size_t TestPlatform::Mark() const {
    return state_->calls.size();
}

int TestPlatform::Count(std::string_view prefix) const {
    return static_cast<int>(std::count_if(state_->calls.begin(), state_->calls.end(),
                                          [prefix](const std::string& c) { return c.starts_with(prefix); }));
}

const std::vector<CreatePortCall>& TestPlatform::CreatePortCalls() const {
    return state_->createPorts;
}
const std::vector<GlobalParamCall>& TestPlatform::GlobalParams() const {
    return state_->globalParams;
}
const std::vector<SegmentParamCall>& TestPlatform::SegmentParams() const {
    return state_->segmentParams;
}
const std::vector<LoadCall>& TestPlatform::Loads() const {
    return state_->loads;
}
const std::vector<DWORD>& TestPlatform::Sleeps() const {
    return state_->sleeps;
}
const std::vector<DWORD>& TestPlatform::RepeatsSet() const {
    return state_->repeatsSet;
}

int TestPlatform::LiveObjects() const {
    int n = 0;
    for (const auto& [kind, count] : state_->live)
        n += count;
    return n;
}

int TestPlatform::LiveObjects(std::string_view kind) const {
    auto it = state_->live.find(kind);
    return it == state_->live.end() ? 0 : it->second;
}

} // namespace qorn::testdouble
