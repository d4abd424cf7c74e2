// One DLS collection presented to FluidSynth as a SoundFont. Everything a
// note-on needs (samples, generator values, region ranges) is prepared when
// the SoundFont is built, so starting a voice neither allocates nor locks.
#pragma once

#include "platform/formats/dls/DlsArticulation.h"
#include "platform/formats/dls/DlsCollection.h"

#include <fluidsynth.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qorn::instruments {

class DlsSoundFont {
  public:
    enum class Role {
        // A band's collection: reached only through ExplicitSelect, under
        // CollectionBankNumber's bank numbers.
        Band,
        // The General MIDI set: answers every look-up, melodic patches under
        // their bank MSB (as General MIDI and GS bank selects give it) and
        // drum kits under FluidSynth's drum bank.
        GeneralMidi
    };

    // Builds the SoundFont; null if FluidSynth refused an allocation. The
    // returned object owns the fluid_sfont_t; once that is on a synth's
    // stack, the synth frees both through the SoundFont's free callback.
    static std::unique_ptr<DlsSoundFont> Create(std::shared_ptr<const dls::Collection> collection,
                                                Role role = Role::Band);
    ~DlsSoundFont();
    DlsSoundFont(const DlsSoundFont&) = delete;
    DlsSoundFont& operator=(const DlsSoundFont&) = delete;

    fluid_sfont_t* sfont() const { return sfont_; }
    const dls::Collection* collection() const { return collection_.get(); }
    // The SoundFont behind `sfont` if it is one of ours, else null.
    static DlsSoundFont* From(fluid_sfont_t* sfont);

    // Unloaded: answers no patch and starts no voice.
    void Retire() { retired_.store(true, std::memory_order_release); }
    bool retired() const { return retired_.load(std::memory_order_acquire); }
    // Our preset for a bank number (as the role numbers banks) and program,
    // or null; none once retired.
    fluid_preset_t* FindPreset(int bank, int program) const;

    // While one of these lives on a thread, our SoundFonts answer FluidSynth's
    // preset look-ups made on that thread. Otherwise they answer none, so a
    // plain MIDI bank select and program change, which FluidSynth resolves
    // down the whole SoundFont stack, reaches General MIDI and never a
    // collection the band did not name.
    class ExplicitSelect {
      public:
        ExplicitSelect();
        ~ExplicitSelect();
        ExplicitSelect(const ExplicitSelect&) = delete;
        ExplicitSelect& operator=(const ExplicitSelect&) = delete;
    };

    // Whether any voice of `synth` still plays one of our samples.
    bool HasVoicesOn(fluid_synth_t* synth) const;
    std::optional<std::chrono::steady_clock::time_point> idleSince;

    struct PresetInfo {
        std::uint8_t bankMsb = 0, bankLsb = 0, program = 0;
        bool drums = false;
    };
    // The patch of one of our presets, if `preset` is ours.
    static std::optional<PresetInfo> PatchOf(fluid_preset_t* preset);

  private:
    struct RegionVoice {
        std::uint8_t keyLow, keyHigh, velocityLow, velocityHigh;
        fluid_sample_t* sample;
        std::vector<std::pair<int, float>> generators; // as DescribePresets gives them, with the loop's offsets
        std::vector<fluid_mod_t*> modulators;          // owned
    };
    struct Preset {
        DlsSoundFont* font = nullptr;
        fluid_preset_t* preset = nullptr;
        PresetInfo info;
        int bank = 0;
        std::string name;
        std::vector<RegionVoice> regions;
    };

    DlsSoundFont() = default;
    bool Build();

    static const char* SfontName(fluid_sfont_t* sfont);
    static fluid_preset_t* SfontPreset(fluid_sfont_t* sfont, int bank, int program);
    static void SfontIterStart(fluid_sfont_t* sfont);
    static fluid_preset_t* SfontIterNext(fluid_sfont_t* sfont);
    static int SfontFree(fluid_sfont_t* sfont);
    static const char* PresetName(fluid_preset_t* preset);
    static int PresetBank(fluid_preset_t* preset);
    static int PresetNumber(fluid_preset_t* preset);
    static int PresetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int channel, int key, int velocity);
    static void PresetFree(fluid_preset_t* preset);

    std::shared_ptr<const dls::Collection> collection_;
    Role role_ = Role::Band;
    fluid_sfont_t* sfont_ = nullptr;
    // FluidSynth's own default modulators that DLS instruments do not
    // have, at depth zero: put over the defaults of each of our voices.
    std::vector<fluid_mod_t*> cancelledDefaults_;
    std::string name_;
    // Marks our voices (in a generator FluidSynth leaves alone once a voice
    // has its sample) so an unload can tell when the last one has ended.
    int tag_ = 0;
    std::atomic<bool> retired_{false};
    std::vector<fluid_sample_t*> samples_; // per wave; null for silent waves
    std::vector<std::unique_ptr<Preset>> presets_;
    std::size_t iterator_ = 0;
};

} // namespace qorn::instruments
