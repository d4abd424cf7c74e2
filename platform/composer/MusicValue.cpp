#include "MusicValue.h"

#include <algorithm>

namespace qorn::composer {

namespace pm = formats::style::playmode;

namespace {

// The pitch classes (0..11, relative to `root`) a 24-bit pattern holds,
// folded into one octave.
std::uint32_t FoldToOctave(std::uint32_t pattern) {
    return (pattern | (pattern >> 12)) & 0xFFFu;
}

bool InScale(int key, int scaleRoot, std::uint32_t folded) {
    const int pc = ((key - scaleRoot) % 12 + 12) % 12;
    return (folded >> pc) & 1u;
}

// `steps` scale notes above `key` (a key outside the scale counts its first
// step to the next scale note).
int StepUpScale(int key, int steps, int scaleRoot, std::uint32_t scalePattern) {
    const std::uint32_t folded = FoldToOctave(scalePattern);
    if (folded == 0) return key + steps; // no scale: semitones
    for (int i = 0; i < steps; ++i) {
        ++key;
        while (!InScale(key, scaleRoot, folded))
            ++key;
    }
    return key;
}

int ClampByOctaves(int key) {
    while (key < 0)
        key += 12;
    while (key > 127)
        key -= 12;
    return key;
}

} // namespace

MusicValueParts SplitMusicValue(std::uint16_t value) {
    MusicValueParts p;
    p.octave = (value >> 12) & 0xF;
    p.chordPosition = (value >> 8) & 0xF;
    p.scaleSteps = (value >> 4) & 0xF;
    const int acc = value & 0xF;
    p.accidental = acc >= 8 ? acc - 16 : acc;
    return p;
}

std::optional<int> MusicValueToMidi(std::uint16_t value, std::uint8_t playMode, const Harmony& harmony) {
    if (playMode & pm::kNone) playMode = pm::kNormalChord;
    const auto& chord = harmony.chord;
    // Chord roots span two octaves (0..23) and authored chord tracks centre
    // them on C = 12, so a chord root transposes from 12: C over C is the
    // key as written. Key roots stay as stored.
    const int root = (playMode & pm::kChordRoot) ? int(chord.chordRoot) - kChordRootOrigin
                     : (playMode & pm::kKeyRoot) ? harmony.keyRoot
                                                 : 0;
    const bool chordIntervals = (playMode & pm::kChordIntervals) != 0;
    const bool scaleIntervals = (playMode & pm::kScaleIntervals) != 0;
    if (!chordIntervals && !scaleIntervals) return ClampByOctaves(int(value) + root);

    const MusicValueParts p = SplitMusicValue(value);
    // Scale of the chord when it has one, else the key's.
    const std::uint32_t scalePattern = chord.scalePattern != 0 ? chord.scalePattern : harmony.keyScale;
    const int scaleRoot = chord.scalePattern != 0 ? chord.scaleRoot : harmony.keyRoot;

    int key = root + 12 * p.octave;
    int tones[24];
    int count = 0;
    if (chordIntervals) {
        for (int i = 0; i < 24; ++i)
            if ((chord.chordPattern >> i) & 1u) tones[count++] = i;
        if (count == 0) {
            tones[0] = 0; // an empty chord sounds its root
            count = 1;
        }
    }
    if (chordIntervals && p.chordPosition < count) {
        key = StepUpScale(key + tones[p.chordPosition], p.scaleSteps, scaleRoot, scalePattern);
    } else if (scaleIntervals) {
        // Scale intervals (melodic), also where always-play finds the
        // position above the chord's tones: a chord position is a third,
        // two scale steps.
        key = StepUpScale(key, 2 * p.chordPosition + p.scaleSteps, scaleRoot, scalePattern);
    } else {
        return std::nullopt; // over the chord: not played
    }
    key += p.accidental;
    return ClampByOctaves(key);
}

const formats::style::SubChord& SubChordForLevel(const formats::style::Chord& chord, std::uint8_t level) {
    const std::uint32_t bit = level < 32 ? (1u << level) : 0u;
    for (const auto& s : chord.subChords)
        if (s.levels & bit) return s;
    return chord.subChords.front();
}

int FoldIntoRange(int key, int lower, int upper) {
    if (lower > upper) std::swap(lower, upper);
    while (key > upper && key - 12 >= lower)
        key -= 12;
    while (key < lower && key + 12 <= upper)
        key += 12;
    if (upper - lower < 12) {
        // No octave fits both bounds: take the closest.
        while (key > upper && (key - 12) >= 0 && (upper - (key - 12)) < (key - upper))
            key -= 12;
        while (key < lower && (key + 12) <= 127 && ((key + 12) - upper) < (lower - key))
            key += 12;
    }
    return ClampByOctaves(key);
}

} // namespace qorn::composer
