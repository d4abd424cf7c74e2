#include "engine/TDMusicEngine.h"

#include "engine/PortSetup.h"

#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"
#include "platform/kernel/Kernel.h"

#include <algorithm>
#include <cstring>
#include <string>

using namespace qorn::platform;

TDMusicEngine DMEngine;

namespace {

constexpr DWORD ClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD AllTrackGroups = 0xFFFFFFFF;

// Listed ports: two more synthesizer entries must still fit the table.
constexpr int MaxListedPorts = 38;
constexpr DWORD MaxEnumIndex = 256;
// A listed name keeps at most this many bytes, so a suffix always fits.
constexpr int PortNameLimit = 63;

constexpr const char* SampleRateSuffixes[3] = {" (SampleRate:11025Hz)", " (SampleRate:22050Hz)",
                                               " (SampleRate:44100Hz)"};
constexpr DWORD SampleRates[3] = {11025, 22050, 44100};
constexpr float TempoFactors[7] = {0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 1.75f, 2.0f};

// Shutdown waits for the sound to end, but a platform that never reports the
// end must not keep the window from closing: give up after 5 s.
constexpr int ShutdownWaitPolls = 100;

// Creates an object of `clsid` and keeps its `iid` interface in *out (null on failure).
template <typename T> HRESULT CreateInstance(REFCLSID clsid, REFIID iid, T** out) {
    void* object = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, ClassContext, iid, &object);
    *out = static_cast<T*>(object);
    return hr;
}

// Length of `text` cut to at most `limit` bytes without splitting a UTF-8
// sequence, so a shortened name still displays as text.
int Utf8CutLength(const char* text, int length, int limit) {
    if (length <= limit) return length;
    int cut = limit;
    // Step back over continuation bytes to the lead byte of the split sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

void AppendText(char* entry, int capacity, const char* suffix) {
    const std::size_t used = std::strlen(entry);
    const std::size_t room = static_cast<std::size_t>(capacity) - 1 - used;
    const std::size_t add = std::min(room, std::strlen(suffix));
    std::memcpy(entry + used, suffix, add);
    entry[used + add] = '\0';
}

} // namespace

