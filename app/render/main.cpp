// qorn-render: plays a file through the player's loader, performance and
// synthesizer into a 16-bit stereo WAV file, as fast as the machine allows.
#include "app/render/OfflineSession.h"
#include "app/render/WavWriter.h"
#include "platform/formats/common/Diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr double kMaxTailSeconds = 10.0;

int usage() {
    std::fprintf(stderr, "usage: qorn-render [--rate 11025|22050|44100] [--no-effects] [--tempo F] [--repeats N] "
                         "[--volume 0..127] [--soundfont PATH] INPUT OUTPUT.wav\n");
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "qorn-render: %s\n", message.c_str());
    return 1;
}

bool parseLong(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    long rate = 22050;
    bool effects = true;
    double tempo = 1.0;
    long repeats = -1;
    long volume = 88;
    std::string input;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rate" && hasValue) {
            if (!parseLong(argv[++i], 1, 1'000'000, rate) || (rate != 11025 && rate != 22050 && rate != 44100))
                return fail("--rate must be 11025, 22050 or 44100");
        } else if (arg == "--no-effects") {
            effects = false;
        } else if (arg == "--tempo" && hasValue) {
            char* end = nullptr;
            tempo = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(tempo >= 0.5 && tempo <= 2.0)) return fail("--tempo must be between 0.5 and 2.0");
        } else if (arg == "--repeats" && hasValue) {
            if (!parseLong(argv[++i], 0, 1000, repeats)) return fail("--repeats must be between 0 and 1000");
        } else if (arg == "--volume" && hasValue) {
            if (!parseLong(argv[++i], 0, 127, volume)) return fail("--volume must be between 0 and 127");
        } else if (arg == "--soundfont" && hasValue) {
            setenv("QORN_SOUNDFONT", argv[++i], 1);
        } else if (!arg.empty() && arg[0] == '-') {
            return usage();
        } else if (input.empty()) {
            input = arg;
        } else if (output.empty()) {
            output = arg;
        } else {
            return usage();
        }
    }
    if (input.empty() || output.empty()) return usage();
    qorn::formats::ReportToStderr("qorn-render"); // what the loader finds missing or damaged

    std::string error;
    auto session = qorn::render::OfflineSession::Create(int(rate), effects, &error);
    if (!session) return fail(error);
    if (!session->load(input, &error)) return fail("cannot load " + input + ": " + error);
    // A piece that repeats for ever is rendered with one repeat unless told otherwise.
    if (repeats >= 0) {
        session->setRepeats(static_cast<qorn::platform::DWORD>(repeats));
    } else if (session->fileRepeats() == 0xFFFFFFFFu) {
        session->setRepeats(1);
        std::printf("%s repeats for ever: rendering it with one repeat (use --repeats to choose)\n", input.c_str());
    }
    session->setTempo(static_cast<float>(tempo));
    session->setVolumePosition(int(volume));
    if (!session->play()) return fail("cannot start " + input);
    const auto audio = qorn::render::RenderToEnd(*session, kMaxTailSeconds);
    if (!qorn::render::WriteWav16(output, int(rate), audio.left, audio.right, &error)) return fail(error);
    std::printf("Rendered %.3f s (music %.3f s) at %ld Hz to %s\n", double(audio.left.size()) / double(rate),
                double(audio.musicFrames) / double(rate), rate, output.c_str());
    return 0;
}
