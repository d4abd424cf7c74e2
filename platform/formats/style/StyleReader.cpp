#include "StyleReader.h"

#include "AasyStyleReader.h"

#include "platform/formats/common/Limits.h"
#include "platform/formats/riff/RiffArray.h"
#include "platform/formats/riff/RiffValues.h"
#include "platform/formats/segment/BandReader.h"
#include "platform/formats/segment/ObjectName.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qorn::formats::style {

namespace {

constexpr std::uint32_t fcc(const char* s) {
    return ByteReader::fourCC(s);
}

constexpr std::uint32_t kStyleHeader = fcc("styh");
constexpr std::uint32_t kGuid = fcc("guid");
constexpr std::uint32_t kInfo = fcc("UNFO");
constexpr std::uint32_t kPartList = fcc("part");
constexpr std::uint32_t kPartHeader = fcc("prth");
constexpr std::uint32_t kNotes = fcc("note");
constexpr std::uint32_t kCurves = fcc("crve");
constexpr std::uint32_t kMarkers = fcc("mrkr");
constexpr std::uint32_t kMotifSettings = fcc("mtfs");
constexpr std::uint32_t kPatternList = fcc("pttn");
constexpr std::uint32_t kPatternHeader = fcc("ptnh");
constexpr std::uint32_t kRhythm = fcc("rhtm");
constexpr std::uint32_t kPartRefList = fcc("pref");
constexpr std::uint32_t kPartRef = fcc("prfc");
constexpr std::uint32_t kBandForm = fcc("DMBD");
constexpr std::uint32_t kChordHeader = fcc("crdh");
constexpr std::uint32_t kChordBody = fcc("crdb");
constexpr std::uint32_t kStyleRefList = fcc("strf");
constexpr std::uint32_t kStyleRefTime = fcc("stmp");
constexpr std::uint32_t kReference = fcc("DMRF");
constexpr std::uint32_t kChordmapRefs = fcc("prrf");

// Smallest records we can use; later versions store longer ones.
constexpr std::size_t kPartHeaderMin = 153;   // through the lower inversion bound
constexpr std::size_t kNoteMin = 22;          // through the play mode
constexpr std::size_t kCurveMin = 28;         // through the flags
constexpr std::size_t kMarkerMin = 10;        // through the marker flags
constexpr std::size_t kPatternHeaderMin = 10; // through the length in measures
constexpr std::size_t kPartRefMin = 20;       // through the subchord level
constexpr std::size_t kChordMin = 36;         // name and time
constexpr std::size_t kSubChordMin = 18;      // through the scale root
constexpr std::size_t kCommandMin = 8;        // through the command type

// No real chord has more subchords than this; the bound keeps a hostile
// count from costing memory beyond the chunk.
constexpr std::uint32_t kMaxSubChords = limits::kMaxSubChords;

std::int32_t Signed(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}
std::int16_t Signed(std::uint16_t v) {
    return static_cast<std::int16_t>(v);
}

bool ReadTimeSig(ByteReader& r, TimeSignature& t) {
    return r.readU8(t.beatsPerMeasure) && r.readU8(t.beat) && r.readU16LE(t.gridsPerBeat);
}

bool PlausibleTempo(double t) {
    return std::isfinite(t) && t >= 1.0 && t <= 1000.0;
}

double ReadDouble(ByteReader r) {
    std::uint32_t lo = 0, hi = 0;
    if (!r.readU32LE(lo) || !r.readU32LE(hi)) return 0.0;
    const std::uint64_t bits = (std::uint64_t(hi) << 32) | lo;
    double d = 0.0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

bool ReadStyleHeader(const riff::Chunk& c, Style& style) {
    ByteReader r = c.body;
    if (!ReadTimeSig(r, style.timeSignature)) return false;
    // The tempo is aligned to 8 bytes; a packed writer puts it right after
    // the time signature.
    ByteReader aligned = c.body;
    aligned.skip(8);
    ByteReader packed = c.body;
    packed.skip(4);
    double tempo = ReadDouble(aligned);
    if (!PlausibleTempo(tempo)) tempo = ReadDouble(packed);
    style.tempo = PlausibleTempo(tempo) ? tempo : 120.0;
    return true;
}

void ReadNotes(const riff::Chunk& c, StylePart& part, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(c, kNoteMin, &error)) {
        warnings.push_back(error);
        return;
    }
    part.notes.reserve(part.notes.size() + items.count());
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        StyleNote n;
        std::uint32_t grid = 0, duration = 0;
        std::uint16_t offset = 0;
        r.readU32LE(grid);
        r.readU32LE(n.variations);
        r.readU32LE(duration);
        r.readU16LE(offset);
        r.readU16LE(n.musicValue);
        r.readU8(n.velocity);
        r.readU8(n.timeRange);
        r.readU8(n.durationRange);
        r.readU8(n.velocityRange);
        r.readU8(n.inversionId);
        r.readU8(n.playMode);
        r.readU8(n.noteFlags); // absent in older files: stays 0
        n.gridStart = Signed(grid);
        n.duration = Signed(duration);
        n.timeOffset = Signed(offset);
        part.notes.push_back(n);
    }
}

