// Writes style files and style-based segments from the readers' own models,
// with adjustable record sizes, so tests can build fixtures of any version.
#pragma once

#include "platform/formats/segment/SegmentFile.h"
#include "platform/formats/style/StyleFile.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qorn::styles_test {

namespace st = formats::style;
using Bytes = std::vector<std::uint8_t>;

struct Out {
    Bytes b;
    Out& u8(std::uint32_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    Out& u16(std::uint32_t v) { return u8(v).u8(v >> 8); }
    Out& u32(std::uint32_t v) { return u16(v).u16(v >> 16); }
    Out& fourcc(const char* s) {
        for (int i = 0; i < 4; ++i)
            u8(static_cast<std::uint8_t>(s[i]));
        return *this;
    }
    Out& guid(const platform::GUID& g) {
        u32(g.Data1).u16(g.Data2).u16(g.Data3);
        for (auto x : g.Data4)
            u8(x);
        return *this;
    }
    Out& f64(double d) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof d);
        return u32(static_cast<std::uint32_t>(bits)).u32(static_cast<std::uint32_t>(bits >> 32));
    }
    Out& utf16(const std::string& ascii, std::size_t units) {
        for (std::size_t i = 0; i < units; ++i)
            u16(i < ascii.size() ? std::uint8_t(ascii[i]) : 0);
        return *this;
    }
    Out& bytes(const Bytes& x) {
        b.insert(b.end(), x.begin(), x.end());
        return *this;
    }
    // Pads the record written since `start` with zeros to `size` bytes.
    Out& padTo(std::size_t start, std::size_t size) {
        while (b.size() - start < size)
            u8(0);
        return *this;
    }
};

inline Bytes Chunk(const char* id, const Bytes& body) {
    Out o;
    o.fourcc(id).u32(static_cast<std::uint32_t>(body.size())).bytes(body);
    if (body.size() % 2) o.u8(0);
    return o.b;
}

inline Bytes List(const char* listId, const char* type, const std::vector<Bytes>& children) {
    Out body;
    body.fourcc(type);
    for (const auto& c : children)
        body.bytes(c);
    return Chunk(listId, body.b);
}
inline Bytes Riff(const char* type, const std::vector<Bytes>& children) {
    return List("RIFF", type, children);
}
inline Bytes List(const char* type, const std::vector<Bytes>& children) {
    return List("LIST", type, children);
}

struct Sizes {
    std::size_t note = 24;
    std::size_t curve = 32;
    std::size_t partHeader = 160;
    std::size_t patternHeader = 16;
    std::size_t partRef = 28;
    std::size_t chord = 40;
    std::size_t subChord = 20;
    std::size_t command = 12;
};

inline Out& TimeSig(Out& o, const st::TimeSignature& t) {
    return o.u8(t.beatsPerMeasure).u8(t.beat).u16(t.gridsPerBeat);
}

inline Bytes Name(const std::string& name) {
    Out o;
    o.utf16(name, name.size() + 1);
    return List("UNFO", {Chunk("UNAM", o.b)});
}

inline Bytes PartList(const st::StylePart& p, const Sizes& s) {
    Out h;
    TimeSig(h, p.timeSignature);
    for (auto v : p.variationChoices)
        h.u32(v);
    h.guid(p.id).u16(p.measures).u8(p.playMode).u8(p.invertUpper).u8(p.invertLower).u8(0).u8(0).u8(0).u32(p.flags);
    h.b.resize(s.partHeader);
    Out notes;
    notes.u32(static_cast<std::uint32_t>(s.note));
    for (const auto& n : p.notes) {
        const std::size_t start = notes.b.size();
        notes.u32(static_cast<std::uint32_t>(n.gridStart))
            .u32(n.variations)
            .u32(static_cast<std::uint32_t>(n.duration));
        notes.u16(static_cast<std::uint16_t>(n.timeOffset)).u16(n.musicValue).u8(n.velocity).u8(n.timeRange);
        notes.u8(n.durationRange).u8(n.velocityRange).u8(n.inversionId).u8(n.playMode).u8(n.noteFlags);
        notes.b.resize(start + s.note);
        notes.padTo(start, s.note);
    }
    std::vector<Bytes> children{Chunk("prth", h.b), Chunk("note", notes.b)};
    if (!p.curves.empty()) {
        Out curves;
        curves.u32(static_cast<std::uint32_t>(s.curve));
        for (const auto& k : p.curves) {
            const std::size_t start = curves.b.size();
            curves.u32(static_cast<std::uint32_t>(k.gridStart)).u32(k.variations);
            curves.u32(static_cast<std::uint32_t>(k.duration)).u32(static_cast<std::uint32_t>(k.resetDuration));
            curves.u16(static_cast<std::uint16_t>(k.timeOffset)).u16(static_cast<std::uint16_t>(k.startValue));
            curves.u16(static_cast<std::uint16_t>(k.endValue)).u16(static_cast<std::uint16_t>(k.resetValue));
            curves.u8(k.kind).u8(k.shape).u8(k.ccData).u8(k.flags).u16(k.paramType).u16(0);
            curves.b.resize(start + s.curve);
        }
        children.push_back(Chunk("crve", curves.b));
    }
    if (!p.markers.empty()) {
        Out markers;
        markers.u32(10);
        for (const auto& m : p.markers)
            markers.u32(static_cast<std::uint32_t>(m.gridStart)).u32(m.variations).u16(m.flags);
        children.push_back(Chunk("mrkr", markers.b));
    }
    return List("part", children);
}

