// Array chunks: a 32-bit item size followed by items of that size. Readers
// step by the stored size, which later format versions make larger than the
// record an older reader knows; a size smaller than the fields we need
// makes the chunk unusable (and only that chunk).
#pragma once

#include "RiffChunk.h"

#include <cstddef>
#include <string>

namespace qorn::formats::riff {

class ArrayChunk {
  public:
    // False (with a message naming the chunk) when the item size is missing
    // or smaller than `minItemSize`. A trailing partial item is ignored.
    bool open(const Chunk& chunk, std::size_t minItemSize, std::string* error);

    std::size_t count() const { return count_; }
    std::size_t itemSize() const { return itemSize_; }
    // The bytes of item `i` (exactly itemSize() long).
    ByteReader item(std::size_t i) const {
        ByteReader r = items_;
        r.skip(i * itemSize_);
        return r.sub(itemSize_);
    }

  private:
    ByteReader items_;
    std::size_t itemSize_ = 0;
    std::size_t count_ = 0;
};

} // namespace qorn::formats::riff
