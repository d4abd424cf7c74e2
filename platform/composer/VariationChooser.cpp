#include "VariationChooser.h"

#include <bit>

namespace qorn::composer {

namespace st = formats::style;

namespace {

constexpr std::uint32_t kRootInScale = 0x00200000;
constexpr std::uint32_t kRootFlat = 0x00400000;
constexpr std::uint32_t kRootSharp = 0x00800000;
constexpr std::uint32_t kRootBits = kRootInScale | kRootFlat | kRootSharp;
constexpr std::uint32_t kTriad = 0x01000000;
constexpr std::uint32_t kSixAndSeven = 0x02000000;
constexpr std::uint32_t kComplex = 0x04000000;
constexpr std::uint32_t kTypeBits = kTriad | kSixAndSeven | kComplex;
constexpr std::uint32_t kDegreeBits = 0x001FFFFF;

std::uint32_t Fold(std::uint32_t pattern) {
    return (pattern | (pattern >> 12)) & 0xFFFu;
}

// Index of pitch class `pc` among the notes of `folded`, or -1.
int DegreeOf(int pc, std::uint32_t folded) {
    if (((folded >> pc) & 1u) == 0) return -1;
    return std::popcount(folded & ((1u << pc) - 1u));
}

} // namespace

std::uint32_t ChordChoiceBits(const Harmony& harmony) {
    const auto& chord = harmony.chord;
    std::uint32_t scale = Fold(harmony.keyScale);
    if (scale == 0) scale = 0xAB5; // major
    const int pc = ((int(chord.chordRoot) - int(harmony.keyRoot)) % 12 + 12) % 12;
    std::uint32_t rootBit = kRootInScale;
    int degree = DegreeOf(pc, scale);
    if (degree < 0) {
        // A root a semitone below a scale note is its flat, above its sharp.
        degree = DegreeOf((pc + 1) % 12, scale);
        rootBit = kRootFlat;
        if (degree < 0) {
            degree = DegreeOf((pc + 11) % 12, scale);
            rootBit = kRootSharp;
        }
        if (degree < 0) degree = 0;
    }
    if (degree > 6) degree = 6;

    const std::uint32_t tones = Fold(chord.chordPattern);
    const bool major = (tones & (1u << 4)) && !(tones & (1u << 3));
    const bool minor = (tones & (1u << 3)) && !(tones & (1u << 4));
    const int kindShift = major ? 0 : minor ? 7 : 14;
    const int count = std::popcount(chord.chordPattern & 0xFFFFFFu);
    std::uint32_t type = kComplex;
    if (count <= 3)
        type = kTriad;
    else if (count == 4 && (tones & ((1u << 9) | (1u << 10) | (1u << 11))))
        type = kSixAndSeven;
    return (1u << (kindShift + degree)) | rootBit | type;
}

namespace {

constexpr std::uint32_t kDestTo1 = 0x08000000;
constexpr std::uint32_t kDestTo5 = 0x10000000;
constexpr std::uint32_t kDestOther = 0x40000000;
constexpr std::uint32_t kDestBits = kDestTo1 | kDestTo5 | kDestOther;
// Either mode bit marks the DirectMusic layout; neither, the older one.
constexpr std::uint32_t kDirectMusicMode = 0x20000000;
constexpr std::uint32_t kDirectMusicModeEx = 0x80000000;

// The older layout of the first authoring tools, which later tools still
// write for a row switched to it (no mode bit), low 16 bits: degree I..VII
// of the root in the key's major scale (bits 0-6) or a root outside it (bit
// 7); triad major, minor, other (8-10); simple (up to four notes), complex
// (11-12); leading to I, to V (13-14).
// Bit 15 is no criterion. Authored rows set one button of a group per
// variation (0xB902: II, major, leading to I), which the newer layout's
// kind x 7 + degree would read as a scatter of minor degrees.
constexpr std::uint32_t kOldDegreeBits = 0x00FF;
constexpr std::uint32_t kOldQualityBits = 0x0700;
constexpr std::uint32_t kOldRichnessBits = 0x1800;
constexpr std::uint32_t kOldDestTo1 = 0x2000;
constexpr std::uint32_t kOldDestTo5 = 0x4000;

bool DirectMusicRow(std::uint32_t row) {
    return (row & (kDirectMusicMode | kDirectMusicModeEx)) != 0;
}

bool Enabled(std::uint32_t row) {
    return DirectMusicRow(row) ? (row & kDegreeBits) != 0 : (row & kOldDegreeBits) != 0;
}

// Where a chord leads: 1 for the key's first degree, 5 for its fifth, 0 else.
int Destination(const Harmony* next) {
    if (next == nullptr) return -1;
    const int pc = ((int(next->chord.chordRoot) - int(next->keyRoot)) % 12 + 12) % 12;
    return pc == 0 ? 1 : pc == 7 ? 5 : 0;
}

std::uint32_t OldChoiceBits(const Harmony& harmony, int destination) {
    static constexpr int kMajorDegree[12] = {0, -1, 1, -1, 2, 3, -1, 4, -1, 5, -1, 6};
    const int pc = ((int(harmony.chord.chordRoot) - int(harmony.keyRoot)) % 12 + 12) % 12;
    std::uint32_t bits = kMajorDegree[pc] >= 0 ? 1u << kMajorDegree[pc] : 0x80u;
    const std::uint32_t tones = Fold(harmony.chord.chordPattern);
    const bool major = (tones & (1u << 4)) && (tones & (1u << 7)) && !(tones & (1u << 3));
    const bool minor = (tones & (1u << 3)) && (tones & (1u << 7)) && !(tones & (1u << 4));
    bits |= major ? 0x100u : minor ? 0x200u : 0x400u;
    bits |= std::popcount(harmony.chord.chordPattern & 0xFFFFFFu) <= 4 ? 0x800u : 0x1000u;
    if (destination == 1) bits |= kOldDestTo1;
    if (destination == 5) bits |= kOldDestTo5;
    return bits;
}

bool OldRowAccepts(std::uint32_t row, std::uint32_t bits) {
    if ((row & bits & kOldDegreeBits) == 0) return false;
    if ((row & bits & kOldQualityBits) == 0) return false;
    if ((row & bits & kOldRichnessBits) == 0) return false;
    // Leading elsewhere than I or V is not restricted in this layout.
    const std::uint32_t dest = bits & (kOldDestTo1 | kOldDestTo5);
    return dest == 0 || (row & dest) != 0;
}

bool RowAccepts(std::uint32_t row, std::uint32_t bits, int destination, bool partUsesDestOther) {
    if ((row & bits & kDegreeBits) == 0) return false;
    // Root and richness only restrict variations whose author set them.
    if ((row & kRootBits) && !(row & bits & kRootBits)) return false;
    if ((row & kTypeBits) && !(row & bits & kTypeBits)) return false;
    if (destination < 0 || (row & kDestBits) == 0) return true;
    if (destination == 1) return (row & kDestTo1) != 0;
    if (destination == 5) return (row & kDestTo5) != 0;
    // Content written before "other destinations" existed keeps that bit
    // clear in every row: there it restricts nothing.
    return !partUsesDestOther || (row & kDestOther) != 0;
}

} // namespace

std::uint32_t AcceptedVariations(const st::StylePart& part, const Harmony& harmony, const Harmony* next) {
    const std::uint32_t chordBits = ChordChoiceBits(harmony);
    const int destination = Destination(next);
    const std::uint32_t oldBits = OldChoiceBits(harmony, destination);
    bool usesDestOther = false;
    for (const std::uint32_t c : part.variationChoices)
        usesDestOther = usesDestOther || (DirectMusicRow(c) && Enabled(c) && (c & kDestOther));
    std::uint32_t accepted = 0, enabled = 0;
    for (std::size_t v = 0; v < part.variationChoices.size(); ++v) {
        const std::uint32_t c = part.variationChoices[v];
        if (!Enabled(c)) continue;
        enabled |= 1u << v;
        const bool ok =
            DirectMusicRow(c) ? RowAccepts(c, chordBits, destination, usesDestOther) : OldRowAccepts(c, oldBits);
        if (ok) accepted |= 1u << v;
    }
    if (accepted) return accepted;
    if (enabled) return enabled;
    return 1u; // a part without choices plays its first variation
}

int VariationChooser::pick(std::uint32_t accepted, std::uint8_t mode, Memory& memory) {
    auto nth = [](std::uint32_t bits, std::uint32_t n) {
        for (int v = 0; v < 32; ++v)
            if ((bits >> v) & 1u) {
                if (n == 0) return v;
                --n;
            }
        return 0;
    };
    auto randomOf = [&](std::uint32_t bits) {
        return nth(bits, random_.below(static_cast<std::uint32_t>(std::popcount(bits))));
    };
    auto nextAfter = [&](int last) {
        for (int i = 1; i <= 32; ++i) {
            const int v = (last + i) & 31;
            if ((accepted >> v) & 1u) return v;
        }
        return 0;
    };
    int v = 0;
    switch (mode) {
    case st::variationmode::kSequential:
        v = memory.last < 0 ? nth(accepted, 0) : nextAfter(memory.last);
        break;
    case st::variationmode::kRandomStart:
        v = memory.last < 0 ? randomOf(accepted) : nextAfter(memory.last);
        break;
    case st::variationmode::kNoRepeat: {
        std::uint32_t others = accepted;
        if (memory.last >= 0 && std::popcount(accepted) > 1) others &= ~(1u << memory.last);
        v = randomOf(others);
        break;
    }
    case st::variationmode::kRandomRow: {
        std::uint32_t left = accepted & ~memory.played;
        if (left == 0) {
            memory.played = 0;
            left = accepted;
        }
        v = randomOf(left);
        memory.played |= 1u << v;
        break;
    }
    default:
        v = randomOf(accepted);
        break;
    }
    memory.last = v;
    return v;
}

void VariationChooser::choose(const st::Style& style, std::size_t patternIndex, const st::Pattern& pattern,
                              const st::Chord& chord, const Harmony& key, int* out, const st::Chord* next) {
    const std::size_t n = pattern.partRefs.size();
    int locked[128];
    for (int& l : locked)
        l = -1;
    // The part marked as master of a lock group chooses first; the others
    // of the group follow it.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < n; ++i) {
            const auto& ref = pattern.partRefs[i];
            const bool master = (ref.variationLockId & 0x80) != 0;
            if ((pass == 0) != master) continue;
            if (ref.part < 0 || std::size_t(ref.part) >= style.parts.size()) {
                out[i] = -1;
                continue;
            }
            const int lock = ref.variationLockId & 0x7F;
            if (lock != 0 && locked[lock] >= 0) {
                out[i] = locked[lock];
                continue;
            }
            out[i] = chooseOne(style, patternIndex, pattern, i, chord, key, next);
            if (lock != 0) locked[lock] = out[i];
        }
    }
}

