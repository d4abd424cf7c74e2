#include "tests/support/testdouble/TestObjects.h"

#include "platform/com/Guids.h"
#include "platform/dmusic/DMusicInterfaces.h"
#include "platform/kernel/Kernel.h"

#include <cstdio>
#include <cstring>

namespace qorn::testdouble {

using namespace qorn::platform;

namespace {

std::string Bool(BOOL value) {
    return value ? "TRUE" : "FALSE";
}

// Reference counting, labelling and the live count shared by every object.
template <typename Interface> class TestObject : public Interface {
  public:
    TestObject(std::shared_ptr<TestState> state, std::string kind) : state_(std::move(state)), kind_(std::move(kind)) {
        label_ = state_->NewLabel(static_cast<Interface*>(this), kind_, [this] { delete this; });
    }
    TestObject(const TestObject&) = delete;
    TestObject& operator=(const TestObject&) = delete;

    DWORD AddRef() override {
        state_->Log("AddRef(" + label_ + ")");
        return ++refs_;
    }
    DWORD Release() override {
        state_->Log("Release(" + label_ + ")");
        const DWORD left = --refs_;
        if (left == 0) {
            state_->Forget(static_cast<Interface*>(this), kind_);
            delete this;
        }
        return left;
    }

  protected:
    ~TestObject() override = default;
    TestState& S() { return *state_; }
    const std::shared_ptr<TestState>& Shared() { return state_; }

  private:
    std::shared_ptr<TestState> state_;
    std::string kind_;
    std::string label_;
    DWORD refs_ = 1;
};

class TestPort final : public TestObject<IDirectMusicPort> {
  public:
    explicit TestPort(std::shared_ptr<TestState> state) : TestObject(std::move(state), "port") {}
    HRESULT Activate(BOOL enable) override {
        S().Log("Port.Activate(" + Bool(enable) + ")");
        return S().Result("Port.Activate", S_OK);
    }
};

class TestSegmentState final : public TestObject<IDirectMusicSegmentState> {
  public:
    explicit TestSegmentState(std::shared_ptr<TestState> state) : TestObject(std::move(state), "state") {}
};

class TestSegment final : public TestObject<IDirectMusicSegment2> {
  public:
    explicit TestSegment(std::shared_ptr<TestState> state) : TestObject(std::move(state), "segment") {}

    HRESULT SetParam(REFGUID type, DWORD groupBits, DWORD index, MUSIC_TIME time, void* param) override {
        std::string paramText;
        // The midi-file parameter passes where the performance is kept; the
        // unload parameter passes the performance itself.
        if (param == nullptr) {
            paramText = "null";
        } else if (type == GUID_StandardMIDIFile) {
            paramText = "&" + S().Label(*static_cast<void**>(param));
        } else {
            paramText = S().Label(param);
        }
        char groups[16];
        std::snprintf(groups, sizeof groups, "0x%08X", groupBits);
        S().Log("Segment.SetParam(" + GuidText(type) + ", " + groups + ", " + std::to_string(index) + ", " +
                std::to_string(time) + ", " + paramText + ")");
        S().segmentParams.push_back({type, groupBits, index, time, paramText});
        return S().Result("Segment.SetParam", S_OK);
    }
    // Not logged: the engine asks it after every load.
    HRESULT GetParam(REFGUID, DWORD, DWORD, MUSIC_TIME, MUSIC_TIME*, void*) override { return E_NOTIMPL; }
    HRESULT GetRepeats(DWORD* repeats) override {
        S().Log("Segment.GetRepeats()");
        const HRESULT hr = S().Result("Segment.GetRepeats", S_OK);
        if (SUCCEEDED(hr) && repeats != nullptr) *repeats = S().segmentRepeats;
        return hr;
    }
    HRESULT SetRepeats(DWORD repeats) override {
        S().Log("Segment.SetRepeats(" + std::to_string(repeats) + ")");
        S().repeatsSet.push_back(repeats);
        return S().Result("Segment.SetRepeats", S_OK);
    }
};

class TestDirectMusic final : public TestObject<IDirectMusic2> {
  public:
    explicit TestDirectMusic(std::shared_ptr<TestState> state) : TestObject(std::move(state), "directmusic") {}

