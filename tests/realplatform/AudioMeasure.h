// Level measurements on rendered audio.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace qorn::test {

// RMS level of both channels over frames [from, to), in dB of full scale.
inline double LevelDb(const std::vector<float>& left, const std::vector<float>& right, std::size_t from,
                      std::size_t to) {
    to = std::min({to, left.size(), right.size()});
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = from; i < to; ++i, n += 2)
        sum += double(left[i]) * left[i] + double(right[i]) * right[i];
    if (n == 0 || sum <= 0.0) return -200.0;
    return 10.0 * std::log10(sum / double(n));
}

// First frame at or after `from` whose sample exceeds `threshold`; npos if none.
inline std::size_t FirstAbove(const std::vector<float>& samples, std::size_t from, float threshold) {
    for (std::size_t i = from; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > threshold) return i;
    return static_cast<std::size_t>(-1);
}

} // namespace qorn::test
