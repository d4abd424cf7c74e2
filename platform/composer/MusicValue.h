// Turning a style note's music value into a MIDI key under a chord. In the
// fixed modes the value is the key itself (raised by the key or chord root);
// otherwise it packs four nibbles: octave, chord position, scale steps above
// that chord tone and an accidental (-8..7 semitones).
#pragma once

#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <optional>

namespace qorn::composer {

// The chord root that leaves a chord-rooted value untransposed. Authored
// chord tracks put C at 12 (roots run 5..17 in real pieces), and parts'
// inversion bounds only hold their notes when roots count from there.
inline constexpr int kChordRootOrigin = 12;

struct Harmony {
    std::uint8_t keyRoot = 0;
    std::uint32_t keyScale = 0xAB5AB5;
    formats::style::SubChord chord;
};

struct MusicValueParts {
    int octave = 0;
    int chordPosition = 0;
    int scaleSteps = 0;
    int accidental = 0;
};
MusicValueParts SplitMusicValue(std::uint16_t value);

// The key, or nothing when the note has no place in the chord (a chord
// position beyond the chord's tones; always-play mode places such a note by
// the scale instead, as melodic mode does). Keys are moved by octaves into
// 0..127.
std::optional<int> MusicValueToMidi(std::uint16_t value, std::uint8_t playMode, const Harmony& harmony);

// The subchord a part at `level` plays: the first whose level bits name it,
// else the first. `chord` must have at least one subchord.
const formats::style::SubChord& SubChordForLevel(const formats::style::Chord& chord, std::uint8_t level);

// Moves `key` by octaves into [lower, upper]; a range narrower than an
// octave keeps the key where it is closest to the range.
int FoldIntoRange(int key, int lower, int upper);

} // namespace qorn::composer
