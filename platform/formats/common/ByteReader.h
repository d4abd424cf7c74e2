// A bounded view over bytes from outside the program. Every read is checked
// against the end; a failed read sets the reader to its end and reports
// false, so a parser never reads past what it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qorn::formats {

class ByteReader {
  public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes, std::size_t baseOffset = 0)
        : data_(bytes.data()), size_(bytes.size()), base_(baseOffset) {}

    std::size_t size() const { return size_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }
    bool atEnd() const { return pos_ >= size_; }
    // Offset of the current position in the whole file, for error messages.
    std::size_t fileOffset() const { return base_ + pos_; }

    bool seek(std::size_t pos) {
        if (pos > size_) {
            pos_ = size_;
            return false;
        }
        pos_ = pos;
        return true;
    }
    bool skip(std::size_t n) {
        if (n > remaining()) {
            pos_ = size_;
            return false;
        }
        pos_ += n;
        return true;
    }

    bool readU8(std::uint8_t& v) {
        if (remaining() < 1) return fail();
        v = data_[pos_++];
        return true;
    }
    bool peekU8(std::uint8_t& v) const {
        if (remaining() < 1) return false;
        v = data_[pos_];
        return true;
    }
    bool readU16LE(std::uint16_t& v) { return readLE(v); }
    bool readU32LE(std::uint32_t& v) { return readLE(v); }
    bool readU16BE(std::uint16_t& v) { return readBE(v); }
    bool readU32BE(std::uint32_t& v) { return readBE(v); }

    // Four-character code as it stands in the file.
    bool readFourCC(std::uint32_t& v) { return readBE(v); }

    // MIDI variable-length quantity of at most four bytes (28 bits).
    bool readVarLen(std::uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b = 0;
            if (!readU8(b)) return false;
            v = (v << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) return true;
        }
        return true; // a fifth continuation byte is left for the caller to treat as data
    }

    // Up to `n` bytes, never past the end.
    std::span<const std::uint8_t> readBytes(std::size_t n) {
        if (n > remaining()) n = remaining();
        auto s = std::span<const std::uint8_t>(data_ + pos_, n);
        pos_ += n;
        return s;
    }

    // A sub-reader over the next `n` bytes (cut at the end), positioned after them.
    ByteReader sub(std::size_t n) {
        if (n > remaining()) n = remaining();
        ByteReader r(std::span<const std::uint8_t>(data_ + pos_, n), base_ + pos_);
        pos_ += n;
        return r;
    }

    std::span<const std::uint8_t> rest() const { return {data_ + pos_, remaining()}; }

    static constexpr std::uint32_t fourCC(std::string_view s) {
        return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
               (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
    }

  private:
    bool fail() {
        pos_ = size_;
        return false;
    }
    template <typename T> bool readLE(T& v) {
        if (remaining() < sizeof(T)) return fail();
        v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v |= T(T(data_[pos_ + i]) << (8 * i));
        pos_ += sizeof(T);
        return true;
    }
    template <typename T> bool readBE(T& v) {
        if (remaining() < sizeof(T)) return fail();
        v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v = T((v << 8) | data_[pos_ + i]);
        pos_ += sizeof(T);
        return true;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    std::size_t base_ = 0;
};

} // namespace qorn::formats
