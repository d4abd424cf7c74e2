// The parts of DLS articulation a sample player can honour, turned into
// SoundFont-style generator units: envelopes, LFOs, pan, gain and filter.
// Connections that need a general modulation matrix are left out.
#pragma once

#include "platform/formats/dls/DlsCollection.h"

#include <cstdint>
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
inline constexpr std::uint16_t kSrcVibrato = 0x0009;

inline constexpr std::uint16_t kDstAttenuation = 0x0001; // "gain" in Level 2
inline constexpr std::uint16_t kDstPitch = 0x0003;
inline constexpr std::uint16_t kDstPan = 0x0004;
inline constexpr std::uint16_t kDstLfoFrequency = 0x0104;
inline constexpr std::uint16_t kDstLfoStartDelay = 0x0105;
inline constexpr std::uint16_t kDstVibFrequency = 0x0114;
inline constexpr std::uint16_t kDstVibStartDelay = 0x0115;
inline constexpr std::uint16_t kDstEg1AttackTime = 0x0206;
inline constexpr std::uint16_t kDstEg1DecayTime = 0x0207;
inline constexpr std::uint16_t kDstEg1ReleaseTime = 0x0209;
inline constexpr std::uint16_t kDstEg1SustainLevel = 0x020A;
inline constexpr std::uint16_t kDstEg1DelayTime = 0x020B;
inline constexpr std::uint16_t kDstEg1HoldTime = 0x020C;
inline constexpr std::uint16_t kDstEg2AttackTime = 0x030A;
inline constexpr std::uint16_t kDstEg2DecayTime = 0x030B;
inline constexpr std::uint16_t kDstEg2ReleaseTime = 0x030D;
inline constexpr std::uint16_t kDstEg2SustainLevel = 0x030E;
inline constexpr std::uint16_t kDstEg2DelayTime = 0x030F;
inline constexpr std::uint16_t kDstEg2HoldTime = 0x0310;
inline constexpr std::uint16_t kDstFilterCutoff = 0x0500;
inline constexpr std::uint16_t kDstFilterQ = 0x0501;

// Scale of a time destination meaning "no time at all".
inline constexpr std::int32_t kTimeZero = static_cast<std::int32_t>(0x80000000u);
} // namespace conn

// Generator values in SoundFont units: times in timecents, levels and
// attenuation in centibels, frequencies in absolute cents, pan in 0.1 %.
struct VoiceParameters {
    double volEnvDelay = -12000;
    double volEnvAttack = -12000;
    double volEnvHold = -12000;
    double volEnvDecay = -12000;
    double volEnvSustain = 0; // attenuation at the sustain level
    double volEnvRelease = -12000;
    double keyToVolEnvHold = 0;
    double keyToVolEnvDecay = 0;
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
    double tuneCents = 0; // added to the sample's fine tune
};

// The parameters for one region: its own articulation if it has one, else
// its instrument's; the sample's gain is added to the attenuation.
VoiceParameters DeriveVoiceParameters(const Instrument& instrument, const Region& region, const WaveSample& sample);

// Applies one articulation on top of `params`.
void ApplyArticulation(const Articulation& articulation, VoiceParameters& params);

} // namespace qorn::dls
