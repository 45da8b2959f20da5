#include "share/PortalScreenCast.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Source types: a monitor or a window; the cursor drawn into the picture.
constexpr uint MonitorSource = 1;
constexpr uint WindowSource = 2;
constexpr uint EmbeddedCursor = 2;

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

// The first stream of a(ua{sv}): its node and size.
bool firstStream(const QVariant &value, quint32 *node, QSize *size)
{
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return false;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(ua{sv})"))
        return false;
    bool found = false;
    argument.beginArray();
    while (!argument.atEnd()) {
        quint32 id = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> id >> properties;
        argument.endStructure();
        if (!found) {
            found = true;
            *node = id;
            const QVariant sizeValue = properties.value(QStringLiteral("size"));
            if (sizeValue.metaType() == QMetaType::fromType<QDBusArgument>()) {
                const QDBusArgument pair = sizeValue.value<QDBusArgument>();
                int w = 0;
                int h = 0;
                pair.beginStructure();
                pair >> w >> h;
                pair.endStructure();
                *size = QSize(w, h);
            }
        }
    }
    argument.endArray();
    return found;
}

} // namespace

PortalScreenCast::PortalScreenCast(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected()) {
        m_probed = true;
        return;
    }
    // A portal that casts screens has a version of the interface.
    QDBusMessage get = QDBusMessage::createMethodCall(Service, Path, PropertiesInterface, QStringLiteral("Get"));
    get << Interface << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &PortalScreenCast::probed);
}

PortalScreenCast::~PortalScreenCast()
{
    close();
}

void PortalScreenCast::probed(QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    m_probed = true;
    m_available = !watcher->isError();
    emit availabilityKnown(m_available);
}

void PortalScreenCast::begin()
{
    close();
    if (!m_available) {
        emit refused(tr("The desktop offers no screen sharing."));
        return;
    }
    const QString token = nextToken();
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("zelmo_share_%1").arg(m_tokens));
    request(Step::Creating, QStringLiteral("CreateSession"), {options}, token);
}

void PortalScreenCast::close()
{
    if (!m_request.isEmpty()) {
        forgetRequest(m_request);
        m_request.clear();
    }
    m_step = Step::None;
    if (!m_session.isEmpty()) {
        closeSession(m_session);
        m_session.clear();
    }
}

void PortalScreenCast::request(Step step, const QString &method, const QList<QVariant> &arguments, const QString &token)
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
            finish(tr("The desktop's screen sharing failed: %1").arg(reply.error().message()));
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

void PortalScreenCast::onResponse(const QDBusMessage &message)
{
    const QString path = message.path();
    forgetRequest(path);
    const QList<QVariant> args = message.arguments();
    const uint code = args.value(0).toUInt();
    const QVariantMap results = mapOf(args.value(1));
    if (path != m_request) {
        // A request given up on (the user stopped meanwhile): a session it made goes too.
        const QString session = pathOf(results.value(QStringLiteral("session_handle")));
        if (!session.isEmpty() && session != m_session)
            closeSession(session);
        return;
    }
    const Step step = m_step;
    m_request.clear();
    m_step = Step::None;
    if (code == 1) {
        finish(tr("Screen sharing was cancelled in the desktop's dialog."));
        return;
    }
    if (code != 0) {
        finish(tr("The desktop could not share the screen."));
        return;
    }
    switch (step) {
    case Step::Creating: {
        m_session = pathOf(results.value(QStringLiteral("session_handle")));
        if (m_session.isEmpty()) {
            finish(tr("The desktop could not share the screen."));
            return;
        }
        m_bus.connect(Service, m_session, SessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed(QDBusMessage)));
        const QString token = nextToken();
        QVariantMap options;
        options.insert(QStringLiteral("handle_token"), token);
        options.insert(QStringLiteral("types"), MonitorSource | WindowSource);
        options.insert(QStringLiteral("multiple"), false);
        options.insert(QStringLiteral("cursor_mode"), EmbeddedCursor);
        request(Step::Selecting, QStringLiteral("SelectSources"),
                {QVariant::fromValue(QDBusObjectPath(m_session)), options}, token);
        return;
    }
    case Step::Selecting: {
        const QString token = nextToken();
        QVariantMap options;
        options.insert(QStringLiteral("handle_token"), token);
        request(Step::Starting, QStringLiteral("Start"),
                {QVariant::fromValue(QDBusObjectPath(m_session)), QString(), options}, token);
        return;
    }
    case Step::Starting:
        m_size = QSize();
        if (!firstStream(results.value(QStringLiteral("streams")), &m_node, &m_size)) {
            finish(tr("The desktop shared nothing."));
            return;
        }
        openRemote();
        return;
    case Step::None:
    case Step::Opening:
        return;
    }
}

void PortalScreenCast::openRemote()
{
    m_step = Step::Opening;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap();
    const QString session = m_session;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, session] {
        watcher->deleteLater();
        if (m_step != Step::Opening || m_session != session)
            return;
        m_step = Step::None;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isError() || !reply.value().isValid()) {
            finish(tr("The desktop gave no picture of the screen."));
            return;
        }
        emit started(reply.value(), m_node, m_size);
    });
}

void PortalScreenCast::finish(const QString &why)
{
    close();
    emit refused(why);
}

void PortalScreenCast::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_session)
        return;
    m_bus.disconnect(Service, m_session, SessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_session.clear();
    if (!m_request.isEmpty())
        forgetRequest(m_request);
    m_request.clear();
    m_step = Step::None;
    emit closed();
}

void PortalScreenCast::closeSession(const QString &session)
{
    m_bus.disconnect(Service, session, SessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_bus.asyncCall(QDBusMessage::createMethodCall(Service, session, SessionInterface, QStringLiteral("Close")));
}

void PortalScreenCast::listenToRequest(const QString &path)
{
    m_bus.connect(Service, path, RequestInterface, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
}

void PortalScreenCast::forgetRequest(const QString &path)
{
    m_bus.disconnect(Service, path, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(QDBusMessage)));
}

QString PortalScreenCast::requestPath(const QString &token) const
{
    // /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being the unique name
    // without its ":" and with "_" for ".".
    QString sender = m_bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return Path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

QString PortalScreenCast::nextToken()
{
    return QStringLiteral("zelmo_share_request_%1").arg(++m_tokens);
}