namespace {
// Copies `text` into `out`, cut at a character to fit.
template <std::size_t N> void CopyMessage(const std::string& text, char (&out)[N]) {
    std::size_t n = std::min<std::size_t>(text.size(), N - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n; // not inside a character
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}
} // namespace

void TDMusicEngine::ReportError(const char* text) {
    CopyMessage(text, LastError);
}

void TDMusicEngine::ReportErrorWithReason(const char* text) {
    const std::string why = qorn::platform::TakeErrorInfoText();
    ReportError(why.empty() ? text : (std::string(text) + ": " + why).c_str());
}

bool TDMusicEngine::Initialize() {
    DirectMusic = nullptr;
    Loader = nullptr;
    Performance = nullptr;
    Segment = nullptr;
    SegmentState = nullptr;
    DirectMusicValid = false;
    PerformanceValid = false;
    SegmentValid = false;
    PortValid = false;
    SegmentStateValid = false;
    LoaderValid = false;
    PlayRequested = false;
    PortCount = 0;

    if (FAILED(CoInitialize(nullptr))) return false;

    if (FAILED(CreateInstance(CLSID_DirectMusic, IID_IDirectMusic2, &DirectMusic))) {
        DirectMusic = nullptr;
        ReportError("Can't Call DirectMusic");
        return false;
    }
    if (DirectMusic == nullptr) {
        ReportError("Can't Create DirectMusic");
        return false;
    }
    DirectMusicValid = true;

    if (DirectMusic->Activate(TRUE) != S_OK) {
        ReportError("Can't Active DirectMusic");
        return false;
    }
    if (DirectMusic->SetDirectSound(nullptr, nullptr) != S_OK) {
        ReportError("Can't Set DirectSound");
        return false;
    }

    if (FAILED(CreateInstance(CLSID_DirectMusicPerformance, IID_IDirectMusicPerformance2, &Performance))) {
        Performance = nullptr;
        ReportError("Can't Call Performance");
        return false;
    }
    if (Performance == nullptr) {
        ReportError("Can't Create Performance");
        return false;
    }
    PerformanceValid = true;

    if (Performance->Init(nullptr, nullptr, nullptr) != S_OK) {
        ReportError("Can't Initialize Performance");
        return false;
    }

    if (!EnumeratePorts()) return false;

    if (FAILED(CreateInstance(CLSID_DirectMusicLoader, IID_IDirectMusicLoader, &Loader))) {
        Loader = nullptr;
        ReportError("Can't Call Loader");
        return false;
    }
    if (Loader == nullptr) {
        ReportError("Can't Create Loader");
        return false;
    }
    LoaderValid = true;

    std::int32_t autoDownload = 1;
    if (Performance->SetGlobalParam(GUID_PerfAutoDownload, &autoDownload, sizeof autoDownload) != S_OK) {
        ReportError("Can't Assign Instrument");
        return false;
    }
    if (Performance->AssignPChannelBlock(0, Port, 1) != S_OK) {
        ReportError("Can't Assign Instrument");
        return false;
    }
    return true;
}

bool TDMusicEngine::EnumeratePorts() {
    DMUS_PORTPARAMS params{};
    params.dwSize = sizeof params;
    params.dwValidParams = DMUS_PORTPARAMS_VOICES | DMUS_PORTPARAMS_CHANNELGROUPS | DMUS_PORTPARAMS_AUDIOCHANNELS |
                           DMUS_PORTPARAMS_EFFECTS;
    params.dwVoices = 128;
    params.dwChannelGroups = 1;
    params.dwAudioChannels = 16; // as a port rebuilt later gets
    params.dwSampleRate = 0;
    params.dwEffectFlags = DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS;
    params.fShare = FALSE;

    qorn::platform::TakeErrorInfoText();
    if (FAILED(DirectMusic->CreatePort(GUID_NULL, &params, &Port, nullptr))) {
        if (Port != nullptr) Port->Release();
        Port = nullptr;
        ReportErrorWithReason("Can't Call CreatePort");
        return false;
    }
    if (Port == nullptr) {
        ReportError("Can't Create Port");
        return false;
    }
    Port->Activate(TRUE);
    PortValid = true;

    if (FAILED(Performance->AddPort(Port))) {
        ReportError("Can't Set Default Port");
        return false;
    }

    GUID defaultPort = GUID_NULL;
    if (FAILED(DirectMusic->GetDefaultPort(&defaultPort))) {
        ReportError("Not Found Default Port");
        return false;
    }

    int n = 0;
    bool defaultFound = false;
    for (DWORD index = 0; index < MaxEnumIndex && n < MaxListedPorts; ++index) {
        DMUS_PORTCAPS caps{};
        caps.dwSize = sizeof caps;
        DirectMusic->EnumPort(index, &caps);
        if (caps.dwClass != DMUS_PC_OUTPUTCLASS) continue;

        // The description need not be terminated: never look past its array.
        int units = 0;
        while (units < DMUS_MAX_DESCRIPTION && caps.wszDescription[units] != 0)
            ++units;
        // Three bytes per unit is the most UTF-8 needs (a surrogate pair: 4 per 2).
        char name[DMUS_MAX_DESCRIPTION * 3 + 1];
        const int bytes = units == 0 ? 0
                                     : WideCharToMultiByte(CP_ACP, 0, caps.wszDescription, units, name, sizeof name,
                                                           nullptr, nullptr);
        const int kept = Utf8CutLength(name, bytes, PortNameLimit);
        std::memcpy(PortNames[n], name, static_cast<std::size_t>(kept));
        PortNames[n][kept] = '\0';
        PortGuids[n] = caps.guidPort;
        ++n;

        if (caps.guidPort == defaultPort) {
            defaultFound = true;
            break;
        }
    }

    ActiveEffects = true;
    if (defaultFound) {
        FirstSynthEntry = n - 1;
        ActivePort = n;
        for (int k = 0; k < 2; ++k) {
            std::memcpy(PortNames[n + k], PortNames[n - 1], PortNameBytes);
            PortGuids[n + k] = PortGuids[n - 1];
        }
        for (int k = 0; k < 3; ++k)
            AppendText(PortNames[n - 1 + k], PortNameBytes, SampleRateSuffixes[k]);
        PortCount = n + 2;
    } else {
        FirstSynthEntry = n;
        ActivePort = n - 1;
        PortCount = n;
    }
    return true;
}

std::int32_t TDMusicEngine::Play(std::int32_t portIndex, bool effects) {
    if (!SegmentValid || !PerformanceValid || !DirectMusicValid) {
        ReportError("Not Ready DirectMusic");
        return -1;
    }

    const bool isSynthEntry = portIndex >= FirstSynthEntry;
    const bool rebuild = portIndex != ActivePort || (isSynthEntry && effects != ActiveEffects);
    if (rebuild) {
        // The combo box passes -1 without a selection: never index outside the table.
        if (portIndex < 0 || portIndex >= PortCount) {
            ReportError("Not Found Port");
            return -1;
        }
        ActivePort = portIndex;
        ActiveEffects = effects;

        if (PortValid) {
            if (Performance->RemovePort(Port) != S_OK) {
                ReportError("Can't Remove Instrument");
                return -1;
            }
            Port->Release();
            Port = nullptr;
            PortValid = false;
        }

        DWORD sampleRate = 0;
        if (isSynthEntry) {
            int offset = portIndex - FirstSynthEntry;
            if (offset < 0 || offset > 2) offset = 1;
            sampleRate = SampleRates[offset];
        }
        DMUS_PORTPARAMS params = qorn::engine::OutputPortParams(isSynthEntry, sampleRate, effects);

        qorn::platform::TakeErrorInfoText();
        const HRESULT created = DirectMusic->CreatePort(PortGuids[portIndex], &params, &Port, nullptr);
        if (created != S_OK && created != S_FALSE) {
            // An unexpected success code may still have handed out a port.
            if (Port != nullptr) Port->Release();
            Port = nullptr;
            ReportErrorWithReason("Can't Create Instrument");
            return -1;
        }
        if (Port == nullptr) {
            ReportError("Can't Create Port");
            return -1;
        }
        PortValid = true;

        switch (qorn::engine::ConnectPort(Performance, Port)) {
        case qorn::engine::PortStep::Done:
            break;
        case qorn::engine::PortStep::Activate:
            ReportError("Can't Active Port");
            return -1;
        case qorn::engine::PortStep::AddPort:
            ReportError("Can't Set Instrument");
            return -1;
        case qorn::engine::PortStep::AutoDownload:
            ReportError("Can't Assign Performance");
            return -1;
        case qorn::engine::PortStep::AssignChannels:
            ReportError("Can't Assign Instrument");
            return -1;
        }
        // Let the new port settle before the first notes reach it.
        Sleep(isSynthEntry ? 450 : 250);
    }

    // A state still held from an earlier start would otherwise be lost.
    if (SegmentStateValid) {
        SegmentState->Release();
        SegmentStateValid = false;
    }
    PlayRequested = true;
    SegmentState = nullptr;
    const HRESULT started = Performance->PlaySegment(Segment, DMUS_SEGF_DEFAULT, 0, &SegmentState);
    if (FAILED(started) || SegmentState == nullptr) {
        // Nothing started: the caller would otherwise wait for a sound that never comes.
        if (SegmentState != nullptr) SegmentState->Release();
        SegmentState = nullptr;
        PlayRequested = false;
        ReportError("Can't Play Segment");
        return -1;
    }
    SegmentStateValid = true;
    return 0;
}

bool TDMusicEngine::ToWide(const char* path, WCHAR* out, int outUnits) {
    if (out == nullptr || outUnits <= 0) return false;
    out[0] = 0;
    if (path == nullptr) return false;
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, path, -1, out, outUnits) == 0) {
        out[0] = 0;
        return false;
    }
    return true;
}

