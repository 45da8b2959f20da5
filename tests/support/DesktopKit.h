#pragma once

// The desktop around ZELMO, made by the test: a session bus of its own, a notification
// service, a global-shortcuts portal and the colour scheme on it, and a virtual X display.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <QVariantMap>

#include <sys/prctl.h>

#include <csignal>

namespace DesktopKit {

// A dbus-daemon of the test's own: nothing reaches the desktop of whoever runs the tests.
struct PrivateBus
{
    QProcess daemon;
    QString address;

    bool start()
    {
        // Dies with the test, even one that aborts: otherwise it would live on, holding what
        // the test inherited (the suite's lock among it).
        daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!daemon.waitForStarted(5000))
            return false;
        if (!QTest::qWaitFor([this] { return daemon.canReadLine(); }, 10000))
            return false;
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    // Connection names are per process: the bus's address keeps them apart from those of
    // an earlier bus.
    QDBusConnection connect(const QString &name) const
    {
        return QDBusConnection::connectToBus(address, name + QLatin1Char('@') + address);
    }
    ~PrivateBus()
    {
        daemon.kill();
        daemon.waitForFinished(3000);
    }
};

// A notification service that keeps what it was asked to show and lets the test click.
class FakeNotifications : public QDBusVirtualObject
{
public:
    struct Shown
    {
        uint id = 0;
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
        bool open = true;
    };

    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");

    explicit FakeNotifications(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
    }
    bool registerOnBus()
    {
        return m_bus.registerVirtualObject(Path, this) && m_bus.registerService(Service);
    }
    void unregister()
    {
        m_bus.unregisterService(Service);
        m_bus.unregisterObject(Path);
    }

    QList<Shown> shown;
    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};
    // A slow service: Notify's answers wait until released.
    bool holdReplies = false;
    QList<QDBusMessage> heldReplies;

    void releaseReplies()
    {
        for (const QDBusMessage &reply : std::as_const(heldReplies))
            m_bus.send(reply);
        heldReplies.clear();
    }

    // The user picks an action (or clicks the notification: "default").
    void invoke(uint id, const QString &action)
    {
        QDBusMessage signal = QDBusMessage::createSignal(Path, Service, QStringLiteral("ActionInvoked"));
        signal << id << action;
        m_bus.send(signal);
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QList<QVariant> a = message.arguments();
        QDBusMessage reply;
        if (message.member() == QLatin1String("Notify") && a.size() == 8) {
            Shown s;
            s.appName = a[0].toString();
            const uint replaces = a[1].toUInt();
            s.summary = a[3].toString();
            s.body = a[4].toString();
            s.actions = a[5].toStringList();
            s.hints = qdbus_cast<QVariantMap>(a[6].value<QDBusArgument>());
            s.timeout = a[7].toInt();
            s.id = replaces ? replaces : ++m_next;
            bool replaced = false;
            for (Shown &old : shown) {
                if (old.id == s.id && old.open) {
                    old = s;
                    replaced = true;
                }
            }
            if (!replaced)
                shown << s;
            reply = message.createReply(QVariant(s.id));
            if (holdReplies) {
                heldReplies << reply;
                return true;
            }
        } else if (message.member() == QLatin1String("CloseNotification") && a.size() == 1) {
            const uint id = a[0].toUInt();
            for (Shown &s : shown) {
                if (s.id == id && s.open) {
                    s.open = false;
                    QDBusMessage closed = QDBusMessage::createSignal(Path, Service, QStringLiteral("NotificationClosed"));
                    closed << id << uint(3);
                    m_bus.send(closed);
                }
            }
            reply = message.createReply();
        } else if (message.member() == QLatin1String("GetCapabilities")) {
            reply = message.createReply(QVariant(capabilities));
        } else if (message.member() == QLatin1String("GetServerInformation")) {
            reply = message.createReply(
                {QStringLiteral("fake"), QStringLiteral("test"), QStringLiteral("1"), QStringLiteral("1.2")});
        } else {
            return false;
        }
        connection.send(reply);
        return true;
    }

private:
    QDBusConnection m_bus;
    uint m_next = 0;
};

// The desktop portal's global shortcuts, as a compositor's portal answers them: a session,
// the talk shortcut bound (or refused), and the key's press and release as signals.
class FakePortal : public QDBusVirtualObject
{
public:
    using Shortcuts = QList<QPair<QString, QVariantMap>>;
    static inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString Interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    explicit FakePortal(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
        qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
        qDBusRegisterMetaType<Shortcuts>();
    }
    bool registerOnBus()
    {
        return m_bus.registerVirtualObject(Path, this, QDBusConnection::SubPath) && m_bus.registerService(Service);
    }

