// FluidSynth, loaded when the first synthesizer, instrument or driver is
// made rather than when the program starts: its libraries (and theirs)
// would otherwise be mapped and relocated before the window is first shown.
// The platform calls FluidSynth only through these (`fluid::new_fluid_synth`
// ...), which have the library's own signatures.
#pragma once

#include <fluidsynth.h>

#include <cstdlib>
#include <type_traits>

// Functions that may be called before any FluidSynth object exists: each
// loads the library first (once per process; thread-safe).
#define QORN_FLUID_ENTRIES(X)                                                                                          \
    X(new_fluid_settings)                                                                                              \
    X(fluid_set_log_function)                                                                                          \
    X(new_fluid_sfont)                                                                                                 \
    X(new_fluid_sample)                                                                                                \
    X(new_fluid_mod)

// Functions that take an object made through an entry, so the library is
// loaded by then; called from the audio thread too, they only read a pointer.
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

// Loads the library and resolves every function above, once. False when
// the library or one of its functions cannot be found; the entries then
// return nothing (a null object), as FluidSynth does when it fails.
bool Load();

namespace detail {

#define QORN_FLUID_SLOT(name) decltype(&::name) name = nullptr;
struct Functions {
    QORN_FLUID_ENTRIES(QORN_FLUID_SLOT)
    QORN_FLUID_FUNCTIONS(QORN_FLUID_SLOT)
};
#undef QORN_FLUID_SLOT

// Written once inside Load(), read without a lock afterwards.
extern Functions gFunctions;

template <auto Slot, bool Entry, typename F> struct Forward;
template <auto Slot, bool Entry, typename R, typename... A> struct Forward<Slot, Entry, R (*)(A...)> {
    static R Call(A... args) {
        if constexpr (Entry) {
            // Without the library an entry makes nothing, as FluidSynth does
            // when it fails.
            if (!Load()) {
                if constexpr (std::is_void_v<R>)
                    return;
                else
                    return R{};
            }
        }
        auto function = gFunctions.*Slot;
        // Only when the object came from FluidSynth itself (a test that links
        // it): the player makes every object through an entry first, and
        // without the library there is no such object.
        if (function == nullptr) {
            if (!Load()) std::abort();
            function = gFunctions.*Slot;
        }
        return function(args...);
    }
};

} // namespace detail

#define QORN_FLUID_ENTRY(name)                                                                                         \
    inline constexpr auto name = &detail::Forward<&detail::Functions::name, true, decltype(&::name)>::Call;
#define QORN_FLUID_FUNCTION(name)                                                                                      \
    inline constexpr auto name = &detail::Forward<&detail::Functions::name, false, decltype(&::name)>::Call;
QORN_FLUID_ENTRIES(QORN_FLUID_ENTRY)
QORN_FLUID_FUNCTIONS(QORN_FLUID_FUNCTION)
#undef QORN_FLUID_ENTRY
#undef QORN_FLUID_FUNCTION

} // namespace qorn::fluid
