// FluidSynth, loaded when the first synthesizer, instrument or driver is
// made (RuntimeLibrary.h). The platform calls it only through these
// (`fluid::new_fluid_synth` ...).
#pragma once

#include "platform/runtime/RuntimeLibrary.h"

#include <fluidsynth.h>

// Functions that may be called before any FluidSynth object exists.
#define QORN_FLUID_ENTRIES(X)                                                                                          \
    X(new_fluid_settings)                                                                                              \
    X(fluid_set_log_function)                                                                                          \
    X(new_fluid_sfont)                                                                                                 \
    X(new_fluid_sample)                                                                                                \
    X(new_fluid_mod)

// Functions that take an object made through an entry.
#define QORN_FLUID_FUNCTIONS(X)                                                                                        \
    X(delete_fluid_settings)                                                                                           \
    X(fluid_settings_setint)                                                                                           \
    X(fluid_settings_setnum)                                                                                           \
    X(fluid_settings_setstr)                                                                                           \
    X(fluid_settings_foreach_option)                                                                                   \
    X(new_fluid_synth)                                                                                                 \
    X(delete_fluid_synth)                                                                                              \
    X(fluid_synth_program_change)                                                                                      \
    X(fluid_synth_get_sfont_by_id)                                                                                     \
    X(fluid_synth_get_channel_preset)                                                                                  \
    X(fluid_synth_write_float)                                                                                         \
    X(fluid_synth_set_channel_type)                                                                                    \
    X(fluid_synth_program_select)                                                                                      \
    X(fluid_synth_pin_preset)                                                                                          \
    X(fluid_synth_noteoff)                                                                                             \
    X(fluid_synth_noteon)                                                                                              \
    X(fluid_synth_get_active_voice_count)                                                                              \
    X(fluid_synth_count_midi_channels)                                                                                 \
    X(fluid_synth_cc)                                                                                                  \
    X(fluid_synth_bank_select)                                                                                         \
    X(fluid_synth_sysex)                                                                                               \
    X(fluid_synth_start_voice)                                                                                         \
    X(fluid_synth_sfload)                                                                                              \
    X(fluid_synth_sfcount)                                                                                             \
    X(fluid_synth_set_gain)                                                                                            \
    X(fluid_synth_remove_sfont)                                                                                        \
    X(fluid_synth_pitch_bend)                                                                                          \
    X(fluid_synth_key_pressure)                                                                                        \
    X(fluid_synth_get_voicelist)                                                                                       \
    X(fluid_synth_get_sfont)                                                                                           \
    X(fluid_synth_get_program)                                                                                         \
    X(fluid_synth_get_polyphony)                                                                                       \
    X(fluid_synth_channel_pressure)                                                                                    \
    X(fluid_synth_alloc_voice)                                                                                         \
    X(fluid_synth_add_sfont)                                                                                           \
    X(delete_fluid_sfont)                                                                                              \
    X(fluid_sfont_get_data)                                                                                            \
    X(fluid_sfont_set_data)                                                                                            \
    X(fluid_sfont_get_id)                                                                                              \
    X(new_fluid_preset)                                                                                                \
    X(delete_fluid_preset)                                                                                             \
    X(fluid_preset_get_data)                                                                                           \
    X(fluid_preset_set_data)                                                                                           \
    X(fluid_preset_get_sfont)                                                                                          \
    X(fluid_preset_get_num)                                                                                            \
    X(fluid_preset_get_banknum)                                                                                        \
    X(delete_fluid_sample)                                                                                             \
    X(fluid_sample_set_sound_data)                                                                                     \
    X(fluid_sample_set_pitch)                                                                                          \
    X(fluid_sample_set_loop)                                                                                           \
    X(delete_fluid_mod)                                                                                                \
    X(fluid_mod_set_source1)                                                                                           \
    X(fluid_mod_set_source2)                                                                                           \
    X(fluid_mod_set_dest)                                                                                              \
    X(fluid_mod_set_amount)                                                                                            \
    X(fluid_voice_gen_set)                                                                                             \
    X(fluid_voice_gen_get)                                                                                             \
    X(fluid_voice_add_mod)                                                                                             \
    X(new_fluid_audio_driver2)                                                                                         \
    X(delete_fluid_audio_driver)

namespace qorn::fluid {

QORN_RUNTIME_TABLE(QORN_FLUID_ENTRIES, QORN_FLUID_FUNCTIONS)
QORN_FLUID_ENTRIES(QORN_RUNTIME_ENTRY)
QORN_FLUID_FUNCTIONS(QORN_RUNTIME_FUNCTION)

} // namespace qorn::fluid
