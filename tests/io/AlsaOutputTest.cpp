#include "platform/alsa/AlsaPorts.h"

#include "platform/alsa/PortGuid.h"
#include "tests/support/FakeAlsa.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace qorn::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kOut = kSeqCapWrite | kSeqCapSubsWrite;
constexpr unsigned kIn = kSeqCapRead | kSeqCapSubsRead;

class AlsaOutputTest : public testing::Test {
  protected:
    std::shared_ptr<FakeAlsaSequencer> sequencer_ = std::make_shared<FakeAlsaSequencer>(
        std::vector<FakeAlsaPort>{{24, 0, "Synth Box", "Out A", kOut}, {20, 0, "USB Keys", "USB Keys MIDI 1", kIn}});
    std::shared_ptr<AlsaBackend> backend_ = MakeFakeAlsaBackend(sequencer_);
    const GUID synthBox_ = AlsaPortGuid("Synth Box", "Out A");
};

TEST_F(AlsaOutputTest, OpeningSubscribesAPortOfOursAndClosingRemovesIt) {
    {
        auto output = backend_->openOutput(synthBox_);
        ASSERT_NE(output, nullptr);
        EXPECT_TRUE(output->alive());
        const auto own = sequencer_->ownPorts();
        ASSERT_EQ(own.size(), 1u);
        EXPECT_TRUE(sequencer_->connected(own[0], 24, 0));
        // Our own port is never offered as a destination.
        EXPECT_EQ(backend_->listPorts().size(), 2u);
    }
    EXPECT_TRUE(sequencer_->ownPorts().empty());
}

TEST_F(AlsaOutputTest, InputsAndUnknownPortsCannotBeOpened) {
    EXPECT_EQ(backend_->openOutput(AlsaPortGuid("USB Keys", "USB Keys MIDI 1")), nullptr);
    EXPECT_EQ(backend_->openOutput(AlsaPortGuid("Nobody", "Nothing")), nullptr);
    EXPECT_TRUE(sequencer_->ownPorts().empty()) << "a failed open leaves no port behind";
}

TEST_F(AlsaOutputTest, MessagesArriveAsTheirMidiBytes) {
    auto output = backend_->openOutput(synthBox_);
    ASSERT_NE(output, nullptr);
    struct Case {
        std::uint8_t status, d1, d2;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {0x90, 60, 100, {0x90, 60, 100}},       // note on
        {0x9F, 127, 1, {0x9F, 127, 1}},         // channel 16
        {0x90, 60, 0, {0x90, 60, 0}},           // note on with velocity 0 stays as sent
        {0x83, 60, 64, {0x83, 60, 64}},         // note off with release velocity
        {0xA2, 61, 33, {0xA2, 61, 33}},         // key pressure
        {0xB0, 7, 90, {0xB0, 7, 90}},           // volume
        {0xB5, 123, 0, {0xB5, 123, 0}},         // all notes off
        {0xC9, 25, 0, {0xC9, 25}},              // program change: one data byte
        {0xD1, 80, 0, {0xD1, 80}},              // channel pressure
        {0xE0, 0x00, 0x40, {0xE0, 0x00, 0x40}}, // pitch bend centre
        {0xE1, 0x7F, 0x7F, {0xE1, 0x7F, 0x7F}}, // highest
        {0xE2, 0x00, 0x00, {0xE2, 0x00, 0x00}}, // lowest
        {0xE3, 0x15, 0x2A, {0xE3, 0x15, 0x2A}}, // both bytes matter
        {0xB0, 0x87, 0xFF, {0xB0, 0x07, 0x7F}}, // stray high bits are masked
        {0xFF, 0, 0, {0xFF}},                   // system reset
    };
    for (const auto& c : cases)
        output->shortMessage(c.status, c.d1, c.d2);
    // Not messages: a data byte as status, undefined status bytes.
    for (std::uint8_t junk : {0x45, 0xF4, 0xF5, 0xF9, 0xFD})
        output->shortMessage(junk, 1, 2);

    const auto got = sequencer_->received(24, 0);
    ASSERT_EQ(got.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(got[i], cases[i].expected) << "case " << i;
}

TEST_F(AlsaOutputTest, SysExArrivesWhole) {
    auto output = backend_->openOutput(synthBox_);
    ASSERT_NE(output, nullptr);
    const Bytes gmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    Bytes big(3000);
    big.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i & 0x7F);
    big.back() = 0xF7;
    output->sysEx(gmOn.data(), gmOn.size());
    output->sysEx(big.data(), big.size());
    const Bytes notSysEx = {0x90, 60, 100};
    output->sysEx(notSysEx.data(), notSysEx.size());
    output->sysEx(nullptr, 0);

    const auto got = sequencer_->received(24, 0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], gmOn);
    EXPECT_EQ(got[1], big);
}

TEST_F(AlsaOutputTest, APortThatVanishesMidStreamEndsTheOutputQuietly) {
    auto output = backend_->openOutput(synthBox_);
    ASSERT_NE(output, nullptr);
    output->shortMessage(0x90, 60, 100);
    sequencer_->removePort(24, 0); // unplugged
    output->shortMessage(0x80, 60, 0);
    EXPECT_FALSE(output->alive());
    // Plugged in again under the same address: the dead output stays dead
    // rather than send into whatever now lives there.
    sequencer_->addPort({24, 0, "Synth Box", "Out A", kOut});
    output->shortMessage(0x90, 62, 100);
    const Bytes sysex = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    output->sysEx(sysex.data(), sysex.size());
    EXPECT_EQ(sequencer_->received(24, 0), std::vector<Bytes>{Bytes({0x90, 60, 100})});
    // A fresh open of the returned device works.
    auto again = backend_->openOutput(synthBox_);
    ASSERT_NE(again, nullptr);
    again->shortMessage(0x90, 64, 90);
    EXPECT_EQ(sequencer_->received(24, 0).size(), 2u);
}

TEST_F(AlsaOutputTest, SendErrorsOtherThanAGonePortDoNotEndTheOutput) {
    auto output = backend_->openOutput(synthBox_);
    ASSERT_NE(output, nullptr);
    // A briefly full pool is waited out: the note still arrives.
    sequencer_->failNextSends(2, -EAGAIN);
    output->shortMessage(0x90, 60, 100);
    // A pool that stays full loses that one event, nothing more.
    sequencer_->failNextSends(1000, -EAGAIN);
    output->shortMessage(0x90, 61, 100);
    sequencer_->failNextSends(0, 0);
    sequencer_->failNextSends(1, -EINVAL);
    output->shortMessage(0x90, 62, 100);
    output->shortMessage(0x90, 63, 100);
    EXPECT_TRUE(output->alive());
    EXPECT_EQ(sequencer_->received(24, 0), (std::vector<Bytes>{{0x90, 60, 100}, {0x90, 63, 100}}));
    // Each error that means the device is gone ends it.
    for (int error : {-ENOENT, -ENXIO, -EPIPE, -ENODEV}) {
        auto o = backend_->openOutput(synthBox_);
        ASSERT_NE(o, nullptr);
        sequencer_->failNextSends(1, error);
        o->shortMessage(0xB0, 7, 100);
        EXPECT_FALSE(o->alive()) << error;
    }
}

} // namespace
} // namespace qorn::platform
