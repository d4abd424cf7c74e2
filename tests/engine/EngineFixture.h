// A fresh engine on a fresh test platform for every test.
#pragma once

#include "engine/TDMusicEngine.h"
#include "platform/com/Guids.h"
#include "tests/support/EngineTestPlatform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorn::testdouble {

using namespace qorn::platform;
using Calls = std::vector<std::string>;

class EngineTest : public ::testing::Test {
  protected:
    // The default machine: an input port, output "Test MIDI Out" and the
    // default "Test Software Synth"; table A, D 11025, D 22050, D 44100.
    static constexpr int ListedOut = 0;
    static constexpr int Synth11k = 1;
    static constexpr int Synth22k = 2;
    static constexpr int Synth44k = 3;

    void StartUp() { ASSERT_TRUE(DMEngine.Initialize()) << DMEngine.LastError; }
    void StartUpAndLoad(const char* path = "/music/song.mid") {
        StartUp();
        ASSERT_TRUE(DMEngine.LoadSegment(path));
    }
    void StartPlaying(int port = Synth22k, bool effects = true) {
        StartUpAndLoad();
        ASSERT_EQ(DMEngine.Play(port, effects), 0) << DMEngine.LastError;
    }
    std::string LastError() const { return DMEngine.LastError; }

    EngineTestPlatform platform;
};

} // namespace qorn::testdouble
