#include "platform/instruments/DlsSoundFont.h"

#include "platform/instruments/DlsInstruments.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_set>

namespace qorn::instruments {

namespace {

// FluidSynth keeps this many silent frames before a copied sample's data,
// and its loop points count from the start of that buffer.
constexpr int kSampleMargin = 8;

// SoundFont sample modes.
constexpr int kNoLoop = 0;
constexpr int kLoopContinuously = 1;
constexpr int kLoopUntilRelease = 3;

// FluidSynth's bank for drum channels.
constexpr int kDrumBank = 128;

// The SoundFonts of ours alive in the process, so a fluid_sfont_t found on a
// synth's stack can be recognised before its data is trusted.
std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::unordered_set<fluid_sfont_t*>& Registry() {
    static std::unordered_set<fluid_sfont_t*> s;
    return s;
}

std::atomic<int> g_nextTag{1};

thread_local int t_explicitSelects = 0;

int NextTag() {
    // Tags are stored in a float generator: keep them exactly representable.
    int tag = g_nextTag.fetch_add(1) & 0x7FFFFF;
    return tag == 0 ? 1 : tag;
}

// The loop a wave itself carries, if it lies within the wave.
const dls::WaveLoop* WaveOwnLoop(const dls::Wave& wave) {
    if (!wave.sample || wave.sample->loops.empty()) return nullptr;
    const dls::WaveLoop& loop = wave.sample->loops.front();
    if (loop.length == 0 || std::uint64_t(loop.start) + loop.length > wave.samples.size()) return nullptr;
    return &loop;
}

std::uint8_t Clamp7(std::uint16_t v) {
    return static_cast<std::uint8_t>(std::min<std::uint16_t>(v, 127));
}

// The articulation names generators by their SoundFont numbers, which
// FluidSynth's follow.
static_assert(GEN_MODLFOTOPITCH == dls::gen::kModLfoToPitch && GEN_VIBLFOTOPITCH == dls::gen::kVibLfoToPitch &&
              GEN_MODENVTOPITCH == dls::gen::kModEnvToPitch && GEN_FILTERFC == dls::gen::kFilterCutoff &&
              GEN_FILTERQ == dls::gen::kFilterQ && GEN_MODLFOTOFILTERFC == dls::gen::kModLfoToFilterCutoff &&
              GEN_MODENVTOFILTERFC == dls::gen::kModEnvToFilterCutoff && GEN_MODLFOTOVOL == dls::gen::kModLfoToVolume &&
              GEN_CHORUSSEND == dls::gen::kChorusSend && GEN_REVERBSEND == dls::gen::kReverbSend &&
              GEN_PAN == dls::gen::kPan && GEN_MODLFODELAY == dls::gen::kModLfoDelay &&
              GEN_MODLFOFREQ == dls::gen::kModLfoFrequency && GEN_VIBLFODELAY == dls::gen::kVibLfoDelay &&
              GEN_VIBLFOFREQ == dls::gen::kVibLfoFrequency && GEN_MODENVDELAY == dls::gen::kModEnvDelay &&
              GEN_MODENVATTACK == dls::gen::kModEnvAttack && GEN_MODENVHOLD == dls::gen::kModEnvHold &&
              GEN_MODENVDECAY == dls::gen::kModEnvDecay && GEN_MODENVSUSTAIN == dls::gen::kModEnvSustain &&
              GEN_MODENVRELEASE == dls::gen::kModEnvRelease && GEN_VOLENVDELAY == dls::gen::kVolEnvDelay &&
              GEN_VOLENVATTACK == dls::gen::kVolEnvAttack && GEN_VOLENVHOLD == dls::gen::kVolEnvHold &&
              GEN_VOLENVDECAY == dls::gen::kVolEnvDecay && GEN_VOLENVSUSTAIN == dls::gen::kVolEnvSustain &&
              GEN_VOLENVRELEASE == dls::gen::kVolEnvRelease && GEN_ATTENUATION == dls::gen::kAttenuation &&
              GEN_FINETUNE == dls::gen::kFineTune && GEN_SCALETUNE == dls::gen::kScaleTuning &&
              GEN_PITCH == dls::gen::kPitch);

void SetSource(fluid_mod_t* mod, const dls::ModSource& s, bool first) {
    using Kind = dls::ModSource::Kind;
    int source = FLUID_MOD_NONE;
    int flags = FLUID_MOD_GC;
    switch (s.kind) {
    case Kind::None:
        break;
    case Kind::Velocity:
        source = FLUID_MOD_VELOCITY;
        break;
    case Kind::KeyNumber:
        source = FLUID_MOD_KEY;
        break;
    case Kind::PolyPressure:
        source = FLUID_MOD_KEYPRESSURE;
        break;
    case Kind::ChannelPressure:
        source = FLUID_MOD_CHANNELPRESSURE;
        break;
    case Kind::PitchWheel:
        source = FLUID_MOD_PITCHWHEEL;
        break;
    case Kind::PitchWheelRange:
        source = FLUID_MOD_PITCHWHEELSENS;
        break;
    case Kind::Controller:
        source = s.controller;
        flags = FLUID_MOD_CC;
        break;
    }
    if (s.kind != Kind::None) {
        constexpr int kCurves[] = {FLUID_MOD_LINEAR, FLUID_MOD_CONCAVE, FLUID_MOD_CONVEX, FLUID_MOD_SWITCH};
        flags |= kCurves[static_cast<int>(s.curve)] | (s.bipolar ? FLUID_MOD_BIPOLAR : FLUID_MOD_UNIPOLAR) |
                 (s.negative ? FLUID_MOD_NEGATIVE : FLUID_MOD_POSITIVE);
    }
    if (first)
        fluid_mod_set_source1(mod, source, flags);
    else
        fluid_mod_set_source2(mod, source, flags);
}

fluid_mod_t* NewModulator(const dls::Modulator& m) {
    fluid_mod_t* mod = new_fluid_mod();
    if (!mod) return nullptr;
    SetSource(mod, m.source, true);
    SetSource(mod, m.control, false);
    fluid_mod_set_dest(mod, m.destination);
    fluid_mod_set_amount(mod, m.amount);
    return mod;
}

} // namespace

std::unique_ptr<DlsSoundFont> DlsSoundFont::Create(std::shared_ptr<const dls::Collection> collection, Role role) {
    if (!collection) return nullptr;
    std::unique_ptr<DlsSoundFont> font(new DlsSoundFont());
    font->collection_ = std::move(collection);
    font->role_ = role;
    font->tag_ = NextTag();
    if (!font->Build()) return nullptr;
    return font;
}

bool DlsSoundFont::Build() {
    const dls::Collection& c = *collection_;
    name_ = "DLS:" + (c.name.empty() ? std::string("collection") : c.name);

    sfont_ = new_fluid_sfont(&SfontName, &SfontPreset, &SfontIterStart, &SfontIterNext, &SfontFree);
    if (!sfont_) return false;
    fluid_sfont_set_data(sfont_, this);
    {
        std::lock_guard lock(RegistryMutex());
        Registry().insert(sfont_);
    }

    // SoundFont voices darken soft notes (velocity to filter cutoff) and
    // take the mod wheel's vibrato from the vibrato LFO; DLS voices do
    // neither unless their articulation says so.
    using Kind = dls::ModSource::Kind;
    dls::ModSource velocity{Kind::Velocity}, switched{Kind::Velocity}, wheel{Kind::Controller, 1};
    velocity.negative = true;
    switched.curve = dls::ModSource::Curve::Switch;
    for (const dls::Modulator& m :
         {dls::Modulator{velocity, switched, GEN_FILTERFC, 0}, dls::Modulator{wheel, {}, GEN_VIBLFOTOPITCH, 0}}) {
        cancelledDefaults_.push_back(NewModulator(m));
        if (!cancelledDefaults_.back()) return false;
    }

    // One FluidSynth sample per wave, pitched and looped as the wave says;
    // regions that differ adjust through generators.
    samples_.assign(c.waves.size(), nullptr);
    for (std::size_t i = 0; i < c.waves.size(); ++i) {
        const dls::Wave& wave = c.waves[i];
        if (wave.samples.empty() || wave.sampleRate == 0) continue;
        fluid_sample_t* sample = new_fluid_sample();
        if (!sample) return false;
        samples_[i] = sample;
        // Copied, so the const data is only read.
        auto* data = const_cast<short*>(reinterpret_cast<const short*>(wave.samples.data()));
        if (fluid_sample_set_sound_data(sample, data, nullptr, static_cast<unsigned>(wave.samples.size()),
                                        wave.sampleRate, 1) != FLUID_OK)
            return false;
        fluid_sample_set_pitch(sample, wave.sample ? wave.sample->unityNote : 60, 0);
        if (const dls::WaveLoop* loop = WaveOwnLoop(wave))
            fluid_sample_set_loop(sample, kSampleMargin + loop->start, kSampleMargin + loop->start + loop->length);
    }

    for (const dls::Instrument& instrument : c.instruments) {
        auto preset = std::make_unique<Preset>();
        preset->font = this;
        preset->info = PresetInfo{instrument.bankMsb, instrument.bankLsb, instrument.program, instrument.drums};
        preset->bank = role_ == Role::GeneralMidi
                           ? (instrument.drums ? kDrumBank : instrument.bankMsb)
                           : CollectionBankNumber(instrument.bankMsb, instrument.bankLsb, instrument.drums);
        preset->name = instrument.name;
        for (const dls::Region& region : instrument.regions) {
            if (region.waveIndex >= samples_.size() || !samples_[region.waveIndex]) continue;
            const dls::Wave& wave = c.waves[region.waveIndex];
            const dls::WaveSample& ws = dls::EffectiveSample(c, region);
            RegionVoice rv{};
            rv.keyLow = Clamp7(region.keyLow);
            rv.keyHigh = Clamp7(region.keyHigh);
            rv.velocityLow = Clamp7(region.velocityLow);
            rv.velocityHigh = Clamp7(region.velocityHigh);
            rv.sample = samples_[region.waveIndex];
            rv.params = dls::DeriveVoiceParameters(instrument, region, ws);
            rv.rootKey = std::min<int>(ws.unityNote, 127);
            const int cents = ws.fineTune + static_cast<int>(std::lround(rv.params.tuneCents));
            rv.coarseTune = cents / 100;
            rv.fineTune = cents % 100;
            rv.exclusiveClass = region.keyGroup;
            // One channel of a multichannel (stereo) wave pair goes to its side.
            constexpr std::uint16_t kMultichannel = 0x0002;
            if ((region.linkOptions & kMultichannel) != 0) {
                if (region.channel == 1)
                    rv.params.pan = -500;
                else if (region.channel == 2)
                    rv.params.pan = 500;
            }
            // Loop offsets relative to the loop the sample carries.
            std::int64_t baseStart = 0, baseEnd = 0;
            if (const dls::WaveLoop* own = WaveOwnLoop(wave)) {
                baseStart = kSampleMargin + std::int64_t(own->start);
                baseEnd = baseStart + own->length;
            }
            if (ws.loops.empty()) {
                rv.sampleMode = kNoLoop;
            } else {
                const dls::WaveLoop& loop = ws.loops.front();
                rv.sampleMode = loop.type == dls::WaveLoop::kRelease ? kLoopUntilRelease : kLoopContinuously;
                const std::int64_t start = kSampleMargin + std::int64_t(loop.start);
                const std::int64_t end = start + loop.length;
                const std::int64_t limit = kSampleMargin + std::int64_t(wave.samples.size());
                if (loop.length == 0 || end > limit) {
                    rv.sampleMode = kNoLoop; // a loop outside the wave would play noise
                } else {
                    rv.loopStartOffset = static_cast<int>(start - baseStart);
                    rv.loopEndOffset = static_cast<int>(end - baseEnd);
                }
            }
            preset->regions.push_back(std::move(rv));
            // Kept by the region as they are made, so the destructor frees them.
            RegionVoice& kept = preset->regions.back();
            for (const dls::Modulator& m : kept.params.modulators) {
                kept.modulators.push_back(NewModulator(m));
                if (!kept.modulators.back()) return false;
            }
        }
        preset->preset = new_fluid_preset(sfont_, &PresetName, &PresetBank, &PresetNumber, &PresetNoteOn, &PresetFree);
        if (!preset->preset) return false;
        fluid_preset_set_data(preset->preset, preset.get());
        presets_.push_back(std::move(preset));
    }
    return true;
}

DlsSoundFont::~DlsSoundFont() {
    for (auto& preset : presets_) {
        if (preset->preset) delete_fluid_preset(preset->preset);
        for (RegionVoice& r : preset->regions)
            for (fluid_mod_t* mod : r.modulators)
                if (mod) delete_fluid_mod(mod);
    }
    for (fluid_mod_t* mod : cancelledDefaults_)
        if (mod) delete_fluid_mod(mod);
    for (fluid_sample_t* sample : samples_)
        if (sample) delete_fluid_sample(sample);
    if (sfont_) {
        {
            std::lock_guard lock(RegistryMutex());
            Registry().erase(sfont_);
        }
        delete_fluid_sfont(sfont_);
    }
}

DlsSoundFont* DlsSoundFont::From(fluid_sfont_t* sfont) {
    if (!sfont) return nullptr;
    {
        std::lock_guard lock(RegistryMutex());
        if (Registry().count(sfont) == 0) return nullptr;
    }
    return static_cast<DlsSoundFont*>(fluid_sfont_get_data(sfont));
}

std::optional<DlsSoundFont::PresetInfo> DlsSoundFont::PatchOf(fluid_preset_t* preset) {
    if (!preset || !From(fluid_preset_get_sfont(preset))) return std::nullopt;
    return static_cast<Preset*>(fluid_preset_get_data(preset))->info;
}

bool DlsSoundFont::HasVoicesOn(fluid_synth_t* synth) const {
    const int polyphony = std::max(fluid_synth_get_polyphony(synth), 1);
    std::vector<fluid_voice_t*> voices(static_cast<std::size_t>(polyphony) + 1, nullptr);
    fluid_synth_get_voicelist(synth, voices.data(), polyphony, -1);
    for (fluid_voice_t* voice : voices) {
        if (!voice) break;
        if (static_cast<int>(fluid_voice_gen_get(voice, GEN_SAMPLEID)) == tag_) return true;
    }
    return false;
}

const char* DlsSoundFont::SfontName(fluid_sfont_t* sfont) {
    return static_cast<DlsSoundFont*>(fluid_sfont_get_data(sfont))->name_.c_str();
}

DlsSoundFont::ExplicitSelect::ExplicitSelect() {
    ++t_explicitSelects;
}
DlsSoundFont::ExplicitSelect::~ExplicitSelect() {
    --t_explicitSelects;
}

fluid_preset_t* DlsSoundFont::FindPreset(int bank, int program) const {
    if (retired()) return nullptr;
    // The first instrument in the file claiming a patch wins.
    for (const auto& preset : presets_)
        if (preset->bank == bank && preset->info.program == program) return preset->preset;
    return nullptr;
}

fluid_preset_t* DlsSoundFont::SfontPreset(fluid_sfont_t* sfont, int bank, int program) {
    auto* font = static_cast<DlsSoundFont*>(fluid_sfont_get_data(sfont));
    if (t_explicitSelects == 0 && font->role_ != Role::GeneralMidi) return nullptr;
    return font->FindPreset(bank, program);
}

void DlsSoundFont::SfontIterStart(fluid_sfont_t* sfont) {
    static_cast<DlsSoundFont*>(fluid_sfont_get_data(sfont))->iterator_ = 0;
}

fluid_preset_t* DlsSoundFont::SfontIterNext(fluid_sfont_t* sfont) {
    auto* font = static_cast<DlsSoundFont*>(fluid_sfont_get_data(sfont));
    if (font->iterator_ >= font->presets_.size()) return nullptr;
    return font->presets_[font->iterator_++]->preset;
}

int DlsSoundFont::SfontFree(fluid_sfont_t* sfont) {
    // Called by the synth that owns us (on its deletion): its voices are gone.
    delete static_cast<DlsSoundFont*>(fluid_sfont_get_data(sfont));
    return 0;
}

const char* DlsSoundFont::PresetName(fluid_preset_t* preset) {
    return static_cast<Preset*>(fluid_preset_get_data(preset))->name.c_str();
}

int DlsSoundFont::PresetBank(fluid_preset_t* preset) {
    return static_cast<Preset*>(fluid_preset_get_data(preset))->bank;
}

int DlsSoundFont::PresetNumber(fluid_preset_t* preset) {
    return static_cast<Preset*>(fluid_preset_get_data(preset))->info.program;
}

void DlsSoundFont::PresetFree(fluid_preset_t*) {
    // Presets live and die with their SoundFont.
}

int DlsSoundFont::PresetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int channel, int key, int velocity) {
    const auto* p = static_cast<Preset*>(fluid_preset_get_data(preset));
    if (p->font->retired()) return FLUID_OK;
    for (const RegionVoice& r : p->regions) {
        if (key < r.keyLow || key > r.keyHigh || velocity < r.velocityLow || velocity > r.velocityHigh) continue;
        fluid_voice_t* voice = fluid_synth_alloc_voice(synth, r.sample, channel, key, velocity);
        if (!voice) return FLUID_FAILED;
        const dls::VoiceParameters& v = r.params;
        auto set = [voice](int gen, double value) { fluid_voice_gen_set(voice, gen, static_cast<float>(value)); };
        set(GEN_OVERRIDEROOTKEY, r.rootKey);
        set(GEN_COARSETUNE, r.coarseTune);
        set(GEN_FINETUNE, r.fineTune);
        set(GEN_SAMPLEMODE, r.sampleMode);
        set(GEN_STARTLOOPADDROFS, r.loopStartOffset % 32768);
        set(GEN_STARTLOOPADDRCOARSEOFS, r.loopStartOffset / 32768);
        set(GEN_ENDLOOPADDROFS, r.loopEndOffset % 32768);
        set(GEN_ENDLOOPADDRCOARSEOFS, r.loopEndOffset / 32768);
        set(GEN_EXCLUSIVECLASS, r.exclusiveClass);
        set(GEN_VOLENVDELAY, v.volEnvDelay);
        set(GEN_VOLENVATTACK, v.volEnvAttack);
        set(GEN_VOLENVHOLD, v.volEnvHold);
        set(GEN_VOLENVDECAY, v.volEnvDecay);
        set(GEN_VOLENVSUSTAIN, v.volEnvSustain);
        set(GEN_VOLENVRELEASE, v.volEnvRelease);
        set(GEN_MODENVDELAY, v.modEnvDelay);
        set(GEN_MODENVATTACK, v.modEnvAttack);
        set(GEN_MODENVHOLD, v.modEnvHold);
        set(GEN_MODENVDECAY, v.modEnvDecay);
        set(GEN_MODENVSUSTAIN, v.modEnvSustain);
        set(GEN_MODENVRELEASE, v.modEnvRelease);
        set(GEN_MODENVTOPITCH, v.modEnvToPitch);
        set(GEN_MODENVTOFILTERFC, v.modEnvToFilterFc);
        set(GEN_MODLFOFREQ, v.modLfoFrequency);
        set(GEN_MODLFODELAY, v.modLfoDelay);
        set(GEN_MODLFOTOPITCH, v.modLfoToPitch);
        set(GEN_MODLFOTOVOL, v.modLfoToVolume);
        set(GEN_MODLFOTOFILTERFC, v.modLfoToFilterFc);
        set(GEN_VIBLFOFREQ, v.vibLfoFrequency);
        set(GEN_VIBLFODELAY, v.vibLfoDelay);
        set(GEN_VIBLFOTOPITCH, v.vibLfoToPitch);
        set(GEN_PAN, v.pan);
        set(GEN_ATTENUATION, v.attenuation);
        set(GEN_FILTERFC, v.filterCutoff);
        set(GEN_FILTERQ, v.filterQ);
        set(GEN_SCALETUNE, v.scaleTuning);
        set(GEN_CHORUSSEND, v.chorusSend);
        set(GEN_REVERBSEND, v.reverbSend);
        set(GEN_SAMPLEID, p->font->tag_);
        // Copied into the voice: nothing is allocated here.
        for (fluid_mod_t* mod : p->font->cancelledDefaults_)
            fluid_voice_add_mod(voice, mod, FLUID_VOICE_OVERWRITE);
        for (fluid_mod_t* mod : r.modulators)
            fluid_voice_add_mod(voice, mod, FLUID_VOICE_OVERWRITE);
        fluid_synth_start_voice(synth, voice);
    }
    return FLUID_OK;
}

} // namespace qorn::instruments
