// Writes the DirectX 6 forms as docs/formats describes them: styles (RIFF
// 'AASY') and chordmaps ('REPs' and its signposts-only variant 'PMC5',
// big-endian sizes around little-endian records), for fixtures and seeds.
#pragma once

#include "tests/support/StyleWriter.h"

#include <array>
#include <string>
#include <vector>

namespace qorn::styles_test {

struct AasyNote {
    std::uint16_t click = 0;
    std::uint8_t part = 0;
    std::uint8_t key = 60; // the authored key, or a drum number on the drum part
    std::uint16_t musicValue = 0;
    std::uint16_t duration = 48; // clocks, 192 a beat
    std::int16_t offset = 0;
    std::uint8_t velocity = 100;
    std::uint16_t variations = 0xFFFF;
};

struct AasyPattern {
    std::string name = "A";
    // Whole-measure chord rhythm, groove letters A to D.
    std::uint32_t flags = 0x784;
    std::uint16_t measures = 1;
    std::array<std::uint8_t, 16> modes{3, 3, 3, 3, 2, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
    std::uint16_t variationRow = 0xFFFF; // every part, every variation
    std::vector<AasyNote> notes;
};

struct AasyBandPart {
    std::uint8_t program = 0;
    std::uint8_t volume = 100;
    std::uint8_t pan = 64;
    std::int8_t transpose = 0;
};

struct AasyBand {
    std::string name;
    bool isDefault = false;
    std::array<AasyBandPart, 16> parts{};
};

struct AasyStyle {
    std::string name = "Older";
    std::uint16_t tempo = 120;
    std::uint16_t clocksPerClick = 48;
    // Display name and file stem; the default one is marked.
    struct ChordmapName {
        std::string name, stem;
        bool isDefault = false;
    };
    std::vector<ChordmapName> chordmaps;
    std::vector<AasyBand> bands;
    std::vector<AasyPattern> patterns;
    std::size_t noteRecord = 18; // 17 in some files
};

inline Bytes AasyStyleFile(const AasyStyle& s) {
    std::vector<Bytes> top;
    Out styl;
    styl.utf16(s.name, 16).u16(4).u16(4).u16(s.clocksPerClick).u16(192).u16(768).u16(s.tempo).u16(0);
    styl.guid(platform::GUID{0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}}).utf16("Test", 16);
    top.push_back(Chunk("styl", styl.b));
    for (const auto& c : s.chordmaps) {
        Out p;
        p.utf16("<" + c.name, 20).u16(0).u16(c.isDefault ? 1 : 0);
        for (int i = 0; i < 18; ++i)
            p.u8(0);
        p.utf16(c.stem, c.stem.size() + 1);
        top.push_back(Chunk("pref", p.b));
    }
    for (const auto& band : s.bands) {
        Out b;
        b.utf16(band.name, 20);
        for (const auto& p : band.parts)
            b.u8(p.program);
        for (const auto& p : band.parts)
            b.u8(p.volume);
        for (const auto& p : band.parts)
            b.u8(p.pan);
        for (const auto& p : band.parts)
            b.u8(static_cast<std::uint8_t>(p.transpose));
        b.u16(band.isDefault ? 1 : 0);
        for (int i = 0; i < 16; ++i)
            b.u16(0x8000);
        while (b.b.size() < 202)
            b.u8(0);
        top.push_back(Riff("AABN", {Chunk("band", b.b)}));
    }
    for (const auto& pattern : s.patterns) {
        Out h;
        h.u32(0).u32(768u * pattern.measures).u32(pattern.flags).u16(s.clocksPerClick).u16(4).u16(192);
        h.u16(pattern.measures).utf16(pattern.name, 16).u32(0xAB5AB5).u32(0x891);
        for (int i = 0; i < 16; ++i)
            h.u8(127); // upper bounds
        for (int i = 0; i < 16; ++i)
            h.u8(0); // lower bounds
        h.u16(0);
        for (int i = 0; i < 16 * 16; ++i)
            h.u16(pattern.variationRow);
        h.u16(0xFFFF).u8(0);
        for (auto m : pattern.modes)
            h.u8(m);
        std::vector<Bytes> children{Chunk("patt", h.b)};
        const std::uint16_t clicks = static_cast<std::uint16_t>(768u * pattern.measures / s.clocksPerClick);
        for (std::uint16_t click = 0; click < clicks; ++click) {
            Out notes;
            notes.u16(static_cast<std::uint32_t>(s.noteRecord));
            bool any = false;
            for (const auto& n : pattern.notes) {
                if (n.click != click) continue;
                any = true;
                Out r;
                r.u8(9).u8(n.part).u16(static_cast<std::uint16_t>(n.offset)).u16(n.variations).u16(0);
                r.u8(n.key).u8(n.velocity).u16(n.musicValue).u16(n.duration).u8(0).u8(0).u8(0).u8(0);
                r.b.resize(s.noteRecord);
                notes.bytes(r.b);
            }
            if (!any) continue;
            Out k;
            k.u16(click);
            children.push_back(List("AACL", {Chunk("clik", k.b), Chunk("note", notes.b)}));
        }
        top.push_back(Riff("AAPT", children));
    }
    return Riff("AASY", top);
}

struct RepsChord {
    std::uint32_t pattern = 0x91;
    std::string name = "M";
    std::uint8_t root = 0;
    std::uint32_t scale = 0xAB5AB5;
};

struct RepsEdge {
    std::uint16_t next = 0;
    std::uint16_t weight = 50;
    std::uint16_t minBeats = 1;
    std::uint16_t maxBeats = 12;
};

struct RepsEntry {
    std::uint16_t id = 0;
    RepsChord chord;
    std::vector<RepsEdge> next;
};

struct RepsSignpost {
    RepsChord chord, first, second;
    std::uint32_t groups = 0x1;
    std::uint32_t cadences = 0x6;
};

struct RepsChordmap {
    std::string name = "older";
    std::string stem = "OLDER";
    bool signpostsOnly = false; // the 'PMC5' variant: no graph, 12 bytes before the records
    std::vector<RepsEntry> graph;
    std::vector<RepsSignpost> signposts;
};

namespace reps_detail {
struct BigEndian {
    Bytes b;
    BigEndian& u32(std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<std::uint8_t>(v >> s));
        return *this;
    }
    BigEndian& tag(const char* t) {
        b.insert(b.end(), t, t + 4);
        return *this;
    }
};
inline void Text(Out& o, const std::string& s, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
        o.u8(i < s.size() ? std::uint8_t(s[i]) : i == s.size() ? 0 : 0xCD);
}
// 34 bytes, then `pad` bytes of padding.
inline void ChordRecord(Out& o, const RepsChord& c, std::size_t pad) {
    o.u32(c.pattern);
    Text(o, c.name, 12);
    o.u8(0).u8(c.root).u8(1).u8(1).u32(0).u8(0).u8(0xF7).u32(c.scale).u32(0);
    for (std::size_t i = 0; i < pad; ++i)
        o.u8(0);
}
inline Bytes Tagged(const char* tag, const Bytes& body) {
    BigEndian t;
    t.tag(tag).u32(static_cast<std::uint32_t>(body.size()));
    t.b.insert(t.b.end(), body.begin(), body.end());
    return t.b;
}
} // namespace reps_detail

