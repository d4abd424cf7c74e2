#include "EmbeddedObjects.h"

#include "ObjectName.h"
#include "SegmentGuids.h"
#include "platform/formats/riff/RiffValues.h"

#include <cctype>

namespace qorn::formats::segment {

namespace {

bool Indexed(std::uint32_t formType) {
    return formType == kCollectionFormType || formType == kBandFormType || formType == kWaveForm ||
           formType == kSegmentFormType || formType == kStyleFormType;
}

// A RIFF form of a kind the index holds, with its GUID and name (a
// collection keeps both in its own chunks); false for anything else.
bool Describe(const riff::Chunk& form, std::span<const std::uint8_t> file, EmbeddedObject& out) {
    if (form.id != riff::kRiff || !Indexed(form.type)) return false;
    const std::size_t total = 12 + form.body.size();
    if (form.offset > file.size() || total > file.size() - form.offset) return false;
    EmbeddedObject obj;
    obj.formType = form.type;
    obj.fileOffset = form.offset;
    obj.bytes = file.subspan(form.offset, total);
    const bool collection = form.type == kCollectionFormType;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        ByteReader r = c.body;
        if (c.id == ByteReader::fourCC(collection ? "dlid" : "guid"))
            obj.hasGuid = riff::ReadGuid(r, obj.guid);
        else if (c.isForm(collection ? kInfoList : kUnfoList))
            obj.name = collection ? ReadInfoName(c) : ReadUnfoName(c);
    }
    out = std::move(obj);
    return true;
}

// One entry of a 'DMCN' container as stored: the class its header names,
// an alias file name, the reference that describes it, and the object
// itself when the entry carries it.
struct RawEntry {
    bool hasClass = false;
    platform::GUID classId{};
    std::string alias;
    ObjectReference description;
    bool described = false;
    riff::Chunk form;
    bool carried = false;
};

template <typename F> void ForEachEntry(const riff::Chunk& container, Diagnostics& warnings, F&& take) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(container);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (!c.isForm(ByteReader::fourCC("cosl"))) continue;
        riff::ChunkReader entries = riff::ChunkReader::childrenOf(c);
        riff::Chunk entry;
        while (entries.next(entry)) {
            if (!entry.isForm(ByteReader::fourCC("cobl"))) continue;
            RawEntry raw;
            riff::ChunkReader parts = riff::ChunkReader::childrenOf(entry);
            riff::Chunk p;
            while (parts.next(p)) {
                if (p.id == ByteReader::fourCC("cobh")) {
                    ByteReader r = p.body;
                    raw.hasClass = riff::ReadGuid(r, raw.classId);
                } else if (p.id == ByteReader::fourCC("coba")) {
                    raw.alias = riff::ReadUtf16Text(p.body);
                } else if (p.isForm(ByteReader::fourCC("DMRF"))) {
                    raw.described = ReadObjectReference(p, raw.description, nullptr);
                } else if (!raw.carried && p.id == riff::kRiff) {
                    raw.form = p;
                    raw.carried = true;
                }
            }
            parts.reportTo(warnings);
            take(raw);
        }
        entries.reportTo(warnings);
    }
    chunks.reportTo(warnings);
}

// The objects a 'DMCN' container carries, each with the name and file its
// reference or alias gives it.
void IndexContainer(const riff::Chunk& form, std::span<const std::uint8_t> file, std::vector<EmbeddedObject>& objects,
                    Diagnostics& warnings) {
    ForEachEntry(form, warnings, [&](const RawEntry& raw) {
        EmbeddedObject obj;
        // Only named, not carried: found like any other reference.
        if (!raw.carried || !Describe(raw.form, file, obj)) return;
        if (raw.described) {
            if (!obj.hasGuid && raw.description.hasObject) {
                obj.hasGuid = true;
                obj.guid = raw.description.object;
            }
            if (obj.name.empty()) obj.name = raw.description.name;
            obj.file = raw.description.file;
        }
        if (obj.file.empty()) obj.file = raw.alias;
        objects.push_back(std::move(obj));
    });
}

} // namespace