void ReadCurves(const riff::Chunk& c, StylePart& part, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(c, kCurveMin, &error)) {
        warnings.push_back(error);
        return;
    }
    part.curves.reserve(part.curves.size() + items.count());
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        StyleCurve k;
        std::uint32_t grid = 0, duration = 0, reset = 0;
        std::uint16_t offset = 0, start = 0, end = 0, resetValue = 0;
        r.readU32LE(grid);
        r.readU32LE(k.variations);
        r.readU32LE(duration);
        r.readU32LE(reset);
        r.readU16LE(offset);
        r.readU16LE(start);
        r.readU16LE(end);
        r.readU16LE(resetValue);
        r.readU8(k.kind);
        r.readU8(k.shape);
        r.readU8(k.ccData);
        r.readU8(k.flags);
        r.readU16LE(k.paramType);
        k.gridStart = Signed(grid);
        k.duration = Signed(duration);
        k.resetDuration = Signed(reset);
        k.timeOffset = Signed(offset);
        k.startValue = Signed(start);
        k.endValue = Signed(end);
        k.resetValue = Signed(resetValue);
        part.curves.push_back(k);
    }
}

void ReadMarkers(const riff::Chunk& c, StylePart& part, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(c, kMarkerMin, &error)) {
        warnings.push_back(error);
        return;
    }
    part.markers.reserve(part.markers.size() + items.count());
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        StyleMarker m;
        std::uint32_t grid = 0;
        r.readU32LE(grid);
        r.readU32LE(m.variations);
        r.readU16LE(m.flags);
        m.gridStart = Signed(grid);
        part.markers.push_back(m);
    }
}

void ReadPart(const riff::Chunk& list, Style& style, Diagnostics& warnings) {
    StylePart part;
    bool haveHeader = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == kPartHeader && !haveHeader) {
            if (c.body.size() < kPartHeaderMin) {
                warnings.push_back(riff::ChunkError("part header too short", c));
                continue;
            }
            ByteReader r = c.body;
            ReadTimeSig(r, part.timeSignature);
            for (auto& v : part.variationChoices)
                r.readU32LE(v);
            riff::ReadGuid(r, part.id);
            r.readU16LE(part.measures);
            r.readU8(part.playMode);
            r.readU8(part.invertUpper);
            r.readU8(part.invertLower);
            if (r.skip(3)) r.readU32LE(part.flags);
            haveHeader = true;
        } else if (c.id == kNotes) {
            ReadNotes(c, part, warnings);
        } else if (c.id == kCurves) {
            ReadCurves(c, part, warnings);
        } else if (c.id == kMarkers) {
            ReadMarkers(c, part, warnings);
        }
    }
    if (!chunks.error().empty()) warnings.push_back(chunks.error());
    if (!haveHeader) {
        warnings.push_back(riff::ChunkError("part without a usable header skipped", list));
        return;
    }
    style.parts.push_back(std::move(part));
}

void ReadPartRef(const riff::Chunk& list, Pattern& pattern, Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id != kPartRef) continue;
        if (c.body.size() < kPartRefMin) {
            warnings.push_back(riff::ChunkError("part reference too short", c));
            return;
        }
        ByteReader r = c.body;
        PartRef ref;
        riff::ReadGuid(r, ref.partId);
        r.readU16LE(ref.logicalPartId);
        r.readU8(ref.variationLockId);
        r.readU8(ref.subChordLevel);
        r.readU8(ref.priority);
        r.readU8(ref.randomVariation);
        std::uint16_t pad = 0;
        // Older references name a channel only by the logical part id.
        if (!(r.readU16LE(pad) && r.readU32LE(ref.pchannel))) ref.pchannel = ref.logicalPartId;
        pattern.partRefs.push_back(ref);
        return;
    }
}

