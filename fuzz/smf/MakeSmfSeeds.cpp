// Writes the seed corpus of the MIDI file fuzzer: small files covering each
// kind of event, timing and damage the reader knows.
#include "tests/support/MidiWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using qorn::testing::Bytes;
using qorn::testing::Chunk;
using qorn::testing::Concat;
using qorn::testing::HeaderChunk;
using qorn::testing::MidiFile;
using qorn::testing::TrackWriter;

void Write(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
    std::ofstream out(dir / (name + ".mid"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);

    TrackWriter notes;
    notes.event(0, {0xC0, 5}).noteOn(0, 0, 60).event(0, {64, 90}).noteOff(96, 0, 60).event(0, {64, 0});
    notes.event(0, {0xE0, 0, 64}).event(0, {0xB0, 64, 127}).event(10, {0xD0, 3}).event(0, {0xA0, 60, 9});
    notes.endOfTrack(8);
    TrackWriter conductor;
    conductor.meta(0, 0x03, "name").tempo(0, 500000).tempo(96, 300000).raw({0, 0xFF, 0x58, 4, 4, 2, 24, 8});
    conductor.endOfTrack();
    TrackWriter sysex;
    sysex.sysex(0, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).sysex(4, 0xF0, {0x43, 0x10}).sysex(4, 0xF7, {0x4C, 0xF7});
    sysex.sysex(0, 0xF7, {0xFA}).noteOn(0, 9, 36).noteOff(0, 9, 36).endOfTrack();
    TrackWriter odd;
    odd.noteOn(0, 1, 50).raw({0, 0xF4, 0, 0xF1, 3, 0, 0xF9}).event(0, {50, 0}).raw({0x81, 0x80, 0x80, 0x00, 0x80});
    odd.raw({50, 1}).noteOn(0, 1, 52).noteOn(0, 1, 52).noteOff(0, 1, 52);

    const Bytes format1 = MidiFile(1, 96, {conductor, notes, sysex});
    Write(dir, "format0", MidiFile(0, 480, {notes}));
    Write(dir, "format1", format1);
    Write(dir, "format2", MidiFile(2, 96, {notes, conductor}));
    Write(dir, "smpte25", MidiFile(0, 0xE728, {notes}));
    Write(dir, "smpte2997", MidiFile(1, 0xE350, {conductor, notes}));
    Write(dir, "rmid", qorn::testing::WrapInRmid(format1));
    Write(dir, "odd-events", MidiFile(0, 96, {odd}));
    Write(dir, "lengths-wrong",
          Concat({HeaderChunk(1, 4, 96), Chunk("MTrk", notes.bytes(), 3), Chunk("XYZW", {1, 2}), Bytes{0, 7, 0xFF},
                  Chunk("MTrk", sysex.bytes(), 0xFFFF)}));
    Write(dir, "header-only", HeaderChunk(1, 1, 96));
    return 0;
}
