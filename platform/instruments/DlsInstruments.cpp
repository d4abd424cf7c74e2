#include "platform/instruments/DlsInstruments.h"
#include "platform/runtime/FluidLibrary.h"

#include "platform/instruments/DlsSoundFont.h"

#include <vector>

namespace qorn::instruments {

namespace {

// How long an unloaded collection must have had no voices before its
// samples are freed: a voice FluidSynth steals for another note keeps
// reading its old sample for a moment after it stops being listed.
constexpr std::chrono::milliseconds kIdleGrace{100};

std::vector<DlsSoundFont*> FontsOf(fluid_synth_t* synth) {
    std::vector<DlsSoundFont*> fonts;
    const int count = fluid::fluid_synth_sfcount(synth);
    for (int i = 0; i < count; ++i)
        if (DlsSoundFont* font = DlsSoundFont::From(fluid::fluid_synth_get_sfont(synth, static_cast<unsigned>(i))))
            fonts.push_back(font);
    return fonts;
}

struct ChannelProgram {
    int sfontId = -1, bank = 0, program = 0;
};

// Removing a SoundFont makes FluidSynth re-resolve every channel by bank and
// program down the whole stack, losing which SoundFont each was given; this
// puts those choices back. A collection's patch is taken from its preset, as
// FluidSynth keeps only 14 bits of bank per channel.
std::vector<ChannelProgram> SavePrograms(fluid_synth_t* synth) {
    std::vector<ChannelProgram> saved(static_cast<std::size_t>(fluid::fluid_synth_count_midi_channels(synth)));
    for (std::size_t chan = 0; chan < saved.size(); ++chan) {
        const int c = static_cast<int>(chan);
        fluid_preset_t* preset = fluid::fluid_synth_get_channel_preset(synth, c);
        if (!preset) continue;
        ChannelProgram& p = saved[chan];
        if (DlsSoundFont::PatchOf(preset)) {
            p.sfontId = fluid::fluid_sfont_get_id(fluid::fluid_preset_get_sfont(preset));
            p.bank = fluid::fluid_preset_get_banknum(preset);
            p.program = fluid::fluid_preset_get_num(preset);
        } else if (fluid::fluid_synth_get_program(synth, c, &p.sfontId, &p.bank, &p.program) != FLUID_OK) {
            p.sfontId = -1;
        }
    }
    return saved;
}

void RestorePrograms(fluid_synth_t* synth, const std::vector<ChannelProgram>& saved) {
    DlsSoundFont::ExplicitSelect select;
    for (std::size_t chan = 0; chan < saved.size(); ++chan) {
        const ChannelProgram& p = saved[chan];
        if (p.sfontId < 0 || !fluid::fluid_synth_get_sfont_by_id(synth, p.sfontId)) continue;
        fluid::fluid_synth_program_select(synth, static_cast<int>(chan), p.sfontId, p.bank, p.program);
    }
}

} // namespace

int CollectionBankNumber(std::uint8_t bankMsb, std::uint8_t bankLsb, bool drums) {
    // Drum kits and melodic instruments share bank numbers in DLS; the drum
    // flag keeps them apart above the 14-bit bank range.
    return (drums ? 0x4000 : 0) | ((bankMsb & 0x7F) << 7) | (bankLsb & 0x7F);
}

namespace {
int AddToSynth(fluid_synth_t* synth, std::shared_ptr<const dls::Collection> collection, DlsSoundFont::Role role) {
    if (!synth || !collection) return -1;
    ReleaseUnusedCollections(synth);
    std::unique_ptr<DlsSoundFont> font = DlsSoundFont::Create(std::move(collection), role);
    if (!font) return -1;
    const int id = fluid::fluid_synth_add_sfont(synth, font->sfont());
    if (id == FLUID_FAILED) return -1;
    font.release(); // the synth owns it now and frees it through the SoundFont's callback
    return id;
}
} // namespace

int AddCollectionToSynth(fluid_synth_t* synth, std::shared_ptr<const dls::Collection> collection) {
    return AddToSynth(synth, std::move(collection), DlsSoundFont::Role::Band);
}

int AddGeneralMidiSetToSynth(fluid_synth_t* synth, std::shared_ptr<const dls::Collection> collection) {
    return AddToSynth(synth, std::move(collection), DlsSoundFont::Role::GeneralMidi);
}

int FindCollectionOnSynth(fluid_synth_t* synth, const dls::Collection* collection) {
    if (!synth || !collection) return -1;
    for (DlsSoundFont* font : FontsOf(synth))
        if (!font->retired() && font->collection() == collection) return fluid::fluid_sfont_get_id(font->sfont());
    return -1;
}

bool RemoveCollectionFromSynth(fluid_synth_t* synth, int sfontId) {
    if (!synth) return false;
    fluid_sfont_t* sfont = fluid::fluid_synth_get_sfont_by_id(synth, sfontId);
    DlsSoundFont* font = DlsSoundFont::From(sfont);
    if (!font || font->retired()) return false;
    font->Retire();
    // Channels on one of its patches take the same patch from the SoundFonts
    // below it (General MIDI as a rule).
    const int channels = fluid::fluid_synth_count_midi_channels(synth);
    for (int chan = 0; chan < channels; ++chan) {
        const auto patch = DlsSoundFont::PatchOf(fluid::fluid_synth_get_channel_preset(synth, chan));
        if (!patch || fluid::fluid_preset_get_sfont(fluid::fluid_synth_get_channel_preset(synth, chan)) != sfont)
            continue;
        fluid::fluid_synth_bank_select(synth, chan, patch->drums ? 128 : patch->bankMsb);
        fluid::fluid_synth_program_change(synth, chan, patch->program);
    }
    ReleaseUnusedCollections(synth);
    return true;
}

void ReleaseUnusedCollections(fluid_synth_t* synth) {
    if (!synth) return;
    const auto now = std::chrono::steady_clock::now();
    for (DlsSoundFont* font : FontsOf(synth)) {
        if (!font->retired()) continue;
        if (font->HasVoicesOn(synth)) {
            font->idleSince.reset();
            continue;
        }
        if (!font->idleSince) font->idleSince = now;
        if (now - *font->idleSince < kIdleGrace) continue;
        const auto saved = SavePrograms(synth);
        fluid::fluid_synth_remove_sfont(synth, font->sfont());
        RestorePrograms(synth, saved);
        delete font; // off the stack: ours again
    }
}

bool SelectCollectionPatch(fluid_synth_t* synth, int channel, int sfontId, std::uint8_t bankMsb, std::uint8_t bankLsb,
                           std::uint8_t program, bool drums) {
    if (!synth) return false;
    DlsSoundFont* font = DlsSoundFont::From(fluid::fluid_synth_get_sfont_by_id(synth, sfontId));
    if (!font || font->retired()) return false;
    const dls::Instrument* instrument =
        dls::FindBandInstrument(*font->collection(), bankMsb & 0x7F, bankLsb & 0x7F, program & 0x7F, drums);
    if (!instrument) return false;
    const int bank = CollectionBankNumber(instrument->bankMsb, instrument->bankLsb, drums);
    if (!font->FindPreset(bank, program & 0x7F)) return false;
    DlsSoundFont::ExplicitSelect select;
    return fluid::fluid_synth_program_select(synth, channel, sfontId, bank, program & 0x7F) == FLUID_OK;
}

int CollectionsHeldBySynth(fluid_synth_t* synth) {
    return synth ? static_cast<int>(FontsOf(synth).size()) : 0;
}

} // namespace qorn::instruments
