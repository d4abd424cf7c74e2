// The output-port table start-up builds from what the machine enumerates.
#include "EngineFixture.h"

namespace qorn::testdouble {
namespace {

const char* const Suffix11k = " (SampleRate:11025Hz)";
const char* const Suffix22k = " (SampleRate:22050Hz)";
const char* const Suffix44k = " (SampleRate:44100Hz)";

class PortTableTest : public EngineTest {
  protected:
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (int i = 0; i < DMEngine.PortCount; ++i)
            names.emplace_back(DMEngine.PortNames[i]);
        return names;
    }
    static std::vector<EnumeratedPort> Outputs(int count, std::uint32_t firstGuid) {
        std::vector<EnumeratedPort> ports;
        for (int i = 0; i < count; ++i) {
            ports.push_back(EnumeratedPort::Output("Out " + std::to_string(i), TestGuid(firstGuid + std::uint32_t(i))));
        }
        return ports;
    }
};

TEST_F(PortTableTest, ListsOutputsBeforeTheDefaultThenTheDefaultThreeTimes) {
    platform.SetPorts({EnumeratedPort::Input("In", TestGuid(1)), EnumeratedPort::Output("A", TestGuid(2)),
                       EnumeratedPort::Output("B", TestGuid(3)), EnumeratedPort::Output("D", TestGuid(4)),
                       EnumeratedPort::Output("E", TestGuid(5))},
                      TestGuid(4));
    StartUp();
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B", std::string("D") + Suffix11k, std::string("D") + Suffix22k,
                                                 std::string("D") + Suffix44k}));
    EXPECT_EQ(DMEngine.PortCount, 5);
    EXPECT_EQ(DMEngine.FirstSynthEntry, 2);
    EXPECT_EQ(DMEngine.ActivePort, 3);
    EXPECT_EQ(DMEngine.PortGuids[0], TestGuid(2));
    EXPECT_EQ(DMEngine.PortGuids[1], TestGuid(3));
    for (int i = 2; i < 5; ++i)
        EXPECT_EQ(DMEngine.PortGuids[i], TestGuid(4)) << i;
    // E comes after the default port: enumeration stopped there.
    EXPECT_EQ(platform.Count("DirectMusic.EnumPort"), 4);
}

TEST_F(PortTableTest, DefaultPortFirstGivesOnlyTheSynthesizerEntries) {
    platform.SetPorts({EnumeratedPort::Output("Synth", TestGuid(7)), EnumeratedPort::Output("Later", TestGuid(8))},
                      TestGuid(7));
    StartUp();
    EXPECT_EQ(DMEngine.PortCount, 3);
    EXPECT_EQ(DMEngine.FirstSynthEntry, 0);
    EXPECT_EQ(DMEngine.ActivePort, 1);
    EXPECT_EQ(Names()[1], std::string("Synth") + Suffix22k);
}

TEST_F(PortTableTest, DefaultPortAsThe38thOutputFillsAll40Entries) {
    auto ports = Outputs(37, 100);
    ports.insert(ports.begin() + 5, EnumeratedPort::Input("In", TestGuid(99))); // inputs do not count
    ports.push_back(EnumeratedPort::Output("Synth", TestGuid(500)));
    platform.SetPorts(ports, TestGuid(500));
    StartUp();
    EXPECT_EQ(DMEngine.PortCount, 40);
    EXPECT_EQ(DMEngine.FirstSynthEntry, 37);
    EXPECT_EQ(DMEngine.ActivePort, 38);
    EXPECT_EQ(Names()[36], "Out 36");
    EXPECT_EQ(Names()[39], std::string("Synth") + Suffix44k);
}

TEST_F(PortTableTest, ThirtyEightOutputsWithoutTheDefaultStopTheListing) {
    auto ports = Outputs(40, 100);
    platform.SetPorts(ports, TestGuid(139)); // the default is the 40th: never reached
    StartUp();
    EXPECT_EQ(DMEngine.PortCount, 38);
    EXPECT_EQ(DMEngine.FirstSynthEntry, 38);
    EXPECT_EQ(DMEngine.ActivePort, 37);
    EXPECT_EQ(platform.Count("DirectMusic.EnumPort"), 38);
}

TEST_F(PortTableTest, NoOutputPortGivesAnEmptyTableAndStillStarts) {
    std::vector<EnumeratedPort> inputs;
    for (int i = 0; i < 300; ++i)
        inputs.push_back(EnumeratedPort::Input("In", TestGuid(std::uint32_t(i + 1))));
    platform.SetPorts(inputs, TestGuid(1000));
    StartUp();
    EXPECT_EQ(DMEngine.PortCount, 0);
    EXPECT_EQ(DMEngine.FirstSynthEntry, 0);
    EXPECT_EQ(DMEngine.ActivePort, -1);
    EXPECT_EQ(platform.Count("DirectMusic.EnumPort"), 256); // enumeration is bounded
}

TEST_F(PortTableTest, DefaultPortNotMetLeavesNoSynthesizerEntries) {
    platform.SetPorts({EnumeratedPort::Output("A", TestGuid(2)), EnumeratedPort::Output("B", TestGuid(3))},
                      TestGuid(9));
    StartUp();
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(DMEngine.FirstSynthEntry, 2);
    EXPECT_EQ(DMEngine.ActivePort, 1);
}

TEST_F(PortTableTest, LongNamesAreCutAt63BytesAndTheSuffixFollowsTheCut) {
    const std::string longName(70, 'n');
    platform.SetPorts({EnumeratedPort::Output(longName, TestGuid(2)), EnumeratedPort::Output(longName, TestGuid(3))},
                      TestGuid(3));
    StartUp();
    const std::string cut(63, 'n');
    EXPECT_EQ(Names(), (std::vector<std::string>{cut, cut + Suffix11k, cut + Suffix22k, cut + Suffix44k}));
}

TEST_F(PortTableTest, AUtf8NameIsCutBeforeACharacterThatWouldBeSplit) {
    // "a" and 21 three-byte characters: 64 bytes, the last one crossing byte 63.
    std::string name = "a";
    for (int i = 0; i < 21; ++i)
        name += "\xE3\x81\x82"; // U+3042
    platform.SetPorts({EnumeratedPort::Output(name, TestGuid(2))}, TestGuid(2));
    StartUp();
    const std::string kept = name.substr(0, 61);
    EXPECT_EQ(Names()[0], kept + Suffix11k);
    EXPECT_EQ(Names()[2], kept + Suffix44k);
}

TEST_F(PortTableTest, DescriptionsWithoutTerminatorOrWithNothingAreSafe) {
    EnumeratedPort full = EnumeratedPort::Output("", TestGuid(2));
    full.description.assign(DMUS_MAX_DESCRIPTION, u'x'); // fills the record, no terminator
    platform.SetPorts({full, EnumeratedPort::Output("", TestGuid(3))}, TestGuid(3));
    StartUp();
    EXPECT_EQ(Names()[0], std::string(63, 'x'));
    EXPECT_EQ(Names()[1], Suffix11k);
}

} // namespace
} // namespace qorn::testdouble
