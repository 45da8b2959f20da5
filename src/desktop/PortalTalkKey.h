#pragma once

#include "desktop/TalkKeyBackend.h"

#include <QDBusConnection>
#include <QPointer>
#include <QString>

class PortalRequest;
class QDBusMessage;
class QDBusPendingCallWatcher;

// The talk key on a Wayland session: the desktop portal's global shortcuts. A session is
// opened with the portal, the talk shortcut is bound with the chosen key as its preferred
// trigger (the desktop may ask the user, change the key or refuse), and the portal's
// Activated and Deactivated signals are the key's press and release.
class PortalTalkKey : public TalkKeyBackend
{
    Q_OBJECT

public:
    static inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString Interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
    static inline const QString ShortcutId = QStringLiteral("talk");

    explicit PortalTalkKey(QDBusConnection bus, QObject *parent = nullptr);
    ~PortalTalkKey() override;

    void bind(const HotKey *key) override;

private slots:
    void onActivated(const QDBusMessage &message);
    void onDeactivated(const QDBusMessage &message);
    void onShortcutsChanged(const QDBusMessage &message);
    void onSessionClosed(const QDBusMessage &message);

private:
    enum class Step { None, Creating, Binding };

    void probed(QDBusPendingCallWatcher *watcher);
    void createSession();
    void bindShortcut();
    void closeSession(const QString &session);
    // Calls a portal method that answers through a request object's Response signal.
    void request(Step step, const QString &method, const QList<QVariant> &arguments, const QVariantMap &options,
                 const QString &token);
    void answered(uint code, const QVariantMap &results);
    QString nextToken();
    // Is this signal about our talk shortcut in our session?
    bool isOurs(const QDBusMessage &message) const;

    QDBusConnection m_bus;
    const HotKey *m_wanted = nullptr;
    QString m_session;
    // The request whose Response is awaited, and what it was for. One given up (another key
    // was chosen meanwhile) closes at once a session it still opens.
    QPointer<PortalRequest> m_request;
    Step m_step = Step::None;
    int m_tokens = 0;
};
