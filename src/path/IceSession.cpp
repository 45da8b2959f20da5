#include "path/IceSession.h"

#include "path/IceAgent.h"
#include "path/IceClosings.h"
#include "path/IceModule.h"

#include <QAbstractEventDispatcher>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

// One component and its local socket pair, with a pump each way. A direction holds at
// most ChunkBytes: the pump reads from one side only when what it holds has gone to the
// other, so memory stays bounded and a slow reader slows the writer at the far end (the
// pseudo-TCP window closes) instead of filling memory.
struct IceSession::Channel
{
    int id = 0;
    // The session's end of the local pair, and the end takeSocket() hands out (held here
    // until then; -1 once taken).
    int localFd = -1;
    int peerFd = -1;
    bool taken = false;

    // The agent reads the component for the pump: libnice handles a component's packets
    // (its checks, and the pseudo-TCP's data and acknowledgements) only while it is read,
    // so the pump reads whenever it has room.
    bool readable = false;
    std::unique_ptr<QSocketNotifier> localReadable;
    std::unique_ptr<QSocketNotifier> localWritable;

    std::vector<char> inbound = std::vector<char>(ChunkBytes); // component to local socket
    qsizetype inboundAt = 0;
    qsizetype inboundEnd = 0;
    std::vector<char> outbound = std::vector<char>(ChunkBytes); // local socket to component
    qsizetype outboundAt = 0;
    qsizetype outboundEnd = 0;

    IceAgent::ComponentState state = IceAgent::ComponentState::Disconnected;
    // The relay gave the component an address.
    bool relayed = false;
    // The pseudo-TCP takes more (set by its writable signal, cleared when it takes less
    // than offered).
    bool writable = false;
    // The peer's direction has ended (its end of stream came).
    bool remoteEnded = false;
    // Nobody reads the local socket any more: what comes from the peer is dropped.
    bool localReaderGone = false;
    // The owner's direction has ended (end of stream or error on the local socket), and
    // the end has gone on to the peer.
    bool localEnded = false;
    bool outboundClosed = false;
    // The pseudo-TCP broke; nothing more moves either way.
    bool broken = false;
    // Both directions are over: the pumps stop for good.
    bool retired = false;

    qsizetype held() const { return (inboundEnd - inboundAt) + (outboundEnd - outboundAt); }
};

// What the agent tells, calling back into the session. All but readable() only note what
// happened and have settle() look, so that nothing the session tells its owner runs inside
// libnice.
struct IceSession::Glue final : IceAgent::Events
{
    explicit Glue(IceSession *session) : s(session) {}
    IceSession *s;

    void gatheringDone() override
    {
        if (s->m_state == State::Gathering) {
            s->m_gatherDone = true;
            s->wake();
        }
    }

    void relayedCandidate(int component) override
    {
        if (s->m_state != State::Gathering)
            return;
        Channel *c = s->channel(component);
        if (!c)
            return;
        c->relayed = true;
        // A relayed address for every component is all a call needs: waiting on would
        // only wait for the relay over TCP, which then adds nothing (seconds on every call).
        if (std::all_of(s->m_channels.cbegin(), s->m_channels.cend(), [](const auto &ch) { return ch->relayed; })) {
            s->m_gatherDone = true;
            s->wake();
        }
    }

    void stateChanged(int component, IceAgent::ComponentState state) override
    {
        if (Channel *c = s->channel(component)) {
            c->state = state;
            s->wake();
        }
    }

    void selectedPair() override { s->wake(); }

    void writable(int component) override
    {
        if (Channel *c = s->channel(component)) {
            c->writable = true;
            s->wake();
        }
    }

    void readable(int component) override
    {
        if (Channel *c = s->channel(component))
            s->pumpInbound(*c);
    }
};

namespace {

constexpr char NoGlibLoop[] =
    "this program's event loop does not run GLib's main context (QT_NO_GLIB is set), which ICE needs";

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool isLoopOfGlib()
{
    // Qt's GLib dispatchers (the core one and the platform ones built on it) all inherit
    // this class; any other dispatcher never iterates GLib's default context.
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}

} // namespace

