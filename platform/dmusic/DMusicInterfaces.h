// The interfaces of the music platform, exactly as far as the engine uses
// them. Every method is called on the GUI thread (by the engine); an
// implementation hands real-time work to threads of its own.
#pragma once

#include "DMusicRecords.h"
#include "platform/com/ComTypes.h"

namespace qorn::platform {

class IDirectMusicPort;
class IDirectMusicSegment2;
class IDirectMusicSegmentState;

class IDirectMusic2 : public IUnknown {
  public:
    virtual HRESULT Activate(BOOL enable) = 0;
    virtual HRESULT SetDirectSound(void* directSound, HWND window) = 0;
    // Port GUID_NULL asks for the default port. S_FALSE: the port adjusted
    // some of the requested parameters (written back into *params).
    virtual HRESULT CreatePort(REFGUID portGuid, DMUS_PORTPARAMS* params, IDirectMusicPort** port, IUnknown* outer) = 0;
    virtual HRESULT GetDefaultPort(GUID* portGuid) = 0;
    // S_FALSE past the last port, leaving *caps untouched.
    virtual HRESULT EnumPort(DWORD index, DMUS_PORTCAPS* caps) = 0;
};

class IDirectMusicPort : public IUnknown {
  public:
    virtual HRESULT Activate(BOOL enable) = 0;
};

// Flags of PlaySegment and Stop.
inline constexpr DWORD DMUS_SEGF_DEFAULT = 0;

class IDirectMusicPerformance2 : public IUnknown {
  public:
    virtual HRESULT Init(IDirectMusic2** directMusic, void* directSound, HWND window) = 0;
    virtual HRESULT AddPort(IDirectMusicPort* port) = 0;
    virtual HRESULT RemovePort(IDirectMusicPort* port) = 0;
    virtual HRESULT AssignPChannelBlock(DWORD blockNum, IDirectMusicPort* port, DWORD group) = 0;
    virtual HRESULT SetGlobalParam(REFGUID type, void* param, DWORD size) = 0;
    virtual HRESULT PlaySegment(IDirectMusicSegment2* segment, DWORD flags, std::int64_t startTime,
                                IDirectMusicSegmentState** segmentState) = 0;
    virtual HRESULT Stop(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState, MUSIC_TIME time,
                         DWORD flags) = 0;
    // S_OK while the segment (or the given state of it) sounds, S_FALSE after.
    virtual HRESULT IsPlaying(IDirectMusicSegment2* segment, IDirectMusicSegmentState* segmentState) = 0;
    virtual HRESULT GetTime(REFERENCE_TIME* now, MUSIC_TIME* musicNow) = 0;
    virtual HRESULT CloseDown() = 0;
};

class IDirectMusicLoader : public IUnknown {
  public:
    virtual HRESULT GetObject(DMUS_OBJECTDESC* desc, REFIID riid, void** object) = 0;
    virtual HRESULT EnableCache(REFGUID objectClass, BOOL enable) = 0;
    virtual HRESULT ClearCache(REFGUID objectClass) = 0;
};

class IDirectMusicSegment2 : public IUnknown {
  public:
    virtual HRESULT SetParam(REFGUID type, DWORD groupBits, DWORD index, MUSIC_TIME time, void* param) = 0;
    virtual HRESULT GetParam(REFGUID type, DWORD groupBits, DWORD index, MUSIC_TIME time, MUSIC_TIME* next,
                             void* param) = 0;
    virtual HRESULT GetRepeats(DWORD* repeats) = 0;
    virtual HRESULT SetRepeats(DWORD repeats) = 0;
};

class IDirectMusicSegmentState : public IUnknown {};

// A script or container file as a list of the objects it holds
// (IID_IDirectMusicContainer from the loader).
class IDirectMusicContainer : public IUnknown {
  public:
    // The object number `index` of class `objectClass` the file holds: its
    // class and name (DMUS_OBJ_CLASS | DMUS_OBJ_NAME), the name as the
    // loader takes it; S_FALSE past the last.
    virtual HRESULT EnumObject(REFGUID objectClass, DWORD index, DMUS_OBJECTDESC* desc) = 0;
};

} // namespace qorn::platform