inline Bytes RepsChordmapFile(const RepsChordmap& m) {
    using namespace reps_detail;
    Out header; // from offset 12: 1214 bytes
    for (int i = 0; i < 12; ++i)
        header.u8(0);
    header.u32(0x17).u32(0xAB5AB5);
    Text(header, m.name, 20);
    Text(header, "", 80);
    Text(header, "", 28);
    for (std::uint8_t root = 0; root < 24; ++root)
        ChordRecord(header, {0x91, "M", root, 0xAB5AB5}, 8);
    for (int i = 0; i < 44; ++i)
        header.u8(0);
    Text(header, m.stem, 10);
    header.u32(0);
    Bytes body;
    if (m.signpostsOnly) {
        Out gap; // as the one file of the variant seen has it
        gap.u32(0x14).u16(4).u16(4).u32(0);
        body = gap.b;
    }
    for (const auto& e : m.signpostsOnly ? std::vector<RepsEntry>{} : m.graph) {
        Out rec;
        rec.u32(0);
        ChordRecord(rec, e.chord, 0);
        rec.u32(2).u16(e.id);
        BigEndian entry;
        entry.u32(static_cast<std::uint32_t>(rec.b.size()));
        entry.b.insert(entry.b.end(), rec.b.begin(), rec.b.end());
        BigEndian edges;
        edges.u32(16);
        for (const auto& n : e.next) {
            Out x;
            x.u32(0).u16(n.weight).u16(n.minBeats).u16(n.maxBeats).u16(n.next).u32(0);
            edges.b.insert(edges.b.end(), x.b.begin(), x.b.end());
        }
        const Bytes list = Tagged("LXNs", edges.b);
        entry.b.insert(entry.b.end(), list.begin(), list.end());
        const Bytes t = Tagged("NECs", entry.b);
        body.insert(body.end(), t.begin(), t.end());
    }
    for (const auto& s : m.signposts) {
        Out rec;
        for (int i = 0; i < 12; ++i)
            rec.u8(0);
        ChordRecord(rec, s.chord, 8);
        ChordRecord(rec, s.first, 8);
        ChordRecord(rec, s.second, 0);
        rec.u32(s.groups).u32(s.cadences).u32(0);
        const Bytes t = Tagged("PNSs", rec.b);
        body.insert(body.end(), t.begin(), t.end());
    }
    BigEndian file;
    file.tag(m.signpostsOnly ? "PMC5" : "REPs").u32(static_cast<std::uint32_t>(4 + header.b.size() + body.size()));
    file.u32(static_cast<std::uint32_t>(header.b.size()));
    file.b.insert(file.b.end(), header.b.begin(), header.b.end());
    file.b.insert(file.b.end(), body.begin(), body.end());
    return file.b;
}

} // namespace qorn::styles_test
