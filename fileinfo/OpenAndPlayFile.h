// The open-file workflow: takes one chosen path to a playing piece, with
// progress captions while the GUI thread is held, the same-file shortcut,
// the engine load (twice for a MIDI file), the shown path, the information
// texts and the final caption.
#pragma once

#include "fileinfo/OpenFileHost.h"

#include <cstdint>
#include <string>

namespace qorn::fileinfo {

// The callers have disabled ComOpen, ComPlay and ComInfo and stopped any
// playback. Every way out leaves ComOpen enabled again.
void OpenAndPlayFile(OpenFileHost& host, std::string path);

// Whether the name is taken for a Standard MIDI File: its third byte from
// the end is "m" or "M" (".mid"); every other name is a segment file.
bool IsMidiFileName(const std::string& path);

// The size as the window records it (32 bits): files of 2 GiB or more keep
// the low 32 bits, so a change in size is still seen unless it is an exact
// multiple of 4 GiB.
std::int32_t RecordedFileSize(std::uint64_t size);

} // namespace qorn::fileinfo
