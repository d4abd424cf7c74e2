#include "platform/alsa/AlsaPorts.h"

#include "platform/alsa/PortGuid.h"
#include "tests/support/FakeAlsa.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <tuple>

namespace qorn::platform {
namespace {

constexpr unsigned kOut = kSeqCapWrite | kSeqCapSubsWrite;
constexpr unsigned kIn = kSeqCapRead | kSeqCapSubsRead;

std::vector<FakeAlsaPort> MachinePorts() {
    return {
        {0, 0, "System", "Timer", kIn | kOut},
        {0, 1, "System", "Announce", kIn},
        {14, 0, "Midi Through", "Midi Through Port-0", kIn | kOut},
        {20, 0, "USB Keys", "USB Keys MIDI 1", kIn},            // a keyboard: input only
        {24, 0, "Synth Box", "Out A", kOut},                    // a sound module
        {24, 1, "Synth Box", "Hidden", kOut | kSeqCapNoExport}, // private to its client
        {24, 2, "Synth Box", "Direct only", kSeqCapWrite},      // cannot be subscribed
        {FakeAlsaSequencer::kOwnClient, 0, "Qor_n", "Qor_n output", kIn},
    };
}

TEST(AlsaPortsTest, ListsOtherClientsUsablePortsWithTheirDirection) {
    auto backend = MakeFakeAlsaBackend(MachinePorts());
    const auto ports = backend->listPorts();
    struct Expected {
        int client, port;
        bool writable, readable;
        std::string description;
    };
    const std::vector<Expected> expected = {
        {14, 0, true, true, "Midi Through Port-0"},
        {20, 0, false, true, "USB Keys MIDI 1"},
        {24, 0, true, false, "Synth Box: Out A"},
    };
    ASSERT_EQ(ports.size(), expected.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].description);
        EXPECT_EQ(ports[i].client, expected[i].client);
        EXPECT_EQ(ports[i].port, expected[i].port);
        EXPECT_EQ(ports[i].writable, expected[i].writable);
        EXPECT_EQ(ports[i].readable, expected[i].readable);
        EXPECT_EQ(ports[i].description, expected[i].description);
    }
}

TEST(AlsaPortsTest, GuidsComeFromNamesNotNumbers) {
    // Same devices under other client numbers, as after a reboot.
    std::vector<FakeAlsaPort> renumbered = MachinePorts();
    for (auto& p : renumbered)
        if (p.client != 0 && p.client != FakeAlsaSequencer::kOwnClient) p.client += 8;
    const auto first = MakeFakeAlsaBackend(MachinePorts())->listPorts();
    const auto second = MakeFakeAlsaBackend(renumbered)->listPorts();
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(first[i].guid, second[i].guid) << first[i].description;
    // And they do not depend on anything but the names.
    EXPECT_EQ(first[2].guid, AlsaPortGuid("Synth Box", "Out A"));
}

TEST(AlsaPortsTest, GuidsAreDistinctEvenForLookAlikeNames) {
    const std::vector<std::tuple<std::string, std::string, int>> names = {
        {"Synth Box", "Out A", 0}, {"Synth Box", "Out B", 0}, {"Synth Bo", "xOut A", 0}, {"Synth BoxOut A", "", 0},
        {"", "Synth BoxOut A", 0}, {"Synth Box", "Out A", 1}, {"Synth Box", "Out A", 2}, {"synth box", "out a", 0},
    };
    std::set<std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::uint64_t>> seen;
    for (const auto& [client, port, dup] : names) {
        const GUID g = AlsaPortGuid(client, port, dup);
        std::uint64_t tail = 0;
        for (auto b : g.Data4)
            tail = tail << 8 | b;
        EXPECT_TRUE(seen.insert({g.Data1, g.Data2, g.Data3, tail}).second) << client << " / " << port << " / " << dup;
        EXPECT_EQ(g.Data3 >> 12, 8) << "version nibble";
        EXPECT_EQ(g.Data4[0] >> 6, 2) << "variant bits";
    }
}

TEST(AlsaPortsTest, TwoIdenticalDevicesGetTwoGuidsAndKeepThem) {
    const std::vector<FakeAlsaPort> twins = {{20, 0, "USB MIDI", "USB MIDI Out", kOut},
                                             {28, 0, "USB MIDI", "USB MIDI Out", kOut}};
    auto backend = MakeFakeAlsaBackend(twins);
    const auto ports = backend->listPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_NE(ports[0].guid, ports[1].guid);
    EXPECT_EQ(ports[0].guid, AlsaPortGuid("USB MIDI", "USB MIDI Out", 0));
    // Each GUID opens its own device.
    auto sequencer = std::make_shared<FakeAlsaSequencer>(twins);
    auto b = MakeFakeAlsaBackend(sequencer);
    auto second = b->openOutput(ports[1].guid);
    ASSERT_NE(second, nullptr);
    second->shortMessage(0x90, 60, 100);
    EXPECT_TRUE(sequencer->received(20, 0).empty());
    EXPECT_EQ(sequencer->received(28, 0).size(), 1u);
}

TEST(AlsaPortsTest, WithoutASequencerThereAreNoPortsAndNoNoise) {
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has a sequencer";
    testing::internal::CaptureStderr();
    auto backend = OpenAlsaBackend();
    ASSERT_NE(backend, nullptr);
    EXPECT_TRUE(backend->listPorts().empty());
    EXPECT_EQ(backend->openOutput(AlsaPortGuid("Midi Through", "Midi Through Port-0")), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
} // namespace qorn::platform