    // 0 binds, 1 is the user saying no in the desktop's dialog, 2 anything else.
    uint bindAnswer = 0;
    QStringList sessions;
    QStringList closedSessions;
    QStringList preferredTriggers;

    // The key goes down or up; session is the index of the session it is for (the
    // latest by default).
    void press(bool down, int session = -1)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(Path, Interface, down ? QStringLiteral("Activated") : QStringLiteral("Deactivated"));
        signal << QVariant::fromValue(QDBusObjectPath(sessions.value(session < 0 ? sessions.size() - 1 : session))) << QStringLiteral("talk")
               << quint64(1000) << QVariantMap();
        m_bus.send(signal);
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QList<QVariant> a = message.arguments();
        const QString member = message.member();
        if (member == QLatin1String("Get") && a.value(0).toString() == Interface) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            return true;
        }
        if (member == QLatin1String("Close") && message.path().startsWith(Path + QStringLiteral("/session/"))) {
            closedSessions << message.path();
            connection.send(message.createReply());
            return true;
        }
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        if (member == QLatin1String("CreateSession") && a.size() == 1) {
            const QVariantMap options = qdbus_cast<QVariantMap>(a[0].value<QDBusArgument>());
            const QString request = requestPath(sender, options);
            const QString session = Path + QStringLiteral("/session/") + sender + QLatin1Char('/')
                                    + options.value(QStringLiteral("session_handle_token")).toString();
            sessions << session;
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            respond(request, 0, {{QStringLiteral("session_handle"), session}});
            return true;
        }
        if (member == QLatin1String("BindShortcuts") && a.size() == 4) {
            const Shortcuts asked = qdbus_cast<Shortcuts>(a[1].value<QDBusArgument>());
            const QVariantMap options = qdbus_cast<QVariantMap>(a[3].value<QDBusArgument>());
            const QString request = requestPath(sender, options);
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            QVariantMap results;
            if (!asked.isEmpty()) {
                preferredTriggers << asked[0].second.value(QStringLiteral("preferred_trigger")).toString();
                QVariantMap properties = asked[0].second;
                properties.insert(QStringLiteral("trigger_description"), QStringLiteral("Press F9"));
                results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(Shortcuts{{asked[0].first, properties}}));
            }
            respond(request, bindAnswer, bindAnswer == 0 ? results : QVariantMap());
            return true;
        }
        return false;
    }

private:
    static QString requestPath(const QString &sender, const QVariantMap &options)
    {
        return Path + QStringLiteral("/request/") + sender + QLatin1Char('/')
               + options.value(QStringLiteral("handle_token")).toString();
    }
    void respond(const QString &request, uint code, const QVariantMap &results)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << code << results;
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
};

// The desktop portal's settings as far as the colour scheme goes: 0 no preference, 1 dark,
// 2 light; a change is signalled as a desktop does.
class FakeAppearance : public QDBusVirtualObject
{
public:
    static inline const QString Interface = QStringLiteral("org.freedesktop.portal.Settings");

    explicit FakeAppearance(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
    }
    bool registerOnBus()
    {
        return m_bus.registerVirtualObject(FakePortal::Path, this) && m_bus.registerService(FakePortal::Service);
    }
    void setScheme(uint value)
    {
        scheme = value;
        QDBusMessage signal = QDBusMessage::createSignal(FakePortal::Path, Interface, QStringLiteral("SettingChanged"));
        signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(value));
        m_bus.send(signal);
    }

    uint scheme = 0;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QList<QVariant> a = message.arguments();
        if (message.interface() != Interface || a.size() != 2 || a[0].toString() != QLatin1String("org.freedesktop.appearance")
            || a[1].toString() != QLatin1String("color-scheme"))
            return false;
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(scheme))));
        return true;
    }

private:
    QDBusConnection m_bus;
};

// A virtual X display of the test's own, started with Xvfb.
struct VirtualDisplay
{
    QProcess server;
    QString name;

    // The screen as Xvfb takes it: width x height x depth.
    bool start(const QString &screen = QStringLiteral("640x480x24"))
    {
        // Dies with the test, as the bus does.
        server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                             QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"), screen});
        if (!server.waitForStarted(5000))
            return false;
        if (!QTest::qWaitFor([this] { return server.canReadLine(); }, 15000))
            return false;
        const QString number = QString::fromUtf8(server.readLine()).trimmed();
        name = number.isEmpty() ? QString() : QStringLiteral(":") + number;
        return !name.isEmpty();
    }
    ~VirtualDisplay()
    {
        server.terminate();
        if (!server.waitForFinished(3000))
            server.kill();
    }
};

} // namespace DesktopKit
