#include "ObjectReference.h"

#include "platform/formats/riff/RiffValues.h"

namespace qorn::formats::segment {

using formats::ByteReader;

bool ReadObjectReference(const riff::Chunk& list, ObjectReference& out, std::string* error) {
    ObjectReference ref;
    bool haveHeader = false;
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c)) {
        ByteReader body = c.body;
        switch (c.id) {
        case ByteReader::fourCC("refh"):
            haveHeader = riff::ReadGuid(body, ref.classId) && body.readU32LE(ref.validData);
            break;
        case ByteReader::fourCC("guid"):
            ref.hasObject = riff::ReadGuid(body, ref.object);
            break;
        case ByteReader::fourCC("name"):
            ref.name = riff::ReadUtf16Text(body);
            break;
        case ByteReader::fourCC("file"):
            ref.file = riff::ReadUtf16Text(body);
            break;
        case ByteReader::fourCC("catg"):
            ref.category = riff::ReadUtf16Text(body);
            break;
        case ByteReader::fourCC("vers"): {
            std::uint32_t ms = 0, ls = 0;
            if (body.readU32LE(ms) && body.readU32LE(ls)) ref.version = (std::uint64_t(ms) << 32) | ls;
            break;
        }
        default:
            break;
        }
    }
    if (!haveHeader) {
        if (error) *error = riff::ChunkError("reference without a 'refh' header", list);
        return false;
    }
    out = std::move(ref);
    return true;
}

} // namespace qorn::formats::segment