IceSession::IceSession(Role role, int components, IceModule *module, QObject *parent)
    : QObject(parent)
    , m_role(role)
    , m_componentCount(std::clamp(components, 1, 16))
    , m_module(module)
    , m_glue(std::make_unique<Glue>(this))
{
    m_gatherTimer.setSingleShot(true);
    m_connectTimer.setSingleShot(true);
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(0);
    connect(&m_gatherTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Resolving) {
            QHostInfo::abortHostLookup(m_lookupId);
            m_lookupId = -1;
            if (m_relayOnly)
                fail(QStringLiteral("the relay's name %1 was not found in time").arg(m_relay.host));
            else
                beginGathering();
        } else if (m_state == State::Gathering) {
            m_gatherDone = true;
            settle();
        }
    });
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Checking)
            fail(QStringLiteral("no path to the peer was found within %1 s").arg(ConnectMs / 1000));
    });
    connect(&m_settleTimer, &QTimer::timeout, this, &IceSession::settle);
}

IceSession::~IceSession()
{
    release();
}

void IceSession::setRelay(const DirectoryProtocol::RelayAccess &relay)
{
    m_relay = relay;
}

void IceSession::setLocalAddresses(const QList<QHostAddress> &addresses)
{
    m_localAddresses = addresses;
}

void IceSession::setClosings(IceClosings *closings)
{
    m_closings = closings;
}

void IceSession::setRelayOnlyForTests(bool relayOnly)
{
    m_relayOnly = relayOnly;
}

const char *IceSession::routeName(Route route)
{
    switch (route) {
    case Route::Direct:
        return "direct";
    case Route::Punched:
        return "punched";
    case Route::Relayed:
        return "relayed";
    }
    return "?";
}

void IceSession::gather()
{
    if (m_state != State::Idle)
        return;
    if (!isLoopOfGlib()) {
        fail(QString::fromLatin1(NoGlibLoop));
        return;
    }
    if (m_relayOnly && (m_relay.host.isEmpty() || m_relay.port <= 0)) {
        fail(QStringLiteral("only relayed candidates are wanted, but there is no relay"));
        return;
    }
    if (m_relay.host.isEmpty() || m_relay.port <= 0) {
        beginGathering();
        return;
    }
    QHostAddress numeric;
    if (numeric.setAddress(m_relay.host)) {
        m_relayAddress = numeric.toString();
        beginGathering();
        return;
    }
    // A relay named rather than numbered: the agent takes addresses only.
    m_state = State::Resolving;
    m_gatherTimer.start(GatherMs);
    m_lookupId = QHostInfo::lookupHost(m_relay.host, this, [this](const QHostInfo &info) {
        m_lookupId = -1;
        if (m_state != State::Resolving)
            return;
        for (const QHostAddress &address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol || m_relayAddress.isEmpty())
                m_relayAddress = address.toString();
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                break;
        }
        if (m_relayAddress.isEmpty() && m_relayOnly) {
            fail(QStringLiteral("the relay's name %1 was not found").arg(m_relay.host));
            return;
        }
        beginGathering();
    });
}

void IceSession::beginGathering()
{
    IceAgent::Config config;
    config.controlling = m_role == Role::Caller;
    config.relayOnly = m_relayOnly;
    config.components = m_componentCount;
    config.relayAddress = m_relayAddress.toStdString();
    config.relayPort = m_relay.port;
    config.relayUser = m_relay.username.toStdString();
    config.relayPassword = m_relay.password.toStdString();
    for (const QHostAddress &address : std::as_const(m_localAddresses))
        config.localAddresses.push_back(address.toString().toStdString());
    QString why;
    m_agent = m_module ? m_module->make(config, *m_glue, why) : nullptr;
    if (!m_agent) {
        fail(m_module ? why : QStringLiteral("there is no ICE module"));
        return;
    }
    for (int id = 1; id <= m_componentCount; ++id) {
        auto channel = std::make_unique<Channel>();
        channel->id = id;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
            fail(QStringLiteral("no local socket pair: %1").arg(QString::fromLocal8Bit(strerror(errno))));
            return;
        }
        channel->localFd = pair[0];
        channel->peerFd = pair[1];
        Channel *c = channel.get();
        channel->localReadable = std::make_unique<QSocketNotifier>(c->localFd, QSocketNotifier::Read);
        channel->localWritable = std::make_unique<QSocketNotifier>(c->localFd, QSocketNotifier::Write);
        channel->localReadable->setEnabled(false);
        channel->localWritable->setEnabled(false);
        connect(channel->localReadable.get(), &QSocketNotifier::activated, this, [this, c] { pumpOutbound(*c); });
        connect(channel->localWritable.get(), &QSocketNotifier::activated, this, [this, c] { pumpInbound(*c); });
        m_channels.push_back(std::move(channel));
    }
    m_state = State::Gathering;
    // The components are read from the start: the agent handles the answers of the relay
    // and the peer's checks only while it is read.
    for (auto &channel : m_channels)
        armReadable(*channel, true);
    m_gatherTimer.start(GatherMs);
    if (!m_agent->gather())
        fail(QStringLiteral("no local address to gather candidates on"));
}

