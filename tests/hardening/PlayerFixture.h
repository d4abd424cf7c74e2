// The player as a user meets it: the real window on the real music platform,
// with the silent audio output in place of a sound device and a fake ALSA
// sequencer (whose ports a test can unplug) in place of the machine's.
#pragma once

#include "tests/support/FakeAlsa.h"
#include "ui/TFormQorn.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorn::hardening {

using Bytes = std::vector<std::uint8_t>;

// A Standard MIDI File of one note, `tenths` tenths of a second long at
// 120 beats per minute, with a name and a copyright.
Bytes SmallMidi(int tenths = 5);

class PlayerFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Ports of the fake sequencer; set before StartPlayer. None by default.
    std::vector<platform::FakeAlsaPort> alsaPorts;
    // False: the machine has no sequencer at all.
    bool haveSequencer = true;
    // Audio driver forced for the synthesizer ("silent" unless changed).
    std::string audioDriver = "silent";

    // Builds the window (FormLoad starts the engine).
    void StartPlayer();
    // Closes the window (FormUnload shuts the engine down).
    void ClosePlayer();

    std::string Folder() const;
    std::string Write(const std::string& name, const Bytes& bytes) const;

    // Opens through the open button. `between` runs after the user chose the
    // file and before the player opens it.
    void Open(const std::string& path, const std::function<void()>& between = {});
    void Drop(const std::string& path);

    // What the user sees.
    std::string Caption() const;
    std::string FileLabel() const;
    std::string PlayButton() const;
    bool CanOpen() const;
    bool CanPlay() const;
    bool Playing() const;
    // The window is idle and usable: open enabled, "Play" on the play button,
    // the loop, port and effects controls usable again.
    void ExpectIdleAndUsable() const;
    // Pumps the window's events (its timers) for `ms` milliseconds.
    static void RunEvents(int ms);
    // How long the window may be slow before it counts as frozen: well past
    // any wait it allows itself, so a loaded machine (or a sanitizer build)
    // does not pass for a freeze.
    static constexpr int FrozenMs = 10000;

    std::shared_ptr<platform::FakeAlsaSequencer> sequencer;
    std::unique_ptr<TFormQorn> form;
    QTemporaryDir dir;
};

} // namespace qorn::hardening
