#include "ObjectName.h"

#include "platform/formats/riff/RiffValues.h"

namespace qorn::formats::segment {

namespace {
std::string ReadNameChunk(const riff::Chunk& list, std::uint32_t nameId, bool wide) {
    riff::ChunkReader chunks = riff::ChunkReader::childrenOf(list);
    riff::Chunk c;
    while (chunks.next(c))
        if (c.id == nameId) return wide ? riff::ReadUtf16Text(c.body) : riff::ReadAnsiText(c.body);
    return {};
}
} // namespace

std::string ReadUnfoName(const riff::Chunk& unfo) {
    return ReadNameChunk(unfo, ByteReader::fourCC("UNAM"), true);
}

std::string ReadInfoName(const riff::Chunk& info) {
    return ReadNameChunk(info, ByteReader::fourCC("INAM"), false);
}

} // namespace qorn::formats::segment
