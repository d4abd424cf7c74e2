// A file from outside the program, read forwards through a buffer and never
// past the size it had when it was opened. Only regular files open: a folder
// named like a song, a FIFO or a device would otherwise open (or block) and
// be read as if it were one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::fileinfo {

class BoundedFile {
  public:
    // Opens `path` (multibyte bytes as the file system has them) read-only.
    // False when it does not exist, cannot be read or is not a regular file.
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Size in bytes, measured by seeking to the end when the file was opened.
    std::uint64_t Size() const { return size_; }
    // Bytes between the read position and the end.
    std::uint64_t Left() const { return size_ - pos_; }

    // False at the end of the file (nothing read).
    bool ReadByte(std::uint8_t& b);
    // Reads `n` bytes into `out`; false (and the position at the end) when
    // fewer are left.
    bool ReadBytes(std::uint64_t n, std::string& out);
    // Moves the position on by `n`; false (and the position at the end)
    // when fewer bytes are left. Reads nothing.
    bool Skip(std::uint64_t n);

    BoundedFile() = default;
    BoundedFile(const BoundedFile&) = delete;
    BoundedFile& operator=(const BoundedFile&) = delete;
    ~BoundedFile() { Close(); }

  private:
    bool Fill();
    void ToEnd();

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t pos_ = 0; // logical position in the file
    std::vector<std::uint8_t> buffer_;
    std::size_t bufPos_ = 0;
    std::size_t bufLen_ = 0;
};

} // namespace qorn::fileinfo
