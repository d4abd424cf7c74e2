#include "tests/support/CompressedWaves.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>

namespace qorn::testdls {

namespace {

// libsndfile writing into memory.
struct Memory {
    Bytes bytes;
    sf_count_t at = 0;

    static Memory& Of(void* user) { return *static_cast<Memory*>(user); }
    static sf_count_t Length(void* user) { return sf_count_t(Of(user).bytes.size()); }
    static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
        Memory& m = Of(user);
        const sf_count_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? sf_count_t(m.bytes.size()) : 0;
        m.at = std::max<sf_count_t>(0, base + offset);
        return m.at;
    }
    static sf_count_t Read(void* out, sf_count_t count, void* user) {
        Memory& m = Of(user);
        const sf_count_t n = std::clamp<sf_count_t>(sf_count_t(m.bytes.size()) - m.at, 0, count);
        std::memcpy(out, m.bytes.data() + m.at, std::size_t(n));
        m.at += n;
        return n;
    }
    static sf_count_t Write(const void* in, sf_count_t count, void* user) {
        Memory& m = Of(user);
        if (std::size_t(m.at + count) > m.bytes.size()) m.bytes.resize(std::size_t(m.at + count));
        std::memcpy(m.bytes.data() + m.at, in, std::size_t(count));
        m.at += count;
        return count;
    }
    static sf_count_t Tell(void* user) { return Of(user).at; }
};

} // namespace

Bytes EncodeMp3(const std::vector<std::int16_t>& samples, std::uint32_t rate) {
    Memory memory;
    SF_VIRTUAL_IO io{&Memory::Length, &Memory::Seek, &Memory::Read, &Memory::Write, &Memory::Tell};
    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = 1;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (file == nullptr) return {};
    int mode = SF_BITRATE_MODE_CONSTANT;
    sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    sf_write_short(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
    return memory.bytes;
}

WaveSpec Mp3Wave(const std::vector<std::int16_t>& samples, std::uint32_t rate) {
    WaveSpec w;
    w.sampleRate = rate;
    WaveSpec::Encoded e;
    e.formatTag = 0x0055;
    // Id 1, no padding flags, block size and frames per block of one frame,
    // then the encoder's delay.
    PutU16(e.formatFields, 1);
    PutU32(e.formatFields, 2);
    PutU16(e.formatFields, 0);
    PutU16(e.formatFields, 1);
    PutU16(e.formatFields, 576);
    e.data = EncodeMp3(samples, rate);
    e.frames = static_cast<std::uint32_t>(samples.size());
    e.leadingFrames = kMp3Delay;
    w.encoded = std::move(e);
    return w;
}

} // namespace qorn::testdls
