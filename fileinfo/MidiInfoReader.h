// Reads the name, copyright and first text event from the leading meta
// events (delta time 0) of a Standard MIDI File's first track. Not a MIDI
// parser: it stops at the first event of any other kind.
#pragma once

#include "fileinfo/InfoTexts.h"
#include "fileinfo/TextDecoding.h"

#include <cstddef>
#include <optional>
#include <string>

namespace qorn::fileinfo {

// Bytes of one text kept; a longer text is cut there and gets "...".
inline constexpr std::size_t MaxMidiTextBytes = 2000;

// The texts as the file holds them: ended at a zero byte, cut after
// MaxMidiTextBytes, trimmed of bytes 0x00..0x20 at both ends. Empty
// optional: no such event was taken.
struct MidiTexts {
    std::optional<StoredText> name;      // meta 0x03
    std::optional<StoredText> copyright; // meta 0x02
    std::optional<StoredText> text;      // meta 0x01
};

// Never fails: a file that cannot be read gives no texts. Reads no further
// than the file holds, whatever its lengths claim.
MidiTexts ReadMidiTexts(const std::string& path);

// The three lines for the window (UTF-8), decoded with one encoding chosen
// from all texts of the file, with fall-backs for those missing or empty:
// the base name, NoCopyrightText, StandardMidiFileText.
InfoTexts ReadMidiInfo(const std::string& path, const std::string& baseName);

} // namespace qorn::fileinfo
