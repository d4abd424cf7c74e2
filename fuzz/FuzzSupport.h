// What the fuzzers share: how a broken rule is reported, and the input
// written to a file for the readers that take a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace qorn::fuzz {

// Says which rule broke and stops, so that libFuzzer keeps the input.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// The input as the whole content of `path`.
inline void WriteInput(const char* path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) Broken("cannot write the input file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) Broken("cannot write the input file");
    std::fclose(f);
}

} // namespace qorn::fuzz
