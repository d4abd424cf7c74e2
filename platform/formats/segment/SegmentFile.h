// The content of a segment file (RIFF 'DMSG') as read, before it is turned
// into a playable music::Sequence. Times are music time, 768 ticks per
// quarter note, relative to the start of the segment.
#pragma once

#include "ObjectReference.h"
#include "platform/com/ComTypes.h"
#include "platform/formats/common/Diagnostics.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::dls {
struct Collection;
}

namespace qorn::formats::segment {

inline constexpr std::uint32_t kTicksPerQuarter = 768;
inline constexpr std::uint32_t kRepeatForever = 0xFFFFFFFFu;

struct SegmentHeader {
    std::uint32_t repeats = 0;
    std::int32_t length = 0;
    std::int32_t playStart = 0;
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0; // 0: the whole segment
    std::uint32_t resolution = 0;
    // Longer headers: the length in clock time (100 ns units) and flags.
    std::int64_t clockLength = 0;
    std::uint32_t flags = 0;
    // The size the file stored (24, 40, 56 or 64 in the known versions).
    std::uint32_t storedSize = 0;

    static constexpr std::uint32_t kClockTimeLength = 0x1;
    bool lengthIsClockTime() const { return (flags & kClockTimeLength) != 0 && clockLength > 0; }
};

struct TrackHeader {
    platform::GUID classId{};
    std::uint32_t position = 0;
    std::uint32_t groups = 0;
    std::uint32_t chunkId = 0;
    std::uint32_t formType = 0;
    // How the track plays ('trkx' flags; 0 when the file has none).
    std::uint32_t config = 0;

    static constexpr std::uint32_t kPlaysInClockTime = 0x40;
    bool playsInClockTime() const { return (config & kPlaysInClockTime) != 0; }
};

// A note or other MIDI message of a sequence track.
struct SequenceItem {
    std::int32_t time = 0;
    std::int32_t duration = 0;
    std::uint32_t pchannel = 0;
    std::int16_t offset = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

enum class CurveKind : std::uint8_t {
    PitchBend = 0x03,
    Controller = 0x04,
    ChannelPressure = 0x05,
    PolyPressure = 0x06,
    Rpn = 0x07,
    Nrpn = 0x08,
};

enum class CurveShape : std::uint8_t { Linear = 0, Instant = 1, Exponential = 2, Logarithmic = 3, Sine = 4 };

struct CurveItem {
    std::int32_t start = 0;
    std::int32_t duration = 0;
    std::int32_t resetDuration = 0;
    std::uint32_t pchannel = 0;
    std::int16_t offset = 0;
    std::int16_t startValue = 0;
    std::int16_t endValue = 0;
    std::int16_t resetValue = 0;
    std::uint8_t kind = 0;  // CurveKind
    std::uint8_t shape = 0; // CurveShape
    // Controller number, or the key of a poly-pressure curve.
    std::uint8_t ccData = 0;
    std::uint8_t flags = 0;
    // Parameter number of an RPN/NRPN curve.
    std::uint16_t paramType = 0;

    // Reset to resetValue when cut off within resetDuration after the end.
    static constexpr std::uint8_t kReset = 0x1;
    // Start from the controller's current value instead of startValue.
    static constexpr std::uint8_t kStartFromCurrent = 0x2;
};

struct TempoItem {
    std::int32_t time = 0;
    double beatsPerMinute = 120.0;
};

struct TimeSignatureItem {
    std::int32_t time = 0;
    std::uint8_t beatsPerMeasure = 4;
    std::uint8_t beat = 4;
    std::uint16_t gridsPerBeat = 4;
};

struct SysExItem {
    std::int32_t time = 0;
    std::uint32_t pchannel = 0;
    std::vector<std::uint8_t> bytes;
};

// One PChannel's entry of a band.
struct BandInstrument {
    // Which fields are valid.
    static constexpr std::uint32_t kPatch = 0x0001;
    static constexpr std::uint32_t kBankSelect = 0x0002;
    static constexpr std::uint32_t kAssignPatch = 0x0008;
    static constexpr std::uint32_t kNoteRanges = 0x0010;
    static constexpr std::uint32_t kPan = 0x0020;
    static constexpr std::uint32_t kVolume = 0x0040;
    static constexpr std::uint32_t kTranspose = 0x0080;
    static constexpr std::uint32_t kGm = 0x0100;
    static constexpr std::uint32_t kGs = 0x0200;
    static constexpr std::uint32_t kXg = 0x0400;
    static constexpr std::uint32_t kChannelPriority = 0x0800;
    static constexpr std::uint32_t kUseDefaultGmSet = 0x1000;
    static constexpr std::uint32_t kPitchBendRange = 0x2000;

    static constexpr std::uint32_t kDrumFlag = 0x80000000u;

    std::uint32_t patch = 0; // drum flag, bank MSB << 16, bank LSB << 8, program
    std::uint32_t assignPatch = 0;
    std::uint32_t noteRanges[4] = {0, 0, 0, 0};
    std::uint32_t pchannel = 0;
    std::uint32_t flags = 0;
    std::uint8_t pan = 64;
    std::uint8_t volume = 100;
    std::int16_t transpose = 0;
    std::uint32_t priority = 0;
    std::int16_t pitchBendRange = 2;
    bool hasPitchBendRange = false; // the record was long enough to carry it

    bool hasReference = false;
    ObjectReference reference;
    // Index into SegmentFile::collections, -1 for the General MIDI set,
    // kSilent for an instrument of the author's own whose collection could
    // not be loaded: its channel plays nothing.
    static constexpr int kSilent = -2;
    int collection = -1;

    // The entry names an instrument of a standard set (General MIDI, GS,
    // XG) or asks for the default set, which the General MIDI set plays; any
    // other program number names an instrument of its collection.
    bool standardSet() const { return (flags & (kGm | kGs | kXg | kUseDefaultGmSet)) != 0; }

    std::uint8_t program() const { return static_cast<std::uint8_t>(patch & 0x7F); }
    std::uint8_t bankLsb() const { return static_cast<std::uint8_t>((patch >> 8) & 0x7F); }
    std::uint8_t bankMsb() const { return static_cast<std::uint8_t>((patch >> 16) & 0x7F); }
    bool drums() const { return (patch & kDrumFlag) != 0; }
};

struct Band {
    std::int32_t time = 0;
    std::string name;
    std::vector<BandInstrument> instruments;
};

struct Track {
    enum class Kind { Sequence, Tempo, TimeSignature, SysEx, Band, Unknown };
    Kind kind = Kind::Unknown;
    TrackHeader header;
    std::vector<SequenceItem> events;
    std::vector<CurveItem> curves;
    std::vector<TempoItem> tempos;
    std::vector<TimeSignatureItem> timeSignatures;
    std::vector<SysExItem> sysex;
    std::vector<Band> bands;
    bool autoDownload = false;
    // A track of a kind this reader does not play: its data chunk or form as
    // stored (header included), for the readers of other track kinds.
    std::vector<std::uint8_t> rawData;
};

struct SegmentFile {
    SegmentHeader header;
    bool hasGuid = false;
    platform::GUID guid{};
    std::string name;
    std::vector<Track> tracks;
    // Collections the bands use (deduplicated), embedded or referenced.
    std::vector<std::shared_ptr<const dls::Collection>> collections;
    // The segment carries an audiopath configuration ('DMAP' form).
    bool holdsAudioPathConfig = false;
    // Problems that did not stop the read (skipped chunks, references not
    // found), one line each.
    Diagnostics warnings;
};

} // namespace qorn::formats::segment
