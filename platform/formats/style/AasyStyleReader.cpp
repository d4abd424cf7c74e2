#include "AasyStyleReader.h"

#include "platform/formats/common/Limits.h"
#include "platform/formats/riff/RiffValues.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace qorn::formats::style {

namespace {

constexpr std::uint32_t fcc(const char* s) {
    return ByteReader::fourCC(s);
}

constexpr std::uint32_t kStyleChunk = fcc("styl");
constexpr std::uint32_t kInfoChunk = fcc("info");
constexpr std::uint32_t kChordmapName = fcc("pref");
constexpr std::uint32_t kBandForm = fcc("AABN");
constexpr std::uint32_t kBandChunk = fcc("band");
constexpr std::uint32_t kPatternForm = fcc("AAPT");
constexpr std::uint32_t kPatternChunk = fcc("patt");
constexpr std::uint32_t kClickList = fcc("AACL");
constexpr std::uint32_t kClickChunk = fcc("clik");
constexpr std::uint32_t kNoteChunk = fcc("note");
constexpr std::uint32_t kCurveChunk = fcc("curv");

constexpr std::size_t kParts = 16;
constexpr std::size_t kVariations = 16;
// Smallest records read (docs/formats/aasy-style.md has every offset).
constexpr std::size_t kStyleMin = 44;    // through the tempo
constexpr std::size_t kPatternMin = 20;  // through the length in measures
constexpr std::size_t kBandMin = 104;    // through the transpositions
constexpr std::size_t kNoteMin = 14;     // through the duration
constexpr std::size_t kChordmapMin = 64; // display name, flags, a file name

// Offsets in 'patt'.
constexpr std::size_t kPatternName = 20;
constexpr std::size_t kInvertUpper = 60;
constexpr std::size_t kInvertLower = 76;
constexpr std::size_t kVariationRows = 94;
constexpr std::size_t kPartModes = 609;

// Pattern flags: chord rhythms, kinds, groove letters.
constexpr std::uint32_t kFill = 0x1;
constexpr std::uint32_t kIntro = 0x2;
constexpr std::uint32_t kWhole = 0x4;
constexpr std::uint32_t kHalf = 0x8;
constexpr std::uint32_t kQuarter = 0x10;
constexpr std::uint32_t kBreak = 0x20;
constexpr std::uint32_t kEnd = 0x40;
constexpr std::uint32_t kGrooveA = 0x80; // B, C, D follow
constexpr std::uint32_t kMotif = 0x20000;

// Fixed-offset fields of one chunk body; reads past it give the default.
class Fields {
  public:
    explicit Fields(const ByteReader& body) : bytes_(body.rest()) {}
    std::size_t size() const { return bytes_.size(); }
    std::uint8_t u8(std::size_t at, std::uint8_t def = 0) const { return at < bytes_.size() ? bytes_[at] : def; }
    std::uint16_t u16(std::size_t at, std::uint16_t def = 0) const {
        return at + 2 <= bytes_.size() ? std::uint16_t(bytes_[at] | (bytes_[at + 1] << 8)) : def;
    }
    std::uint32_t u32(std::size_t at, std::uint32_t def = 0) const {
        return at + 4 <= bytes_.size() ? std::uint32_t(u16(at) | (std::uint32_t(u16(at + 2)) << 16)) : def;
    }
    ByteReader at(std::size_t from, std::size_t n) const {
        if (from > bytes_.size()) return {};
        return ByteReader(bytes_.subspan(from, std::min(n, bytes_.size() - from)));
    }
    std::string text(std::size_t from, std::size_t units) const { return riff::ReadUtf16Text(at(from, 2 * units)); }

  private:
    std::span<const std::uint8_t> bytes_;
};

// What one file cannot give, said once each.
class Unread {
  public:
    explicit Unread(Diagnostics& warnings) : warnings_(warnings) {}
    void note(const std::string& what, const riff::Chunk& c) {
        if (said_.insert(what).second) warnings_.push_back(riff::ChunkError(what, c));
    }
    void count(const std::string& what) { ++counts_[what]; }
    void flush() {
        for (const auto& [what, n] : counts_)
            warnings_.push_back(std::to_string(n) + " " + what);
    }

