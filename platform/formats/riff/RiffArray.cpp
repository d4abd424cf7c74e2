#include "RiffArray.h"

namespace qorn::formats::riff {

bool ArrayChunk::open(const Chunk& chunk, std::size_t minItemSize, std::string* error) {
    ByteReader body = chunk.body;
    std::uint32_t size = 0;
    items_ = ByteReader();
    itemSize_ = count_ = 0;
    if (!body.readU32LE(size)) {
        if (error) *error = ChunkError("array without an item size", chunk);
        return false;
    }
    if (size < minItemSize || size == 0) {
        if (error)
            *error =
                ChunkError("item size " + std::to_string(size) + " smaller than " + std::to_string(minItemSize), chunk);
        return false;
    }
    items_ = body.sub(body.remaining());
    itemSize_ = size;
    count_ = items_.size() / itemSize_;
    return true;
}

} // namespace qorn::formats::riff
