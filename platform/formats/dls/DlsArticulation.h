// DLS articulation (Level 1 and 2) turned into what a SoundFont voice
// plays: generator values for fixed settings and for the depths of the
// voice's own LFOs and envelopes, and modulators for what MIDI sources
// (velocity, key number, controllers, pressure, pitch wheel) drive.
// Connections a SoundFont voice has no place for are counted by name, so a
// collection can say once what it loses.
#pragma once

#include "platform/formats/dls/DlsCollection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::dls {

// Connection sources, controls and destinations used here.
namespace conn {
inline constexpr std::uint16_t kSrcNone = 0x0000;
inline constexpr std::uint16_t kSrcLfo = 0x0001;
inline constexpr std::uint16_t kSrcKeyOnVelocity = 0x0002;
inline constexpr std::uint16_t kSrcKeyNumber = 0x0003;
inline constexpr std::uint16_t kSrcEg1 = 0x0004;
inline constexpr std::uint16_t kSrcEg2 = 0x0005;
inline constexpr std::uint16_t kSrcPitchWheel = 0x0006;
inline constexpr std::uint16_t kSrcPolyPressure = 0x0007;
inline constexpr std::uint16_t kSrcChannelPressure = 0x0008;
inline constexpr std::uint16_t kSrcVibrato = 0x0009;
inline constexpr std::uint16_t kSrcMonoPressure = 0x000A;
inline constexpr std::uint16_t kSrcController = 0x0080; // | controller number
inline constexpr std::uint16_t kSrcPitchBendRange = 0x0100;
inline constexpr std::uint16_t kSrcFineTune = 0x0101;
inline constexpr std::uint16_t kSrcCoarseTune = 0x0102;

inline constexpr std::uint16_t kDstAttenuation = 0x0001; // "gain" in Level 2
inline constexpr std::uint16_t kDstReserved = 0x0002;
inline constexpr std::uint16_t kDstPitch = 0x0003;
inline constexpr std::uint16_t kDstPan = 0x0004;
inline constexpr std::uint16_t kDstKeyNumber = 0x0005;
inline constexpr std::uint16_t kDstChorus = 0x0080;
inline constexpr std::uint16_t kDstReverb = 0x0081;
inline constexpr std::uint16_t kDstLfoFrequency = 0x0104;
inline constexpr std::uint16_t kDstLfoStartDelay = 0x0105;
inline constexpr std::uint16_t kDstVibFrequency = 0x0114;
inline constexpr std::uint16_t kDstVibStartDelay = 0x0115;
inline constexpr std::uint16_t kDstEg1AttackTime = 0x0206;
inline constexpr std::uint16_t kDstEg1DecayTime = 0x0207;
inline constexpr std::uint16_t kDstEg1Reserved = 0x0208;
inline constexpr std::uint16_t kDstEg1ReleaseTime = 0x0209;
inline constexpr std::uint16_t kDstEg1SustainLevel = 0x020A;
inline constexpr std::uint16_t kDstEg1DelayTime = 0x020B;
inline constexpr std::uint16_t kDstEg1HoldTime = 0x020C;
inline constexpr std::uint16_t kDstEg1ShutdownTime = 0x020D;
inline constexpr std::uint16_t kDstEg2AttackTime = 0x030A;
inline constexpr std::uint16_t kDstEg2DecayTime = 0x030B;
inline constexpr std::uint16_t kDstEg2Reserved = 0x030C;
inline constexpr std::uint16_t kDstEg2ReleaseTime = 0x030D;
inline constexpr std::uint16_t kDstEg2SustainLevel = 0x030E;
inline constexpr std::uint16_t kDstEg2DelayTime = 0x030F;
inline constexpr std::uint16_t kDstEg2HoldTime = 0x0310;
inline constexpr std::uint16_t kDstFilterCutoff = 0x0500;
inline constexpr std::uint16_t kDstFilterQ = 0x0501;

// Level 2 transform field: output curve in bits 0-3, control curve in bits
// 4-7 with its bipolar (8) and invert (9) flags, source curve in bits
// 10-13 with bipolar (14) and invert (15). Level 1 has the source curve in
// the low bits and nothing else.
inline constexpr std::uint16_t kCurveNone = 0;
inline constexpr std::uint16_t kCurveConcave = 1;
inline constexpr std::uint16_t kCurveConvex = 2;
inline constexpr std::uint16_t kCurveSwitch = 3;

// Scale of a time destination meaning "no time at all".
inline constexpr std::int32_t kTimeZero = static_cast<std::int32_t>(0x80000000u);
} // namespace conn

