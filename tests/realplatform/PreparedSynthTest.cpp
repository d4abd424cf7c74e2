// The synthesizer made ahead on another thread, as the player starts: the
// port with its settings plays exactly as one made on the spot, and a port
// with other settings makes its own.
#include "app/render/OfflineSession.h"
#include "platform/synth/SynthPort.h"
#include "tests/support/MidiFileWriter.h"

#include <gtest/gtest.h>

#include <string>

namespace qorn::test {
namespace {

render::RenderedAudio Render(const std::string& path, int rate) {
    std::string error;
    auto session = render::OfflineSession::Create(rate, true, &error);
    EXPECT_NE(session, nullptr) << error;
    if (!session || !session->load(path, &error) || !session->play()) return {};
    return render::RenderToEnd(*session, 0.5);
}

TEST(PreparedSynthTest, PlaysAsOneMadeOnTheSpot) {
    TestPiece chord;
    chord.notes = {{0, 480, 60}, {0, 480, 64}, {0, 480, 67}};
    const std::string path = WriteTempFile("prepared.mid", BuildMidiFile(chord));
    const render::RenderedAudio fresh = Render(path, 22050);
    ASSERT_FALSE(fresh.left.empty());

    platform::SynthPort::Prepare(platform::SynthConfig{}); // the player's default port: 22050 Hz with effects
    const render::RenderedAudio prepared = Render(path, 22050);
    EXPECT_TRUE(platform::SynthPort::Prepared());
    EXPECT_EQ(prepared.left, fresh.left);
    EXPECT_EQ(prepared.right, fresh.right);

    platform::SynthPort::Prepare(platform::SynthConfig{});
    const render::RenderedAudio other = Render(path, 44100);
    EXPECT_NEAR(double(other.left.size()), 2.0 * double(fresh.left.size()), 0.05 * double(fresh.left.size()));
}

} // namespace
} // namespace qorn::test
