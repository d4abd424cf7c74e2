// How a chosen path is shown: shortened for LabelFN, and its base name for
// the captions and the information box. Paths are multibyte text (UTF-8 on
// Linux) as the file system has them, possibly with bytes that are not UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace qorn::fileinfo {

// A path this long or longer is shortened.
inline constexpr std::size_t ShortenFromBytes = 51;
inline constexpr std::size_t ShortHeadBytes = 11;
inline constexpr std::size_t ShortTailBytes = 30;
inline constexpr std::size_t ShortTailMinBytes = 16;

// A path of 51 bytes or more becomes its first 11 bytes, " ... " and its
// last 30 bytes (46 bytes), the start of the folders and the end of the
// file name staying visible. A cut that would split a character moves to
// the character's edge inside the kept part, so a part may keep fewer bytes.
// With `followingBytes` of text shown after the path (a segment's name, a
// count of warnings), the path gives up that much of its tail, down to
// ShortTailMinBytes, so that the end of what follows stays in the label.
std::string ShortenDisplayPath(const std::string& path, std::size_t followingBytes = 0);

// The part after the last "/", found on the UTF-16 form of the path so no
// byte of a multibyte character is taken for a separator; bytes that are not
// UTF-8 come back unchanged. A path without "/" is its own base name.
std::string ExtractBaseName(const std::string& path);

} // namespace qorn::fileinfo
