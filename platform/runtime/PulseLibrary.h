// The sound server's client library, loaded when the first output is made
// (RuntimeLibrary.h). The platform calls it only through these
// (`pulse::pa_context_connect` ...).
#pragma once

#include "platform/runtime/RuntimeLibrary.h"

#include <pulse/pulseaudio.h>

// Functions that may be called before any of the library's objects exists.
#define QORN_PULSE_ENTRIES(X)                                                                                          \
    X(pa_threaded_mainloop_new)                                                                                        \
    X(pa_proplist_new)                                                                                                 \
    X(pa_channel_map_init_stereo)                                                                                      \
    X(pa_usec_to_bytes)                                                                                                \
    X(pa_gettimeofday)                                                                                                 \
    X(pa_timeval_add)

// Functions that take an object made through an entry.
#define QORN_PULSE_FUNCTIONS(X)                                                                                        \
    X(pa_context_connect)                                                                                              \
    X(pa_context_disconnect)                                                                                           \
    X(pa_context_get_state)                                                                                            \
    X(pa_context_new_with_proplist)                                                                                    \
    X(pa_context_set_state_callback)                                                                                   \
    X(pa_context_unref)                                                                                                \
    X(pa_proplist_free)                                                                                                \
    X(pa_proplist_sets)                                                                                                \
    X(pa_stream_begin_write)                                                                                           \
    X(pa_stream_cancel_write)                                                                                          \
    X(pa_stream_connect_playback)                                                                                      \
    X(pa_stream_disconnect)                                                                                            \
    X(pa_stream_get_state)                                                                                             \
    X(pa_stream_new_with_proplist)                                                                                     \
    X(pa_stream_set_state_callback)                                                                                    \
    X(pa_stream_set_underflow_callback)                                                                                \
    X(pa_stream_set_write_callback)                                                                                    \
    X(pa_stream_unref)                                                                                                 \
    X(pa_stream_write)                                                                                                 \
    X(pa_threaded_mainloop_free)                                                                                       \
    X(pa_threaded_mainloop_get_api)                                                                                    \
    X(pa_threaded_mainloop_lock)                                                                                       \
    X(pa_threaded_mainloop_set_name)                                                                                   \
    X(pa_threaded_mainloop_start)                                                                                      \
    X(pa_threaded_mainloop_stop)                                                                                       \
    X(pa_threaded_mainloop_unlock)

namespace qorn::pulse {

QORN_RUNTIME_TABLE(QORN_PULSE_ENTRIES, QORN_PULSE_FUNCTIONS)
QORN_PULSE_ENTRIES(QORN_RUNTIME_ENTRY)
QORN_PULSE_FUNCTIONS(QORN_RUNTIME_FUNCTION)

} // namespace qorn::pulse
