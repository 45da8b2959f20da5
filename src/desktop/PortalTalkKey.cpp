#include "desktop/PortalTalkKey.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// The portal's list of shortcuts: a(sa{sv}), an identifier and its properties each.
using Shortcuts = QList<QPair<QString, QVariantMap>>;

// Object paths come as either strings or object paths, depending on the portal.
QString pathOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QVariantMap mapOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

Shortcuts shortcutsOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<Shortcuts>(value.value<QDBusArgument>());
    return value.value<Shortcuts>();
}

} // namespace

PortalTalkKey::PortalTalkKey(QDBusConnection bus, QObject *parent)
    : TalkKeyBackend(State::Checking, parent)
    , m_bus(std::move(bus))
{
    // The list's elements need their own signature too.
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<Shortcuts>();
    if (!m_bus.isConnected()) {
        setState(State::Unavailable);
        return;
    }
    m_bus.connect(Service, Path, Interface, QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("Deactivated"), this, SLOT(onDeactivated(QDBusMessage)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(onShortcutsChanged(QDBusMessage)));

    // Whether the desktop's portal has global shortcuts at all: it has a version then.
    QDBusMessage get = QDBusMessage::createMethodCall(Service, Path, PropertiesInterface, QStringLiteral("Get"));
    get << Interface << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &PortalTalkKey::probed);
}

PortalTalkKey::~PortalTalkKey()
{
    if (!m_session.isEmpty())
        closeSession(m_session);
}

void PortalTalkKey::probed(QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    if (watcher->isError()) {
        setState(State::Unavailable, watcher->error().message());
        return;
    }
    setState(State::Idle);
    if (m_wanted)
        bind(m_wanted);
}

void PortalTalkKey::bind(const HotKey *key)
{
    m_wanted = key;
    if (state() == State::Checking || state() == State::Unavailable)
        return;
    setHeld(false);
    if (!m_request.isEmpty()) {
        m_abandoned.insert(m_request);
        m_request.clear();
        m_step = Step::None;
    }
    if (!m_session.isEmpty()) {
        closeSession(m_session);
        m_session.clear();
    }
    if (!key) {
        setState(State::Idle);
        return;
    }
    setState(State::Pending);
    createSession();
}

void PortalTalkKey::createSession()
{
    const QString token = nextToken();
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("zelmo_session_%1").arg(m_tokens));
    request(Step::Creating, QStringLiteral("CreateSession"), {options}, token);
}

void PortalTalkKey::bindShortcut()
{
    const QString token = nextToken();
    QVariantMap properties;
    properties.insert(QStringLiteral("description"), tr("Push to talk in ZELMO"));
    properties.insert(QStringLiteral("preferred_trigger"), m_wanted->name);
    const Shortcuts shortcuts{{ShortcutId, properties}};
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    request(Step::Binding, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(), options},
            token);
}

void PortalTalkKey::request(Step step, const QString &method, const QList<QVariant> &arguments, const QString &token)
{
    // The Response may come before the call's reply: listen on the path it will have first.
    const QString expected = requestPath(token);
    listenToRequest(expected);
    m_request = expected;
    m_step = step;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, expected] {
        watcher->deleteLater();
        if (m_request != expected)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            forgetRequest(expected);
            m_request.clear();
            m_step = Step::None;
            setState(State::Refused, tr("The desktop's shortcut service failed: %1").arg(reply.error().message()));
            return;
        }
        // An older portal names the request itself.
        const QString path = reply.value().path();
        if (path != expected) {
            forgetRequest(expected);
            listenToRequest(path);
            m_request = path;
        }
    });
}

void PortalTalkKey::listenToRequest(const QString &path)
{
    m_bus.connect(Service, path, RequestInterface, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
}

void PortalTalkKey::forgetRequest(const QString &path)
{
    m_bus.disconnect(Service, path, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(QDBusMessage)));
}

void PortalTalkKey::onResponse(const QDBusMessage &message)
{
    const QString path = message.path();
    forgetRequest(path);
    const QList<QVariant> args = message.arguments();
    const uint code = args.value(0).toUInt();
    const QVariantMap results = mapOf(args.value(1));
    if (m_abandoned.remove(path)) {
        const QString session = pathOf(results.value(QStringLiteral("session_handle")));
        if (!session.isEmpty())
            closeSession(session);
        return;
    }
    if (path != m_request)
        return;
    const Step step = m_step;
    m_request.clear();
    m_step = Step::None;

    if (step == Step::Creating) {
        m_session = pathOf(results.value(QStringLiteral("session_handle")));
        if (code != 0 || m_session.isEmpty()) {
            m_session.clear();
            setState(State::Refused, tr("The desktop did not open a shortcut session."));
            return;
        }
        m_bus.connect(Service, m_session, SessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed(QDBusMessage)));
        bindShortcut();
        return;
    }
    if (step != Step::Binding)
        return;
    if (code == 1) {
        setState(State::Refused, tr("The talk key was turned down in the desktop's dialog."));
        return;
    }
    if (code != 0) {
        setState(State::Refused, tr("The desktop refused the talk key."));
        return;
    }
    const Shortcuts bound = shortcutsOf(results.value(QStringLiteral("shortcuts")));
    for (const auto &shortcut : bound) {
        if (shortcut.first == ShortcutId) {
            const QString trigger = shortcut.second.value(QStringLiteral("trigger_description")).toString();
            setState(State::Bound, trigger.isEmpty() ? m_wanted->shownLabel() : trigger);
            return;
        }
    }
    setState(State::Refused, tr("The desktop did not bind the talk key."));
}

bool PortalTalkKey::isOurs(const QDBusMessage &message) const
{
    const QList<QVariant> args = message.arguments();
    return state() == State::Bound && !m_session.isEmpty() && pathOf(args.value(0)) == m_session
           && args.value(1).toString() == ShortcutId;
}

void PortalTalkKey::onActivated(const QDBusMessage &message)
{
    if (isOurs(message))
        setHeld(true);
}

void PortalTalkKey::onDeactivated(const QDBusMessage &message)
{
    if (isOurs(message))
        setHeld(false);
}

void PortalTalkKey::onShortcutsChanged(const QDBusMessage &message)
{
    const QList<QVariant> args = message.arguments();
    if (state() != State::Bound || pathOf(args.value(0)) != m_session)
        return;
    // The user gave the shortcut another key in the desktop's settings.
    for (const auto &shortcut : shortcutsOf(args.value(1))) {
        if (shortcut.first == ShortcutId) {
            const QString trigger = shortcut.second.value(QStringLiteral("trigger_description")).toString();
            if (!trigger.isEmpty())
                setState(State::Bound, trigger);
        }
    }
}

void PortalTalkKey::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_session)
        return;
    m_session.clear();
    setHeld(false);
    setState(State::Refused, tr("The desktop ended the talk key's session."));
}

void PortalTalkKey::closeSession(const QString &session)
{
    m_bus.disconnect(Service, session, SessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_bus.asyncCall(QDBusMessage::createMethodCall(Service, session, SessionInterface, QStringLiteral("Close")));
}

QString PortalTalkKey::requestPath(const QString &token) const
{
    // /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being the unique name
    // without its ":" and with "_" for ".".
    QString sender = m_bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return Path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

QString PortalTalkKey::nextToken()
{
    return QStringLiteral("zelmo_%1").arg(++m_tokens);
}


