#include "platform/formats/dls/DlsArticulation.h"

#include <algorithm>

namespace qorn::dls {

namespace {

double Units(std::int32_t scale) {
    return static_cast<double>(scale) / 65536.0;
}

// Timecents within what a SoundFont voice accepts; "absolute zero" is the
// shortest time.
double TimeCents(std::int32_t scale, double max = 8000) {
    if (scale == conn::kTimeZero) return -12000;
    return std::clamp(Units(scale), -12000.0, max);
}

// A level in 0.1 % of full scale, as centibels of attenuation over the
// 96 dB range of a 16-bit voice.
double LevelToAttenuation(std::int32_t scale) {
    const double permille = std::clamp(Units(scale), 0.0, 1000.0);
    return (1000.0 - permille) * 0.96;
}

} // namespace

void ApplyArticulation(const Articulation& articulation, VoiceParameters& p) {
    using namespace conn;
    for (const Connection& c : articulation.connections) {
        if (c.control != kSrcNone) continue; // controller-scaled depths need a modulator
        const double v = Units(c.scale);
        switch (c.source) {
        case kSrcNone:
            switch (c.destination) {
            case kDstEg1DelayTime:
                p.volEnvDelay = TimeCents(c.scale, 5000);
                break;
            case kDstEg1AttackTime:
                p.volEnvAttack = TimeCents(c.scale);
                break;
            case kDstEg1HoldTime:
                p.volEnvHold = TimeCents(c.scale, 5000);
                break;
            case kDstEg1DecayTime:
                p.volEnvDecay = TimeCents(c.scale);
                break;
            case kDstEg1SustainLevel:
                p.volEnvSustain = LevelToAttenuation(c.scale);
                break;
            case kDstEg1ReleaseTime:
                p.volEnvRelease = TimeCents(c.scale);
                break;
            case kDstEg2DelayTime:
                p.modEnvDelay = TimeCents(c.scale, 5000);
                break;
            case kDstEg2AttackTime:
                p.modEnvAttack = TimeCents(c.scale);
                break;
            case kDstEg2HoldTime:
                p.modEnvHold = TimeCents(c.scale, 5000);
                break;
            case kDstEg2DecayTime:
                p.modEnvDecay = TimeCents(c.scale);
                break;
            case kDstEg2SustainLevel:
                p.modEnvSustain = 1000.0 - std::clamp(v, 0.0, 1000.0);
                break;
            case kDstEg2ReleaseTime:
                p.modEnvRelease = TimeCents(c.scale);
                break;
            case kDstLfoFrequency:
                p.modLfoFrequency = std::clamp(v, -16000.0, 4500.0);
                break;
            case kDstLfoStartDelay:
                p.modLfoDelay = TimeCents(c.scale, 5000);
                break;
            case kDstVibFrequency:
                p.vibLfoFrequency = std::clamp(v, -16000.0, 4500.0);
                break;
            case kDstVibStartDelay:
                p.vibLfoDelay = TimeCents(c.scale, 5000);
                break;
            case kDstPan:
                p.pan = std::clamp(v, -500.0, 500.0);
                break;
            case kDstAttenuation:
                p.attenuation = std::clamp(-v, 0.0, 1440.0);
                break;
            case kDstPitch:
                p.tuneCents = std::clamp(v, -12000.0, 12000.0);
                break;
            case kDstFilterCutoff:
                p.filterCutoff = std::clamp(v, 1500.0, 13500.0);
                break;
            case kDstFilterQ:
                p.filterQ = std::clamp(v, 0.0, 960.0);
                break;
            default:
                break;
            }
            break;
        case kSrcLfo:
            if (c.destination == kDstPitch)
                p.modLfoToPitch = std::clamp(v, -12000.0, 12000.0);
            else if (c.destination == kDstAttenuation)
                p.modLfoToVolume = std::clamp(-v, -960.0, 960.0);
            else if (c.destination == kDstFilterCutoff)
                p.modLfoToFilterFc = std::clamp(v, -12000.0, 12000.0);
            break;
        case kSrcVibrato:
            if (c.destination == kDstPitch) p.vibLfoToPitch = std::clamp(v, -12000.0, 12000.0);
            break;
        case kSrcEg2:
            if (c.destination == kDstPitch)
                p.modEnvToPitch = std::clamp(v, -12000.0, 12000.0);
            else if (c.destination == kDstFilterCutoff)
                p.modEnvToFilterFc = std::clamp(v, -12000.0, 12000.0);
            break;
        case kSrcKeyNumber:
            // The key source spans 0..127 as 0..1; a voice wants timecents per key.
            if (c.destination == kDstEg1DecayTime)
                p.keyToVolEnvDecay = std::clamp(v / 128.0, -1200.0, 1200.0);
            else if (c.destination == kDstEg1HoldTime)
                p.keyToVolEnvHold = std::clamp(v / 128.0, -1200.0, 1200.0);
            break;
        default:
            break;
        }
    }
}

VoiceParameters DeriveVoiceParameters(const Instrument& instrument, const Region& region, const WaveSample& sample) {
    VoiceParameters params;
    const auto& articulations = region.articulations.empty() ? instrument.articulations : region.articulations;
    for (const Articulation& articulation : articulations)
        ApplyArticulation(articulation, params);
    // The sample's gain is in 1/65536 centibel; negative means quieter.
    params.attenuation = std::clamp(params.attenuation - Units(sample.gain), 0.0, 1440.0);
    return params;
}

} // namespace qorn::dls
