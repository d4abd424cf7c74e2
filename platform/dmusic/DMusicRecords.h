// The records passed between the engine and the music platform. Each starts
// with dwSize, which the caller sets to the size of the record.
#pragma once

#include <string>

#include "platform/com/ComTypes.h"

namespace qorn::platform {

inline constexpr DWORD DMUS_PORTPARAMS_VOICES = 0x01;
inline constexpr DWORD DMUS_PORTPARAMS_CHANNELGROUPS = 0x02;
inline constexpr DWORD DMUS_PORTPARAMS_AUDIOCHANNELS = 0x04;
inline constexpr DWORD DMUS_PORTPARAMS_SAMPLERATE = 0x08;
inline constexpr DWORD DMUS_PORTPARAMS_EFFECTS = 0x20;
inline constexpr DWORD DMUS_PORTPARAMS_SHARE = 0x40;

inline constexpr DWORD DMUS_EFFECT_NONE = 0x0;
inline constexpr DWORD DMUS_EFFECT_REVERB = 0x1;
inline constexpr DWORD DMUS_EFFECT_CHORUS = 0x2;

struct DMUS_PORTPARAMS {
    DWORD dwSize;
    DWORD dwValidParams;
    DWORD dwVoices;
    DWORD dwChannelGroups;
    DWORD dwAudioChannels;
    DWORD dwSampleRate;
    DWORD dwEffectFlags;
    BOOL fShare;
};
static_assert(sizeof(DMUS_PORTPARAMS) == 32);

inline constexpr DWORD DMUS_PC_INPUTCLASS = 0;
inline constexpr DWORD DMUS_PC_OUTPUTCLASS = 1;

inline constexpr DWORD DMUS_PC_DLS = 0x00000001;
inline constexpr DWORD DMUS_PC_EXTERNAL = 0x00000002;
inline constexpr DWORD DMUS_PC_SOFTWARESYNTH = 0x00000004;
inline constexpr DWORD DMUS_PC_GMINHARDWARE = 0x00000010;
inline constexpr DWORD DMUS_PC_DLS2 = 0x00000200;

inline constexpr DWORD DMUS_PORT_WINMM_DRIVER = 0;
inline constexpr DWORD DMUS_PORT_USER_MODE_SYNTH = 1;
inline constexpr DWORD DMUS_PORT_KERNEL_MODE = 2;

inline constexpr int DMUS_MAX_DESCRIPTION = 128;

struct DMUS_PORTCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    GUID guidPort;
    DWORD dwClass;
    DWORD dwType;
    DWORD dwMemorySize;
    DWORD dwMaxChannelGroups;
    DWORD dwMaxVoices;
    DWORD dwMaxAudioChannels;
    DWORD dwEffectFlags;
    WCHAR wszDescription[DMUS_MAX_DESCRIPTION];
};
static_assert(sizeof(DMUS_PORTCAPS) == 308);

inline constexpr DWORD DMUS_OBJ_OBJECT = 0x00000001;
inline constexpr DWORD DMUS_OBJ_CLASS = 0x00000002;
inline constexpr DWORD DMUS_OBJ_NAME = 0x00000004;
inline constexpr DWORD DMUS_OBJ_FILENAME = 0x00000010;
inline constexpr DWORD DMUS_OBJ_FULLPATH = 0x00000020;

// Room for any path the file system accepts (PATH_MAX bytes give at most as
// many UTF-16 units), so no path is refused for its length alone.
inline constexpr int DMUS_MAX_FILENAME = 4096;
// Room for the name of an object within a file (a segment a script holds).
inline constexpr int DMUS_MAX_NAME = 256;

// GUID_LoadReport: what a segment's load found missing, damaged or unable
// to sound here, one report a line, and why nothing of it can sound (empty
// when something can).
struct DMUS_LOAD_REPORT {
    std::string warnings;
    std::string silence;
};

struct DMUS_OBJECTDESC {
    DWORD dwSize;
    DWORD dwValidData;
    GUID guidClass;
    WCHAR wszFileName[DMUS_MAX_FILENAME];
    // With DMUS_OBJ_NAME and a script or container as the file: the segment
    // it holds of that name.
    WCHAR wszName[DMUS_MAX_NAME];
};

} // namespace qorn::platform