IceSession::Channel *IceSession::channel(int component)
{
    if (component < 1 || component > int(m_channels.size()))
        return nullptr;
    return m_channels[std::size_t(component - 1)].get();
}

void IceSession::gatheringDone()
{
    m_gatherTimer.stop();
    std::string ufrag;
    std::string password;
    if (!m_agent->localCredentials(ufrag, password)) {
        fail(QStringLiteral("the ICE agent has no credentials"));
        return;
    }
    const QByteArray localUfrag = QByteArray::fromStdString(ufrag);
    const QByteArray localPassword = QByteArray::fromStdString(password);

    // Each component's lines, most preferred first.
    std::vector<std::vector<std::pair<quint32, QByteArray>>> lines(m_channels.size());
    for (std::size_t k = 0; k < m_channels.size(); ++k) {
        for (const IceAgent::Candidate &candidate : m_agent->localCandidates(int(k + 1)))
            lines[k].emplace_back(candidate.priority, QByteArray::fromStdString(candidate.line));
        std::stable_sort(lines[k].begin(), lines[k].end(),
                         [](const auto &a, const auto &b) { return a.first > b.first; });
        if (lines[k].empty()) {
            fail(m_relayOnly ? QStringLiteral("the relay gave no address: it refused the credentials or did not answer")
                             : QStringLiteral("no local address to call from"));
            return;
        }
    }
    // Taken round the components by rank, so a description cut to its bounds still offers
    // every component its best candidates.
    IceDescription description(localUfrag, localPassword, {});
    QList<QByteArray> chosen;
    for (std::size_t rank = 0;; ++rank) {
        bool any = false;
        for (const auto &component : lines) {
            if (rank >= component.size())
                continue;
            any = true;
            QList<QByteArray> tried = chosen;
            tried.append(component[rank].second);
            if (IceDescription(localUfrag, localPassword, tried).isValid())
                chosen = std::move(tried);
        }
        if (!any)
            break;
    }
    m_local = IceDescription(localUfrag, localPassword, chosen);
    if (!m_local.isValid()) {
        fail(QStringLiteral("the ICE agent's description does not fit its text"));
        return;
    }
    m_state = State::Gathered;
    m_gatheredPending = true;
}

IceDescription IceSession::localDescription() const
{
    return m_local;
}

bool IceSession::start(const IceDescription &remote)
{
    if (m_state != State::Gathered || !remote.isValid())
        return false;
    std::vector<std::string> lines;
    for (const QByteArray &line : remote.candidates())
        lines.push_back(line.toStdString());
    int failedComponent = 0;
    const IceAgent::RemoteOutcome outcome =
        m_agent->setRemote(remote.ufrag().toStdString(), remote.password().toStdString(), lines, failedComponent);
    if (outcome == IceAgent::RemoteOutcome::Refused)
        return false;
    m_state = State::Checking;
    m_connectTimer.start(ConnectMs);
    if (outcome == IceAgent::RemoteOutcome::ComponentRefused)
        fail(QStringLiteral("the ICE agent took none of the peer's candidates for channel %1").arg(failedComponent));
    return true;
}

int IceSession::takeSocket(int component)
{
    if (m_state != State::Ready || component < 1 || component > int(m_channels.size()))
        return -1;
    Channel &c = *m_channels[component - 1];
    if (c.taken || c.peerFd < 0)
        return -1;
    c.taken = true;
    const int fd = c.peerFd;
    c.peerFd = -1;
    return fd;
}

