// A play of a segment composed from a style, pass by pass: every pass of
// the loop region is composed anew, and the passes are joined into one
// piece that the player plays as it stands (or whose last passes it cycles
// through, for a long or endless play), so nothing is composed while the
// music sounds.
#pragma once

#include "platform/formats/common/Limits.h"
#include "platform/music/Sequence.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qorn::platform {

// Passes an endless play cycles through, and the most a play is unrolled
// into; a longer play repeats a cycle. Together with the bound on events
// this keeps a play of a large piece within a few megabytes.
inline constexpr std::uint32_t kPassCycle = 8;
inline constexpr std::uint32_t kMaxUnrolledPasses = limits::kMaxUnrolledPasses;
inline constexpr std::size_t kMaxUnrolledEvents = limits::kMaxUnrolledEvents;

// The loop region exactly as the player plays it: [start, end) repeats,
// the first pass plays [0, end), the last one goes on to the length.
struct PlayedLoop {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};
PlayedLoop PlayedLoopOf(const music::Sequence& sequence);

struct PassPlan {
    // Passes of the loop region after the first pass that are played once,
    std::uint32_t prefix = 0;
    // then passes that become the loop region of the joined piece,
    std::uint32_t cycle = 0;
    // repeated this often (0xFFFFFFFF: for ever).
    std::uint32_t cycleRepeats = 0;
    std::uint32_t passes() const { return 1 + prefix + cycle; }
};

// How a play with `repeats` repeats of a piece of about `eventsPerPass`
// events is composed. passes() == 1: the play is not unrolled (no repeat,
// or a pass is too large to hold several).
PassPlan PlanPasses(std::uint32_t repeats, std::size_t eventsPerPass);

// Joins plan.passes() versions of one piece (they differ in their channel
// events only): pass 0 gives [0, loop end), each further pass its loop
// region, the last one the loop region and what follows. At every joint
// the notes still sounding are released, and the tempo of the loop start
// is set, as the player does when it jumps back. The result plays with
// plan.cycleRepeats repeats; null when the joined piece would be too long
// to time.
std::shared_ptr<const music::Sequence> UnrollPasses(const std::vector<std::shared_ptr<const music::Sequence>>& passes,
                                                    const PassPlan& plan);

} // namespace qorn::platform
