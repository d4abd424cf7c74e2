// Helpers shared by the segment tests: reading a written segment into a
// Sequence and picking events out of it.
#pragma once

#include "platform/formats/segment/SegmentReader.h"
#include "platform/formats/segment/SegmentSequence.h"
#include "tests/support/SegmentWriter.h"

#include <gtest/gtest.h>

namespace qorn::testseg {

struct Loaded {
    bool ok = false;
    std::string error;
    formats::segment::SegmentFile file;
    music::Sequence sequence;
    formats::Diagnostics warnings;
};

inline Loaded Load(const Bytes& bytes, const formats::segment::ReferenceResolver& resolver) {
    Loaded l;
    l.ok = formats::segment::ReadSegmentFile(bytes, l.file, resolver, &l.error);
    if (l.ok) {
        l.warnings = l.file.warnings;
        formats::segment::BuildSegmentSequence(l.file, l.sequence, &l.warnings);
    }
    return l;
}

inline Loaded Load(const Bytes& bytes) {
    formats::segment::EmbeddedOnlyResolver resolver;
    return Load(bytes, resolver);
}

struct NoteEvent {
    std::uint32_t on, off;
    std::uint8_t key, velocity, channel, group;
    bool operator==(const NoteEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const NoteEvent& n) {
    return os << "{on " << n.on << " off " << n.off << " key " << int(n.key) << " vel " << int(n.velocity) << " ch "
              << int(n.channel) << " g " << int(n.group) << "}";
}

// Pairs note-ons with their note-offs.
inline std::vector<NoteEvent> Notes(const music::Sequence& s) {
    std::vector<NoteEvent> notes;
    for (std::size_t i = 0; i < s.events.size(); ++i) {
        const auto& e = s.events[i];
        if ((e.status & 0xF0) != 0x90 || e.data2 == 0) continue;
        NoteEvent n{e.tick, 0xFFFFFFFFu, e.data1, e.data2, static_cast<std::uint8_t>(e.status & 0x0F), e.group};
        for (std::size_t j = i + 1; j < s.events.size(); ++j) {
            const auto& f = s.events[j];
            const bool off = (f.status & 0xF0) == 0x80 || ((f.status & 0xF0) == 0x90 && f.data2 == 0);
            if (off && (f.status & 0x0F) == n.channel && f.group == e.group && f.data1 == e.data1) {
                n.off = f.tick;
                break;
            }
        }
        notes.push_back(n);
    }
    return notes;
}

inline std::vector<music::SeqEvent> Controllers(const music::Sequence& s, std::uint8_t cc) {
    std::vector<music::SeqEvent> out;
    for (const auto& e : s.events)
        if ((e.status & 0xF0) == 0xB0 && e.data1 == cc) out.push_back(e);
    return out;
}

// A four-note melody at 96 bpm: C4 D4 E4 G4, a quarter each, the last one
// half a beat late by its grid offset.
inline SegmentSpec MelodySpec() {
    SegmentSpec plan;
    plan.header.length = 4 * 768;
    plan.tempos = {{0, 96.0}};
    plan.notes = {{0, 700, 0, 60, 100}, {768, 700, 0, 62, 90}, {1536, 700, 0, 64, 80}, {1920, 700, 0, 67, 70, 384}};
    return plan;
}

inline std::vector<NoteEvent> MelodyNotes() {
    return {{0, 700, 60, 100, 0, 0}, {768, 1468, 62, 90, 0, 0}, {1536, 2236, 64, 80, 0, 0}, {2304, 3004, 67, 70, 0, 0}};
}

} // namespace qorn::testseg