  private:
    Diagnostics& warnings_;
    std::set<std::string> said_;
    std::map<std::string, std::size_t> counts_;
};

struct Clock {
    std::uint32_t perBeat = 192;
    std::uint32_t perClick = 48;
    std::uint32_t ticksPerBeat = 768;

    std::int64_t ticks(std::int64_t clocks) const { return clocks * ticksPerBeat / perBeat; }
};

std::uint8_t PartMode(std::uint8_t stored, std::uint32_t part) {
    // The drum part and the modes 1 and 8 it uses play keys as they stand;
    // every other stored mode places the music value over the chord (the
    // values agree with the authored keys over the pattern's own chord).
    if (part == kAasyDrumPart || stored == 1 || stored == 8) return playmode::kFixed;
    return playmode::kNormalChord;
}

void ReadStyleChunk(const riff::Chunk& c, Style& out, Clock& clock) {
    const Fields f(c.body);
    out.name = f.text(0, 16);
    out.timeSignature.beatsPerMeasure = static_cast<std::uint8_t>(std::clamp<int>(f.u16(32, 4), 1, 255));
    out.timeSignature.beat = static_cast<std::uint8_t>(std::clamp<int>(f.u16(34, 4), 1, 64));
    clock.perClick = f.u16(36, 48);
    clock.perBeat = f.u16(38, 192);
    if (clock.perBeat == 0) clock.perBeat = 192;
    if (clock.perClick == 0 || clock.perClick > clock.perBeat) clock.perClick = clock.perBeat;
    clock.ticksPerBeat = out.timeSignature.beatTicks();
    out.timeSignature.gridsPerBeat =
        static_cast<std::uint16_t>(std::max<std::uint32_t>(1, clock.perBeat / clock.perClick));
    const std::uint16_t tempo = f.u16(42);
    out.tempo = tempo >= 1 && tempo <= 1000 ? double(tempo) : 120.0;
    ByteReader g = f.at(46, 16);
    out.hasGuid = riff::ReadGuid(g, out.guid);
}

void ReadChordmapName(const riff::Chunk& c, Style& out, std::size_t& defaultAt, Unread& unread) {
    const Fields f(c.body);
    if (f.size() < kChordmapMin) {
        unread.note("chordmap name too short skipped", c);
        return;
    }
    segment::ObjectReference ref;
    ref.name = f.text(0, 20);
    // Every name the older tools wrote starts with '<'.
    if (!ref.name.empty() && ref.name.front() == '<') ref.name.erase(0, 1);
    if (!ref.name.empty()) ref.validData |= segment::ObjectReference::kName;
    // The file name without its extension, in capitals (8.3).
    const std::string stem = f.text(62, (f.size() - 62) / 2);
    if (!stem.empty()) {
        ref.file = stem + ".cdm";
        ref.validData |= segment::ObjectReference::kFileName;
    }
    if (ref.validData == 0) return;
    if (f.u16(42) != 0 && defaultAt == std::size_t(-1)) defaultAt = out.chordmaps.size();
    out.chordmaps.push_back(std::move(ref));
}

void ReadBand(const riff::Chunk& form, Style& out, bool& haveDefault, Unread& unread) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id != kBandChunk) continue;
        const Fields f(c.body);
        if (f.size() < kBandMin) {
            unread.note("band too short skipped", c);
            return;
        }
        segment::Band band;
        band.name = f.text(0, 20);
        for (std::uint32_t part = 0; part < kParts; ++part) {
            segment::BandInstrument inst;
            inst.pchannel = AasyPartChannel(part);
            inst.patch = f.u8(40 + part) & 0x7Fu;
            if (part == kAasyDrumPart) inst.patch |= segment::BandInstrument::kDrumFlag;
            inst.volume = static_cast<std::uint8_t>(f.u8(56 + part) & 0x7F);
            inst.pan = static_cast<std::uint8_t>(f.u8(72 + part) & 0x7F);
            inst.transpose = static_cast<std::int8_t>(f.u8(88 + part));
            inst.flags = segment::BandInstrument::kPatch | segment::BandInstrument::kVolume |
                         segment::BandInstrument::kPan | segment::BandInstrument::kGs;
            if (inst.transpose != 0) inst.flags |= segment::BandInstrument::kTranspose;
            band.instruments.push_back(inst);
        }
        // The band marked default is the one the style starts with.
        if (f.u16(104) != 0 && !haveDefault) {
            haveDefault = true;
            out.bands.insert(out.bands.begin(), std::move(band));
        } else {
            out.bands.push_back(std::move(band));
        }
        return;
    }
    if (!chunks.error().empty()) unread.note(chunks.error(), form);
}

