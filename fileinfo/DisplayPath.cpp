#include "fileinfo/DisplayPath.h"

#include "fileinfo/Utf8.h"
#include "platform/kernel/Kernel.h"

#include <climits>
#include <vector>

namespace qorn::fileinfo {

namespace pk = qorn::platform;

std::string ShortenDisplayPath(const std::string& path, std::size_t followingBytes) {
    if (path.size() + followingBytes < ShortenFromBytes) return path;
    const std::size_t tailBytes =
        followingBytes >= ShortTailBytes - ShortTailMinBytes ? ShortTailMinBytes : ShortTailBytes - followingBytes;
    // A path shorter than what would be kept of it stays whole.
    if (path.size() <= ShortHeadBytes + 5 + tailBytes) return path;
    const std::size_t tailFrom = path.size() - tailBytes;
    // Walk the characters once: the head ends at the last character edge at
    // or before byte 11, the tail starts at the first edge at or after the
    // start of the last tail bytes.
    std::size_t headEnd = 0;
    std::size_t tailStart = path.size();
    for (std::size_t i = 0; i < path.size();) {
        if (i <= ShortHeadBytes) headEnd = i;
        if (i >= tailFrom) {
            tailStart = i;
            break;
        }
        i += CharacterLength(path, i);
    }
    return path.substr(0, headEnd) + " ... " + path.substr(tailStart);
}

std::string ExtractBaseName(const std::string& path) {
    if (path.empty() || path.size() >= static_cast<std::size_t>(INT_MAX)) return path;
    const int units = pk::MultiByteToWideChar(pk::CP_ACP, pk::MB_PRECOMPOSED, path.c_str(), -1, nullptr, 0);
    if (units <= 0) return path;
    std::vector<pk::WCHAR> wide(static_cast<std::size_t>(units));
    if (pk::MultiByteToWideChar(pk::CP_ACP, pk::MB_PRECOMPOSED, path.c_str(), -1, wide.data(), units) != units) {
        return path;
    }
    // Last separator; the terminator is the last unit.
    std::size_t start = 0;
    for (std::size_t i = static_cast<std::size_t>(units) - 1; i > 0; --i) {
        if (wide[i - 1] == u'/') {
            start = i;
            break;
        }
    }
    const pk::WCHAR* base = wide.data() + start;
    const int bytes =
        pk::WideCharToMultiByte(pk::CP_ACP, pk::WC_COMPOSITECHECK, base, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return path;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    if (pk::WideCharToMultiByte(pk::CP_ACP, pk::WC_COMPOSITECHECK, base, -1, out.data(), bytes, nullptr, nullptr) !=
        bytes) {
        return path;
    }
    out.resize(static_cast<std::size_t>(bytes) - 1); // without the terminator
    return out;
}

} // namespace qorn::fileinfo
