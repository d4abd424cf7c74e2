#include "platform/instruments/DlsPresets.h"

#include <algorithm>
#include <cmath>

namespace qorn::instruments {

namespace {

std::uint8_t Clamp7(std::uint16_t v) {
    return static_cast<std::uint8_t>(std::min<std::uint16_t>(v, 127));
}

double Whole(double v) {
    return std::clamp(std::round(v), -32768.0, 32767.0);
}

// The loop a wave itself carries, if it lies within the wave.
std::optional<FrameSpan> WaveOwnLoop(const dls::Wave& wave) {
    if (!wave.sample || wave.sample->loops.empty()) return std::nullopt;
    const dls::WaveLoop& loop = wave.sample->loops.front();
    if (loop.length == 0 || std::uint64_t(loop.start) + loop.length > wave.samples.size()) return std::nullopt;
    return FrameSpan{loop.start, loop.start + loop.length};
}

PresetZone DescribeZone(const dls::Collection& c, const dls::Instrument& instrument, const dls::Region& region) {
    const dls::Wave& wave = c.waves[region.waveIndex];
    const dls::WaveSample& ws = dls::EffectiveSample(c, region);
    PresetZone zone;
    zone.keyLow = Clamp7(region.keyLow);
    zone.keyHigh = Clamp7(region.keyHigh);
    zone.velocityLow = Clamp7(region.velocityLow);
    zone.velocityHigh = Clamp7(region.velocityHigh);
    zone.waveIndex = region.waveIndex;
    dls::VoiceParameters v = dls::DeriveVoiceParameters(instrument, region, ws);
    // One channel of a multichannel (stereo) wave pair goes to its side.
    constexpr std::uint16_t kMultichannel = 0x0002;
    if ((region.linkOptions & kMultichannel) != 0) {
        if (region.channel == 1)
            v.pan = -500;
        else if (region.channel == 2)
            v.pan = 500;
    }
    int sampleMode = sfgen::kNoLoop;
    if (!ws.loops.empty()) {
        const dls::WaveLoop& loop = ws.loops.front();
        // A loop outside the wave would play noise.
        if (loop.length != 0 && std::uint64_t(loop.start) + loop.length <= wave.samples.size()) {
            sampleMode = loop.type == dls::WaveLoop::kRelease ? sfgen::kLoopUntilRelease : sfgen::kLoopContinuously;
            zone.loop = FrameSpan{loop.start, loop.start + loop.length};
        }
    }
    const int cents = ws.fineTune + static_cast<int>(std::lround(v.tuneCents));
    using namespace dls::gen;
    zone.generators = {{sfgen::kOverridingRootKey, std::min<int>(ws.unityNote, 127)},
                       {sfgen::kCoarseTune, cents / 100},
                       {kFineTune, cents % 100},
                       {sfgen::kSampleModes, sampleMode},
                       {sfgen::kExclusiveClass, region.keyGroup},
                       {kVolEnvDelay, v.volEnvDelay},
                       {kVolEnvAttack, v.volEnvAttack},
                       {kVolEnvHold, v.volEnvHold},
                       {kVolEnvDecay, v.volEnvDecay},
                       {kVolEnvSustain, v.volEnvSustain},
                       {kVolEnvRelease, v.volEnvRelease},
                       {kModEnvDelay, v.modEnvDelay},
                       {kModEnvAttack, v.modEnvAttack},
                       {kModEnvHold, v.modEnvHold},
                       {kModEnvDecay, v.modEnvDecay},
                       {kModEnvSustain, v.modEnvSustain},
                       {kModEnvRelease, v.modEnvRelease},
                       {kModEnvToPitch, v.modEnvToPitch},
                       {kModEnvToFilterCutoff, v.modEnvToFilterFc},
                       {kModLfoFrequency, v.modLfoFrequency},
                       {kModLfoDelay, v.modLfoDelay},
                       {kModLfoToPitch, v.modLfoToPitch},
                       {kModLfoToVolume, v.modLfoToVolume},
                       {kModLfoToFilterCutoff, v.modLfoToFilterFc},
                       {kVibLfoFrequency, v.vibLfoFrequency},
                       {kVibLfoDelay, v.vibLfoDelay},
                       {kVibLfoToPitch, v.vibLfoToPitch},
                       {kPan, v.pan},
                       {kAttenuation, v.attenuation},
                       {kFilterCutoff, v.filterCutoff},
                       {kFilterQ, v.filterQ},
                       {kScaleTuning, v.scaleTuning},
                       {kChorusSend, v.chorusSend},
                       {kReverbSend, v.reverbSend}};
    // Held as a SoundFont file holds them, so the player and a file written
    // of the collection give the same voices: whole units (a cent, a
    // timecent, 0.1 %), attenuation in steps a file's value reaches.
    for (auto& [id, value] : zone.generators)
        value = id == kAttenuation ? std::round(value / kAttenuationFactor) * kAttenuationFactor : Whole(value);
    zone.modulators = std::move(v.modulators);
    for (dls::Modulator& m : zone.modulators)
        m.amount = Whole(m.amount);
    return zone;
}

} // namespace

CollectionPresets DescribePresets(const dls::Collection& c) {
    CollectionPresets out;
    // SoundFont voices darken soft notes (velocity to filter cutoff) and
    // take the mod wheel's vibrato from the vibrato LFO; DLS voices do
    // neither unless their articulation says so.
    using Kind = dls::ModSource::Kind;
    dls::ModSource velocity{Kind::Velocity}, switched{Kind::Velocity}, wheel{Kind::Controller, 1};
    velocity.negative = true;
    switched.curve = dls::ModSource::Curve::Switch;
    out.cancelledDefaults = {dls::Modulator{velocity, switched, dls::gen::kFilterCutoff, 0},
                             dls::Modulator{wheel, {}, dls::gen::kVibLfoToPitch, 0}};

    // One sample per wave, pitched and looped as the wave says; zones that
    // differ adjust through generators.
    out.samples.resize(c.waves.size());
    for (std::size_t i = 0; i < c.waves.size(); ++i) {
        const dls::Wave& wave = c.waves[i];
        PresetSample& s = out.samples[i];
        s.sounds = !wave.samples.empty() && wave.sampleRate != 0;
        s.originalPitch = std::min<int>(wave.sample ? wave.sample->unityNote : 60, 127);
        s.loop = WaveOwnLoop(wave);
    }
    out.presets.reserve(c.instruments.size());
    for (const dls::Instrument& instrument : c.instruments) {
        PresetDescription& preset = out.presets.emplace_back();
        preset.patch = PresetPatch{instrument.bankMsb, instrument.bankLsb, instrument.program, instrument.drums};
        preset.name = instrument.name;
        for (const dls::Region& region : instrument.regions)
            if (region.waveIndex < out.samples.size() && out.samples[region.waveIndex].sounds)
                preset.zones.push_back(DescribeZone(c, instrument, region));
    }
    return out;
}

LoopOffsets LoopOffsetsFrom(const FrameSpan& zoneLoop, const FrameSpan& sampleLoop) {
    return {static_cast<int>(std::int64_t(zoneLoop.start) - sampleLoop.start),
            static_cast<int>(std::int64_t(zoneLoop.end) - sampleLoop.end)};
}

} // namespace qorn::instruments
