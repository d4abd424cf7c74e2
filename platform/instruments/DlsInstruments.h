// Playing DLS instrument collections on a FluidSynth synthesizer: each
// collection becomes a virtual SoundFont on the synth's stack, built from
// memory, whose presets start voices from the collection's regions.
//
// Use from the thread that owns the synth's configuration (the GUI thread);
// note-ons reach the presets from wherever the synth is played.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <memory>

namespace qorn::dls {
struct Collection;
}

namespace qorn::instruments {

// Puts `collection` on top of the synth's SoundFont stack. Returns its
// SoundFont id (> 0), or -1 if it could not be added. Adding a SoundFont
// makes FluidSynth re-resolve every channel's program down the stack
// (channels on a collection's patch lose it), so select patches after
// adding.
int AddCollectionToSynth(fluid_synth_t* synth, std::shared_ptr<const dls::Collection> collection);

// Puts `collection` on the synth's stack as its General MIDI set: it
// answers plain bank selects and program changes as a General MIDI
// SoundFont does (melodic patches by bank MSB, drum kits on drum channels),
// and a GS variation it lacks falls back, as FluidSynth falls back, to the
// capital tone at bank 0. Returns its SoundFont id, or -1.
int AddGeneralMidiSetToSynth(fluid_synth_t* synth, std::shared_ptr<const dls::Collection> collection);

// The SoundFont id under which `collection` is loaded on this synth (and
// not unloaded), or -1: lets a band's instruments be downloaded once.
int FindCollectionOnSynth(fluid_synth_t* synth, const dls::Collection* collection);

// Unloads a collection added above: from now on it answers no patch and
// starts no voice, channels playing it fall back to the other SoundFonts,
// and its memory is released once its last voice has died away (here or in
// a later call to ReleaseUnusedCollections, or when the synth is deleted).
// False if `sfontId` is not a collection of this synth.
bool RemoveCollectionFromSynth(fluid_synth_t* synth, int sfontId);

// Frees unloaded collections whose voices have all ended. Cheap; call it
// now and then (for example when playback stops).
void ReleaseUnusedCollections(fluid_synth_t* synth);

// The bank number under which a collection's SoundFont presents a patch.
int CollectionBankNumber(std::uint8_t bankMsb, std::uint8_t bankLsb, bool drums);

// Selects a collection's patch on a channel; without the exact patch, the
// collection's instrument of the same program at another bank (see
// dls::FindBandInstrument). False when the collection has neither (or is
// unloaded): the caller then falls back to the General MIDI SoundFont. This is the only way to reach a collection's
// patches: plain bank selects and program changes sent to the synth pass
// over collections to the SoundFonts below them.
bool SelectCollectionPatch(fluid_synth_t* synth, int channel, int sfontId, std::uint8_t bankMsb, std::uint8_t bankLsb,
                           std::uint8_t program, bool drums);

// Collections of this synth still held in memory (loaded or waiting for
// their voices to end). For tests and diagnostics.
int CollectionsHeldBySynth(fluid_synth_t* synth);

} // namespace qorn::instruments
