// The composer's source of chance. The engine is fully specified by the
// standard library, and numbers are drawn without the library's
// distributions (whose results differ between implementations), so a seed
// gives the same music everywhere.
#pragma once

#include <cstdint>
#include <random>

namespace qorn::composer {

class SeededRandom {
  public:
    explicit SeededRandom(std::uint32_t seed) : engine_(seed) {}

    // 0 .. n-1 (0 when n is 0).
    std::uint32_t below(std::uint32_t n) {
        if (n <= 1) return 0;
        return static_cast<std::uint32_t>((std::uint64_t(engine_()) * n) >> 32);
    }
    // -span/2 .. +span/2.
    int around(int span) {
        if (span <= 0) return 0;
        return static_cast<int>(below(static_cast<std::uint32_t>(span) + 1)) - span / 2;
    }

  private:
    std::mt19937 engine_;
};

} // namespace qorn::composer
