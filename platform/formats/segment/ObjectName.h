// The names objects give themselves: segments, styles, bands, waves and
// patterns in an 'UNFO' list ('UNAM', UTF-16), collections in an 'INFO'
// list ('INAM', ANSI text).
#pragma once

#include "platform/formats/riff/RiffChunk.h"

#include <string>

namespace qorn::formats::segment {

inline constexpr std::uint32_t kUnfoList = ByteReader::fourCC("UNFO");
inline constexpr std::uint32_t kInfoList = ByteReader::fourCC("INFO");

// The 'UNAM' text of an 'UNFO' list; empty when it has none.
std::string ReadUnfoName(const riff::Chunk& unfo);
// The 'INAM' text of an 'INFO' list; empty when it has none.
std::string ReadInfoName(const riff::Chunk& info);

} // namespace qorn::formats::segment
