#include "platform/instruments/DlsSoundFont.h"
#include "platform/runtime/FluidLibrary.h"

#include "platform/instruments/DlsInstruments.h"
#include "platform/instruments/DlsPresets.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_set>

namespace qorn::instruments {

namespace {

// FluidSynth keeps this many silent frames before a copied sample's data,
// and its loop points count from the start of that buffer.
constexpr int kSampleMargin = 8;

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
static_assert(GEN_KEYRANGE == sfgen::kKeyRange && GEN_VELRANGE == sfgen::kVelocityRange &&
              GEN_COARSETUNE == sfgen::kCoarseTune && GEN_SAMPLEID == sfgen::kSampleId &&
              GEN_SAMPLEMODE == sfgen::kSampleModes && GEN_EXCLUSIVECLASS == sfgen::kExclusiveClass &&
              GEN_OVERRIDEROOTKEY == sfgen::kOverridingRootKey && GEN_STARTLOOPADDROFS == sfgen::kStartLoopOffset &&
              GEN_ENDLOOPADDROFS == sfgen::kEndLoopOffset &&
              GEN_STARTLOOPADDRCOARSEOFS == sfgen::kStartLoopCoarseOffset &&
              GEN_ENDLOOPADDRCOARSEOFS == sfgen::kEndLoopCoarseOffset);

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
        fluid::fluid_mod_set_source1(mod, source, flags);
    else
        fluid::fluid_mod_set_source2(mod, source, flags);
}

fluid_mod_t* NewModulator(const dls::Modulator& m) {
    fluid_mod_t* mod = fluid::new_fluid_mod();
    if (!mod) return nullptr;
    SetSource(mod, m.source, true);
    SetSource(mod, m.control, false);
    fluid::fluid_mod_set_dest(mod, m.destination);
    fluid::fluid_mod_set_amount(mod, m.amount);
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

    sfont_ = fluid::new_fluid_sfont(&SfontName, &SfontPreset, &SfontIterStart, &SfontIterNext, &SfontFree);
    if (!sfont_) return false;
    fluid::fluid_sfont_set_data(sfont_, this);
    {
        std::lock_guard lock(RegistryMutex());
        Registry().insert(sfont_);
    }

    const CollectionPresets described = DescribePresets(c);
    for (const dls::Modulator& m : described.cancelledDefaults) {
        cancelledDefaults_.push_back(NewModulator(m));
        if (!cancelledDefaults_.back()) return false;
    }

    samples_.assign(c.waves.size(), nullptr);
    for (std::size_t i = 0; i < c.waves.size(); ++i) {
        const PresetSample& sampleInfo = described.samples[i];
        if (!sampleInfo.sounds) continue;
        const dls::Wave& wave = c.waves[i];
        fluid_sample_t* sample = fluid::new_fluid_sample();
        if (!sample) return false;
        samples_[i] = sample;
        // Copied, so the const data is only read.
        auto* data = const_cast<short*>(reinterpret_cast<const short*>(wave.samples.data()));
        if (fluid::fluid_sample_set_sound_data(sample, data, nullptr, static_cast<unsigned>(wave.samples.size()),
                                               wave.sampleRate, 1) != FLUID_OK)
            return false;
        fluid::fluid_sample_set_pitch(sample, sampleInfo.originalPitch, 0);
        if (sampleInfo.loop)
            fluid::fluid_sample_set_loop(sample, kSampleMargin + sampleInfo.loop->start,
                                         kSampleMargin + sampleInfo.loop->end);
    }

    for (const PresetDescription& description : described.presets) {
        auto preset = std::make_unique<Preset>();
        preset->font = this;
        const PresetPatch& patch = description.patch;
        preset->info = PresetInfo{patch.bankMsb, patch.bankLsb, patch.program, patch.drums};
        preset->bank = role_ == Role::GeneralMidi ? (patch.drums ? kDrumBank : patch.bankMsb)
                                                  : CollectionBankNumber(patch.bankMsb, patch.bankLsb, patch.drums);
        preset->name = description.name;
        for (const PresetZone& zone : description.zones) {
            RegionVoice& rv = preset->regions.emplace_back();
            rv.keyLow = zone.keyLow;
            rv.keyHigh = zone.keyHigh;
            rv.velocityLow = zone.velocityLow;
            rv.velocityHigh = zone.velocityHigh;
            rv.sample = samples_[zone.waveIndex];
            for (const auto& [gen, value] : zone.generators)
                rv.generators.emplace_back(gen, static_cast<float>(value));
            if (zone.loop) {
                // FluidSynth counts a copied sample's loop from its buffer's
                // start, which has no loop when the wave carries none.
                const auto& own = described.samples[zone.waveIndex].loop;
                const FrameSpan base =
                    own ? FrameSpan{kSampleMargin + own->start, kSampleMargin + own->end} : FrameSpan{0, 0};
                const LoopOffsets offsets =
                    LoopOffsetsFrom(FrameSpan{kSampleMargin + zone.loop->start, kSampleMargin + zone.loop->end}, base);
                rv.generators.emplace_back(GEN_STARTLOOPADDROFS, static_cast<float>(offsets.start % 32768));
                rv.generators.emplace_back(GEN_STARTLOOPADDRCOARSEOFS, static_cast<float>(offsets.start / 32768));
                rv.generators.emplace_back(GEN_ENDLOOPADDROFS, static_cast<float>(offsets.end % 32768));
                rv.generators.emplace_back(GEN_ENDLOOPADDRCOARSEOFS, static_cast<float>(offsets.end / 32768));
            }
            // Kept by the region as they are made, so the destructor frees them.
            for (const dls::Modulator& m : zone.modulators) {
                rv.modulators.push_back(NewModulator(m));
                if (!rv.modulators.back()) return false;
            }
        }
        preset->preset =
            fluid::new_fluid_preset(sfont_, &PresetName, &PresetBank, &PresetNumber, &PresetNoteOn, &PresetFree);
        if (!preset->preset) return false;
        fluid::fluid_preset_set_data(preset->preset, preset.get());
        presets_.push_back(std::move(preset));
    }
    return true;
}

DlsSoundFont::~DlsSoundFont() {
    for (auto& preset : presets_) {
        if (preset->preset) fluid::delete_fluid_preset(preset->preset);
        for (RegionVoice& r : preset->regions)
            for (fluid_mod_t* mod : r.modulators)
                if (mod) fluid::delete_fluid_mod(mod);
    }
    for (fluid_mod_t* mod : cancelledDefaults_)
        if (mod) fluid::delete_fluid_mod(mod);
    for (fluid_sample_t* sample : samples_)
        if (sample) fluid::delete_fluid_sample(sample);
    if (sfont_) {
        {
            std::lock_guard lock(RegistryMutex());
            Registry().erase(sfont_);
        }
        fluid::delete_fluid_sfont(sfont_);
    }
}

DlsSoundFont* DlsSoundFont::From(fluid_sfont_t* sfont) {
    if (!sfont) return nullptr;
    {
        std::lock_guard lock(RegistryMutex());
        if (Registry().count(sfont) == 0) return nullptr;
    }
    return static_cast<DlsSoundFont*>(fluid::fluid_sfont_get_data(sfont));
}

std::optional<DlsSoundFont::PresetInfo> DlsSoundFont::PatchOf(fluid_preset_t* preset) {
    if (!preset || !From(fluid::fluid_preset_get_sfont(preset))) return std::nullopt;
    return static_cast<Preset*>(fluid::fluid_preset_get_data(preset))->info;
}

bool DlsSoundFont::HasVoicesOn(fluid_synth_t* synth) const {
    const int polyphony = std::max(fluid::fluid_synth_get_polyphony(synth), 1);
    std::vector<fluid_voice_t*> voices(static_cast<std::size_t>(polyphony) + 1, nullptr);
    fluid::fluid_synth_get_voicelist(synth, voices.data(), polyphony, -1);
    for (fluid_voice_t* voice : voices) {
        if (!voice) break;
        if (static_cast<int>(fluid::fluid_voice_gen_get(voice, GEN_SAMPLEID)) == tag_) return true;
    }
    return false;
}

const char* DlsSoundFont::SfontName(fluid_sfont_t* sfont) {
    return static_cast<DlsSoundFont*>(fluid::fluid_sfont_get_data(sfont))->name_.c_str();
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
    auto* font = static_cast<DlsSoundFont*>(fluid::fluid_sfont_get_data(sfont));
    if (t_explicitSelects == 0 && font->role_ != Role::GeneralMidi) return nullptr;
    return font->FindPreset(bank, program);
}

void DlsSoundFont::SfontIterStart(fluid_sfont_t* sfont) {
    static_cast<DlsSoundFont*>(fluid::fluid_sfont_get_data(sfont))->iterator_ = 0;
}

fluid_preset_t* DlsSoundFont::SfontIterNext(fluid_sfont_t* sfont) {
    auto* font = static_cast<DlsSoundFont*>(fluid::fluid_sfont_get_data(sfont));
    if (font->iterator_ >= font->presets_.size()) return nullptr;
    return font->presets_[font->iterator_++]->preset;
}

int DlsSoundFont::SfontFree(fluid_sfont_t* sfont) {
    // Called by the synth that owns us (on its deletion): its voices are gone.
    delete static_cast<DlsSoundFont*>(fluid::fluid_sfont_get_data(sfont));
    return 0;
}

const char* DlsSoundFont::PresetName(fluid_preset_t* preset) {
    return static_cast<Preset*>(fluid::fluid_preset_get_data(preset))->name.c_str();
}

int DlsSoundFont::PresetBank(fluid_preset_t* preset) {
    return static_cast<Preset*>(fluid::fluid_preset_get_data(preset))->bank;
}

int DlsSoundFont::PresetNumber(fluid_preset_t* preset) {
    return static_cast<Preset*>(fluid::fluid_preset_get_data(preset))->info.program;
}

void DlsSoundFont::PresetFree(fluid_preset_t*) {
    // Presets live and die with their SoundFont.
}

int DlsSoundFont::PresetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int channel, int key, int velocity) {
    const auto* p = static_cast<Preset*>(fluid::fluid_preset_get_data(preset));
    if (p->font->retired()) return FLUID_OK;
    for (const RegionVoice& r : p->regions) {
        if (key < r.keyLow || key > r.keyHigh || velocity < r.velocityLow || velocity > r.velocityHigh) continue;
        fluid_voice_t* voice = fluid::fluid_synth_alloc_voice(synth, r.sample, channel, key, velocity);
        if (!voice) return FLUID_FAILED;
        for (const auto& [gen, value] : r.generators)
            fluid::fluid_voice_gen_set(voice, gen, value);
        fluid::fluid_voice_gen_set(voice, GEN_SAMPLEID, static_cast<float>(p->font->tag_));
        // Copied into the voice: nothing is allocated here.
        for (fluid_mod_t* mod : p->font->cancelledDefaults_)
            fluid::fluid_voice_add_mod(voice, mod, FLUID_VOICE_OVERWRITE);
        for (fluid_mod_t* mod : r.modulators)
            fluid::fluid_voice_add_mod(voice, mod, FLUID_VOICE_OVERWRITE);
        fluid::fluid_synth_start_voice(synth, voice);
    }
    return FLUID_OK;
}

} // namespace qorn::instruments