std::string BaseFileName(const std::string& path) {
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void IndexEmbeddedObjects(const riff::Chunk& root, std::span<const std::uint8_t> file,
                          std::vector<EmbeddedObject>& objects, Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(root);
    riff::Chunk c;
    while (chunks.next(c)) {
        EmbeddedObject obj;
        if (c.isForm(ByteReader::fourCC("DMCN")))
            IndexContainer(c, file, objects, warnings);
        else if (Describe(c, file, obj))
            objects.push_back(std::move(obj));
    }
}

void IndexEmbeddedObjects(std::span<const std::uint8_t> segmentFile, std::vector<EmbeddedObject>& objects) {
    riff::ChunkReader top{ByteReader(segmentFile)};
    riff::Chunk root;
    if (!top.next(root) || !root.isForm(kSegmentFormType)) return;
    Diagnostics ignored; // the segment reader reports damage to the same chunks
    IndexEmbeddedObjects(root, segmentFile, objects, ignored);
}

int MatchEmbedded(const ObjectReference& ref, std::uint32_t formType, const std::vector<EmbeddedObject>& objects) {
    auto find = [&](auto&& pred) -> int {
        for (std::size_t i = 0; i < objects.size(); ++i)
            if (objects[i].formType == formType && pred(objects[i])) return static_cast<int>(i);
        return -1;
    };
    int found = -1;
    if (ref.hasObject) found = find([&](const EmbeddedObject& o) { return o.hasGuid && o.guid == ref.object; });
    if (found < 0 && !ref.file.empty()) {
        const std::string base = BaseFileName(ref.file);
        found = find(
            [&](const EmbeddedObject& o) { return !o.file.empty() && EqualsIgnoringCase(BaseFileName(o.file), base); });
    }
    if (found < 0 && !ref.name.empty())
        found = find([&](const EmbeddedObject& o) { return !o.name.empty() && o.name == ref.name; });
    return found;
}

namespace {

// The root form of a script or container file, and its 'DMCN' form.
bool FindContainer(std::span<const std::uint8_t> file, riff::Chunk& root, riff::Chunk& container) {
    riff::ChunkReader top{ByteReader(file)};
    if (!top.next(root) || root.id != riff::kRiff) return false;
    if (root.type == kContainerFormType) {
        container = root;
        return true;
    }
    if (root.type != kScriptFormType) return false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(root);
    riff::Chunk c;
    while (chunks.next(c))
        if (c.isForm(kContainerFormType)) {
            container = c;
            return true;
        }
    return false;
}

// The name without a final extension ("Intro.sgt": "Intro").
std::string Stem(const std::string& name) {
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

bool IsScriptOrContainer(std::span<const std::uint8_t> file) {
    riff::ChunkReader top{ByteReader(file)};
    riff::Chunk root;
    return top.next(root) && (root.isForm(kScriptFormType) || root.isForm(kContainerFormType));
}

std::vector<HeldSegment> ReadHeldSegments(std::span<const std::uint8_t> file) {
    std::vector<HeldSegment> out;
    riff::Chunk root, container;
    if (!FindContainer(file, root, container)) return out;
    Diagnostics ignored; // what is listed is named, not played
    ForEachEntry(container, ignored, [&](const RawEntry& raw) {
        if (!raw.hasClass || raw.classId != kSegmentClass) return;
        HeldSegment s;
        EmbeddedObject obj;
        // A segment is carried as a segment form or as a wave.
        if (raw.carried && (raw.form.type == kSegmentFormType || raw.form.type == kWaveForm) &&
            Describe(raw.form, file, obj)) {
            s.carried = true;
            s.bytes = obj.bytes;
            s.fileOffset = obj.fileOffset;
            s.name = obj.name;
        }
        if (raw.described) s.reference = raw.description;
        if (s.reference.file.empty()) s.reference.file = raw.alias;
        if (raw.described && !raw.description.file.empty())
            s.name = BaseFileName(raw.description.file);
        else if (!raw.alias.empty())
            s.name = BaseFileName(raw.alias);
        else if (s.name.empty() && raw.described)
            s.name = raw.description.name;
        out.push_back(std::move(s));
    });
    return out;
}

void IndexHeldObjects(std::span<const std::uint8_t> file, std::vector<EmbeddedObject>& objects, Diagnostics& warnings) {
    riff::Chunk root, container;
    if (!FindContainer(file, root, container)) return;
    IndexContainer(container, file, objects, warnings);
}

int FindHeldSegment(const std::vector<HeldSegment>& segments, const std::string& name) {
    auto find = [&](auto&& same) -> int {
        for (std::size_t i = 0; i < segments.size(); ++i)
            if (!segments[i].name.empty() && same(segments[i].name)) return static_cast<int>(i);
        return -1;
    };
    int found = find([&](const std::string& n) { return EqualsIgnoringCase(n, name); });
    if (found < 0) found = find([&](const std::string& n) { return EqualsIgnoringCase(Stem(n), Stem(name)); });
    return found;
}

} // namespace qorn::formats::segment
