#include "app/render/WavWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace qorn::render {
namespace {

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}
void putU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
void putTag(std::vector<std::uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

std::int16_t toPcm(float s) {
    const float scaled = std::clamp(s, -1.0f, 1.0f) * 32767.0f;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

bool WriteWav16(const std::string& path, int sampleRate, const std::vector<float>& left,
                const std::vector<float>& right, std::string* error) {
    const std::size_t frames = std::min(left.size(), right.size());
    // The RIFF sizes are 32-bit.
    if (frames > (0xFFFFFFFFull - 44) / 4) {
        if (error) *error = "too long for a WAV file";
        return false;
    }
    const auto dataBytes = static_cast<std::uint32_t>(frames * 4);
    std::vector<std::uint8_t> out;
    out.reserve(44 + dataBytes);
    putTag(out, "RIFF");
    putU32(out, 36 + dataBytes);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putU32(out, 16);
    putU16(out, 1); // PCM
    putU16(out, 2);
    putU32(out, std::uint32_t(sampleRate));
    putU32(out, std::uint32_t(sampleRate) * 4);
    putU16(out, 4);
    putU16(out, 16);
    putTag(out, "data");
    putU32(out, dataBytes);
    for (std::size_t i = 0; i < frames; ++i) {
        putU16(out, std::uint16_t(toPcm(left[i])));
        putU16(out, std::uint16_t(toPcm(right[i])));
    }
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(out.data(), 1, out.size(), f.get()) != out.size()) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace qorn::render
