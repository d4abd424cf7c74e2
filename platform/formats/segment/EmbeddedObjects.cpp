#include "EmbeddedObjects.h"

#include "ObjectName.h"
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

// The entries of a 'DMCN' container: each carries an object, the
// reference that describes it and an alias file name.
void IndexContainer(const riff::Chunk& form, std::span<const std::uint8_t> file, std::vector<EmbeddedObject>& objects,
                    Diagnostics& warnings) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (!c.isForm(ByteReader::fourCC("cosl"))) continue;
        riff::ChunkReader entries = riff::ChunkReader::childrenOf(c);
        riff::Chunk entry;
        while (entries.next(entry)) {
            if (!entry.isForm(ByteReader::fourCC("cobl"))) continue;
            std::string alias;
            ObjectReference description;
            bool described = false;
            EmbeddedObject obj;
            bool haveObject = false;
            riff::ChunkReader parts = riff::ChunkReader::childrenOf(entry);
            riff::Chunk p;
            while (parts.next(p)) {
                if (p.id == ByteReader::fourCC("coba")) {
                    alias = riff::ReadUtf16Text(p.body);
                } else if (p.isForm(ByteReader::fourCC("DMRF"))) {
                    described = ReadObjectReference(p, description, nullptr);
                } else if (!haveObject && Describe(p, file, obj)) {
                    haveObject = true;
                }
            }
            parts.reportTo(warnings);
            if (!haveObject) continue; // only named, not carried: found like any other reference
            if (described) {
                if (!obj.hasGuid && description.hasObject) {
                    obj.hasGuid = true;
                    obj.guid = description.object;
                }
                if (obj.name.empty()) obj.name = description.name;
                obj.file = description.file;
            }
            if (obj.file.empty()) obj.file = alias;
            objects.push_back(std::move(obj));
        }
        entries.reportTo(warnings);
    }
    chunks.reportTo(warnings);
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

} // namespace qorn::formats::segment