void ReadPattern(const riff::Chunk& list, Style& style, Diagnostics& warnings) {
    Pattern pattern;
    pattern.timeSignature = style.timeSignature;
    bool haveHeader = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == kPatternHeader && !haveHeader) {
            if (c.body.size() < kPatternHeaderMin) {
                warnings.push_back(riff::ChunkError("pattern header too short", c));
                continue;
            }
            ByteReader r = c.body;
            ReadTimeSig(r, pattern.timeSignature);
            r.readU8(pattern.grooveBottom);
            r.readU8(pattern.grooveTop);
            r.readU16LE(pattern.embellishment);
            r.readU16LE(pattern.measures);
            r.readU8(pattern.destGrooveBottom);
            r.readU8(pattern.destGrooveTop);
            r.readU32LE(pattern.flags);
            haveHeader = true;
        } else if (c.id == kRhythm) {
            ByteReader r = c.body;
            std::uint32_t v = 0;
            pattern.rhythm.reserve(r.remaining() / 4);
            while (r.readU32LE(v))
                pattern.rhythm.push_back(v);
        } else if (c.isForm(kInfo)) {
            pattern.name = segment::ReadUnfoName(c);
        } else if (c.isForm(kPartRefList)) {
            ReadPartRef(c, pattern, warnings);
        } else if (c.isForm(kPartList)) {
            // The pattern of a pattern track carries its own parts.
            ReadPart(c, style, warnings);
        } else if (c.id == kMotifSettings) {
            ByteReader r = c.body;
            r.readU32LE(pattern.motifRepeats);
        }
    }
    if (!chunks.error().empty()) warnings.push_back(chunks.error());
    if (!haveHeader) {
        warnings.push_back(riff::ChunkError("pattern without a usable header skipped", list));
        return;
    }
    style.patterns.push_back(std::move(pattern));
}

void LinkPartRefs(Style& style, Diagnostics& warnings) {
    for (auto& pattern : style.patterns) {
        for (auto& ref : pattern.partRefs) {
            ref.part = -1;
            for (std::size_t i = 0; i < style.parts.size(); ++i) {
                if (style.parts[i].id == ref.partId) {
                    ref.part = static_cast<int>(i);
                    break;
                }
            }
            if (ref.part < 0) warnings.push_back("pattern '" + pattern.name + "' names a part the style lacks");
        }
    }
}

} // namespace

bool LooksLikeStyleFile(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    std::uint32_t id = 0, size = 0, type = 0;
    return r.readFourCC(id) && r.readU32LE(size) && r.readFourCC(type) && id == riff::kRiff &&
           (type == kStyleForm || type == kAasyStyleForm);
}

bool ReadStyleFile(std::span<const std::uint8_t> bytes, Style& out, Diagnostics& warnings, std::string* error) {
    riff::ChunkReader top{ByteReader(bytes)};
    riff::Chunk form;
    const bool older = top.next(form) && form.id == riff::kRiff && form.isForm(kAasyStyleForm);
    if (!older && (!form.isForm(kStyleForm) || form.id != riff::kRiff)) {
        out = Style{};
        if (error) *error = "not a style file (no RIFF 'DMST' or 'AASY' form)";
        return false;
    }
    if (form.truncated) warnings.push_back(riff::ChunkError("style form cut short", form));
    // The DirectX 6 form gives the same model.
    if (older) return ReadAasyStyleForm(form, out, warnings, error);
    return ReadStyleForm(form, out, warnings, error);
}

bool ReadStyleForm(const riff::Chunk& form, Style& out, Diagnostics& warnings, std::string* error) {
    out = Style{};
    bool haveHeader = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == kStyleHeader && !haveHeader) {
            haveHeader = ReadStyleHeader(c, out);
        } else if (c.id == kGuid) {
            ByteReader r = c.body;
            out.hasGuid = riff::ReadGuid(r, out.guid);
        } else if (c.isForm(kInfo)) {
            out.name = segment::ReadUnfoName(c);
        } else if (c.isForm(kPartList)) {
            ReadPart(c, out, warnings);
        } else if (c.isForm(kPatternList)) {
            ReadPattern(c, out, warnings);
        } else if (c.isForm(kBandForm)) {
            segment::Band band;
            segment::ReadBandForm(c, band, warnings);
            out.bands.push_back(std::move(band));
        } else if (c.isForm(kChordmapRefs)) {
            riff::ChunkReader refs = riff::ChunkReader::childrenOf(c);
            riff::Chunk r;
            while (refs.next(r)) {
                segment::ObjectReference ref;
                std::string why;
                if (!r.isForm(kReference)) continue;
                if (segment::ReadObjectReference(r, ref, &why))
                    out.chordmaps.push_back(std::move(ref));
                else
                    warnings.push_back(why);
            }
        } else if (c.id == riff::kList) {
            // Bands kept in a list of their own.
            riff::ChunkReader inner = riff::ChunkReader::childrenOf(c);
            riff::Chunk b;
            while (inner.next(b)) {
                if (!b.isForm(kBandForm)) continue;
                segment::Band band;
                segment::ReadBandForm(b, band, warnings);
                out.bands.push_back(std::move(band));
            }
        }
    }
    if (!chunks.error().empty()) warnings.push_back(chunks.error());
    if (!haveHeader) {
        if (error) *error = riff::ChunkError("style without a usable 'styh' header", form);
        return false;
    }
    // Patterns written before the style header was read take its time
    // signature only if they had none of their own, which ptnh always
    // gives; nothing to fix up here.
    LinkPartRefs(out, warnings);
    return true;
}

