// Writes chordmap files (RIFF 'DMPR') and templates (a segment with a
// signpost track, a command track and, if asked, style and chordmap
// reference tracks) from the readers' own models.
#pragma once

#include "StyleWriter.h"
#include "TestStyles.h"
#include "platform/formats/chordmap/ChordmapFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::styles_test {

namespace cm = formats::chordmap;

// Sub-chords are written once each, in the order first met.
class SubChordTable {
  public:
    std::uint16_t idOf(const st::SubChord& s) {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const auto& t = items_[i];
            if (t.chordPattern == s.chordPattern && t.scalePattern == s.scalePattern && t.chordRoot == s.chordRoot &&
                t.scaleRoot == s.scaleRoot && t.levels == s.levels && t.inversionPoints == s.inversionPoints)
                return static_cast<std::uint16_t>(i);
        }
        items_.push_back(s);
        return static_cast<std::uint16_t>(items_.size() - 1);
    }
    Bytes chunk() const {
        Out o;
        o.u16(20);
        for (const auto& s : items_) {
            o.u32(s.chordPattern).u32(s.scalePattern).u32(s.inversionPoints);
            o.u8(s.chordRoot).u8(s.scaleRoot).u16(0).u32(s.levels);
        }
        return Chunk("chdt", o.b);
    }

  private:
    std::vector<st::SubChord> items_;
};

inline Bytes ChordList(const cm::Chord& c, SubChordTable& table) {
    Out name;
    name.utf16(c.name, 12); // the tools' fixed-size name
    Out ids;
    for (const auto& s : c.subChords)
        ids.u16(table.idOf(s));
    return List("chrd", {Chunk("INAM", name.b), Chunk("sbcn", ids.b)});
}

// `version8`: the DirectX 8 header with its flags; else the older header
// that ends after the scale.
inline Bytes BuildChordmap(const cm::Chordmap& map, bool version8 = true) {
    SubChordTable table;
    std::vector<Bytes> palette, graph, signposts;
    for (const auto& c : map.palette)
        palette.push_back(ChordList(c, table));
    for (const auto& e : map.graph) {
        Out next;
        next.u16(12);
        for (const auto& n : e.next)
            next.u32(n.flags).u16(n.weight).u16(n.minBeats).u16(n.maxBeats).u16(n.connectionId);
        graph.push_back(List("choe", {Chunk("cheh", Out{}.u32(e.flags).u16(e.connectionId).b),
                                      ChordList(e.chord, table), Chunk("ncsq", next.b)}));
    }
    for (const auto& s : map.signposts) {
        std::vector<Bytes> parts{Chunk("spsh", Out{}.u32(s.groups).u32(s.cadenceFlags).b), ChordList(s.chord, table)};
        if (!s.cadences.empty()) {
            std::vector<Bytes> cadences;
            for (const auto& c : s.cadences)
                cadences.push_back(ChordList(c, table));
            parts.push_back(List("cade", cadences));
        }
        signposts.push_back(List("spst", parts));
    }
    Out header;
    header.utf16(map.name, 20).u32((std::uint32_t(map.keyRoot) << 24) | (map.scalePattern & 0xFFFFFF));
    if (version8) header.u32(map.flags | 1u);
    return Riff("DMPR", {Chunk("perh", header.b), table.chunk(), List("chpl", palette), List("cmap", graph),
                         List("spsq", signposts)});
}