// `parts` are written inside the pattern, as a pattern track holds them.
inline Bytes PatternList(const st::Pattern& p, const Sizes& s, const std::vector<st::StylePart>& parts = {}) {
    Out h;
    TimeSig(h, p.timeSignature);
    h.u8(p.grooveBottom).u8(p.grooveTop).u16(p.embellishment).u16(p.measures);
    h.u8(p.destGrooveBottom).u8(p.destGrooveTop).u32(p.flags);
    h.b.resize(s.patternHeader);
    std::vector<Bytes> children{Chunk("ptnh", h.b)};
    if (!p.name.empty()) children.push_back(Name(p.name));
    if (!p.rhythm.empty()) {
        Out r;
        for (auto v : p.rhythm)
            r.u32(v);
        children.push_back(Chunk("rhtm", r.b));
    }
    for (const auto& part : parts)
        children.push_back(PartList(part, s));
    if (p.embellishment & st::embellishment::kMotif)
        children.push_back(Chunk("mtfs", Out{}.u32(p.motifRepeats).u32(0).u32(0).u32(p.lengthTicks()).u32(0).b));
    for (const auto& ref : p.partRefs) {
        Out r;
        r.guid(ref.partId).u16(ref.logicalPartId).u8(ref.variationLockId).u8(ref.subChordLevel);
        r.u8(ref.priority).u8(ref.randomVariation).u16(0).u32(ref.pchannel);
        r.b.resize(s.partRef);
        children.push_back(List("pref", {Chunk("prfc", r.b)}));
    }
    return List("pttn", children);
}

// `bands` are whole DMBD forms, written after the patterns.
inline Bytes StyleForm(const st::Style& style, const Sizes& s = {}, const std::vector<Bytes>& bands = {}) {
    Out h;
    TimeSig(h, style.timeSignature).u32(0).f64(style.tempo);
    std::vector<Bytes> children{Chunk("styh", h.b)};
    if (style.hasGuid) children.push_back(Chunk("guid", Out{}.guid(style.guid).b));
    if (!style.name.empty()) children.push_back(Name(style.name));
    children.push_back(Chunk("zzzz", {1, 2, 3})); // unknown: skipped
    for (const auto& p : style.parts)
        children.push_back(PartList(p, s));
    for (const auto& p : style.patterns)
        children.push_back(PatternList(p, s));
    for (const auto& b : bands)
        children.push_back(b);
    return Riff("DMST", children);
}

// A pattern track's form: the style's header and its first pattern with
// the style's parts inside it.
inline Bytes PatternTrackForm(const st::Style& style, const Sizes& s = {}) {
    Out h;
    TimeSig(h, style.timeSignature).u32(0).f64(style.tempo);
    return Riff("DMPT", {Chunk("styh", h.b), PatternList(style.patterns.at(0), s, style.parts)});
}

inline Bytes ChordTrackList(const st::ChordTrack& t, const Sizes& s = {}) {
    std::vector<Bytes> children{Chunk("crdh", Out{}.u32((std::uint32_t(t.keyRoot) << 24) | t.keyScale).b)};
    for (const auto& c : t.chords) {
        Out o;
        o.u32(static_cast<std::uint32_t>(s.chord));
        const std::size_t start = o.b.size();
        o.utf16(c.name, 16).u32(static_cast<std::uint32_t>(c.time)).u16(c.measure).u8(c.beat).u8(c.flags);
        o.b.resize(start + s.chord);
        o.u32(static_cast<std::uint32_t>(c.subChords.size())).u32(static_cast<std::uint32_t>(s.subChord));
        for (const auto& sc : c.subChords) {
            const std::size_t at = o.b.size();
            o.u32(sc.chordPattern).u32(sc.scalePattern).u32(sc.inversionPoints).u32(sc.levels);
            o.u8(sc.chordRoot).u8(sc.scaleRoot);
            o.b.resize(at + s.subChord);
        }
        children.push_back(Chunk("crdb", o.b));
    }
    return List("cord", children);
}

