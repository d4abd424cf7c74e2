// libFuzzer target for the MIDI information reader behind "File Info.". It
// reads from a path, so each input is written to one private file first.
// Any bytes must give three lines of valid UTF-8, each bounded, and never
// read past the file.
#include "fileinfo/MidiInfoReader.h"
#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using qorn::fuzz::Broken;

bool ValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// One file per fuzzing process, rewritten for every input. A plain array,
// so that it is still there when the exit handler removes the file.
const char* InputPath() {
    static char path[64] = {};
    if (path[0] == '\0') {
        std::snprintf(path, sizeof path, "/tmp/qorn-midiinfo-fuzz-%d.mid", static_cast<int>(::getpid()));
        std::atexit([] { ::unlink(path); });
    }
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qorn::fuzz::WriteInput(InputPath(), data, size);

    const qorn::fileinfo::MidiTexts texts = qorn::fileinfo::ReadMidiTexts(InputPath());
    for (const auto* t : {&texts.name, &texts.copyright, &texts.text}) {
        if (*t && (*t)->bytes.size() > qorn::fileinfo::MaxMidiTextBytes + 3) Broken("text longer than the cut");
        if (*t && (*t)->bytes.size() > size) Broken("text longer than the file");
    }

    const qorn::fileinfo::InfoTexts info = qorn::fileinfo::ReadMidiInfo(InputPath(), "song");
    for (const std::string* line : {&info.text1, &info.text2, &info.text3}) {
        if (line->empty()) Broken("an empty line: the fall-back is missing");
        if (!ValidUtf8(*line)) Broken("a line is not UTF-8");
        // Each stored byte decodes to at most three UTF-8 bytes (plus "...").
        if (line->size() > 3 * (qorn::fileinfo::MaxMidiTextBytes + 3) + 64) Broken("a line is unbounded");
    }
    return 0;
}