struct PatternParts {
    std::array<StylePart, kParts> parts;
    std::array<bool, kParts> used{};
};

void ReadNotes(const riff::Chunk& c, std::uint32_t click, const Clock& clock, const TimeSignature& sig,
               PatternParts& pp, Unread& unread) {
    ByteReader r = c.body;
    std::uint16_t size = 0;
    if (!r.readU16LE(size) || size < kNoteMin) {
        unread.note("notes with a damaged record size skipped", c);
        return;
    }
    if (r.remaining() % size != 0) unread.note("notes cut short", c);
    // Where the model's grid puts the click, against where the clocks do.
    const std::int64_t clickTicks = clock.ticks(std::int64_t(click) * clock.perClick);
    const std::int64_t gridTicks = sig.gridToTicks(static_cast<std::int32_t>(click));
    while (r.remaining() >= size) {
        const Fields f(r.sub(size));
        const std::uint32_t part = f.u8(1);
        if (part >= kParts) {
            unread.count("notes of parts beyond the sixteenth skipped");
            continue;
        }
        StyleNote n;
        n.gridStart = static_cast<std::int32_t>(click);
        const std::int64_t offset = clock.ticks(static_cast<std::int16_t>(f.u16(2))) + clickTicks - gridTicks;
        n.timeOffset = static_cast<std::int16_t>(std::clamp<std::int64_t>(offset, INT16_MIN, INT16_MAX));
        n.variations = f.u16(4);
        n.velocity = static_cast<std::uint8_t>(std::clamp<int>(f.u8(9), 1, 127));
        n.duration = static_cast<std::int32_t>(std::max<std::int64_t>(1, clock.ticks(f.u16(12))));
        auto& target = pp.parts[part];
        if (target.playMode == playmode::kFixed)
            n.musicValue = part == kAasyDrumPart ? AasyDrumKey(f.u8(8)) : f.u8(8) & 0x7Fu;
        else
            n.musicValue = f.u16(10);
        target.notes.push_back(n);
        pp.used[part] = true;
    }
}

void ReadClickList(const riff::Chunk& list, const Clock& clock, const TimeSignature& sig, PatternParts& pp,
                   Unread& unread) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    std::optional<std::uint32_t> click;
    while (chunks.next(c)) {
        if (c.id == kClickChunk) {
            ByteReader r = c.body;
            std::uint16_t v = 0;
            if (r.readU16LE(v)) click = v;
        } else if (c.id == kNoteChunk) {
            if (!click) {
                unread.note("notes before their click skipped", c);
                continue;
            }
            ReadNotes(c, *click, clock, sig, pp, unread);
        } else if (c.id == kCurveChunk) {
            unread.count("curves of the older form left unread");
        } else {
            unread.note("unknown chunk '" + riff::FourCCText(c.id) + "' in a click list skipped", c);
        }
    }
    if (!chunks.error().empty()) unread.note(chunks.error(), list);
}