int VariationChooser::chooseOne(const st::Style& style, std::size_t patternIndex, const st::Pattern& pattern,
                                std::size_t i, const st::Chord& chord, const Harmony& key, const st::Chord* next) {
    const auto& ref = pattern.partRefs[i];
    if (ref.part < 0 || std::size_t(ref.part) >= style.parts.size()) return -1;
    Harmony h = key;
    h.chord = SubChordForLevel(chord, ref.subChordLevel);
    Harmony following = key;
    if (next) following.chord = SubChordForLevel(*next, ref.subChordLevel);
    const std::uint32_t accepted =
        AcceptedVariations(style.parts[std::size_t(ref.part)], h, next ? &following : nullptr);
    return pick(accepted, ref.randomVariation, memory_[{patternIndex, i}]);
}

void VariationChooser::choose(const std::vector<FreePart>& parts, std::vector<int>& out) {
    // Kept apart from the memory of the patterns of a style.
    constexpr std::size_t kFreeParts = static_cast<std::size_t>(-1);
    out.assign(parts.size(), -1);
    std::map<std::uint32_t, int> locked;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const FreePart& part = parts[i];
        if (part.candidates == 0) continue;
        if (part.lock != 0) {
            if (auto it = locked.find(part.lock); it != locked.end()) {
                out[i] = it->second;
                continue;
            }
        }
        out[i] = pick(part.candidates, part.order, memory_[{kFreeParts, i}]);
        if (part.lock != 0) locked.emplace(part.lock, out[i]);
    }
}

} // namespace qorn::composer
