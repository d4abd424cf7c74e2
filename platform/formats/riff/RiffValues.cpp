#include "RiffValues.h"

namespace qorn::formats::riff {

bool ReadGuid(ByteReader& r, platform::GUID& out) {
    platform::GUID g{};
    if (!r.readU32LE(g.Data1) || !r.readU16LE(g.Data2) || !r.readU16LE(g.Data3)) return false;
    for (auto& b : g.Data4)
        if (!r.readU8(b)) return false;
    out = g;
    return true;
}

namespace {
void AppendUtf8(std::string& s, char32_t c) {
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
}
} // namespace

std::string ReadUtf16Text(ByteReader r) {
    std::string s;
    std::uint16_t u = 0;
    while (r.readU16LE(u) && u != 0) {
        char32_t c = u;
        if (u >= 0xD800 && u < 0xDC00) {
            std::uint16_t lo = 0;
            ByteReader peek = r;
            if (peek.readU16LE(lo) && lo >= 0xDC00 && lo < 0xE000) {
                r = peek;
                c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(lo) - 0xDC00);
            } else {
                c = 0xFFFD;
            }
        } else if (u >= 0xDC00 && u < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(s, c);
    }
    return s;
}

std::string ReadAnsiText(ByteReader r) {
    std::string s;
    std::uint8_t b = 0;
    while (r.readU8(b) && b != 0)
        s += static_cast<char>(b);
    return s;
}

} // namespace qorn::formats::riff
