#include "app/MprisService.h"

#include "ui/TFormQorn.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace qorn::app {

namespace {

const QString ServiceName = QStringLiteral("org.mpris.MediaPlayer2.qorn");
const QString ObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");

bool Playing(const TFormQorn& form) {
    // The window is playing while its end check runs.
    return form.TimCheck->isActive();
}

} // namespace

MprisService::MprisService(TFormQorn& form) : form_(form) {}

MprisService::~MprisService() {
    if (!registered_) return;
    form_.StateChanged = nullptr;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(ObjectPath);
    bus.unregisterService(ServiceName);
}

bool MprisService::Register() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusAbstractAdaptor* adaptors[] = {new MprisRoot(this), new MprisPlayer(this)};
    if (!bus.registerObject(ObjectPath, this)) return false;
    // `dbus-send` without --print-reply, as scripts and key bindings use it,
    // sends the call as a signal addressed to the player: every method
    // answers that too.
    for (QDBusAbstractAdaptor* adaptor : adaptors) {
        const QMetaObject* meta = adaptor->metaObject();
        const QString interface =
            QString::fromLatin1(meta->classInfo(meta->indexOfClassInfo("D-Bus Interface")).value());
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Public) continue;
            // The slot as SLOT() spells it.
            const QByteArray slot = QByteArray::number(QSLOT_CODE) + method.methodSignature();
            bus.connect(QString(), ObjectPath, interface, QString::fromLatin1(method.name()), adaptor,
                        slot.constData());
        }
    }
    if (!bus.registerService(ServiceName)) {
        bus.unregisterObject(ObjectPath);
        return false;
    }
    registered_ = true;
    lastStatus_ = PlaybackStatus();
    lastMetadata_ = Metadata();
    form_.StateChanged = [this] { Poll(); };
    return true;
}

QString MprisService::PlaybackStatus() const {
    return Playing(form_) ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap MprisService::Metadata() const {
    QVariantMap map;
    TFormQorn& form = form_;
    const std::string& path = form.LastFileName();
    if (path.empty()) {
        map.insert(QStringLiteral("mpris:trackid"),
                   QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack")));
        return map;
    }
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    const QString base = QFileInfo(file).fileName();
    // For a Standard MIDI File the first line of the information is its
    // title text (else the base name); a segment has only its name.
    const QString first = QString::fromStdString(form.InfoText1());
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath("/org/qorn/track/current")));
    map.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(file).toString());
    map.insert(QStringLiteral("xesam:title"), first.isEmpty() ? base : first);
    map.insert(QStringLiteral("qorn:fileName"), base);
    return map;
}

void MprisService::Press(std::optional<bool> whenPlaying) {
    if (!form_.ComPlay->isEnabled()) return;
    if (whenPlaying && *whenPlaying != Playing(form_)) return;
    form_.ComPlay->click();
    Poll();
}

void MprisService::Poll() {
    QVariantMap changed;
    const QString status = PlaybackStatus();
    if (status != lastStatus_) changed.insert(QStringLiteral("PlaybackStatus"), lastStatus_ = status);
    const QVariantMap metadata = Metadata();
    if (metadata != lastMetadata_) changed.insert(QStringLiteral("Metadata"), lastMetadata_ = metadata);
    if (changed.isEmpty() || !registered_) return;
    QDBusMessage signal = QDBusMessage::createSignal(ObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

MprisRoot::MprisRoot(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

QStringList MprisRoot::SupportedMimeTypes() const {
    return {QStringLiteral("audio/midi"), QStringLiteral("audio/x-directmusic-segment")};
}

void MprisRoot::Raise() {
    TFormQorn& form = service_->Form();
    form.showNormal();
    form.raise();
    form.activateWindow();
}

void MprisRoot::Quit() {
    service_->Form().close();
}

MprisPlayer::MprisPlayer(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

bool MprisPlayer::CanPlay() const {
    return service_->Form().ComPlay->isEnabled();
}

void MprisPlayer::Play() {
    service_->Press(false);
}

void MprisPlayer::Pause() {
    // A piece cannot be held where it is: pausing stops, as the button does.
    service_->Press(true);
}

void MprisPlayer::PlayPause() {
    service_->Press(std::nullopt);
}

void MprisPlayer::Stop() {
    service_->Press(true);
}

void MprisPlayer::OpenUri(const QString& uri) {
    const QUrl url(uri);
    if (!url.isLocalFile()) return;
    service_->Form().OpenDroppedFile(QFile::encodeName(url.toLocalFile()).toStdString());
}

} // namespace qorn::app