qint64 IceSession::bufferedBytes() const
{
    qint64 total = 0;
    for (const auto &channel : m_channels)
        total += channel->held();
    return total;
}

void IceSession::wake()
{
    if (!m_settleTimer.isActive())
        m_settleTimer.start();
}

void IceSession::armReadable(Channel &c, bool on)
{
    if (!m_agent || on == c.readable)
        return;
    c.readable = on;
    m_agent->watchReadable(c.id, on);
}

void IceSession::pumpInbound(Channel &c)
{
    if (!m_agent || c.retired || c.broken)
        return;
    for (;;) {
        // First what is held goes to the local socket.
        while (c.inboundAt < c.inboundEnd) {
            if (c.localReaderGone) {
                c.inboundAt = c.inboundEnd = 0;
                break;
            }
            const ssize_t n = ::send(c.localFd, c.inbound.data() + c.inboundAt, std::size_t(c.inboundEnd - c.inboundAt),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                c.inboundAt += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // Full: no more is taken from the component until the owner reads.
                armReadable(c, false);
                c.localWritable->setEnabled(true);
                return;
            } else {
                // The owner closed its socket: what the peer still sends is dropped, but
                // the component is still read for the sake of its checks and the other
                // direction's acknowledgements.
                c.localReaderGone = true;
            }
        }
        c.inboundAt = c.inboundEnd = 0;
        c.localWritable->setEnabled(false);
        if (c.localEnded && !c.outboundClosed)
            finishOutbound(c);
        if (c.retired)
            return;

        const IceAgent::Received got = m_agent->receive(c.id, c.inbound.data(), c.inbound.size());
        if (got.kind == IceAgent::Received::Kind::Data) {
            c.inboundEnd = qsizetype(got.bytes);
            continue;
        }
        if (got.kind == IceAgent::Received::Kind::End) {
            // The peer's end of stream: the owner reads it after what came before.
            if (!c.remoteEnded) {
                c.remoteEnded = true;
                ::shutdown(c.localFd, SHUT_WR);
            }
            armReadable(c, true);
            if (channelDone(c))
                wake();
            return;
        }
        const QString why = QString::fromStdString(got.error);
        if (got.kind == IceAgent::Received::Kind::WouldBlock) {
            armReadable(c, true);
            return;
        }
        // Before the pseudo-TCP opens, reading only handles the agent's own packets.
        if (m_state != State::Ready && m_state != State::Over && !c.writable) {
            armReadable(c, true);
            return;
        }
        channelBroke(c, why);
        return;
    }
}

void IceSession::pumpOutbound(Channel &c)
{
    if (!m_agent || c.retired || c.broken || c.localEnded || !c.writable)
        return;
    for (;;) {
        while (c.outboundAt < c.outboundEnd) {
            const int want = int(c.outboundEnd - c.outboundAt);
            const int n = m_agent->send(c.id, c.outbound.data() + c.outboundAt, want);
            if (n > 0)
                c.outboundAt += n;
            if (n < want) {
                // The pseudo-TCP's send buffer is full: the local socket rests until its
                // writable signal.
                c.writable = false;
                c.localReadable->setEnabled(false);
                return;
            }
        }
        c.outboundAt = c.outboundEnd = 0;
        const ssize_t r = ::recv(c.localFd, c.outbound.data(), c.outbound.size(), MSG_DONTWAIT);
        if (r > 0) {
            c.outboundEnd = r;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            c.localReadable->setEnabled(true);
            return;
        }
        // The owner's end of stream (or its socket's error) ends this direction.
        c.localReadable->setEnabled(false);
        c.localEnded = true;
        finishOutbound(c);
        return;
    }
}

void IceSession::finishOutbound(Channel &c)
{
    if (c.outboundClosed || c.retired)
        return;
    // The pseudo-TCP answers a close with unread data in it by resetting the connection;
    // while the inbound pump holds bytes it may have left some there, so the close waits
    // until the pump has drained it.
    if (c.inboundAt < c.inboundEnd)
        return;
    c.outboundClosed = true;
    if (m_agent)
        m_agent->closeOutput(c.id);
    if (channelDone(c))
        wake();
}

bool IceSession::channelDone(const Channel &c) const
{
    return c.broken || (c.remoteEnded && c.outboundClosed);
}

