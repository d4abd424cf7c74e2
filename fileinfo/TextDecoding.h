// Display decoding of the texts a MIDI file carries. Files from Japanese
// systems hold Shift-JIS (code page 932), newer ones UTF-8, western ones
// Windows-1252. Short texts alone are ambiguous, so the choice is made once
// per file from all of its texts together and the lines never disagree.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace qorn::fileinfo {

enum class TextEncoding { Utf8, Cp932, Windows1252 };

// One text as the file holds it. `cut` marks a text shortened to its first
// bytes plus "...": its last character may be incomplete before the dots.
struct StoredText {
    std::string bytes;
    bool cut = false;
};

// UTF-8 when every text is valid UTF-8, else code page 932 when every text
// is valid there, else Windows-1252.
TextEncoding ChooseEncoding(std::span<const StoredText* const> texts);

// The text in UTF-8 for the window.
std::string DecodeToUtf8(const StoredText& text, TextEncoding encoding);

} // namespace qorn::fileinfo