std::vector<std::string> TDMusicEngine::HeldSegments(const char* path) {
    std::vector<std::string> names;
    if (!LoaderValid) return names;
    DMUS_OBJECTDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwValidData = DMUS_OBJ_FULLPATH;
    if (!ToWide(path, desc.wszFileName, DMUS_MAX_FILENAME)) return names;
    void* object = nullptr;
    if (FAILED(Loader->GetObject(&desc, IID_IDirectMusicContainer, &object)) || object == nullptr) return names;
    auto* container = static_cast<IDirectMusicContainer*>(object);
    DMUS_OBJECTDESC entry{};
    for (DWORD i = 0; container->EnumObject(CLSID_DirectMusicSegment, i, &entry) == S_OK; ++i) {
        int units = 0;
        while (units < DMUS_MAX_NAME && entry.wszName[units] != 0)
            ++units;
        const int bytes = WideCharToMultiByte(CP_ACP, 0, entry.wszName, units, nullptr, 0, nullptr, nullptr);
        std::string name(std::size_t(bytes > 0 ? bytes : 0), '\0');
        if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, entry.wszName, units, name.data(), bytes, nullptr, nullptr);
        names.push_back(std::move(name));
    }
    container->Release();
    return names;
}

bool TDMusicEngine::LoadSegment(const char* path, const char* segment) {
    LoadMessage[0] = '\0';
    LoadWarnings.clear();
    if (!LoaderValid) return false;

    Stop();
    if (SegmentValid) {
        Segment->Release();
        Segment = nullptr;
        SegmentValid = false;
    }

    DMUS_OBJECTDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FULLPATH;
    desc.guidClass = CLSID_DirectMusicSegment;
    if (!ToWide(path, desc.wszFileName, DMUS_MAX_FILENAME)) return false;
    if (segment != nullptr && *segment != '\0') {
        desc.dwValidData |= DMUS_OBJ_NAME;
        if (!ToWide(segment, desc.wszName, DMUS_MAX_NAME)) return false;
    }

    void* object = nullptr;
    const HRESULT loaded = Loader->GetObject(&desc, IID_IDirectMusicSegment2, &object);
    Segment = static_cast<IDirectMusicSegment2*>(object);
    if (FAILED(loaded) || Segment == nullptr) {
        Segment = nullptr;
        CopyMessage(qorn::platform::TakeErrorInfoText(), LoadMessage);
        return false;
    }
    // What the load found missing or damaged, and whether anything can sound.
    DMUS_LOAD_REPORT report;
    if (SUCCEEDED(Segment->GetParam(GUID_LoadReport, AllTrackGroups, 0, 0, nullptr, &report))) {
        if (!report.silence.empty()) {
            Segment->Release();
            Segment = nullptr;
            std::string name(path);
            name = name.substr(name.find_last_of('/') + 1);
            if (segment != nullptr && *segment != '\0') name += std::string(": ") + segment;
            CopyMessage("nothing in " + name + " can sound: " + report.silence, LoadMessage);
            return false;
        }
        LoadWarnings = std::move(report.warnings);
    }
    SegmentValid = true;

    Segment->SetParam(GUID_StandardMIDIFile, AllTrackGroups, 0, 0, &Performance);
    ReadRepeats();
    return true;
}

