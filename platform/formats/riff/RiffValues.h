// Small values stored in RIFF chunks of the music formats: GUIDs and
// zero-terminated UTF-16 text.
#pragma once

#include "platform/com/ComTypes.h"
#include "platform/formats/common/ByteReader.h"

#include <string>

namespace qorn::formats::riff {

// A GUID in its little-endian file layout.
bool ReadGuid(ByteReader& r, platform::GUID& out);

// UTF-16LE text up to its terminator or the end of the bytes, as UTF-8.
// Unpaired surrogates become U+FFFD.
std::string ReadUtf16Text(ByteReader r);

// 8-bit text up to its terminator or the end of the bytes.
std::string ReadAnsiText(ByteReader r);

} // namespace qorn::formats::riff
