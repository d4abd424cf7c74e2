// Pieces of notes as Standard MIDI Files (encoded by MidiWriter.h), and
// files written to a temporary folder for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::test {

struct TestNote {
    std::uint32_t tick;
    std::uint32_t length;
    std::uint8_t key;
    std::uint8_t velocity = 100;
    std::uint8_t channel = 0;
};

struct TestPiece {
    std::uint16_t ticksPerQuarter = 480;
    std::uint32_t microsecondsPerQuarter = 500000;
    std::uint8_t program = 0;
    std::vector<TestNote> notes;
    // End-of-track tick; 0: right after the last note-off.
    std::uint32_t endTick = 0;
};

// A format 0 file: tempo, program change on every channel used, the notes.
std::vector<std::uint8_t> BuildMidiFile(const TestPiece& piece);

// Writes `bytes` to a new file under the test's temporary folder; returns its path.
std::string WriteTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes);

} // namespace qorn::test
