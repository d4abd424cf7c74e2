// Small styles and chord progressions the tests compose with.
#pragma once

#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <vector>

namespace qorn::styles_test {

namespace st = formats::style;

inline platform::GUID PartId(std::uint32_t n) {
    return {0x51000000u + n, 0x1, 0x2, {0, 0, 0, 0, 0, 0, 0, std::uint8_t(n)}};
}

// Accepts every chord (any degree of any kind), in the DirectMusic layout.
inline constexpr std::uint32_t kDirectMusicRow = 0x20000000;
inline constexpr std::uint32_t kAnyChord = kDirectMusicRow | 0x001FFFFF;

inline st::StyleNote Note(std::int32_t grid, std::uint16_t musicValue, std::uint32_t variations = 1,
                          std::uint8_t playMode = st::playmode::kNone) {
    st::StyleNote n;
    n.gridStart = grid;
    n.variations = variations;
    n.duration = 384;
    n.musicValue = musicValue;
    n.velocity = 100;
    n.playMode = playMode;
    return n;
}

inline st::StylePart Part(std::uint32_t id, std::uint8_t playMode, std::vector<st::StyleNote> notes,
                          std::uint16_t measures = 1, int variations = 1) {
    st::StylePart p;
    p.id = PartId(id);
    p.playMode = playMode;
    p.measures = measures;
    for (int v = 0; v < variations; ++v)
        p.variationChoices[std::size_t(v)] = kAnyChord;
    p.notes = std::move(notes);
    return p;
}

inline st::PartRef Ref(std::uint32_t partId, std::uint32_t pchannel, std::uint8_t lock = 0,
                       std::uint8_t mode = st::variationmode::kRandom) {
    st::PartRef r;
    r.partId = PartId(partId);
    r.pchannel = pchannel;
    r.logicalPartId = static_cast<std::uint16_t>(pchannel);
    r.variationLockId = lock;
    r.randomVariation = mode;
    r.subChordLevel = 0;
    return r;
}

inline st::Pattern PatternOf(std::vector<st::PartRef> refs, std::uint16_t measures = 1, std::uint8_t bottom = 1,
                             std::uint8_t top = 100, std::uint16_t embellishment = st::embellishment::kNormal) {
    st::Pattern p;
    p.measures = measures;
    p.grooveBottom = bottom;
    p.grooveTop = top;
    p.embellishment = embellishment;
    p.partRefs = std::move(refs);
    return p;
}

// Parts are linked to references as the reader links them.
inline void Link(st::Style& style) {
    for (auto& p : style.patterns)
        for (auto& r : p.partRefs)
            for (std::size_t i = 0; i < style.parts.size(); ++i)
                if (style.parts[i].id == r.partId) r.part = static_cast<int>(i);
}

inline constexpr std::uint32_t kMeasure = 3072; // 4/4 at 768 ticks per quarter

inline st::SubChord SubChordOf(std::uint8_t root, std::uint32_t pattern, std::uint8_t scaleRoot) {
    st::SubChord s;
    s.chordRoot = root;
    s.chordPattern = pattern;
    s.scalePattern = 0xAB5AB5; // major
    s.scaleRoot = scaleRoot;
    return s;
}

// Key of F major; C major for the first measure, D minor for the second.
// Roots as authored chord tracks store them: C at 12, D at 14.
inline st::ChordTrack TwoChords() {
    st::ChordTrack t;
    t.keyRoot = 5;
    t.keyScale = 0xAB5AB5;
    st::Chord c;
    c.time = 0;
    c.subChords = {SubChordOf(12, 0x91, 5)};
    st::Chord d;
    d.time = kMeasure;
    d.measure = 1;
    d.subChords = {SubChordOf(14, 0x89, 5)};
    t.chords = {c, d};
    return t;
}

} // namespace qorn::styles_test
