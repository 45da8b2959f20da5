#include "share/PortalScreenCast.h"

#include "desktop/PortalRequest.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Source types: a monitor or a window; the cursor drawn into the picture.
constexpr uint MonitorSource = 1;
constexpr uint WindowSource = 2;
constexpr uint EmbeddedCursor = 2;

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
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("zelmo_share_%1").arg(m_tokens));
    request(Step::Creating, QStringLiteral("CreateSession"), {}, options, token);
}

void PortalScreenCast::close()
{
    dropRequest();
    m_step = Step::None;
    if (!m_session.isEmpty()) {
        closeSession(m_session);
        m_session.clear();
    }
}

void PortalScreenCast::request(Step step, const QString &method, const QList<QVariant> &arguments,
                               const QVariantMap &options, const QString &token)
{
    dropRequest();
    m_step = step;
    m_request = new PortalRequest(m_bus, Interface, method, arguments, options, token, this);
    connect(m_request, &PortalRequest::answered, this, &PortalScreenCast::answered);
    connect(m_request, &PortalRequest::failed, this, [this](const QString &error) {
        m_request = nullptr;
        finish(tr("The desktop's screen sharing failed: %1").arg(error));
    });
}

// Gives up the request under way: its answer, whenever it comes, changes nothing here, and
// a session it still opens (the user stopped before CreateSession was answered) is closed
// at the desktop as soon as its handle is known.
void PortalScreenCast::dropRequest()
{
    if (!m_request)
        return;
    m_request->disconnect(this);
    m_request->abandon();
    m_request = nullptr;
}

void PortalScreenCast::answered(uint code, const QVariantMap &results)
{
    m_request = nullptr;
    const Step step = m_step;
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
        m_session = PortalRequest::pathOf(results.value(QStringLiteral("session_handle")));
        if (m_session.isEmpty()) {
            finish(tr("The desktop could not share the screen."));
            return;
        }
        m_bus.connect(Service, m_session, PortalRequest::SessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed(QDBusMessage)));
        QVariantMap options;
        options.insert(QStringLiteral("types"), MonitorSource | WindowSource);
        options.insert(QStringLiteral("multiple"), false);
        options.insert(QStringLiteral("cursor_mode"), EmbeddedCursor);
        request(Step::Selecting, QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(m_session))},
                options, nextToken());
        return;
    }
    case Step::Selecting:
        request(Step::Starting, QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(m_session)), QString()},
                {}, nextToken());
        return;
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
    m_bus.disconnect(Service, m_session, PortalRequest::SessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_session.clear();
    dropRequest();
    m_step = Step::None;
    emit closed();
}

void PortalScreenCast::closeSession(const QString &session)
{
    m_bus.disconnect(Service, session, PortalRequest::SessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    PortalRequest::closeSession(m_bus, session);
}

QString PortalScreenCast::nextToken()
{
    return QStringLiteral("zelmo_share_request_%1").arg(++m_tokens);
}
