#include "path/PathFinder.h"

#include "core/EndpointConnection.h"
#include "core/PeerChannel.h"
#include "path/CallPath.h"
#include "path/RelayLease.h"
#include "path/IceClosings.h"
#include "path/IceDescription.h"
#include "path/IceModule.h"
#include "path/IceSession.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <utility>

namespace Proto = DirectoryProtocol;

namespace {

// The call's channels, each a component of the path.
constexpr int Components = PortPlan::ChannelCount;

// A session for a call with the peer at `peer`; the relay is set when it gathers.
std::unique_ptr<IceSession> newSession(IceSession::Role role, const QHostAddress &peer, IceModule *module,
                                       IceClosings *closings)
{
    auto session = std::make_unique<IceSession>(role, Components, module);
    session->setClosings(closings);
    // A peer on this very computer is reached over loopback, which is otherwise left out.
    if (peer.isLoopback())
        session->setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
    return session;
}

} // namespace

PathFinder::PathFinder(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_ice(std::make_unique<IceModule>(m_.iceModuleFolders.isEmpty() ? IceModule::defaultFolders()
                                                                      : m_.iceModuleFolders))
    , m_relayLease(new RelayLease(m_.clock, this))
    , m_closings(new IceClosings(this))
    , m_trimTimer(new QTimer(this))
{
    connect(m_relayLease, &RelayLease::renewalWanted, this, [this] {
        if (m_.renewRelay)
            m_.renewRelay();
    });
    m_clock.start();
    m_trimTimer->setInterval(CallOverMs);
    connect(m_trimTimer, &QTimer::timeout, this, &PathFinder::trim);
}

PathFinder::~PathFinder()
{
    shutdown();
}

CallPath *PathFinder::pathTo(const QString &address, int basePort) const
{
    CallPath *found = nullptr;
    for (CallPath *path : m_paths) {
        if (path->role() == CallPath::Role::Caller && path->basePort() == basePort
            && EndpointConnection::dottedAddress(path->peer()) == address && path->state() != CallPath::State::Failed) {
            // The newest one: an older one belongs to an earlier attempt.
            if (!found || m_bornMs.value(path) >= m_bornMs.value(found))
                found = path;
        }
    }
    return found;
}

void PathFinder::prepareCall(const QString &target, const QString &address, int port)
{
    const QHostAddress peer(address.trimmed());
    if (target.trimmed().isEmpty() || peer.isNull() || port <= 0)
        return;
    if (!m_.serverPassesOffers || !m_.serverPassesOffers()) {
        m_.logLine(QStringLiteral("Only the direct way to ") + target.trimmed()
                   + QStringLiteral(" is tried: the directory server is not reached encrypted, so it passes no call offer"));
        return;
    }
    // An earlier attempt's path to the same peer makes room for this one.
    if (CallPath *old = pathTo(EndpointConnection::dottedAddress(peer), port); old && !inCall(old))
        end(old, QString::fromLatin1(Proto::EndGone), true);

    const QByteArray callId = Proto::newCallId();
    auto session = newSession(IceSession::Role::Caller, peer, m_ice.get(), m_closings);
    CallPath *path = add(std::make_unique<CallPath>(std::move(session), CallPath::Role::Caller, callId, peer, port));
    connect(&path->session(), &IceSession::gathered, path, [this, path, target] {
        const QByteArray offer =
            Proto::callOffer({path->callId(), target.trimmed(), path->session().localDescription().toText()});
        if (!m_.sendToServer(offer))
            path->fail(tr("The directory server could not pass the call on"));
    });
    m_.logLine(QStringLiteral("Looking for a path to ") + target.trimmed() + QStringLiteral(" through the directory server"));
    gatherWithRelay(path);
}

void PathFinder::answerArrived(const Proto::CallAnswer &answer)
{
    CallPath *path = m_paths.value(answer.callId);
    if (!path || path->role() != CallPath::Role::Caller || path->state() != CallPath::State::Finding)
        return;
    const std::optional<IceDescription> remote = IceDescription::parse(answer.description);
    if (!remote || !path->session().start(*remote))
        end(path, QString::fromLatin1(Proto::EndRefused), true);
}

void PathFinder::endArrived(const Proto::CallEnd &ending)
{
    CallPath *path = m_paths.value(ending.callId);
    if (!path)
        return;
    if (path->state() == CallPath::State::Finding) {
        const QString why = ending.reason == QLatin1String(Proto::EndOffline)
                                ? tr("The person is not logged in to the directory server")
                                : tr("No path to the person could be found (%1)").arg(ending.reason);
        path->fail(why);
    }
    if (!inCall(path))
        end(path, {}, false);
}

void PathFinder::offerArrived(const Proto::RelayedOffer &offer)
{
    if (m_paths.contains(offer.callId))
        return;
    int finding = 0;
    for (CallPath *path : std::as_const(m_paths))
        finding += path->role() == CallPath::Role::Callee && path->state() == CallPath::State::Finding ? 1 : 0;
    const QHostAddress peer(offer.fromAddress);
    const std::optional<IceDescription> remote = IceDescription::parse(offer.description);
    const char *refusal = nullptr;
    if (finding >= MaxIncomingFinding)
        refusal = Proto::EndLimit;
    else if (peer.isNull() || !remote)
        refusal = Proto::EndRefused;
    if (refusal) {
        m_.sendToServer(Proto::callEnd({offer.callId, QString::fromLatin1(refusal)}));
        return;
    }
    auto session = newSession(IceSession::Role::Callee, peer, m_ice.get(), m_closings);
    CallPath *path =
        add(std::make_unique<CallPath>(std::move(session), CallPath::Role::Callee, offer.callId, peer, 0));
    const IceDescription theirs = *remote;
    connect(&path->session(), &IceSession::gathered, path, [this, path, theirs] {
        if (!path->session().start(theirs)) {
            end(path, QString::fromLatin1(Proto::EndRefused), true);
            return;
        }
        m_.sendToServer(Proto::callAnswer({path->callId(), path->session().localDescription().toText()}));
    });
    connect(path, &CallPath::ready, this, [this, path] { handOverWhenUsed(path); });
    m_.logLine(QStringLiteral("A call from ") + (offer.fromEmail.isEmpty() ? offer.fromAddress : offer.fromEmail)
               + QStringLiteral(" is looking for a path through the directory server"));
    gatherWithRelay(path);
}

void PathFinder::setRelay(const std::optional<DirectoryProtocol::RelayAccess> &relay)
{
    m_relayLease->take(relay);
    const QList<QPointer<CallPath>> waiting = std::exchange(m_awaitingRelay, {});
    for (const QPointer<CallPath> &path : waiting) {
        if (path)
            gatherNow(path);
    }
}

void PathFinder::gatherWithRelay(CallPath *path)
{
    m_relayLease->check();
    if (!m_relayLease->expired() || !m_.renewRelay) {
        gatherNow(path);
        return;
    }
    // A computer that slept past the credentials' end: the relay would refuse them, and a
    // call that needs it would fail, so the path waits a moment for fresh ones.
    m_.logLine(QStringLiteral("The relay's credentials ran out: fresh ones are asked for first"));
    m_awaitingRelay.append(path);
    QTimer::singleShot(RenewalWaitMs, path, [this, path] {
        if (m_awaitingRelay.removeAll(path) > 0)
            gatherNow(path);
    });
}

void PathFinder::gatherNow(CallPath *path)
{
    if (m_paths.value(path->callId()) != path)
        return;
    if (const std::optional<Proto::RelayAccess> relay = m_relayLease->usable())
        path->session().setRelay(*relay);
    path->session().gather();
}

void PathFinder::handOverWhenUsed(CallPath *path)
{
    QList<QSocketNotifier *> &waiting = m_waiting[path];
    for (int c = 0; c < Components; ++c) {
        const auto channel = PeerChannel(c);
        const int descriptor = path->takeSocket(channel);
        if (descriptor < 0)
            continue;
        auto *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, path);
        waiting.append(notifier);
        connect(notifier, &QSocketNotifier::activated, this, [this, path, notifier, channel] {
            const int fd = int(notifier->socket());
            m_waiting[path].removeOne(notifier);
            notifier->setEnabled(false);
            notifier->deleteLater();
            if (!m_.adopt(fd, path->peer()))
                return;
            if (channel == PeerChannel::Control) {
                m_inCall.insert(path);
                m_bornMs[path] = m_clock.elapsed();
                m_.logLine(QStringLiteral("A call came ") + CallPath::wayText(path->way()));
                emit incomingWayKnown(EndpointConnection::dottedAddress(path->peer()), path);
            }
        });
    }
}

