// Writes 16-bit stereo PCM WAV files.
#pragma once

#include <string>
#include <vector>

namespace qorn::render {

// Samples beyond full scale are clipped. False when the file cannot be written.
bool WriteWav16(const std::string& path, int sampleRate, const std::vector<float>& left,
                const std::vector<float>& right, std::string* error);

} // namespace qorn::render
