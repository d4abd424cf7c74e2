// What every successfully loaded piece must satisfy, whatever bytes it came
// from. Shared by the tests and the fuzzer, so a fuzzer finding is also a
// failing test once its input is kept as a regression fixture.
#pragma once

#include "platform/music/Sequence.h"

#include <cstddef>
#include <string>

namespace qorn::testing {

// Empty when all holds; otherwise what broke.
inline std::string CheckSequenceInvariants(const music::Sequence& seq, std::size_t fileSize) {
    if (seq.ticksPerQuarter == 0) return "ticksPerQuarter is 0";
    // Memory stays a small multiple of the input.
    const std::size_t kept = seq.events.capacity() * sizeof(music::SeqEvent) +
                             seq.tempos.capacity() * sizeof(music::TempoChange) +
                             seq.sysex.capacity() * sizeof(music::SysExEvent) + seq.sysexBytes.capacity();
    if (kept > 16 * fileSize + 64 * 1024)
        return "kept " + std::to_string(kept) + " bytes for a file of " + std::to_string(fileSize);
    std::vector<bool> sounding(16 * 128, false);
    for (std::size_t i = 0; i < seq.events.size(); ++i) {
        const auto& e = seq.events[i];
        if (i > 0 && seq.events[i - 1].tick > e.tick) return "events out of order at " + std::to_string(i);
        if (e.tick > seq.lengthTicks) return "event after the end at " + std::to_string(i);
        if (e.status < 0x80 || e.status >= 0xF0) return "not a channel message at " + std::to_string(i);
        if (e.data1 > 0x7F || e.data2 > 0x7F) return "data byte with the top bit at " + std::to_string(i);
        const int kind = e.status & 0xF0;
        const std::size_t slot = std::size_t(e.status & 0x0F) << 7 | e.data1;
        if (kind == 0x90 && e.data2 != 0) sounding[slot] = true;
        if (kind == 0x80 || (kind == 0x90 && e.data2 == 0)) sounding[slot] = false;
    }
    for (std::size_t slot = 0; slot < sounding.size(); ++slot) {
        if (sounding[slot]) return "note " + std::to_string(slot & 0x7F) + " still sounds at the end";
    }
    for (std::size_t i = 0; i < seq.tempos.size(); ++i) {
        if (seq.tempos[i].microsecondsPerQuarter == 0) return "zero tempo";
        if (i > 0 && seq.tempos[i - 1].tick >= seq.tempos[i].tick) return "tempo map not strictly sorted";
    }
    for (std::size_t i = 0; i < seq.sysex.size(); ++i) {
        const auto& s = seq.sysex[i];
        if (i > 0 && seq.sysex[i - 1].tick > s.tick) return "sysex out of order";
        if (s.length == 0 || s.offset > seq.sysexBytes.size() || s.length > seq.sysexBytes.size() - s.offset)
            return "sysex outside its bytes";
        if (s.tick > seq.lengthTicks) return "sysex after the end";
    }
    return {};
}

} // namespace qorn::testing