void ReadPattern(const riff::Chunk& form, std::size_t index, Style& out, const Clock& styleClock, Unread& unread) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    std::optional<riff::Chunk> header;
    while (!header && chunks.next(c))
        if (c.id == kPatternChunk) header = c;
    if (!header || header->body.size() < kPatternMin) {
        unread.note("pattern without a usable 'patt' header skipped", header ? *header : form);
        return;
    }
    const Fields f(header->body);
    Pattern p;
    p.name = f.text(kPatternName, 16);
    Clock clock = styleClock;
    if (f.u16(16) != 0) clock.perBeat = f.u16(16);
    if (f.u16(12) != 0 && f.u16(12) <= clock.perBeat) clock.perClick = f.u16(12);
    p.timeSignature.beatsPerMeasure = static_cast<std::uint8_t>(std::clamp<int>(f.u16(14, 4), 1, 255));
    p.timeSignature.beat = out.timeSignature.beat;
    p.timeSignature.gridsPerBeat =
        static_cast<std::uint16_t>(std::max<std::uint32_t>(1, clock.perBeat / clock.perClick));
    p.measures = std::max<std::uint16_t>(1, f.u16(18, 1));
    const std::uint64_t length = f.u32(4);
    if (length != std::uint64_t(p.measures) * p.timeSignature.beatsPerMeasure * clock.perBeat)
        unread.note("pattern length disagrees with its measures (the measures are kept)", *header);

    const std::uint32_t flags = f.u32(8);
    if (flags & kFill) p.embellishment |= embellishment::kFill;
    if (flags & kIntro) p.embellishment |= embellishment::kIntro;
    if (flags & kBreak) p.embellishment |= embellishment::kBreak;
    if (flags & kEnd) p.embellishment |= embellishment::kEnd;
    if (flags & kMotif) p.embellishment |= embellishment::kMotif;
    // Groove letters A..D stand for quarters of the range 1..100.
    int lowest = -1, highest = -1;
    for (int g = 0; g < 4; ++g)
        if (flags & (kGrooveA << g)) {
            if (lowest < 0) lowest = g;
            highest = g;
        }
    if (lowest >= 0) {
        p.grooveBottom = static_cast<std::uint8_t>(1 + 25 * lowest);
        p.grooveTop = static_cast<std::uint8_t>(25 * (highest + 1));
    } else if (p.embellishment == embellishment::kNormal) {
        // No groove letter: no level chooses it, so it plays on request
        // only, as a motif does (docs/formats/aasy-style.md).
        p.embellishment = embellishment::kMotif;
    }
    // Where chords may change: every measure, every half or every beat.
    std::uint32_t beats = 0;
    const int perMeasure = p.timeSignature.beatsPerMeasure;
    if (flags & kWhole) beats |= 1u;
    if (flags & kHalf) beats |= 1u | (perMeasure % 2 == 0 && perMeasure < 32 ? 1u << (perMeasure / 2) : 0u);
    if (flags & kQuarter) beats |= perMeasure >= 32 ? 0xFFFFFFFFu : (1u << perMeasure) - 1u;
    if (beats != 0) p.rhythm.assign(p.measures, beats);

    PatternParts pp;
    for (std::uint32_t part = 0; part < kParts; ++part) {
        StylePart& sp = pp.parts[part];
        sp.timeSignature = p.timeSignature;
        sp.measures = p.measures;
        sp.playMode = PartMode(f.u8(kPartModes + part, 3), part);
        sp.invertUpper = static_cast<std::uint8_t>(f.u8(kInvertUpper + part, 127) & 0x7F);
        sp.invertLower = static_cast<std::uint8_t>(f.u8(kInvertLower + part, 0) & 0x7F);
        for (std::size_t v = 0; v < kVariations; ++v)
            sp.variationChoices[v] = f.u16(kVariationRows + 2 * (kVariations * part + v));
        sp.id.Data1 = kAasyStyleForm;
        sp.id.Data2 = static_cast<std::uint16_t>(index);
        sp.id.Data3 = static_cast<std::uint16_t>(part);
    }
    while (chunks.next(c)) {
        if (c.isForm(kClickList))
            ReadClickList(c, clock, p.timeSignature, pp, unread);
        else if (!c.isForm(kBandForm)) // a pattern's own band is not used
            unread.note("unknown chunk '" + riff::FourCCText(c.id) + "' in a pattern skipped", c);
    }
    if (!chunks.error().empty()) unread.note(chunks.error(), form);
    for (std::uint32_t part = 0; part < kParts; ++part) {
        if (!pp.used[part]) continue;
        PartRef ref;
        ref.partId = pp.parts[part].id;
        ref.logicalPartId = static_cast<std::uint16_t>(part);
        ref.pchannel = AasyPartChannel(part);
        ref.part = static_cast<int>(out.parts.size());
        out.parts.push_back(std::move(pp.parts[part]));
        p.partRefs.push_back(ref);
    }
    out.patterns.push_back(std::move(p));
}

} // namespace

