#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QVariant>

class PortalRequest;
class QDBusMessage;
class QDBusPendingCallWatcher;

// The desktop's screen-cast portal: the desktop shows its own picker and its own "you are
// sharing" sign, and hands over a PipeWire connection and the stream of what the user
// chose. Requests go one after the other (CreateSession, SelectSources, Start,
// OpenPipeWireRemote), each answered by a Response signal on the request's own path.
class PortalScreenCast : public QObject
{
    Q_OBJECT

public:
    static inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString Interface = QStringLiteral("org.freedesktop.portal.ScreenCast");

    explicit PortalScreenCast(QDBusConnection bus, QObject *parent = nullptr);
    ~PortalScreenCast() override;

    // Whether the bus has a portal that casts screens; probed once at construction and
    // announced with availabilityKnown.
    bool isAvailable() const { return m_available; }
    bool isProbed() const { return m_probed; }
    // Asks the desktop for a screen or window; started or refused follows.
    void begin();
    // Ends the session (or the request under way); nothing follows.
    void close();
    bool isBusy() const { return m_step != Step::None || !m_session.isEmpty(); }

signals:
    void availabilityKnown(bool available);
    // The user chose: the PipeWire connection and the node of the stream to read.
    void started(const QDBusUnixFileDescriptor &pipeWire, quint32 node, QSize size);
    // Nothing will be shared: the user said no, or the desktop could not.
    void refused(const QString &why);
    // The desktop ended the session (its own "stop sharing", or it went away).
    void closed();

private:
    enum class Step { None, Creating, Selecting, Starting, Opening };

    void probed(QDBusPendingCallWatcher *watcher);
    void request(Step step, const QString &method, const QList<QVariant> &arguments, const QVariantMap &options,
                 const QString &token);
    void answered(uint code, const QVariantMap &results);
    void dropRequest();
    void openRemote();
    void finish(const QString &why);
    QString nextToken();
    void closeSession(const QString &session);

private slots:
    void onSessionClosed(const QDBusMessage &message);

private:
    QDBusConnection m_bus;
    bool m_available = false;
    bool m_probed = false;
    Step m_step = Step::None;
    // The request whose answer is awaited (m_step says what for).
    QPointer<PortalRequest> m_request;
    QString m_session;
    quint32 m_node = 0;
    QSize m_size;
    int m_tokens = 0;
};
