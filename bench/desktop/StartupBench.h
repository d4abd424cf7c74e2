#pragma once

#include <string>

namespace qorn::bench {

// Prints start -> first paint of `player` and of `bare` over `rounds`
// interleaved runs, their ratio, and `player FILE` -> first sound.
int Startup(const std::string& player, const std::string& bare, int rounds);

} // namespace qorn::bench
