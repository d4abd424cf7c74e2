// MIDI messages as ALSA sequencer events (no addressing; the caller sets
// source, destination and direct delivery).
#pragma once

#include <cstddef>
#include <cstdint>

struct snd_seq_event;

namespace qorn::platform {

// A channel message or a short system message. False (event untouched) for
// bytes that are no message the sequencer carries, e.g. a data byte as status.
bool EncodeShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, snd_seq_event& event);

// A complete F0 ... F7 message. The event points into `data`, which must
// outlive the send. False when it does not start with F0.
bool EncodeSysEx(const std::uint8_t* data, std::size_t length, snd_seq_event& event);

} // namespace qorn::platform
