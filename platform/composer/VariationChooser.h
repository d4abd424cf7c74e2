// Which variation of a part plays: only those whose choices accept the
// current chord, taken in the order the part reference asks for
// (sequential, random, random start, no repeat, random row), and shared by
// the parts of a pattern that lock variations together.
#pragma once

#include "MusicValue.h"
#include "SeededRandom.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace qorn::composer {

// Bits of a variation's choices that the chord sets: the scale degree of
// its root for its kind (major, minor, other), where the root stands
// against the key's scale, and how rich the chord is.
std::uint32_t ChordChoiceBits(const Harmony& harmony);

// The variations (one bit each) of `part` that may play over `harmony`,
// led into `next` (the following chord, nullptr when none). A row's mode bits
// say how it reads: the DirectMusic layout (degree per chord kind, root,
// richness, destination), or the older 16-bit layout of the first authoring
// tools (degree in the major key or an altered root, triad quality,
// simple/complex, destination I/V). A row that accepts no chord at all is a
// disabled variation and never plays; when no enabled variation accepts
// the chord, every enabled one may, so the part is not silenced by a chord
// its author did not foresee.
std::uint32_t AcceptedVariations(const formats::style::StylePart& part, const Harmony& harmony,
                                 const Harmony* next = nullptr);

class VariationChooser {
  public:
    explicit VariationChooser(SeededRandom& random) : random_(random) {}

    // Chooses for each part reference of one playing of `pattern`
    // (`patternIndex` keys the memory of earlier playings). `out[i]` is the
    // variation (0..31) of pattern.partRefs[i], -1 for a reference to no part.
    void choose(const formats::style::Style& style, std::size_t patternIndex, const formats::style::Pattern& pattern,
                const formats::style::Chord& chord, const Harmony& key, int* out,
                const formats::style::Chord* next = nullptr);

    // The variation of pattern.partRefs[ref] alone over `chord`, as choose()
    // picks it when the reference is in no lock group.
    int chooseOne(const formats::style::Style& style, std::size_t patternIndex, const formats::style::Pattern& pattern,
                  std::size_t ref, const formats::style::Chord& chord, const Harmony& key,
                  const formats::style::Chord* next = nullptr);

    // Parts outside a style (the parts of a wave track): each chooses among
    // its `candidates` in its `order`, remembering its earlier choices;
    // parts with the same non-zero `lock` play the variation the first of
    // them chose.
    struct FreePart {
        std::uint32_t candidates = 0;
        std::uint8_t order = 0;
        std::uint32_t lock = 0;
    };
    // `out[i]` is the variation of parts[i], -1 for a part without candidates.
    void choose(const std::vector<FreePart>& parts, std::vector<int>& out);

  private:
    struct Memory {
        int last = -1;
        std::uint32_t played = 0; // this row, for random-row order
    };
    int pick(std::uint32_t accepted, std::uint8_t mode, Memory& memory);

    SeededRandom& random_;
    std::map<std::pair<std::size_t, std::size_t>, Memory> memory_;
};

} // namespace qorn::composer