std::uint32_t AasyPartChannel(std::uint32_t part) {
    constexpr std::uint32_t kDrumChannel = 9; // General MIDI's channel 10
    if (part == kAasyDrumPart) return kDrumChannel;
    if (part == kDrumChannel) return kAasyDrumPart;
    return part;
}

std::uint8_t AasyDrumKey(std::uint8_t value) {
    // Stored value -> General MIDI key, from the roles the values play in
    // real styles (docs/formats/aasy-style.md); values never seen play as stored.
    static constexpr std::array<std::pair<std::uint8_t, std::uint8_t>, 23> kKeys{{
        {1, 36},  {2, 35},  {3, 38},  {4, 40},  {5, 39},  {6, 45},  {7, 48},  {8, 42},
        {9, 44},  {10, 46}, {12, 37}, {13, 51}, {14, 49}, {15, 54}, {16, 56}, {23, 46},
        {24, 35}, {29, 47}, {30, 43}, {31, 70}, {32, 57}, {33, 55}, {0, 35},
    }};
    for (const auto& [from, to] : kKeys)
        if (from == value) return to;
    return static_cast<std::uint8_t>(value & 0x7F);
}

bool ReadAasyStyleForm(const riff::Chunk& form, Style& out, Diagnostics& warnings, std::string* error) {
    out = Style{};
    Unread unread(warnings);
    Clock clock;
    bool haveHeader = false, haveDefaultBand = false;
    std::size_t defaultChordmap = std::size_t(-1);
    std::vector<riff::Chunk> patterns;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == kStyleChunk && !haveHeader) {
            if (c.body.size() < kStyleMin) {
                unread.note("style header too short", c);
                continue;
            }
            ReadStyleChunk(c, out, clock);
            haveHeader = true;
        } else if (c.id == kInfoChunk) {
            // Free text for the author's readers: not played.
        } else if (c.id == kChordmapName) {
            ReadChordmapName(c, out, defaultChordmap, unread);
        } else if (c.isForm(kBandForm)) {
            ReadBand(c, out, haveDefaultBand, unread);
        } else if (c.isForm(kPatternForm)) {
            // Read once the header has given the clocks.
            if (patterns.size() < limits::kMaxStylePatterns)
                patterns.push_back(c);
            else
                unread.count("patterns beyond the bound skipped");
        } else {
            unread.note("unknown chunk '" + riff::FourCCText(c.id) + "' skipped", c);
        }
    }
    if (!chunks.error().empty()) warnings.push_back(chunks.error());
    if (!haveHeader) {
        if (error) *error = riff::ChunkError("style without a usable 'styl' header", form);
        return false;
    }
    for (std::size_t i = 0; i < patterns.size(); ++i)
        ReadPattern(patterns[i], i, out, clock, unread);
    if (defaultChordmap != std::size_t(-1) && defaultChordmap > 0)
        std::rotate(out.chordmaps.begin(), out.chordmaps.begin() + std::ptrdiff_t(defaultChordmap),
                    out.chordmaps.begin() + std::ptrdiff_t(defaultChordmap) + 1);
    unread.flush();
    return true;
}

} // namespace qorn::formats::style
