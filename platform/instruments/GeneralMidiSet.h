// The General MIDI set a synthesizer plays with: a SoundFont (read by
// FluidSynth) or a DLS collection such as the gm.dls DirectMusic itself
// loads by default, which takes the same road as a band's collections (the
// collection reader, then DlsSoundFont) and is recognised by its content.
#pragma once

#include "platform/formats/common/Diagnostics.h"

#include <fluidsynth.h>

#include <string>

namespace qorn::instruments {

// Puts the set at `path` on `synth`. Returns its SoundFont id, or -1 with
// the reason in *error. A DLS set is read once per process and file
// version; the first read puts what the collection has to say (damage,
// articulation the synthesizer cannot play) into `warnings`.
int LoadGeneralMidiSet(fluid_synth_t* synth, const std::string& path, formats::Diagnostics& warnings,
                       std::string* error);

} // namespace qorn::instruments