CallPath *PathFinder::add(std::unique_ptr<CallPath> owned)
{
    CallPath *path = owned.release();
    path->setParent(this);
    m_paths.insert(path->callId(), path);
    m_bornMs.insert(path, m_clock.elapsed());
    connect(path, &CallPath::failed, this, [this, path](const QString &why) {
        m_.logLine(QStringLiteral("No path was found: ") + why);
        // The peer stops looking too, on the next turn, unless the path is gone by then (a
        // shutdown deletes paths at once).
        QTimer::singleShot(0, path, [this, path] {
            if (m_paths.value(path->callId()) == path)
                end(path, QString::fromLatin1(Proto::EndGone), true);
        });
    });
    connect(path, &CallPath::ended, this, [this, path](const QString &why) {
        m_.logLine(QStringLiteral("The path of the call broke: ") + why);
    });
    trim();
    m_trimTimer->start();
    return path;
}

void PathFinder::end(CallPath *path, const QString &reason, bool tellPeer)
{
    if (m_paths.value(path->callId()) != path)
        return;
    if (tellPeer && !reason.isEmpty())
        m_.sendToServer(Proto::callEnd({path->callId(), reason}));
    remove(path);
}

void PathFinder::remove(CallPath *path)
{
    m_paths.remove(path->callId());
    m_bornMs.remove(path);
    m_inCall.remove(path);
    for (QSocketNotifier *notifier : m_waiting.take(path)) {
        notifier->setEnabled(false);
        ::close(int(notifier->socket()));
    }
    path->disconnect(this);
    path->deleteLater();
    if (m_paths.isEmpty())
        m_trimTimer->stop();
}