void TDMusicEngine::ReadRepeats() {
    DWORD repeats = 0;
    if (SegmentValid && SUCCEEDED(Segment->GetRepeats(&repeats))) {
        SegmentRepeats = static_cast<std::int32_t>(repeats);
    } else {
        SegmentRepeats = -1;
    }
}

bool TDMusicEngine::IsPlaying() {
    if (Performance == nullptr) return false;
    return Performance->IsPlaying(Segment, SegmentState) == S_OK;
}

void TDMusicEngine::Stop() {
    if (!PlayRequested || !PerformanceValid || !SegmentStateValid) return;
    Performance->Stop(nullptr, nullptr, 0, DMUS_SEGF_DEFAULT);
    Performance->Stop(nullptr, SegmentState, 0, DMUS_SEGF_DEFAULT);
    PlayRequested = false;
    SegmentState->Release();
    SegmentState = nullptr;
    SegmentStateValid = false;
}

void TDMusicEngine::SetLoop(std::int32_t choice) {
    if (Segment == nullptr) return;
    DWORD count = 0;
    if (SegmentRepeats != 0) {
        switch (choice) {
        case 1:
            count = 0;
            break;
        case 2:
            count = 2;
            break;
        case 3:
            count = 4;
            break;
        default: // 0 and anything unknown: the segment's own count (-1 passes as 0xFFFFFFFF)
            count = static_cast<DWORD>(SegmentRepeats);
            break;
        }
    }
    Segment->SetRepeats(count);
}

std::int64_t TDMusicEngine::GetPlayTime() {
    if (Performance == nullptr) return 0;
    REFERENCE_TIME now = 0;
    Performance->GetTime(&now, nullptr);
    return now / 1000000;
}

void TDMusicEngine::SetVolume(std::int32_t position) {
    if (!PerformanceValid || ActivePort < FirstSynthEntry) return;
    std::int32_t volume = qorn::engine::VolumeForPosition(position);
    Performance->SetGlobalParam(GUID_PerfMasterVolume, &volume, sizeof volume);
}

void TDMusicEngine::SetTempo(std::int32_t choice) {
    if (!PerformanceValid) return;
    if (choice < 0 || choice > 6) choice = 2;
    float factor = TempoFactors[choice];
    Performance->SetGlobalParam(GUID_PerfMasterTempo, &factor, sizeof factor);
}

void TDMusicEngine::Shutdown() {
    if (PlayRequested && PerformanceValid) {
        Performance->Stop(nullptr, nullptr, 0, DMUS_SEGF_DEFAULT);
        for (int polls = 0; IsPlaying() && polls < ShutdownWaitPolls; ++polls)
            Sleep(50);
    }

    if (LoaderValid) {
        Loader->EnableCache(GUID_DirectMusicAllTypes, FALSE);
        Loader->ClearCache(GUID_DirectMusicAllTypes);
        Loader->Release();
        Loader = nullptr;
    }

    if (SegmentStateValid) {
        SegmentState->Release();
        SegmentState = nullptr;
    }

    if (SegmentValid) {
        Segment->SetParam(GUID_Unload, AllTrackGroups, 0, 0, Performance);
        Segment->Release();
        Segment = nullptr;
    }

    if (PerformanceValid) {
        if (PortValid) {
            Performance->RemovePort(Port);
            Port->Release();
            Port = nullptr;
        }
        Performance->CloseDown();
        Performance->Release();
    } else {
        Port = nullptr;
    }
    Performance = nullptr;

    if (DirectMusicValid) {
        DirectMusic->Release();
        DirectMusic = nullptr;
    }

    CoUninitialize();
}