// SoundFont generator numbers (as the SoundFont format numbers them) that
// the articulation sets or modulates.
namespace gen {
inline constexpr int kModLfoToPitch = 5;
inline constexpr int kVibLfoToPitch = 6;
inline constexpr int kModEnvToPitch = 7;
inline constexpr int kFilterCutoff = 8;
inline constexpr int kFilterQ = 9;
inline constexpr int kModLfoToFilterCutoff = 10;
inline constexpr int kModEnvToFilterCutoff = 11;
inline constexpr int kModLfoToVolume = 13;
inline constexpr int kChorusSend = 15;
inline constexpr int kReverbSend = 16;
inline constexpr int kPan = 17;
inline constexpr int kModLfoDelay = 21;
inline constexpr int kModLfoFrequency = 22;
inline constexpr int kVibLfoDelay = 23;
inline constexpr int kVibLfoFrequency = 24;
inline constexpr int kModEnvDelay = 25;
inline constexpr int kModEnvAttack = 26;
inline constexpr int kModEnvHold = 27;
inline constexpr int kModEnvDecay = 28;
inline constexpr int kModEnvSustain = 29;
inline constexpr int kModEnvRelease = 30;
inline constexpr int kVolEnvDelay = 33;
inline constexpr int kVolEnvAttack = 34;
inline constexpr int kVolEnvHold = 35;
inline constexpr int kVolEnvDecay = 36;
inline constexpr int kVolEnvSustain = 37;
inline constexpr int kVolEnvRelease = 38;
inline constexpr int kAttenuation = 48;
inline constexpr int kFineTune = 52;
inline constexpr int kScaleTuning = 56;
// Not a SoundFont generator: the voice's pitch as the synthesizer keeps
// it, which its own pitch-wheel modulator drives.
inline constexpr int kPitch = 59;
} // namespace gen

// A MIDI source of a modulator, mapped as SoundFont modulators map theirs.
struct ModSource {
    enum class Kind : std::uint8_t {
        None,
        Velocity,
        KeyNumber,
        PolyPressure,
        ChannelPressure,
        PitchWheel,
        PitchWheelRange,
        Controller
    };
    enum class Curve : std::uint8_t { Linear, Concave, Convex, Switch };
    Kind kind = Kind::None;
    std::uint8_t controller = 0; // for Controller
    Curve curve = Curve::Linear;
    bool bipolar = false;
    bool negative = false; // falls from its top instead of rising to it
    bool operator==(const ModSource&) const = default;
};

// destination += amount × source × control, in the destination's units.
struct Modulator {
    ModSource source;
    ModSource control; // Kind::None: 1
    int destination = 0;
    double amount = 0;
};

// Generator values in SoundFont units: times in timecents, levels and
// attenuation in centibels, frequencies in absolute cents, pan and sends
// in 0.1 %.
struct VoiceParameters {
    double volEnvDelay = -12000;
    double volEnvAttack = -12000;
    double volEnvHold = -12000;
    double volEnvDecay = -12000;
    double volEnvSustain = 0; // attenuation at the sustain level
    double volEnvRelease = -12000;
    double modEnvDelay = -12000;
    double modEnvAttack = -12000;
    double modEnvHold = -12000;
    double modEnvDecay = -12000;
    double modEnvSustain = 0; // 0.1 % below full
    double modEnvRelease = -12000;
    double modEnvToPitch = 0;
    double modEnvToFilterFc = 0;
    double modLfoFrequency = -851.3; // absolute cents from 8.176 Hz: 5 Hz unless told
    double modLfoDelay = -12000;
    double modLfoToPitch = 0;
    double modLfoToVolume = 0;
    double modLfoToFilterFc = 0;
    double vibLfoFrequency = -851.3;
    double vibLfoDelay = -12000;
    double vibLfoToPitch = 0;
    double pan = 0;
    double attenuation = 0; // from articulation and the sample's gain
    double filterCutoff = 13500;
    double filterQ = 0;
    double tuneCents = 0;     // added to the sample's fine tune
    double scaleTuning = 100; // cents per key
    double chorusSend = 0;
    double reverbSend = 0;
    // What MIDI sources drive, each at most once per source, control and
    // destination (a later connection replaces an earlier one).
    std::vector<Modulator> modulators;
};

// Connections a voice cannot play, by name ("EG1 shutdown time"), each
// name once with how many region voices lose it.
struct UnplayedConnections {
    std::vector<std::pair<std::string, int>> names;
    void add(const std::string& name);
    bool empty() const { return names.empty(); }
    // "EG1 shutdown time (3 regions), LFO to pan (1 region)"
    std::string text() const;
};

// The parameters for one region: its own articulation if it has one, else
// its instrument's; the sample's gain is added to the attenuation.
VoiceParameters DeriveVoiceParameters(const Instrument& instrument, const Region& region, const WaveSample& sample,
                                      UnplayedConnections* unplayed = nullptr);

// Applies one articulation on top of `params`.
void ApplyArticulation(const Articulation& articulation, VoiceParameters& params,
                       UnplayedConnections* unplayed = nullptr);

// What the collection's articulation asks for that its voices cannot play,
// over every region of every instrument.
UnplayedConnections UnplayedArticulation(const Collection& collection);

} // namespace qorn::dls
