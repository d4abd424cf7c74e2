// Desktop media controls: the window offered on the session bus as an MPRIS
// player. Play, Pause, PlayPause and Stop press the Play/Stop button; the
// status and the file's names are read from the window whenever it reports
// a change, and changes are announced. Without a session bus nothing is
// offered.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class TFormQorn;

namespace qorn::app {

class MprisService : public QObject {
    Q_OBJECT
  public:
    // GUI thread; `form` outlives the service.
    explicit MprisService(TFormQorn& form);
    ~MprisService() override;

    // False when there is no session bus or the name is taken.
    bool Register();

    TFormQorn& Form() const { return form_; }
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    // Presses Play/Stop when the window is `playing` (or either way when
    // unset) and the button can be pressed.
    void Press(std::optional<bool> whenPlaying);

  private:
    void Poll();

    TFormQorn& form_;
    QString lastStatus_;
    QVariantMap lastMetadata_;
    bool registered_ = false;
};

class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
  public:
    explicit MprisRoot(MprisService* service);
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Qor_n"); }
    QString DesktopEntry() const { return QStringLiteral(QORN_APP_ID); }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const;
  public slots:
    void Raise();
    void Quit();

  private:
    MprisService* service_;
};

class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Rate READ Rate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(double Volume READ Volume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ No)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPlay)
    Q_PROPERTY(bool CanSeek READ No)
    Q_PROPERTY(bool CanControl READ Yes)
  public:
    explicit MprisPlayer(MprisService* service);
    QString PlaybackStatus() const { return service_->PlaybackStatus(); }
    QVariantMap Metadata() const { return service_->Metadata(); }
    double Rate() const { return 1.0; }
    double Volume() const { return 1.0; }
    qlonglong Position() const { return 0; }
    bool No() const { return false; }
    bool Yes() const { return true; }
    bool CanPlay() const;
  public slots:
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next() {}
    void Previous() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString& uri);

  signals:
    void Seeked(qlonglong position);

  private:
    MprisService* service_;
};

} // namespace qorn::app
