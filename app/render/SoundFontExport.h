// qorn-render COLLECTION.dls OUT.sf2: a DLS collection written as a
// SoundFont, through the same reader and conversion the synthesizer uses.
#pragma once

#include <string>

namespace qorn::render {

// Writes `output`; the exit status (0, or 1 with the message printed).
// What the file cannot hold goes to the diagnostics reporter.
int ExportSoundFont(const std::string& input, const std::string& output, bool quiet);

} // namespace qorn::render
