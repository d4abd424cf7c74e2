// The player as the desktop starts it: `qorn FILE` from the file manager, a
// second copy handing its file to the running one, and the media controls
// on the session bus (this program runs on a private one).
#include "tests/support/DlsWriter.h"
#include "tests/support/MidiFileWriter.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;

const QString Service = QStringLiteral("org.mpris.MediaPlayer2.qorn");
const QString Path = QStringLiteral("/org/mpris/MediaPlayer2");
const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A MIDI file of half a minute whose first track is named `title`.
std::vector<std::uint8_t> NamedPiece(const std::string& title) {
    qorn::test::TestPiece piece;
    piece.notes = {{0, 480, 60}, {480, 480, 64}};
    piece.endTick = 30 * 960;
    std::vector<std::uint8_t> bytes = qorn::test::BuildMidiFile(piece);
    // Insert a sequence-name event at the start of the track: MThd is 14
    // bytes, then "MTrk" and the 4-byte length.
    std::vector<std::uint8_t> name = {0x00, 0xFF, 0x03, static_cast<std::uint8_t>(title.size())};
    name.insert(name.end(), title.begin(), title.end());
    bytes.insert(bytes.begin() + 22, name.begin(), name.end());
    std::uint32_t length =
        (std::uint32_t(bytes[18]) << 24 | std::uint32_t(bytes[19]) << 16 | std::uint32_t(bytes[20]) << 8 | bytes[21]) +
        std::uint32_t(name.size());
    for (int i = 0; i < 4; ++i)
        bytes[std::size_t(18 + i)] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    return bytes;
}

class DesktopEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "no session bus";
        ASSERT_TRUE(dir.isValid());
        env = QProcessEnvironment::systemEnvironment();
        // A lock, socket and display of the test's own; no sound device.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QORN_AUDIO_DRIVER"), QStringLiteral("silent"));
        file = dir.path() + QStringLiteral("/tune.mid");
        const auto bytes = NamedPiece("Morning Tune");
        std::ofstream(file.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void TearDown() override {
        if (first.state() != QProcess::NotRunning) {
            first.terminate();
            if (!first.waitForFinished(20000)) first.kill();
        }
    }
    void StartFirst(const QStringList& args) {
        first.setProcessEnvironment(env);
        first.start(QStringLiteral(QORN_EXECUTABLE), args);
        ASSERT_TRUE(first.waitForStarted(20000));
        ASSERT_TRUE(WaitFor([] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(Service).value();
        })) << "the player never appeared on the bus";
    }
    static QVariant Property(const QString& name) {
        QDBusInterface props(Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"));
        const QDBusReply<QDBusVariant> reply = props.call(QStringLiteral("Get"), PlayerInterface, name);
        return reply.isValid() ? reply.value().variant() : QVariant();
    }
    static QString Status() { return Property(QStringLiteral("PlaybackStatus")).toString(); }
    static QVariantMap Metadata() {
        return qdbus_cast<QVariantMap>(Property(QStringLiteral("Metadata")).value<QDBusArgument>());
    }
    static void Call(const QString& method) {
        QDBusInterface player(Service, Path, PlayerInterface);
        player.call(method);
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
    QString file;
    QProcess first;
};

TEST_F(DesktopEntryTest, ASecondCopyWithAFileMakesTheFirstPlayItAndEnds) {
    StartFirst({});
    EXPECT_EQ(Status(), QStringLiteral("Stopped"));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(QORN_EXECUTABLE), {file});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 255);
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());

    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); })) << "the first copy did not play it";
    EXPECT_TRUE(Metadata().value(QStringLiteral("xesam:url")).toString().endsWith(QStringLiteral("/tune.mid")));
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(DesktopEntryTest, MediaControlsStartAndStopTheFileNamedOnTheCommandLine) {
    StartFirst({file});
    ASSERT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); })) << "qorn FILE did not play it";
    const QVariantMap metadata = Metadata();
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Morning Tune"));
    EXPECT_TRUE(metadata.value(QStringLiteral("xesam:url")).toString().endsWith(QStringLiteral("/tune.mid")));
    EXPECT_EQ(metadata.value(QStringLiteral("qorn:fileName")).toString(), QStringLiteral("tune.mid"));

    Call(QStringLiteral("PlayPause"));
    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Stopped"); }));
    Call(QStringLiteral("PlayPause"));
    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); }));
    Call(QStringLiteral("Stop"));
    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Stopped"); }));
    Call(QStringLiteral("Play"));
    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); }));
}

// `qorn --soundfont gm.dls FILE`: the player starts with a DLS collection
// as its General MIDI set and plays FILE; a second copy given the option
// still hands its file over, and says the option stays with the copy it
// would have started.
TEST_F(DesktopEntryTest, AGeneralMidiSetOnTheCommandLineAndASecondCopy) {
    const QString set = dir.path() + QStringLiteral("/gm.dls");
    const auto bytes = qorn::testdls::BuildDls(qorn::testdls::TestCollection());
    std::ofstream(set.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    StartFirst({QStringLiteral("--soundfont"), set, file});
    ASSERT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); })) << "it did not play with the set";
    Call(QStringLiteral("Stop"));
    ASSERT_TRUE(WaitFor([] { return Status() == QStringLiteral("Stopped"); }));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(QORN_EXECUTABLE), {QStringLiteral("--soundfont=") + set, file});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 255);
    EXPECT_TRUE(second.readAllStandardError().contains("--soundfont applies only to a copy it starts"));
    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); })) << "the first copy did not play it";
}

TEST_F(DesktopEntryTest, MediaControlsActWhenNoReplyIsAskedFor) {
    StartFirst({file});
    ASSERT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); })) << "qorn FILE did not play it";
    QDBusConnection bus = QDBusConnection::sessionBus();
    // What `dbus-send` sends without --print-reply: the call as a signal
    // addressed to the player.
    bus.send(QDBusMessage::createTargetedSignal(Service, Path, PlayerInterface, QStringLiteral("Stop")));
    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Stopped"); }));
    // A method call marked "no reply expected".
    bus.send(QDBusMessage::createMethodCall(Service, Path, PlayerInterface, QStringLiteral("Play")));
    EXPECT_TRUE(WaitFor([] { return Status() == QStringLiteral("Playing"); }));
}

} // namespace