void ReadChordTrack(const riff::Chunk& list, ChordTrack& out, Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == kChordHeader) {
            ByteReader r = c.body;
            std::uint32_t v = 0;
            if (r.readU32LE(v)) {
                out.keyRoot = static_cast<std::uint8_t>(v >> 24);
                out.keyScale = v & 0xFFFFFFu;
            }
        } else if (c.id == kChordBody) {
            ByteReader r = c.body;
            std::uint32_t chordSize = 0;
            if (!r.readU32LE(chordSize) || chordSize < kChordMin || chordSize > r.remaining()) {
                warnings.push_back(riff::ChunkError("chord with a damaged size skipped", c));
                continue;
            }
            ByteReader cr = r.sub(chordSize);
            Chord chord;
            chord.name = riff::ReadUtf16Text(cr.sub(32));
            std::uint32_t time = 0;
            cr.readU32LE(time);
            chord.time = Signed(time);
            cr.readU16LE(chord.measure);
            cr.readU8(chord.beat);
            cr.readU8(chord.flags);
            std::uint32_t count = 0, subSize = 0;
            if (!r.readU32LE(count) || !r.readU32LE(subSize) || subSize < kSubChordMin) {
                warnings.push_back(riff::ChunkError("chord without usable subchords skipped", c));
                continue;
            }
            if (count > r.remaining() / subSize || count > kMaxSubChords) {
                warnings.push_back(riff::ChunkError("subchord count beyond the chunk cut", c));
                count = std::min<std::uint32_t>(static_cast<std::uint32_t>(r.remaining() / subSize), kMaxSubChords);
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                ByteReader sr = r.sub(subSize);
                SubChord s;
                sr.readU32LE(s.chordPattern);
                sr.readU32LE(s.scalePattern);
                sr.readU32LE(s.inversionPoints);
                sr.readU32LE(s.levels);
                sr.readU8(s.chordRoot);
                sr.readU8(s.scaleRoot);
                chord.subChords.push_back(s);
            }
            if (chord.subChords.empty()) {
                warnings.push_back(riff::ChunkError("chord without subchords skipped", c));
                continue;
            }
            out.chords.push_back(std::move(chord));
        }
    }
    if (!chunks.error().empty()) warnings.push_back(chunks.error());
    std::stable_sort(out.chords.begin(), out.chords.end(),
                     [](const Chord& a, const Chord& b) { return a.time < b.time; });
}

void ReadCommandTrack(const riff::Chunk& chunk, std::vector<Command>& out, Diagnostics& warnings) {
    riff::ArrayChunk items;
    std::string error;
    if (!items.open(chunk, kCommandMin, &error)) {
        warnings.push_back(error);
        return;
    }
    out.reserve(out.size() + items.count());
    for (std::size_t i = 0; i < items.count(); ++i) {
        ByteReader r = items.item(i);
        Command cmd;
        std::uint32_t time = 0;
        r.readU32LE(time);
        r.readU16LE(cmd.measure);
        r.readU8(cmd.beat);
        r.readU8(cmd.command);
        r.readU8(cmd.grooveLevel);
        r.readU8(cmd.grooveRange);
        r.readU8(cmd.repeatMode);
        cmd.time = Signed(time);
        out.push_back(cmd);
    }
    std::stable_sort(out.begin(), out.end(), [](const Command& a, const Command& b) { return a.time < b.time; });
}

void ReadStyleTrack(const riff::Chunk& list, std::vector<StyleReference>& out, Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (!c.isForm(kStyleRefList)) continue;
        StyleReference ref;
        riff::ChunkReader inner = riff::ChunkReader::childrenOf(c);
        riff::Chunk p;
        while (inner.next(p)) {
            if (p.id == kStyleRefTime) {
                ByteReader r = p.body;
                std::uint32_t t = 0;
                if (r.readU32LE(t)) ref.time = Signed(t);
            } else if (p.isForm(kReference)) {
                std::string error;
                if (segment::ReadObjectReference(p, ref.reference, &error))
                    ref.hasReference = true;
                else
                    warnings.push_back(error);
            } else if (p.isForm(kStyleForm)) {
                auto style = std::make_shared<Style>();
                std::string error;
                if (ReadStyleForm(p, *style, warnings, &error))
                    ref.style = std::move(style);
                else
                    warnings.push_back(error);
            }
        }
        if (!inner.error().empty()) warnings.push_back(inner.error());
        if (ref.hasReference || ref.style) out.push_back(std::move(ref));
    }
    if (!chunks.error().empty()) warnings.push_back(chunks.error());
    std::stable_sort(out.begin(), out.end(),
                     [](const StyleReference& a, const StyleReference& b) { return a.time < b.time; });
}

} // namespace qorn::formats::style
