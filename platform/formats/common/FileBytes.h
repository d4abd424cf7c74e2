// Reads a whole regular file from outside the program, bounded in size and
// never blocking on a FIFO or device put in the file's place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::formats {

enum class FileReadResult { Ok, NotOpened, TooLarge };

// The whole file into `out` (a file that shrinks while read gives what was there).
FileReadResult ReadFileBytes(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& out);

} // namespace qorn::formats
