// A scriptable stand-in for the whole music platform, for tests of the engine
// and of the window that drives it. Nothing sounds and nothing sleeps.
//
//   qorn::testdouble::EngineTestPlatform platform;   // installs itself, zeroes DMEngine
//   platform.SetPorts({EnumeratedPort::Output("MIDI Out", TestGuid(1)),
//                      EnumeratedPort::Output("Synth", TestGuid(2))}, TestGuid(2));
//   ASSERT_TRUE(DMEngine.Initialize());
//   platform.SetResult("Performance.PlaySegment", E_FAIL);   // every later call
//   platform.QueueResults("DirectMusic.Activate", {S_FALSE}); // the next call only
//   platform.SetNullOutput("DirectMusic.CreatePort");         // success, but no port
//   platform.Calls();        // "CoInitialize(null)", "CoCreateInstance(DirectMusic)", ...
//
// While it lives, a TestPlatform registers the DirectMusic, performance and
// loader classes with the class registry and takes over CoInitialize,
// CoUninitialize and Sleep (a sleep is recorded, never slept). Its destructor
// removes all of that and frees the objects still alive (a test need not call
// Shutdown). It knows nothing of the engine: EngineTestPlatform
// (tests/support/EngineTestPlatform.h) also zeroes the global engine on both
// ends, so every test starts from scratch. Only one may live at a time.
//
// Results are chosen per call by the call's name, which is the part of its log
// entry before the parenthesis ("Performance.AddPort") or, for creation, the
// whole entry ("CoCreateInstance(Loader)"). Unscripted calls behave like a
// working machine:
// - the default port list is an input port, an output port "Test MIDI Out"
//   and the default port "Test Software Synth" (so start-up succeeds and the
//   table has four entries, the 22050 Hz one active);
// - loads succeed; a segment reports the repeats set by SetSegmentRepeats (0);
// - IsPlaying answers S_OK from a successful PlaySegment until Performance.Stop
//   or EndPiece(); SetPlaying() fixes the answer, PlayingAfter(n) answers
//   S_FALSE n times first;
// - GetTime answers the clock set by SetTime/AdvanceTime (optionally advanced
//   by every recorded Sleep).
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/dmusic/DMusicRecords.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qorn::testdouble {

using platform::DWORD;
using platform::GUID;
using platform::HRESULT;
using platform::MUSIC_TIME;
using platform::REFERENCE_TIME;

// A distinct, recognisable GUID per number: {n-0-0-0000-000000000000}.
GUID TestGuid(std::uint32_t n);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", or the name of a known GUID.
std::string GuidText(const GUID& guid);

// One port the machine enumerates.
struct EnumeratedPort {
    DWORD portClass = platform::DMUS_PC_OUTPUTCLASS;
    GUID guid{};
    // Copied into the record as is: 128 units leave it without a terminator.
    std::u16string description;

    static EnumeratedPort Output(std::string_view utf8Description, const GUID& guid);
    static EnumeratedPort Input(std::string_view utf8Description, const GUID& guid);
};

struct CreatePortCall {
    GUID port;
    platform::DMUS_PORTPARAMS params;
};

struct GlobalParamCall {
    GUID type;
    DWORD size;
    std::int32_t intValue; // the first four bytes read as each type
    float floatValue;
};

struct SegmentParamCall {
    GUID type;
    DWORD groupBits;
    DWORD index;
    MUSIC_TIME time;
    std::string param; // "&performance#1" (pointer to a field holding it) or "performance#1"
};

struct LoadCall {
    DWORD size;
    DWORD validData;
    GUID objectClass;
    GUID interfaceId;
    std::u16string fileName; // up to the terminator (or the whole array when there is none)
    std::string path;        // the same, back in UTF-8
    bool terminated;
};

struct TestState;

class TestPlatform {
  public:
    TestPlatform();
    ~TestPlatform();
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    // --- Results -------------------------------------------------------
    // The result of every later call of `call` (aborts on an unknown name).
    void SetResult(std::string_view call, HRESULT result);
    // Back to the working machine's result.
    void ClearResult(std::string_view call);
    // Results of the next calls, used before any SetResult.
    void QueueResults(std::string_view call, std::vector<HRESULT> results);
    // A creating call ("CoCreateInstance(...)", "DirectMusic.CreatePort",
    // "Performance.PlaySegment", "Loader.GetObject") hands out null.
    void SetNullOutput(std::string_view call, bool null = true);

    // --- The machine ---------------------------------------------------
    void SetPorts(std::vector<EnumeratedPort> ports, const GUID& defaultPort);
    void SetSegmentRepeats(DWORD repeats);
    // Convenience: every load fails (true) or works again (false).
    void FailLoads(bool fail = true);
    // Convenience: PlaySegment fails (true) or works again (false).
    void FailPlay(bool fail = true);

    // --- Playback ------------------------------------------------------
    void SetPlaying(bool playing);
    // Back to following PlaySegment / Stop / EndPiece.
    void FollowPlayback();
    void PlayingAfter(int notYet);
    // The piece (with its repeats) ends by itself.
    void EndPiece();
    bool Sounding() const;

    // --- Clock ---------------------------------------------------------
    void SetTime(REFERENCE_TIME now);
    void AdvanceTime(REFERENCE_TIME delta);
    void AdvanceClockOnSleep(bool advance = true);

    // --- What happened -------------------------------------------------
    const std::vector<std::string>& Calls() const;
    // The calls made since `mark` (a size of Calls() taken earlier).
    std::vector<std::string> CallsSince(std::size_t mark) const;
    std::size_t Mark() const;
    // How many logged calls start with `prefix`.
    int Count(std::string_view prefix) const;
    const std::vector<CreatePortCall>& CreatePortCalls() const;
    const std::vector<GlobalParamCall>& GlobalParams() const;
    const std::vector<SegmentParamCall>& SegmentParams() const;
    const std::vector<LoadCall>& Loads() const;
    const std::vector<DWORD>& Sleeps() const;
    const std::vector<DWORD>& RepeatsSet() const;
    // Objects handed out and not yet released to zero; by kind: "directmusic",
    // "performance", "loader", "port", "segment", "state".
    int LiveObjects() const;
    int LiveObjects(std::string_view kind) const;

  private:
    std::shared_ptr<TestState> state_;
};

} // namespace qorn::testdouble
