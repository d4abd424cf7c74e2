// libFuzzer target for what the player runs after a collection is read:
// the one conversion into SoundFont terms, the synthesizer's presets built
// from it (as a band's collection and as the General MIDI set), notes on
// every instrument rendered, the collection unloaded and freed; then the
// SoundFont file written of it, which FluidSynth must load with as many
// presets. Any collection that reads must do all this without a fault.
#include "fuzz/FuzzSupport.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/instruments/DlsInstruments.h"
#include "platform/instruments/DlsPresets.h"
#include "platform/instruments/SoundFontWriter.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

using qorn::fuzz::Broken;

// The written file, handed to FluidSynth's SoundFont loader from memory.
std::span<const std::uint8_t> g_file;
struct Reading {
    std::size_t at = 0;
};
void* Open(const char* name) {
    return std::strcmp(name, "memory.sf2") == 0 ? new Reading : nullptr;
}
int Read(void* buf, fluid_long_long_t count, void* handle) {
    auto* r = static_cast<Reading*>(handle);
    if (count < 0 || std::size_t(count) > g_file.size() - r->at) return FLUID_FAILED;
    std::memcpy(buf, g_file.data() + r->at, std::size_t(count));
    r->at += std::size_t(count);
    return FLUID_OK;
}
int Seek(void* handle, fluid_long_long_t offset, int origin) {
    auto* r = static_cast<Reading*>(handle);
    const long long base = origin == SEEK_CUR ? (long long)r->at : origin == SEEK_END ? (long long)g_file.size() : 0;
    if (base + offset < 0 || base + offset > (long long)g_file.size()) return FLUID_FAILED;
    r->at = std::size_t(base + offset);
    return FLUID_OK;
}
fluid_long_long_t Tell(void* handle) {
    return fluid_long_long_t(static_cast<Reading*>(handle)->at);
}
int Close(void* handle) {
    delete static_cast<Reading*>(handle);
    return FLUID_OK;
}

struct Synth {
    fluid_settings_t* settings;
    fluid_synth_t* synth;
    Synth() {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, nullptr, nullptr);
        settings = new_fluid_settings();
        fluid_settings_setnum(settings, "synth.sample-rate", 22050);
        fluid_settings_setint(settings, "synth.polyphony", 32);
        fluid_settings_setint(settings, "synth.reverb.active", 0);
        fluid_settings_setint(settings, "synth.chorus.active", 0);
        synth = new_fluid_synth(settings);
        fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
        fluid_sfloader_set_callbacks(loader, Open, Read, Seek, Tell, Close);
        fluid_synth_add_sfloader(synth, loader);
    }
    ~Synth() {
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
    }
    void Render(int frames) {
        float l[256], r[256];
        for (; frames > 0; frames -= 256) {
            fluid_synth_write_float(synth, 256, l, 0, 1, r, 0, 1);
            for (int i = 0; i < 256; ++i)
                if (!std::isfinite(l[i]) || !std::isfinite(r[i])) Broken("rendered a non-finite sample");
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qorn;
    std::string why;
    const auto read = formats::segment::ReadCollectionBytes(std::span<const std::uint8_t>(data, size), &why);
    if (!read) return 0;
    const dls::Collection& c = *read;

    const instruments::CollectionPresets presets = instruments::DescribePresets(c);
    if (presets.samples.size() != c.waves.size() || presets.presets.size() != c.instruments.size())
        Broken("the description lost track of the collection");
    for (const auto& p : presets.presets)
        for (const auto& z : p.zones) {
            if (z.waveIndex >= c.waves.size() || !presets.samples[z.waveIndex].sounds) Broken("a zone on no sample");
            if (z.loop && (z.loop->start >= z.loop->end || z.loop->end > c.waves[z.waveIndex].samples.size()))
                Broken("a zone's loop outside its wave");
        }

    Synth s;
    for (bool generalMidi : {false, true}) {
        const int id = generalMidi ? instruments::AddGeneralMidiSetToSynth(s.synth, read)
                                   : instruments::AddCollectionToSynth(s.synth, read);
        if (id < 0) Broken("a collection that reads did not load");
        // A few notes on each of the first instruments, soft and loud.
        const std::size_t count = std::min<std::size_t>(c.instruments.size(), 8);
        for (std::size_t i = 0; i < count; ++i) {
            const dls::Instrument& in = c.instruments[i];
            const int channel = in.drums ? 9 : int(i % 9);
            if (generalMidi) {
                fluid_synth_cc(s.synth, channel, 0, in.bankMsb);
                fluid_synth_program_change(s.synth, channel, in.program);
            } else if (!instruments::SelectCollectionPatch(s.synth, channel, id, in.bankMsb, in.bankLsb, in.program,
                                                           in.drums)) {
                Broken("an instrument of the collection cannot be chosen");
            }
            for (int key : {36, 60, 96})
                fluid_synth_noteon(s.synth, channel, key, key == 60 ? 127 : 30);
        }
        s.Render(1024);
        fluid_synth_all_notes_off(s.synth, -1);
        if (!instruments::RemoveCollectionFromSynth(s.synth, id)) Broken("the collection did not unload");
        s.Render(256);
        instruments::ReleaseUnusedCollections(s.synth);
    }

    formats::Diagnostics lost;
    const instruments::SoundFontFile file = instruments::WriteSoundFont(c, presets, "'fuzz.dls'", "fuzz", lost);
    if (!file.error.empty()) return 0;
    if (file.bytes.size() < 12 || file.bytes.size() % 2 != 0 ||
        std::uint32_t(file.bytes[4] | file.bytes[5] << 8 | file.bytes[6] << 16 | std::uint32_t(file.bytes[7]) << 24) !=
            file.bytes.size() - 8)
        Broken("a file whose RIFF size is not its size");
    g_file = file.bytes;
    const int id = fluid_synth_sfload(s.synth, "memory.sf2", 0);
    if (id < 0) Broken("FluidSynth does not load the file written");
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(s.synth, id);
    std::size_t loaded = 0;
    fluid_sfont_iteration_start(font);
    while (fluid_sfont_iteration_next(font))
        ++loaded;
    if (loaded != file.presets) Broken("FluidSynth loads another number of presets");
    return 0;
}
