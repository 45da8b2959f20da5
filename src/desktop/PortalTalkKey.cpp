#include "desktop/PortalTalkKey.h"

#include "desktop/PortalRequest.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// The portal's list of shortcuts: a(sa{sv}), an identifier and its properties each.
using Shortcuts = QList<QPair<QString, QVariantMap>>;

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
    if (m_request) {
        m_request->abandon();
        m_request = nullptr;
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
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("zelmo_session_%1").arg(m_tokens));
    request(Step::Creating, QStringLiteral("CreateSession"), {}, options, token);
}

void PortalTalkKey::bindShortcut()
{
    QVariantMap properties;
    properties.insert(QStringLiteral("description"), tr("Push to talk in ZELMO"));
    properties.insert(QStringLiteral("preferred_trigger"), m_wanted->name);
    const Shortcuts shortcuts{{ShortcutId, properties}};
    request(Step::Binding, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()}, {},
            nextToken());
}

void PortalTalkKey::request(Step step, const QString &method, const QList<QVariant> &arguments,
                            const QVariantMap &options, const QString &token)
{
    m_step = step;
    m_request = new PortalRequest(m_bus, Interface, method, arguments, options, token, this);
    connect(m_request, &PortalRequest::answered, this, &PortalTalkKey::answered);
    connect(m_request, &PortalRequest::failed, this, [this](const QString &error) {
        m_request = nullptr;
        m_step = Step::None;
        setState(State::Refused, tr("The desktop's shortcut service failed: %1").arg(error));
    });
}

void PortalTalkKey::answered(uint code, const QVariantMap &results)
{
    const Step step = m_step;
    m_request = nullptr;
    m_step = Step::None;

    if (step == Step::Creating) {
        m_session = PortalRequest::pathOf(results.value(QStringLiteral("session_handle")));
        if (code != 0 || m_session.isEmpty()) {
            m_session.clear();
            setState(State::Refused, tr("The desktop did not open a shortcut session."));
            return;
        }
        m_bus.connect(Service, m_session, PortalRequest::SessionInterface, QStringLiteral("Closed"), this,
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
    return state() == State::Bound && !m_session.isEmpty() && PortalRequest::pathOf(args.value(0)) == m_session
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
    if (state() != State::Bound || PortalRequest::pathOf(args.value(0)) != m_session)
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
    m_bus.disconnect(Service, session, PortalRequest::SessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    PortalRequest::closeSession(m_bus, session);
}

QString PortalTalkKey::nextToken()
{
    return QStringLiteral("zelmo_%1").arg(++m_tokens);
}


