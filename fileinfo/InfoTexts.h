// The three lines of the file information box and their fixed texts.
#pragma once

#include <string>

namespace qorn::fileinfo {

// UTF-8, as the window shows them.
struct InfoTexts {
    std::string text1; // name (MIDI) or base name
    std::string text2; // copyright
    std::string text3; // text event or kind of file
};

inline constexpr const char* NoCopyrightText = "（Copyright情報なし）";
inline constexpr const char* StandardMidiFileText = "（標準MIDIファイル）";
inline constexpr const char* SegmentFileText = "（DirectMusicセグメントファイル）";

} // namespace qorn::fileinfo