inline Bytes CommandChunk(const std::vector<st::Command>& commands, const Sizes& s = {}) {
    Out o;
    o.u32(static_cast<std::uint32_t>(s.command));
    for (const auto& c : commands) {
        const std::size_t start = o.b.size();
        o.u32(static_cast<std::uint32_t>(c.time)).u16(c.measure).u8(c.beat).u8(c.command);
        o.u8(c.grooveLevel).u8(c.grooveRange).u8(c.repeatMode);
        o.b.resize(start + s.command);
    }
    return Chunk("cmnd", o.b);
}

// A style track naming a style file, or carrying the style form itself.
inline Bytes StyleTrackList(std::int32_t time, const std::string& file, const Bytes& embeddedStyle = {}) {
    std::vector<Bytes> ref{Chunk("stmp", Out{}.u32(static_cast<std::uint32_t>(time)).b)};
    if (!embeddedStyle.empty()) {
        ref.push_back(embeddedStyle);
    } else {
        const platform::GUID styleClass = {
            0xD2AC288A, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
        Out refh;
        refh.guid(styleClass).u32(0x02 | 0x10);
        Out name;
        name.utf16(file, file.size() + 1);
        ref.push_back(List("DMRF", {Chunk("refh", refh.b), Chunk("file", name.b)}));
    }
    return List("sttr", {List("strf", ref)});
}

inline Bytes Track(std::uint32_t classData1, const char* chunkId, const char* formType, const Bytes& data) {
    const platform::GUID cls = {classData1, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
    Out h;
    h.guid(cls).u32(0).u32(1);
    if (chunkId)
        h.fourcc(chunkId);
    else
        h.u32(0);
    if (formType)
        h.fourcc(formType);
    else
        h.u32(0);
    return Riff("DMTK", {Chunk("trkh", h.b), data});
}

inline Bytes Segment(std::int32_t length, const std::vector<Bytes>& tracks) {
    Out h;
    h.u32(0).u32(static_cast<std::uint32_t>(length)).u32(0).u32(0).u32(0).u32(0);
    return Riff("DMSG", {Chunk("segh", h.b), List("trkl", tracks)});
}

// A segment whose notes live in a pattern track, over its chord track.
inline Bytes PatternTrackSegment(std::int32_t length, const st::ChordTrack& chords, const st::Style& pattern,
                                 const std::vector<st::Command>& commands = {}) {
    return Segment(length, {Track(0xD2AC288B, nullptr, "cord", ChordTrackList(chords)),
                            Track(0xD2AC288C, "cmnd", nullptr, CommandChunk(commands)),
                            Track(0xD2AC2897, nullptr, "DMPT", PatternTrackForm(pattern))});
}

inline Bytes StyleSegment(std::int32_t length, const st::ChordTrack& chords, const std::vector<st::Command>& commands,
                          const Bytes& styleTrack) {
    return Segment(length, {Track(0xD2AC288B, nullptr, "cord", ChordTrackList(chords)),
                            Track(0xD2AC288C, "cmnd", nullptr, CommandChunk(commands)),
                            Track(0xD2AC288D, nullptr, "sttr", styleTrack)});
}

} // namespace qorn::styles_test

namespace qorn::styles_test {

// A sequence track ('seqt' with its 'evtl' list) of ready notes, for the
// sequence-based twin of a composed piece.
inline Bytes SequenceTrackForm(const std::vector<formats::segment::SequenceItem>& items) {
    Out evtl;
    evtl.u32(20);
    for (const auto& e : items) {
        evtl.u32(static_cast<std::uint32_t>(e.time)).u32(static_cast<std::uint32_t>(e.duration)).u32(e.pchannel);
        evtl.u16(static_cast<std::uint16_t>(e.offset)).u8(e.status).u8(e.data1).u8(e.data2).u8(0).u16(0);
    }
    return Track(0xD2AC2886, "seqt", nullptr, Chunk("seqt", Chunk("evtl", evtl.b)));
}

} // namespace qorn::styles_test