// A reference by file name, of the class `classData1`-B39B-11D1-8704-...
inline Bytes FileReference(std::uint32_t classData1, const std::string& file) {
    const platform::GUID cls = {classData1, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
    Out refh;
    refh.guid(cls).u32(0x02 | 0x10);
    Out name;
    name.utf16(file, file.size() + 1);
    return List("DMRF", {Chunk("refh", refh.b), Chunk("file", name.b)});
}

// A reference by the object's own name, as the DirectX 7 tools wrote them:
// only the name marked valid, beside a file name that names nothing.
inline Bytes NameReference(std::uint32_t classData1, const std::string& name) {
    const platform::GUID cls = {classData1, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
    Out refh;
    refh.guid(cls).u32(0x04);
    const std::string junk = "????????.per";
    Out file, named;
    file.utf16(junk, junk.size() + 1);
    named.utf16(name, name.size() + 1);
    return List("DMRF", {Chunk("refh", refh.b), Chunk("file", file.b), Chunk("name", named.b)});
}

struct TemplateSketch {
    std::int32_t length = 0;
    std::uint32_t repeats = 0;
    std::int32_t loopStart = 0, loopEnd = 0; // 0, 0: the whole segment
    std::vector<cm::Signpost> signposts;
    std::vector<st::Command> commands;
    std::string style;           // a style track naming this file, if not empty
    Bytes embeddedStyle;         // else a style track holding this style form, if not empty
    std::string chordmap;        // a chordmap reference track naming this file, if not empty
    bool chordmapByName = false; // then `chordmap` is the name the chordmap gives itself
};

inline Bytes BuildTemplate(const TemplateSketch& t) {
    Out sgnp;
    sgnp.u32(12);
    for (const auto& s : t.signposts)
        sgnp.u32(static_cast<std::uint32_t>(s.time)).u32(s.groups).u16(s.measure).u16(0);
    Out trkh;
    trkh.guid({0xF17E8672, 0xC3B4, 0x11D1, {0x87, 0x0B, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}}).u32(0).u32(1);
    trkh.fourcc("sgnp").u32(0);
    std::vector<Bytes> tracks{Track(0xD2AC288C, "cmnd", nullptr, CommandChunk(t.commands)),
                              Riff("DMTK", {Chunk("trkh", trkh.b), Chunk("sgnp", sgnp.b)})};
    if (!t.style.empty() || !t.embeddedStyle.empty())
        tracks.push_back(Track(0xD2AC288D, nullptr, "sttr", StyleTrackList(0, t.style, t.embeddedStyle)));
    if (!t.chordmap.empty())
        tracks.push_back(
            Track(0xD2AC2896, nullptr, "pftr",
                  List("pftr", {List("pfrf", {Chunk("stmp", Out{}.u32(0).b),
                                              t.chordmapByName ? NameReference(0xD2AC288F, t.chordmap)
                                                               : FileReference(0xD2AC288F, t.chordmap)})})));
    Out h;
    h.u32(t.repeats).u32(static_cast<std::uint32_t>(t.length)).u32(0);
    h.u32(static_cast<std::uint32_t>(t.loopStart)).u32(static_cast<std::uint32_t>(t.loopEnd)).u32(0);
    return Riff("DMSG", {Chunk("segh", h.b), List("trkl", tracks)});
}

inline cm::Chord ChordOf(const char* name, std::uint8_t root, std::uint32_t pattern) {
    cm::Chord c;
    c.name = name;
    c.subChords = {SubChordOf(root, pattern, 0)};
    return c;
}

// C major: C (group A) may go to F or A minor, both of which lead to G
// (group B, preceded by a D minor cadence); G goes back to C. Each chord is
// held 2 to 8 beats.
inline cm::Chordmap HomeAndAwayChordmap() {
    cm::Chordmap map;
    map.name = "Home";
    map.keyRoot = 12;
    const cm::Chord c = ChordOf("M", 12, 0x91), f = ChordOf("M", 17, 0x91), am = ChordOf("m", 21, 0x89),
                    g = ChordOf("M", 19, 0x91), dm = ChordOf("m", 14, 0x89);
    auto entry = [](std::uint16_t id, cm::Chord chord, std::vector<std::uint16_t> next) {
        cm::ChordEntry e;
        e.connectionId = id;
        e.chord = std::move(chord);
        for (auto n : next)
            e.next.push_back({0, 10, 2, 8, n});
        return e;
    };
    map.graph = {entry(1, c, {2, 3}), entry(2, f, {4}), entry(3, am, {4}), entry(4, g, {1})};
    map.signposts = {{cm::signpost::kA, 0, c, {}}, {cm::signpost::kB, cm::cadence::kFirst, g, {dm}}};
    return map;
}

} // namespace qorn::styles_test