    HRESULT Activate(BOOL enable) override {
        S().Log("DirectMusic.Activate(" + Bool(enable) + ")");
        return S().Result("DirectMusic.Activate", S_OK);
    }
    HRESULT SetDirectSound(void* directSound, HWND window) override {
        S().Log("DirectMusic.SetDirectSound(" + S().Label(directSound) + ", " + S().Label(window) + ")");
        return S().Result("DirectMusic.SetDirectSound", S_OK);
    }
    HRESULT CreatePort(REFGUID portGuid, DMUS_PORTPARAMS* params, IDirectMusicPort** port, IUnknown* outer) override {
        S().Log("DirectMusic.CreatePort(" + GuidText(portGuid) + ")");
        CreatePortCall call{portGuid, {}};
        if (params != nullptr) call.params = *params;
        S().createPorts.push_back(call);
        if (port == nullptr) return E_POINTER;
        *port = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        const HRESULT hr = S().Result("DirectMusic.CreatePort", S_OK);
        if (SUCCEEDED(hr) && !S().NullOutput("DirectMusic.CreatePort")) *port = new TestPort(Shared());
        return hr;
    }
    HRESULT GetDefaultPort(GUID* portGuid) override {
        S().Log("DirectMusic.GetDefaultPort()");
        const HRESULT hr = S().Result("DirectMusic.GetDefaultPort", S_OK);
        if (SUCCEEDED(hr) && portGuid != nullptr) *portGuid = S().defaultPort;
        return hr;
    }
    HRESULT EnumPort(DWORD index, DMUS_PORTCAPS* caps) override {
        S().Log("DirectMusic.EnumPort(" + std::to_string(index) + ")");
        const bool listed = index < S().ports.size();
        const HRESULT hr = S().Result("DirectMusic.EnumPort", listed ? S_OK : S_FALSE);
        if (!listed || caps == nullptr) return hr;
        const EnumeratedPort& port = S().ports[index];
        caps->dwClass = port.portClass;
        caps->guidPort = port.guid;
        caps->dwFlags = DMUS_PC_SOFTWARESYNTH;
        caps->dwMaxChannelGroups = 1;
        caps->dwMaxVoices = 128;
        caps->dwMaxAudioChannels = 2;
        std::memset(caps->wszDescription, 0, sizeof caps->wszDescription);
        const std::size_t units = std::min<std::size_t>(port.description.size(), DMUS_MAX_DESCRIPTION);
        std::copy_n(port.description.begin(), units, caps->wszDescription);
        return hr;
    }
};

class TestPerformance final : public TestObject<IDirectMusicPerformance2> {
  public:
    explicit TestPerformance(std::shared_ptr<TestState> state) : TestObject(std::move(state), "performance") {}

    HRESULT Init(IDirectMusic2** directMusic, void* directSound, HWND window) override {
        S().Log("Performance.Init(" + std::string(directMusic ? "ptr" : "null") + ", " + S().Label(directSound) + ", " +
                S().Label(window) + ")");
        return S().Result("Performance.Init", S_OK);
    }
    HRESULT AddPort(IDirectMusicPort* port) override {
        S().Log("Performance.AddPort(" + S().Label(port) + ")");
        return S().Result("Performance.AddPort", S_OK);
    }
    HRESULT RemovePort(IDirectMusicPort* port) override {
        S().Log("Performance.RemovePort(" + S().Label(port) + ")");
        return S().Result("Performance.RemovePort", S_OK);
    }
    HRESULT AssignPChannelBlock(DWORD blockNum, IDirectMusicPort* port, DWORD group) override {
        S().Log("Performance.AssignPChannelBlock(" + std::to_string(blockNum) + ", " + S().Label(port) + ", " +
                std::to_string(group) + ")");
        return S().Result("Performance.AssignPChannelBlock", S_OK);
    }
    HRESULT SetGlobalParam(REFGUID type, void* param, DWORD size) override {
        GlobalParamCall call{type, size, 0, 0.0f};
        if (param != nullptr && size >= 4) {
            std::memcpy(&call.intValue, param, 4);
            std::memcpy(&call.floatValue, param, 4);
        }
        std::string value = param == nullptr ? "null" : std::to_string(call.intValue);
        if (param != nullptr && type == GUID_PerfMasterTempo) {
            char text[32];
            std::snprintf(text, sizeof text, "%g", static_cast<double>(call.floatValue));
            value = text;
        }
        S().Log("Performance.SetGlobalParam(" + GuidText(type) + ", " + value + ", " + std::to_string(size) + ")");
        S().globalParams.push_back(call);
        return S().Result("Performance.SetGlobalParam", S_OK);
    }
    HRESULT PlaySegment(IDirectMusicSegment2* segment, DWORD flags, std::int64_t startTime,
                        IDirectMusicSegmentState** segmentState) override {
        S().Log("Performance.PlaySegment(" + S().Label(segment) + ", " + std::to_string(flags) + ", " +
                std::to_string(startTime) + ")");
        const HRESULT hr = S().Result("Performance.PlaySegment", S_OK);
        if (segmentState == nullptr) return E_POINTER;
        *segmentState = nullptr;
        if (SUCCEEDED(hr) && !S().NullOutput("Performance.PlaySegment")) {
            *segmentState = new TestSegmentState(Shared());
            S().sounding = true;
        }
        return hr;
    }
    HRESULT Stop(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState, MUSIC_TIME time,
                 DWORD flags) override {
        S().Log("Performance.Stop(" + S().Label(segment) + ", " + S().Label(segmentState) + ", " +
                std::to_string(time) + ", " + std::to_string(flags) + ")");
        S().sounding = false;
        return S().Result("Performance.Stop", S_OK);
    }
    HRESULT IsPlaying(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState) override {
        S().Log("Performance.IsPlaying(" + S().Label(segment) + ", " + S().Label(segmentState) + ")");
        return S().Result("Performance.IsPlaying", S().sounding ? S_OK : S_FALSE);
    }
    HRESULT GetTime(REFERENCE_TIME* now, MUSIC_TIME* musicNow) override {
        S().Log("Performance.GetTime()");
        const HRESULT hr = S().Result("Performance.GetTime", S_OK);
        if (now != nullptr) *now = S().now;
        if (musicNow != nullptr) *musicNow = static_cast<MUSIC_TIME>(S().now / 10000);
        return hr;
    }
    HRESULT CloseDown() override {
        S().Log("Performance.CloseDown()");
        S().sounding = false;
        return S().Result("Performance.CloseDown", S_OK);
    }
};

class TestLoader final : public TestObject<IDirectMusicLoader> {
  public:
    explicit TestLoader(std::shared_ptr<TestState> state) : TestObject(std::move(state), "loader") {}

