// The one conversion of a DLS collection into SoundFont terms: per wave a
// sample, per instrument a preset whose zones carry SoundFont generators and
// modulators. The synthesizer's presets (DlsSoundFont) and the SoundFont
// file writer (SoundFontWriter) both consume it, so a collection sounds the
// same played directly or from the file written of it.
#pragma once

#include "platform/formats/dls/DlsArticulation.h"
#include "platform/formats/dls/DlsCollection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qorn::instruments {

// SoundFont generator numbers the conversion sets beyond the articulation's.
namespace sfgen {
inline constexpr int kStartLoopOffset = 2;
inline constexpr int kEndLoopOffset = 3;
inline constexpr int kKeyRange = 43;
inline constexpr int kVelocityRange = 44;
inline constexpr int kStartLoopCoarseOffset = 45;
inline constexpr int kEndLoopCoarseOffset = 50;
inline constexpr int kCoarseTune = 51;
inline constexpr int kSampleId = 53;
inline constexpr int kSampleModes = 54;
inline constexpr int kExclusiveClass = 57;
inline constexpr int kOverridingRootKey = 58;
// Sample modes.
inline constexpr int kNoLoop = 0;
inline constexpr int kLoopContinuously = 1;
inline constexpr int kLoopUntilRelease = 3;
} // namespace sfgen

// FluidSynth and the hardware SoundFonts were made for play a file's
// initial attenuation at 0.4 of its value; a file holds it divided so.
inline constexpr double kAttenuationFactor = 0.4;

// A stretch of a wave's frames, [start, end).
struct FrameSpan {
    std::uint32_t start = 0, end = 0;
};

// One per wave of the collection; `sounds` is false for a wave with no
// samples, which no zone uses.
struct PresetSample {
    bool sounds = false;
    int originalPitch = 60;
    // The loop the wave itself carries, if it lies within the wave.
    std::optional<FrameSpan> loop;
};

struct PresetZone {
    std::uint8_t keyLow = 0, keyHigh = 127, velocityLow = 0, velocityHigh = 127;
    std::uint32_t waveIndex = 0;
    // Generator number and value in SoundFont units, each number once:
    // everything a voice of this zone is given but its sample's loop.
    std::vector<std::pair<int, double>> generators;
    // The loop it plays, when its sample mode loops.
    std::optional<FrameSpan> loop;
    std::vector<dls::Modulator> modulators;
};

struct PresetPatch {
    std::uint8_t bankMsb = 0, bankLsb = 0, program = 0;
    bool drums = false;
};

struct PresetDescription {
    PresetPatch patch;
    std::string name;
    std::vector<PresetZone> zones;
};

struct CollectionPresets {
    std::vector<PresetSample> samples; // parallel to the collection's waves
    std::vector<PresetDescription> presets;
    // SoundFont default modulators a DLS voice does not have: each at depth
    // zero, to be put over the defaults of every voice.
    std::vector<dls::Modulator> cancelledDefaults;
};

CollectionPresets DescribePresets(const dls::Collection& collection);

// A zone's loop as generator offsets from the loop its sample carries,
// both counted in the same frames (`sampleLoop` as the player holds it).
struct LoopOffsets {
    int start = 0, end = 0;
};
LoopOffsets LoopOffsetsFrom(const FrameSpan& zoneLoop, const FrameSpan& sampleLoop);

} // namespace qorn::instruments
