#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

class QDBusMessage;
class QDBusPendingCallWatcher;

// One call of a desktop portal method that answers later, through the Response signal of a
// request object named by the call's handle_token. The Response may come before the call's
// own reply, so it is listened for on the path the token gives first; an older portal names
// another path in its reply, which is then followed. The request goes by itself once it has
// answered or failed; deleting it earlier forgets it.
class PortalRequest : public QObject
{
    Q_OBJECT

public:
    static inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");

    // Calls `method` of the portal's `interface` with `arguments` followed by `options`,
    // which the token is added to as handle_token.
    PortalRequest(QDBusConnection bus, const QString &interface, const QString &method, QList<QVariant> arguments,
                  QVariantMap options, const QString &token, QObject *parent);
    ~PortalRequest() override;

    // Gives the request up: nothing more is signalled, and a session its answer opens is
    // closed at once, so that nothing is left open at the desktop.
    void abandon();

    // Asks the portal to close a session; nothing is awaited.
    static void closeSession(QDBusConnection &bus, const QString &session);
    // Object paths come as either strings or object paths, depending on the portal.
    static QString pathOf(const QVariant &value);
    // A dictionary of a message, however the bus handed it over.
    static QVariantMap mapOf(const QVariant &value);

signals:
    // The portal's answer: 0 done, 1 the user said no, 2 anything else.
    void answered(uint code, const QVariantMap &results);
    // The call itself failed: no answer comes.
    void failed(const QString &error);

private slots:
    void onResponse(const QDBusMessage &message);

private:
    void replied(QDBusPendingCallWatcher *watcher);
    void listen(const QString &path);
    void forget(const QString &path);
    void finish();

    QDBusConnection m_bus;
    QString m_path;
    bool m_abandoned = false;
    bool m_finished = false;
};
