// Renders many files side by side, each in a process of its own (this
// program run again on one file), so a file that crashes the synthesizer or
// the loader cannot take the others with it, and no platform object is
// shared between threads.
#pragma once

#include <string>
#include <vector>

namespace qorn::render {

struct BatchJob {
    std::string input;
    std::string output;
    // The segment of a script or container it renders (none: the file).
    std::string segment;
    // Another input already writes this output: left out, counted as failed.
    bool duplicate = false;
};

struct BatchResult {
    int rendered = 0;
    int failed = 0;
};

// Runs up to `workers` at once, passing `options` to each. Their messages
// go on to stderr; on a terminal (`showProgress`) every running file has
// a line there that updates as it goes.
BatchResult RunBatch(const std::vector<BatchJob>& jobs, const std::vector<std::string>& options, int workers,
                     bool showProgress);

} // namespace qorn::render
