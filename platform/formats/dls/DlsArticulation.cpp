#include "platform/formats/dls/DlsArticulation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qorn::dls {

namespace {

using namespace conn;

// More than a voice has room for beside the synthesizer's own defaults.
constexpr std::size_t kMaxModulators = 32;

double Units(std::int32_t scale) {
    return static_cast<double>(scale) / 65536.0;
}

// Timecents within what a SoundFont voice accepts; "absolute zero" is the
// shortest time.
double TimeCents(std::int32_t scale, double max = 8000) {
    if (scale == kTimeZero) return -12000;
    return std::clamp(Units(scale), -12000.0, max);
}

// A level in 0.1 % of full scale, as centibels of attenuation over the
// 96 dB range of a 16-bit voice.
double LevelToAttenuation(double permille) {
    return (1000.0 - std::clamp(permille, 0.0, 1000.0)) * 0.96;
}

struct Mapping {
    std::uint16_t curve = kCurveNone;
    bool bipolar = false;
    bool invert = false;
};

struct Transform {
    Mapping source, control;
    std::uint16_t output = kCurveNone;
};

Transform Decode(std::uint16_t t, bool level2) {
    Transform d;
    if (!level2) {
        d.source.curve = t & 0xF;
        return d;
    }
    d.output = t & 0xF;
    d.control = {static_cast<std::uint16_t>((t >> 4) & 0xF), (t & 0x0100) != 0, (t & 0x0200) != 0};
    d.source = {static_cast<std::uint16_t>((t >> 10) & 0xF), (t & 0x4000) != 0, (t & 0x8000) != 0};
    return d;
}

bool Internal(std::uint16_t source) {
    return source == kSrcLfo || source == kSrcVibrato || source == kSrcEg1 || source == kSrcEg2;
}

// Controllers a modulator may not follow: bank and data entry, (N)RPN
// selection and the channel mode messages, which the synthesizer keeps for
// itself.
bool ModulatableController(unsigned cc) {
    return cc != 0 && cc != 6 && cc != 32 && cc != 38 && !(cc >= 98 && cc <= 101) && cc < 120;
}

// A MIDI source as a modulator source; false for anything else.
bool MidiSource(std::uint16_t code, const Mapping& m, bool level2, ModSource& out) {
    using Kind = ModSource::Kind;
    out = {};
    switch (code) {
    case kSrcKeyOnVelocity:
        out.kind = Kind::Velocity;
        break;
    case kSrcKeyNumber:
        out.kind = Kind::KeyNumber;
        break;
    case kSrcPolyPressure:
        out.kind = Kind::PolyPressure;
        break;
    case kSrcChannelPressure:
    case kSrcMonoPressure:
        out.kind = Kind::ChannelPressure;
        break;
    case kSrcPitchWheel:
        out.kind = Kind::PitchWheel;
        break;
    case kSrcPitchBendRange:
        out.kind = Kind::PitchWheelRange;
        break;
    default:
        if ((code & 0xFF80) != kSrcController || !ModulatableController(code & 0x7F)) return false;
        out.kind = Kind::Controller;
        out.controller = static_cast<std::uint8_t>(code & 0x7F);
        break;
    }
    if (m.curve > kCurveSwitch) return false;
    out.curve = static_cast<ModSource::Curve>(m.curve);
    out.negative = m.invert;
    // Level 1 has no polarity bits: the wheel and the pan controller swing
    // both ways.
    out.bipolar = level2 ? m.bipolar : out.kind == Kind::PitchWheel || code == (kSrcController | 10);
    return true;
}

std::string SourceName(std::uint16_t s) {
    switch (s) {
    case kSrcLfo:
        return "LFO";
    case kSrcKeyOnVelocity:
        return "velocity";
    case kSrcKeyNumber:
        return "key number";
    case kSrcEg1:
        return "EG1";
    case kSrcEg2:
        return "EG2";
    case kSrcPitchWheel:
        return "pitch wheel";
    case kSrcPolyPressure:
        return "key pressure";
    case kSrcChannelPressure:
    case kSrcMonoPressure:
        return "channel pressure";
    case kSrcVibrato:
        return "vibrato LFO";
    case kSrcPitchBendRange:
        return "pitch bend range";
    case kSrcFineTune:
        return "fine tuning";
    case kSrcCoarseTune:
        return "coarse tuning";
    default:
        break;
    }
    char text[32];
    if ((s & 0xFF80) == kSrcController)
        std::snprintf(text, sizeof text, "controller %u", s & 0x7Fu);
    else
        std::snprintf(text, sizeof text, "source 0x%04X", s);
    return text;
}

std::string DestinationName(std::uint16_t d) {
    switch (d) {
    case kDstAttenuation:
        return "gain";
    case kDstPitch:
        return "pitch";
    case kDstPan:
        return "pan";
    case kDstKeyNumber:
        return "key number";
    case 0x0010:
        return "left send";
    case 0x0011:
        return "right send";
    case 0x0012:
        return "centre send";
    case 0x0013:
        return "low-frequency send";
    case 0x0014:
        return "left rear send";
    case 0x0015:
        return "right rear send";
    case kDstChorus:
        return "chorus send";
    case kDstReverb:
        return "reverb send";
    case kDstLfoFrequency:
        return "LFO frequency";
    case kDstLfoStartDelay:
        return "LFO delay";
    case kDstVibFrequency:
        return "vibrato frequency";
    case kDstVibStartDelay:
        return "vibrato delay";
    case kDstEg1ShutdownTime:
        return "EG1 shutdown time";
    case kDstFilterCutoff:
        return "filter cutoff";
    case kDstFilterQ:
        return "filter resonance";
    default:
        break;
    }
    if ((d & 0xFF00) == 0x0200) return "EG1 time or level";
    if ((d & 0xFF00) == 0x0300) return "EG2 time or level";
    char text[32];
    std::snprintf(text, sizeof text, "destination 0x%04X", d);
    return text;
}

std::string ConnectionName(const Connection& c, const Transform& t) {
    std::string name;
    if (c.source != kSrcNone) name = SourceName(c.source);
    if (c.control != kSrcNone) name += " by " + SourceName(c.control);
    name += name.empty() ? DestinationName(c.destination) : " to " + DestinationName(c.destination);
    if (t.output != kCurveNone) name += " through an output curve";
    return name;
}

// The generator a destination sets or modulates, and the factor from the
// connection's units to the generator's; -1 when a voice has none.
struct Target {
    int generator = -1;
    double factor = 1;
};

Target ModulatedTarget(std::uint16_t d) {
    switch (d) {
    case kDstAttenuation:
        return {gen::kAttenuation, -1};
    case kDstPitch:
        return {gen::kPitch};
    case kDstPan:
        return {gen::kPan};
    case kDstChorus:
        return {gen::kChorusSend};
    case kDstReverb:
        return {gen::kReverbSend};
    case kDstLfoFrequency:
        return {gen::kModLfoFrequency};
    case kDstLfoStartDelay:
        return {gen::kModLfoDelay};
    case kDstVibFrequency:
        return {gen::kVibLfoFrequency};
    case kDstVibStartDelay:
        return {gen::kVibLfoDelay};
    case kDstEg1DelayTime:
        return {gen::kVolEnvDelay};
    case kDstEg1AttackTime:
        return {gen::kVolEnvAttack};
    case kDstEg1HoldTime:
        return {gen::kVolEnvHold};
    case kDstEg1DecayTime:
        return {gen::kVolEnvDecay};
    case kDstEg1SustainLevel:
        return {gen::kVolEnvSustain, -0.96};
    case kDstEg1ReleaseTime:
        return {gen::kVolEnvRelease};
    case kDstEg2DelayTime:
        return {gen::kModEnvDelay};
    case kDstEg2AttackTime:
        return {gen::kModEnvAttack};
    case kDstEg2HoldTime:
        return {gen::kModEnvHold};
    case kDstEg2DecayTime:
        return {gen::kModEnvDecay};
    case kDstEg2SustainLevel:
        return {gen::kModEnvSustain, -1};
    case kDstEg2ReleaseTime:
        return {gen::kModEnvRelease};
    case kDstFilterCutoff:
        return {gen::kFilterCutoff};
    case kDstFilterQ:
        return {gen::kFilterQ};
    default:
        return {};
    }
}

// The depth generator of a voice's own LFO or envelope to a destination.
Target DepthTarget(std::uint16_t source, std::uint16_t d) {
    switch (source) {
    case kSrcLfo:
        if (d == kDstPitch) return {gen::kModLfoToPitch};
        if (d == kDstAttenuation) return {gen::kModLfoToVolume};
        if (d == kDstFilterCutoff) return {gen::kModLfoToFilterCutoff};
        break;
    case kSrcVibrato:
        if (d == kDstPitch) return {gen::kVibLfoToPitch};
        break;
    case kSrcEg2:
        if (d == kDstPitch) return {gen::kModEnvToPitch};
        if (d == kDstFilterCutoff) return {gen::kModEnvToFilterCutoff};
        break;
    default:
        break;
    }
    return {};
}

double* DepthField(int generator, VoiceParameters& p) {
    switch (generator) {
    case gen::kModLfoToPitch:
        return &p.modLfoToPitch;
    case gen::kModLfoToVolume:
        return &p.modLfoToVolume;
    case gen::kModLfoToFilterCutoff:
        return &p.modLfoToFilterFc;
    case gen::kVibLfoToPitch:
        return &p.vibLfoToPitch;
    case gen::kModEnvToPitch:
        return &p.modEnvToPitch;
    case gen::kModEnvToFilterCutoff:
        return &p.modEnvToFilterFc;
    default:
        return nullptr;
    }
}

// A fixed setting; false when a voice has no such setting.
bool SetFixed(std::uint16_t destination, std::int32_t scale, VoiceParameters& p) {
    const double v = Units(scale);
    switch (destination) {
    case kDstEg1DelayTime:
        p.volEnvDelay = TimeCents(scale, 5000);
        break;
    case kDstEg1AttackTime:
        p.volEnvAttack = TimeCents(scale);
        break;
    case kDstEg1HoldTime:
        p.volEnvHold = TimeCents(scale, 5000);
        break;
    case kDstEg1DecayTime:
        p.volEnvDecay = TimeCents(scale);
        break;
    case kDstEg1SustainLevel:
        p.volEnvSustain = LevelToAttenuation(v);
        break;
    case kDstEg1ReleaseTime:
        p.volEnvRelease = TimeCents(scale);
        break;
    case kDstEg2DelayTime:
        p.modEnvDelay = TimeCents(scale, 5000);
        break;
    case kDstEg2AttackTime:
        p.modEnvAttack = TimeCents(scale);
        break;
    case kDstEg2HoldTime:
        p.modEnvHold = TimeCents(scale, 5000);
        break;
    case kDstEg2DecayTime:
        p.modEnvDecay = TimeCents(scale);
        break;
    case kDstEg2SustainLevel:
        p.modEnvSustain = 1000.0 - std::clamp(v, 0.0, 1000.0);
        break;
    case kDstEg2ReleaseTime:
        p.modEnvRelease = TimeCents(scale);
        break;
    case kDstLfoFrequency:
        p.modLfoFrequency = std::clamp(v, -16000.0, 4500.0);
        break;
    case kDstLfoStartDelay:
        p.modLfoDelay = TimeCents(scale, 5000);
        break;
    case kDstVibFrequency:
        p.vibLfoFrequency = std::clamp(v, -16000.0, 4500.0);
        break;
    case kDstVibStartDelay:
        p.vibLfoDelay = TimeCents(scale, 5000);
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
    case kDstChorus:
        p.chorusSend = std::clamp(v, 0.0, 1000.0);
        break;
    case kDstReverb:
        p.reverbSend = std::clamp(v, 0.0, 1000.0);
        break;
    default:
        return false;
    }
    return true;
}

// A later connection of the same sources and destination replaces the
// earlier one, as an articulation's own connection replaces a default.
bool AddModulator(VoiceParameters& p, const Modulator& m) {
    for (Modulator& known : p.modulators) {
        if (known.source == m.source && known.control == m.control && known.destination == m.destination) {
            known.amount = m.amount;
            return true;
        }
    }
    if (p.modulators.size() >= kMaxModulators) return false;
    p.modulators.push_back(m);
    return true;
}

// One connection into `p`; false when the voice cannot play it.
bool ApplyConnection(Connection c, bool level2, VoiceParameters& p) {
    // Reserved destinations mean nothing to a player (some writers keep
    // copies of pan and sustain there for themselves).
    if (c.destination == kDstReserved || c.destination == kDstEg1Reserved || c.destination == kDstEg2Reserved)
        return true;
    const Transform t = Decode(c.transform, level2);
    if (t.output != kCurveNone) return false;
    Mapping sourceMapping = t.source;
    Mapping controlMapping = t.control;
    // A control with no source is the source.
    if (c.source == kSrcNone && c.control != kSrcNone) {
        std::swap(c.source, c.control);
        std::swap(sourceMapping, controlMapping);
    }
    ModSource control;
    if (c.control != kSrcNone && !MidiSource(c.control, controlMapping, level2, control)) return false;
    const double v = Units(c.scale);

    if (c.source == kSrcNone) return SetFixed(c.destination, c.scale, p);

    if (Internal(c.source)) {
        // The volume envelope drives the gain of every voice already.
        if (c.source == kSrcEg1 && c.destination == kDstAttenuation && c.control == kSrcNone) return true;
        const Target depth = DepthTarget(c.source, c.destination);
        if (depth.generator < 0 || sourceMapping.curve != kCurveNone) return false;
        double amount = v * depth.factor;
        if (sourceMapping.invert) {
            // An LFO upside down is the same LFO half a cycle on; an
            // envelope upside down has no counterpart.
            if (c.source == kSrcEg2) return false;
            amount = -amount;
        }
        if (c.control == kSrcNone) {
            double* field = DepthField(depth.generator, p);
            const double limit = depth.generator == gen::kModLfoToVolume ? 960.0 : 12000.0;
            if (field) *field = std::clamp(amount, -limit, limit);
            return field != nullptr;
        }
        return AddModulator(p, Modulator{control, {}, depth.generator, amount});
    }

    // The channel's own fine and coarse tuning already move every voice.
    if ((c.source == kSrcFineTune || c.source == kSrcCoarseTune) && c.destination == kDstPitch) return true;
    // Key number to pitch is the voice's cents per key (12800: a semitone).
    if (c.source == kSrcKeyNumber && c.control == kSrcNone && c.destination == kDstPitch &&
        sourceMapping.curve == kCurveNone && !sourceMapping.invert) {
        p.scaleTuning = std::clamp(v / 128.0, 0.0, 1200.0);
        return true;
    }
    ModSource source;
    if (!MidiSource(c.source, sourceMapping, level2, source)) return false;
    const Target target = ModulatedTarget(c.destination);
    if (target.generator < 0) return false;
    double amount = v * target.factor;
    if (c.destination == kDstAttenuation) {
        // A gain connection from a MIDI source says what the source takes
        // away below its top (velocity, volume, expression): the voice's
        // attenuation modulators count the same loss from the other end.
        source.negative = !source.negative;
        amount = -amount;
    }
    return AddModulator(p, Modulator{source, control, target.generator, amount});
}

} // namespace