    HRESULT GetObject(DMUS_OBJECTDESC* desc, REFIID riid, void** object) override {
        LoadCall call{};
        if (desc != nullptr) {
            call.size = desc->dwSize;
            call.validData = desc->dwValidData;
            call.objectClass = desc->guidClass;
            std::size_t units = 0;
            while (units < DMUS_MAX_FILENAME && desc->wszFileName[units] != 0)
                ++units;
            call.terminated = units < DMUS_MAX_FILENAME;
            call.fileName.assign(desc->wszFileName, units);
            if (units > 0) {
                const int n = static_cast<int>(units);
                const int bytes = WideCharToMultiByte(CP_UTF8, 0, desc->wszFileName, n, nullptr, 0, nullptr, nullptr);
                call.path.resize(static_cast<std::size_t>(bytes));
                WideCharToMultiByte(CP_UTF8, 0, desc->wszFileName, n, call.path.data(), bytes, nullptr, nullptr);
            }
        }
        call.interfaceId = riid;
        S().Log("Loader.GetObject(" + call.path + ")");
        S().loads.push_back(call);
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        const HRESULT hr = S().Result("Loader.GetObject", riid == IID_IDirectMusicSegment2 ? S_OK : E_NOINTERFACE);
        if (SUCCEEDED(hr) && !S().NullOutput("Loader.GetObject")) {
            *object = static_cast<IDirectMusicSegment2*>(new TestSegment(Shared()));
        }
        return hr;
    }
    HRESULT EnableCache(REFGUID objectClass, BOOL enable) override {
        S().Log("Loader.EnableCache(" + GuidText(objectClass) + ", " + Bool(enable) + ")");
        return S().Result("Loader.EnableCache", S_OK);
    }
    HRESULT ClearCache(REFGUID objectClass) override {
        S().Log("Loader.ClearCache(" + GuidText(objectClass) + ")");
        return S().Result("Loader.ClearCache", S_OK);
    }
};

// Logs the creation, applies the script and hands out a new object.
template <typename Object, typename Interface> HRESULT Create(const std::shared_ptr<TestState>& state, const char* name,
                                                              const GUID& wanted, const GUID& riid, void** ppv) {
    const std::string call = std::string("CoCreateInstance(") + name + ")";
    state->Log(call);
    *ppv = nullptr;
    const HRESULT hr = state->Result(call, riid == wanted ? S_OK : E_NOINTERFACE);
    if (SUCCEEDED(hr) && !state->NullOutput(call)) *ppv = static_cast<Interface*>(new Object(state));
    return hr;
}

} // namespace

HRESULT CreateTestDirectMusic(const std::shared_ptr<TestState>& state, const GUID& riid, void** ppv) {
    return Create<TestDirectMusic, IDirectMusic2>(state, "DirectMusic", IID_IDirectMusic2, riid, ppv);
}

HRESULT CreateTestPerformance(const std::shared_ptr<TestState>& state, const GUID& riid, void** ppv) {
    return Create<TestPerformance, IDirectMusicPerformance2>(state, "Performance", IID_IDirectMusicPerformance2, riid,
                                                             ppv);
}

HRESULT CreateTestLoader(const std::shared_ptr<TestState>& state, const GUID& riid, void** ppv) {
    return Create<TestLoader, IDirectMusicLoader>(state, "Loader", IID_IDirectMusicLoader, riid, ppv);
}

} // namespace qorn::testdouble
