#include "EmbeddedMedia.h"

#include "platform/formats/riff/RiffValues.h"

namespace qorn::formats::segment {

namespace {

bool Describe(const riff::Chunk& form, std::span<const std::uint8_t> file, EmbeddedObject& out) {
    if (form.id != riff::kRiff || (form.type != kWaveForm && form.type != kSegmentFormType)) return false;
    const std::size_t total = 12 + form.body.size();
    if (form.offset > file.size() || total > file.size() - form.offset) return false;
    out = EmbeddedObject{};
    out.formType = form.type;
    out.fileOffset = form.offset;
    out.bytes = file.subspan(form.offset, total);
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(form);
    riff::Chunk c;
    while (chunks.next(c)) {
        if (c.id == ByteReader::fourCC("guid")) {
            ByteReader r = c.body;
            out.hasGuid = riff::ReadGuid(r, out.guid);
        } else if (c.isForm(ByteReader::fourCC("UNFO"))) {
            riff::ChunkReader info = riff::ChunkReader::childrenOf(c);
            riff::Chunk n;
            while (info.next(n))
                if (n.id == ByteReader::fourCC("UNAM")) out.name = riff::ReadUtf16Text(n.body);
        }
    }
    return true;
}

void CollectFromContainer(const riff::Chunk& container, std::span<const std::uint8_t> file,
                          std::vector<EmbeddedObject>& out) {
    riff::ChunkReader lists = riff::ChunkReader::childrenOf(container);
    riff::Chunk list;
    while (lists.next(list)) {
        if (!list.isForm(ByteReader::fourCC("cosl"))) continue;
        riff::ChunkReader entries = riff::ChunkReader::childrenOf(list);
        riff::Chunk entry;
        while (entries.next(entry)) {
            if (!entry.isForm(ByteReader::fourCC("cobl"))) continue;
            EmbeddedObject obj;
            bool have = false;
            ObjectReference description;
            bool described = false;
            std::string alias;
            riff::ChunkReader parts = riff::ChunkReader::childrenOf(entry);
            riff::Chunk p;
            while (parts.next(p)) {
                if (p.id == ByteReader::fourCC("coba")) {
                    alias = riff::ReadUtf16Text(p.body);
                } else if (p.isForm(ByteReader::fourCC("DMRF"))) {
                    described = ReadObjectReference(p, description, nullptr);
                } else if (!have) {
                    have = Describe(p, file, obj);
                }
            }
            if (!have) continue;
            if (described) {
                if (!obj.hasGuid && description.hasObject) {
                    obj.hasGuid = true;
                    obj.guid = description.object;
                }
                if (obj.name.empty()) obj.name = description.name;
                obj.file = description.file;
            }
            if (obj.file.empty()) obj.file = alias;
            out.push_back(std::move(obj));
        }
    }
}

} // namespace

void CollectEmbeddedMedia(std::span<const std::uint8_t> file, std::vector<EmbeddedObject>& out) {
    riff::ChunkReader top{ByteReader(file)};
    riff::Chunk root;
    if (!top.next(root) || !root.isForm(kSegmentFormType)) return;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(root);
    riff::Chunk c;
    while (chunks.next(c)) {
        EmbeddedObject obj;
        if (c.isForm(ByteReader::fourCC("DMCN")))
            CollectFromContainer(c, file, out);
        else if (Describe(c, file, obj))
            out.push_back(std::move(obj));
    }
}

} // namespace qorn::formats::segment
