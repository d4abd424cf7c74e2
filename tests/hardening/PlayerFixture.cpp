#include "PlayerFixture.h"

#include "engine/TDMusicEngine.h"
#include "platform/DirectMusic.h"
#include "platform/MusicPlatform.h"
#include "platform/synth/SynthConfig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace qorn::hardening {
namespace {

void PutU32BE(Bytes& b, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<std::uint8_t>(v >> s));
}

void PutText(Bytes& track, std::uint8_t type, const std::string& text) {
    track.insert(track.end(), {0x00, 0xFF, type, static_cast<std::uint8_t>(text.size())});
    track.insert(track.end(), text.begin(), text.end());
}

// An ALSA layer with no sequencer behind it: lists nothing, opens nothing.
class NoSequencer final : public platform::AlsaBackend {
  public:
    std::vector<platform::AlsaPortInfo> listPorts() override { return {}; }
    std::unique_ptr<platform::AlsaOutput> openOutput(const platform::GUID&) override { return nullptr; }
};

} // namespace

Bytes SmallMidi(int tenths) {
    // 96 ticks per quarter at 120 bpm: 19.2 ticks per tenth of a second.
    const std::uint32_t ticks = static_cast<std::uint32_t>(tenths) * 96 / 5;
    Bytes track;
    PutText(track, 0x03, "Hardening");
    PutText(track, 0x02, "(c) tests");
    track.insert(track.end(), {0x00, 0x90, 0x3C, 0x64});
    track.push_back(static_cast<std::uint8_t>(0x80 | ((ticks >> 7) & 0x7F)));
    track.push_back(static_cast<std::uint8_t>(ticks & 0x7F));
    track.insert(track.end(), {0x80, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00});
    Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
    PutU32BE(file, static_cast<std::uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

void PlayerFixture::SetUp() {
    ASSERT_TRUE(dir.isValid());
    if (!std::filesystem::exists(platform::SoundFontPath())) GTEST_SKIP() << "no SoundFont installed";
}

void PlayerFixture::TearDown() {
    ClosePlayer();
    platform::SetAlsaBackendFactory({});
    unsetenv("QORN_AUDIO_DRIVER");
}

void PlayerFixture::StartPlayer() {
    setenv("QORN_AUDIO_DRIVER", audioDriver.c_str(), 1);
    sequencer = std::make_shared<platform::FakeAlsaSequencer>(alsaPorts);
    if (haveSequencer) {
        platform::SetAlsaBackendFactory([seq = sequencer] { return platform::MakeFakeAlsaBackend(seq); });
    } else {
        platform::SetAlsaBackendFactory([] { return std::make_shared<NoSequencer>(); });
    }
    platform::RegisterMusicPlatform();
    DMEngine = TDMusicEngine{};
    form = TFormQorn::Create();
    form->OpenDialogRunner = [](QFileDialog&) { return false; };
}

void PlayerFixture::ClosePlayer() {
    form.reset();
}

std::string PlayerFixture::Folder() const {
    return dir.path().toStdString();
}

std::string PlayerFixture::Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = Folder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

void PlayerFixture::Open(const std::string& path, const std::function<void()>& between) {
    form->OpenDialogRunner = [path, between](QFileDialog& dialog) {
        dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(path)));
        if (between) between();
        return true;
    };
    form->ComOpenClick();
    form->OpenDialogRunner = [](QFileDialog&) { return false; };
}

void PlayerFixture::Drop(const std::string& path) {
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n");
    form->WMDropFiles(data);
}

std::string PlayerFixture::Caption() const {
    return form->windowTitle().toStdString();
}
std::string PlayerFixture::FileLabel() const {
    return form->LabelFN->text().toStdString();
}
std::string PlayerFixture::PlayButton() const {
    return form->ComPlay->text().toStdString();
}
bool PlayerFixture::CanOpen() const {
    return form->ComOpen->isEnabled();
}
bool PlayerFixture::CanPlay() const {
    return form->ComPlay->isEnabled();
}
bool PlayerFixture::Playing() const {
    return PlayButton() == "Stop";
}

void PlayerFixture::ExpectIdleAndUsable() const {
    EXPECT_TRUE(CanOpen());
    EXPECT_EQ(PlayButton(), "Play");
    EXPECT_TRUE(form->CoBInst->isEnabled());
    EXPECT_TRUE(form->ChBEffect->isEnabled());
}

void PlayerFixture::RunEvents(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace qorn::hardening
