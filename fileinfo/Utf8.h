// Character boundaries in multibyte (UTF-8) text that may hold bytes which
// are not UTF-8: each such byte counts as a character of its own, the way
// the kernel's text conversion escapes it.
#pragma once

#include <cstddef>
#include <string_view>

namespace qorn::fileinfo {

// Length of the valid, shortest-form UTF-8 sequence at `text[i]`, or 0 when
// the bytes there are not one (also when it runs past the end).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);

// Length of the character at `text[i]`: its UTF-8 sequence, else 1.
inline std::size_t CharacterLength(std::string_view text, std::size_t i) {
    const std::size_t n = Utf8SequenceLength(text, i);
    return n == 0 ? 1 : n;
}

// True when every byte belongs to a valid UTF-8 sequence. With
// `allowCutEnd`, a sequence cut off by the end of the text is accepted too.
bool IsValidUtf8(std::string_view text, bool allowCutEnd = false);

// `text` without a UTF-8 sequence cut off at its end.
std::string_view WithoutCutSequence(std::string_view text);

} // namespace qorn::fileinfo
