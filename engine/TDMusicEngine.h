// The music engine: the one object that owns every music-platform interface
// the player uses. The main window calls it synchronously on the GUI thread;
// it never calls back. Every held interface has a one-byte validity flag, so
// a start-up that fails half-way leaves exactly what Shutdown must release.
//
// The object is a plain aggregate with static storage: all fields are zero
// before first use, and `DMEngine = TDMusicEngine{}` restores that state
// (tests only; a process runs Initialize once and Shutdown once).
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/dmusic/DMusicInterfaces.h"

#include <cstdint>
#include <string>
#include <vector>

class TDMusicEngine {
  public:
    static constexpr int MaxPorts = 40;
    static constexpr int PortNameBytes = 128;
    // Room for why a General MIDI set cannot be used.
    static constexpr int ErrorBytes = 512;
    static constexpr int LoadMessageBytes = 512;

    // Start-up: COM, DirectMusic object, performance, default port, port
    // table, loader, channel assignment. False with LastError set (except a
    // failed CoInitialize, which stores nothing).
    bool Initialize();
    // Builds the default output port and the port table (Initialize only).
    bool EnumeratePorts();
    // Replaces LastError with `text` (cut to fit, always terminated).
    void ReportError(const char* text);
    // The same, followed by the error information the failed call left, if any.
    void ReportErrorWithReason(const char* text);

    // Starts the loaded segment on port-table entry `portIndex`, rebuilding
    // the output port when entry or effects differ from what it was built
    // for. 0 when started, -1 with LastError set.
    std::int32_t Play(std::int32_t portIndex, bool effects);

    // Loads the file at the NUL-terminated multibyte (UTF-8) `path` as the
    // segment, dropping the previous one first. False on any failure, with
    // LoadMessage set when the platform said why in words for the user.
    // With `segment`, the segment of that name a script or container holds.
    // A piece of which nothing can sound is not kept: LoadMessage says why.
    bool LoadSegment(const char* path, const char* segment = nullptr);
    // The names of the segments the script or container at `path` holds
    // (none for any other file), as LoadSegment takes them.
    std::vector<std::string> HeldSegments(const char* path);
    // Converts `path`, terminator included, into `out` of `outUnits` UTF-16
    // units. False (and `out` empty) when it does not fit.
    bool ToWide(const char* path, qorn::platform::WCHAR* out, int outUnits);
    // SegmentRepeats = the loaded segment's own repeat count, or -1.
    void ReadRepeats();

    // True exactly while the performance reports the segment playing.
    bool IsPlaying();
    // Stops the started segment at once and drops its state (no wait).
    void Stop();
    // Loop choice 0..3: own repeats, none, 3 plays, 5 plays.
    void SetLoop(std::int32_t choice);
    // Performance time in tenths of a second (0 without a performance).
    std::int64_t GetPlayTime();
    // Track-bar position 0..127 (88 = 0 dB); synthesizer entries only.
    void SetVolume(std::int32_t position);
    // Tempo choice 0..6: x0.5 .. x2.0 in steps of 0.25.
    void SetTempo(std::int32_t choice);
    // Stops, releases everything held in a fixed order and closes COM.
    void Shutdown();

    qorn::platform::IDirectMusic2* DirectMusic;
    qorn::platform::IDirectMusicLoader* Loader;
    qorn::platform::IDirectMusicPerformance2* Performance;
    qorn::platform::IDirectMusicSegment2* Segment;
    qorn::platform::IDirectMusicSegmentState* SegmentState;
    qorn::platform::IDirectMusicPort* Port;
    bool PlayRequested;
    qorn::platform::GUID PortGuids[MaxPorts];
    std::int32_t FirstSynthEntry;
    bool ActiveEffects;
    bool DirectMusicValid;
    bool PerformanceValid;
    bool SegmentValid;
    bool PortValid;
    bool SegmentStateValid;
    bool LoaderValid;
    std::int32_t SegmentRepeats;
    char PortNames[MaxPorts][PortNameBytes];
    char LastError[ErrorBytes];
    // Why the last LoadSegment failed (a file that is not a piece, say),
    // cut at a character to fit; empty when it succeeded or gave no reason.
    char LoadMessage[LoadMessageBytes];
    // What the last successful load reported, one line each (empty: nothing).
    std::string LoadWarnings;
    std::int32_t PortCount;
    std::int32_t ActivePort;
};

extern TDMusicEngine DMEngine;