void IceSession::channelBroke(Channel &c, const QString &why)
{
    if (c.broken)
        return;
    c.broken = true;
    armReadable(c, false);
    c.localReadable->setEnabled(false);
    c.localWritable->setEnabled(false);
    // A channel its owner had already closed may break as it goes; any other means the
    // path is gone.
    if (!c.localEnded)
        fail(QStringLiteral("channel %1 broke: %2").arg(c.id).arg(why));
    else
        wake();
}

IceSession::Route IceSession::judgeRoute() const
{
    Route route = Route::Direct;
    for (const auto &c : m_channels) {
        IceAgent::CandidateKind local;
        IceAgent::CandidateKind remote;
        if (!m_agent->selectedPair(c->id, local, remote))
            continue;
        for (const IceAgent::CandidateKind kind : {local, remote}) {
            if (kind == IceAgent::CandidateKind::Relayed)
                route = Route::Relayed;
            else if (kind != IceAgent::CandidateKind::Host && route == Route::Direct)
                route = Route::Punched;
        }
    }
    return route;
}

void IceSession::fail(const QString &why)
{
    if (m_state == State::Over)
        return;
    m_ended = m_state == State::Ready;
    m_state = State::Over;
    m_failure = why;
    m_failurePending = true;
    release();
    wake();
}

void IceSession::settle()
{
    if (m_state == State::Gathering && m_gatherDone)
        gatheringDone();

    if (m_agent) {
        for (auto &c : m_channels) {
            if (c->retired || m_state == State::Over)
                continue;
            if (channelDone(*c)) {
                // Both directions are over: nothing more to pump, and the component's
                // later failure (libnice drops a component whose pseudo-TCP has closed) is
                // no loss of the path.
                c->retired = true;
                armReadable(*c, false);
                c->localReadable.reset();
                c->localWritable.reset();
                closeFd(c->localFd);
                continue;
            }
            if (c->state == IceAgent::ComponentState::Failed) {
                if (m_state == State::Checking) {
                    fail(QStringLiteral("no path to the peer was found for channel %1").arg(c->id));
                } else if (m_state == State::Ready && !c->localEnded) {
                    fail(QStringLiteral("the path to the peer was lost on channel %1 (the peer or the relay is "
                                        "gone)")
                             .arg(c->id));
                }
                continue;
            }
            if (c->writable)
                pumpOutbound(*c);
        }
    }

    if (m_state == State::Checking) {
        bool all = true;
        for (const auto &c : m_channels) {
            IceAgent::CandidateKind local;
            IceAgent::CandidateKind remote;
            const bool connected = c->state == IceAgent::ComponentState::Connected
                                   || c->state == IceAgent::ComponentState::Ready;
            if (!connected || !c->writable || !m_agent->selectedPair(c->id, local, remote))
                all = false;
        }
        if (all) {
            m_connectTimer.stop();
            m_route = judgeRoute();
            m_state = State::Ready;
            m_readyPending = true;
        }
    }

    // What the owner is told comes last: it may delete the session in its slot.
    if (m_failurePending) {
        m_failurePending = false;
        m_gatheredPending = m_readyPending = false;
        if (m_ended)
            emit ended(m_failure);
        else
            emit failed(m_failure);
        return;
    }
    if (m_gatheredPending) {
        m_gatheredPending = false;
        emit gathered();
        return;
    }
    if (m_readyPending) {
        m_readyPending = false;
        emit ready();
        return;
    }
}

void IceSession::release()
{
    m_gatherTimer.stop();
    m_connectTimer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    for (auto &c : m_channels) {
        armReadable(*c, false);
        c->localReadable.reset();
        c->localWritable.reset();
        // The owners' sockets see their end of stream.
        closeFd(c->localFd);
        closeFd(c->peerFd);
        c->inboundAt = c->inboundEnd = c->outboundAt = c->outboundEnd = 0;
    }
    if (std::unique_ptr<IceAgent> agent = std::move(m_agent)) {
        // The agent closes its components' pseudo-TCP, which tells the peer, and lets go of
        // its relay allocations before it goes; the closing ends on the event loop, and
        // nothing of the session is called from it.
        if (m_closings)
            m_closings->close(std::move(agent));
    }
}