bool PathFinder::inCall(CallPath *path) const
{
    return path->role() == CallPath::Role::Caller ? path->carriesCall() : m_inCall.contains(path);
}

void PathFinder::trim()
{
    const qint64 now = m_clock.elapsed();
    const QList<CallPath *> paths = m_paths.values();
    for (CallPath *path : paths) {
        const qint64 age = now - m_bornMs.value(path);
        if (!inCall(path) && age > UnusedPathMs)
            end(path, QString::fromLatin1(Proto::EndGone), true);
        else if (inCall(path) && age > CallOverMs && m_.callActive && !m_.callActive())
            end(path, {}, false);
    }
    while (m_paths.size() > MaxPaths) {
        CallPath *oldest = nullptr;
        for (CallPath *path : std::as_const(m_paths)) {
            if (!inCall(path) && (!oldest || m_bornMs.value(path) < m_bornMs.value(oldest)))
                oldest = path;
        }
        if (!oldest)
            break;
        end(oldest, QString::fromLatin1(Proto::EndGone), true);
    }
}

void PathFinder::serverLost()
{
    const QList<CallPath *> paths = m_paths.values();
    for (CallPath *path : paths) {
        if (path->state() == CallPath::State::Finding)
            path->fail(tr("The connection to the directory server was lost"));
    }
}

void PathFinder::directCallMade(const QString &address, int basePort)
{
    if (CallPath *path = pathTo(address, basePort); path && !inCall(path))
        end(path, QString::fromLatin1(Proto::EndGone), true);
}

void PathFinder::callEnded()
{
    // Not at once: the call's last words (its hang-up, the TLS goodbyes) are still on
    // their way over the path, and the peer learns of the end from them.
    for (CallPath *path : std::as_const(m_paths)) {
        if (inCall(path))
            m_bornMs[path] = m_clock.elapsed();
    }
}

void PathFinder::shutdown()
{
    // At once rather than on the loop's next turn: the sessions' agents start letting go of
    // their relay allocations now, and waitForReleases() can wait for them.
    const QList<CallPath *> paths = m_paths.values();
    for (CallPath *path : paths) {
        remove(path);
        delete path;
    }
}

bool PathFinder::waitForReleases(int ms)
{
    return m_closings->waitForAll(ms);
}
