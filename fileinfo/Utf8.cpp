#include "fileinfo/Utf8.h"

#include <cstdint>

namespace qorn::fileinfo {
namespace {

// Expected length of a sequence led by `b0`, 0 for a byte that cannot lead.
std::size_t LeadLength(std::uint8_t b0) {
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) return 2;
    if (b0 >= 0xE0 && b0 <= 0xEF) return 3;
    if (b0 >= 0xF0 && b0 <= 0xF4) return 4;
    return 0;
}

// Whether `b` may follow `b0` as the first continuation byte (rules out
// overlong forms, surrogates and values past U+10FFFF).
bool SecondByteFits(std::uint8_t b0, std::uint8_t b) {
    if ((b & 0xC0) != 0x80) return false;
    if (b0 == 0xE0) return b >= 0xA0;
    if (b0 == 0xED) return b <= 0x9F;
    if (b0 == 0xF0) return b >= 0x90;
    if (b0 == 0xF4) return b <= 0x8F;
    return true;
}

// Number of bytes at `text[i]` that form a valid start of a sequence that
// the end of the text cuts off; 0 when they do not.
std::size_t CutPrefixLength(std::string_view text, std::size_t i) {
    const auto b0 = static_cast<std::uint8_t>(text[i]);
    const std::size_t want = LeadLength(b0);
    const std::size_t have = text.size() - i;
    if (want < 2 || have >= want) return 0;
    for (std::size_t k = 1; k < have; ++k) {
        const auto b = static_cast<std::uint8_t>(text[i + k]);
        if (k == 1 ? !SecondByteFits(b0, b) : (b & 0xC0) != 0x80) return 0;
    }
    return have;
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    if (i >= text.size()) return 0;
    const auto b0 = static_cast<std::uint8_t>(text[i]);
    const std::size_t len = LeadLength(b0);
    if (len == 0 || i + len > text.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<std::uint8_t>(text[i + k]);
        if (k == 1 ? !SecondByteFits(b0, b) : (b & 0xC0) != 0x80) return 0;
    }
    return len;
}

bool IsValidUtf8(std::string_view text, bool allowCutEnd) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return allowCutEnd && CutPrefixLength(text, i) == text.size() - i;
        i += n;
    }
    return true;
}

std::string_view WithoutCutSequence(std::string_view text) {
    // A cut sequence is at most three bytes long, so look only that far back.
    const std::size_t from = text.size() > 3 ? text.size() - 3 : 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        if (CutPrefixLength(text, i) == text.size() - i) return text.substr(0, i);
    }
    return text;
}

} // namespace qorn::fileinfo
