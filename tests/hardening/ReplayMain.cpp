// Replays files through one fuzz target's checks in the ordinary test suite:
// its seed corpus and every input that ever failed (kept under
// regressions/<name>/). Usage: qorn_replay_<name> DIR...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) continue; // no regressions yet
        for (const auto& entry : fs::directory_iterator(argv[i])) {
            if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            std::printf("%s\n", entry.path().filename().c_str());
            std::fflush(stdout);
            // The target aborts on a broken result; the sanitizers catch the rest.
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return 0;
}
