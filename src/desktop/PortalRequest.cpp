#include "desktop/PortalRequest.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");

} // namespace

PortalRequest::PortalRequest(QDBusConnection bus, const QString &interface, const QString &method,
                             QList<QVariant> arguments, QVariantMap options, const QString &token, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    // /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being the unique name
    // without its ":" and with "_" for ".".
    QString sender = m_bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    m_path = Path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    listen(m_path);

    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, interface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &PortalRequest::replied);
}

PortalRequest::~PortalRequest()
{
    if (!m_finished)
        forget(m_path);
}

void PortalRequest::abandon()
{
    m_abandoned = true;
}

void PortalRequest::replied(QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    if (m_finished)
        return;
    const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
    if (reply.isError()) {
        finish();
        if (!m_abandoned)
            emit failed(reply.error().message());
        return;
    }
    // An older portal names the request itself.
    const QString path = reply.value().path();
    if (path != m_path) {
        forget(m_path);
        listen(path);
        m_path = path;
    }
}

void PortalRequest::onResponse(const QDBusMessage &message)
{
    if (m_finished || message.path() != m_path)
        return;
    finish();
    const QList<QVariant> args = message.arguments();
    const uint code = args.value(0).toUInt();
    const QVariantMap results = mapOf(args.value(1));
    if (m_abandoned) {
        const QString session = pathOf(results.value(QStringLiteral("session_handle")));
        if (!session.isEmpty())
            closeSession(m_bus, session);
        return;
    }
    emit answered(code, results);
}

void PortalRequest::finish()
{
    m_finished = true;
    forget(m_path);
    deleteLater();
}

void PortalRequest::listen(const QString &path)
{
    m_bus.connect(Service, path, RequestInterface, QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
}

void PortalRequest::forget(const QString &path)
{
    m_bus.disconnect(Service, path, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(QDBusMessage)));
}

void PortalRequest::closeSession(QDBusConnection &bus, const QString &session)
{
    bus.asyncCall(QDBusMessage::createMethodCall(Service, session, SessionInterface, QStringLiteral("Close")));
}

QString PortalRequest::pathOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QVariantMap PortalRequest::mapOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}
