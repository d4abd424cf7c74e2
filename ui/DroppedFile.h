// What a drop from the file manager hands the window: the first local file
// as the file system's bytes, and the test of its extension.
#pragma once

#include <string>
#include <string_view>

class QMimeData;

namespace qorn::ui {

// The first local file of a text/uri-list, its path as the file system's
// bytes (percent-escapes decoded byte for byte, so names that are not valid
// UTF-8 survive); empty when the drop holds no local file.
std::string FirstDroppedFile(const QMimeData& data);

// ".mid", ".sgp", ".sgt", ".wav", ".spt" or ".con" at the end, the letters
// A to Z in any case.
bool HasPlayableExtension(std::string_view path);

} // namespace qorn::ui