void UnplayedConnections::add(const std::string& name) {
    for (auto& [known, count] : names) {
        if (known == name) {
            ++count;
            return;
        }
    }
    names.emplace_back(name, 1);
}

std::string UnplayedConnections::text() const {
    std::string out;
    for (const auto& [name, count] : names) {
        if (!out.empty()) out += ", ";
        out += name + " (" + std::to_string(count) + (count == 1 ? " region)" : " regions)");
    }
    return out;
}

void ApplyArticulation(const Articulation& articulation, VoiceParameters& p, UnplayedConnections* unplayed) {
    for (const Connection& c : articulation.connections) {
        if (ApplyConnection(c, articulation.level2, p)) continue;
        // A depth of zero asks for nothing; a time of zero is one second.
        const bool time = c.source == kSrcNone && c.destination == kDstEg1ShutdownTime;
        if (unplayed && (c.scale != 0 || time))
            unplayed->add(ConnectionName(c, Decode(c.transform, articulation.level2)));
    }
}

VoiceParameters DeriveVoiceParameters(const Instrument& instrument, const Region& region, const WaveSample& sample,
                                      UnplayedConnections* unplayed) {
    VoiceParameters params;
    // The mod wheel's vibrato runs on the LFO, 50 cents deep, unless the
    // articulation says otherwise.
    ModSource wheel;
    wheel.kind = ModSource::Kind::Controller;
    wheel.controller = 1;
    params.modulators.push_back(Modulator{wheel, {}, gen::kModLfoToPitch, 50});
    const auto& articulations = region.articulations.empty() ? instrument.articulations : region.articulations;
    for (const Articulation& articulation : articulations)
        ApplyArticulation(articulation, params, unplayed);
    // The sample's gain is in 1/65536 centibel; negative means quieter.
    params.attenuation = std::clamp(params.attenuation - Units(sample.gain), 0.0, 1440.0);
    return params;
}

UnplayedConnections UnplayedArticulation(const Collection& collection) {
    UnplayedConnections unplayed;
    for (const Instrument& instrument : collection.instruments)
        for (const Region& region : instrument.regions)
            DeriveVoiceParameters(instrument, region, EffectiveSample(collection, region), &unplayed);
    return unplayed;
}

} // namespace qorn::dls
