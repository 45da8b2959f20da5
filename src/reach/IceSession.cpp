#include "reach/IceSession.h"

#include "reach/IceClosings.h"

#include <QAbstractEventDispatcher>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>

// GLib's headers name struct members "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <nice/agent.h>
#pragma pop_macro("signals")

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
    IceSession *owner = nullptr;
    int id = 0;
    // The session's end of the local pair, and the end takeSocket() hands out (held here
    // until then; -1 once taken).
    int localFd = -1;
    int peerFd = -1;
    bool taken = false;

    GIOStream *io = nullptr;
    // Fires when a packet comes in for the component. libnice handles a component's
    // packets (its checks, and the pseudo-TCP's data and acknowledgements) only while it
    // is read, so the pump reads whenever it has room.
    GSource *readable = nullptr;
    std::unique_ptr<QSocketNotifier> localReadable;
    std::unique_ptr<QSocketNotifier> localWritable;

    std::vector<char> inbound = std::vector<char>(ChunkBytes); // component to local socket
    qsizetype inboundAt = 0;
    qsizetype inboundEnd = 0;
    std::vector<char> outbound = std::vector<char>(ChunkBytes); // local socket to component
    qsizetype outboundAt = 0;
    qsizetype outboundEnd = 0;

    NiceComponentState state = NICE_COMPONENT_STATE_DISCONNECTED;
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

// The agent's signals and the components' sources, as plain functions calling back into
// the session. They only note what happened and have settle() look, so that nothing the
// session tells its owner runs inside libnice.
struct IceSession::Glue
{
    static NiceAgent *agent(const IceSession *s) { return static_cast<NiceAgent *>(s->m_agent); }

    static Channel *channel(IceSession *s, guint stream, guint component)
    {
        if (stream != s->m_stream || component < 1 || component > s->m_channels.size())
            return nullptr;
        return s->m_channels[component - 1].get();
    }

    static void gatheringDone(NiceAgent *, guint stream, gpointer data)
    {
        auto *s = static_cast<IceSession *>(data);
        if (stream == s->m_stream && s->m_state == State::Gathering) {
            s->m_gatherDone = true;
            s->wake();
        }
    }

    static void newCandidate(NiceAgent *, NiceCandidate *candidate, gpointer data)
    {
        auto *s = static_cast<IceSession *>(data);
        if (s->m_state != State::Gathering || candidate->type != NICE_CANDIDATE_TYPE_RELAYED)
            return;
        Channel *c = channel(s, candidate->stream_id, candidate->component_id);
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

    static void stateChanged(NiceAgent *, guint stream, guint component, guint state, gpointer data)
    {
        auto *s = static_cast<IceSession *>(data);
        if (Channel *c = channel(s, stream, component)) {
            c->state = NiceComponentState(state);
            s->wake();
        }
    }

    static void selectedPair(NiceAgent *, guint, guint, NiceCandidate *, NiceCandidate *, gpointer data)
    {
        static_cast<IceSession *>(data)->wake();
    }

    static void writable(NiceAgent *, guint stream, guint component, gpointer data)
    {
        auto *s = static_cast<IceSession *>(data);
        if (Channel *c = channel(s, stream, component)) {
            c->writable = true;
            s->wake();
        }
    }

    static gboolean readable(GObject *, gpointer data)
    {
        auto *c = static_cast<Channel *>(data);
        // The session owns the channel and destroys this source before the channel goes.
        IceSession *s = c->owner;
        s->pumpInbound(*c);
        return G_SOURCE_CONTINUE;
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

IceSession::IceSession(Role role, int components, QObject *parent)
    : QObject(parent)
    , m_role(role)
    , m_componentCount(std::clamp(components, 1, 16))
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
    NiceAgent *agent = nice_agent_new_full(
        g_main_context_default(), NICE_COMPATIBILITY_RFC5245,
        NiceAgentOption(NICE_AGENT_OPTION_RELIABLE | NICE_AGENT_OPTION_CONSENT_FRESHNESS));
    m_agent = agent;
    // Consent freshness has the agent check the selected pair every few seconds and fail
    // the component when the peer stops answering (libnice: 10 s), so a vanished peer or
    // relay is noticed well within a minute. The program asks the router for ports itself;
    // ICE over TCP would double the candidates for paths UDP already covers.
    g_object_set(agent, "controlling-mode", gboolean(m_role == Role::Caller), "upnp", FALSE, "ice-tcp", FALSE,
                 "force-relay", gboolean(m_relayOnly), nullptr);
    const QByteArray relayAddress = m_relayAddress.toLatin1();
    if (!relayAddress.isEmpty())
        g_object_set(agent, "stun-server", relayAddress.constData(), "stun-server-port", guint(m_relay.port), nullptr);
    for (const QHostAddress &address : std::as_const(m_localAddresses)) {
        NiceAddress local;
        nice_address_init(&local);
        if (nice_address_set_from_string(&local, address.toString().toLatin1().constData()))
            nice_agent_add_local_address(agent, &local);
    }
    g_signal_connect(agent, "candidate-gathering-done", G_CALLBACK(Glue::gatheringDone), this);
    g_signal_connect(agent, "component-state-changed", G_CALLBACK(Glue::stateChanged), this);
    g_signal_connect(agent, "new-candidate-full", G_CALLBACK(Glue::newCandidate), this);
    g_signal_connect(agent, "new-selected-pair-full", G_CALLBACK(Glue::selectedPair), this);
    g_signal_connect(agent, "reliable-transport-writable", G_CALLBACK(Glue::writable), this);

    m_stream = nice_agent_add_stream(agent, guint(m_componentCount));
    if (m_stream == 0) {
        fail(QStringLiteral("the ICE agent could not make a stream"));
        return;
    }
    const QByteArray user = m_relay.username.toUtf8();
    const QByteArray password = m_relay.password.toUtf8();
    for (int id = 1; id <= m_componentCount; ++id) {
        if (!relayAddress.isEmpty()) {
            // libnice speaks TURN over TLS only in other compatibility modes: to a standard
            // relay it would send plain TCP to the TLS port, so the TLS port is not used.
            for (NiceRelayType type : {NICE_RELAY_TYPE_TURN_UDP, NICE_RELAY_TYPE_TURN_TCP})
                nice_agent_set_relay_info(agent, m_stream, guint(id), relayAddress.constData(), guint(m_relay.port),
                                          user.constData(), password.constData(), type);
        }
        auto channel = std::make_unique<Channel>();
        channel->owner = this;
        channel->id = id;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
            fail(QStringLiteral("no local socket pair: %1").arg(QString::fromLocal8Bit(strerror(errno))));
            return;
        }
        channel->localFd = pair[0];
        channel->peerFd = pair[1];
        channel->io = nice_agent_get_io_stream(agent, m_stream, guint(id));
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
    if (!nice_agent_gather_candidates(agent, m_stream))
        fail(QStringLiteral("no local address to gather candidates on"));
}

void IceSession::gatheringDone()
{
    m_gatherTimer.stop();
    NiceAgent *agent = Glue::agent(this);
    gchar *ufrag = nullptr;
    gchar *password = nullptr;
    if (!nice_agent_get_local_credentials(agent, m_stream, &ufrag, &password)) {
        fail(QStringLiteral("the ICE agent has no credentials"));
        return;
    }
    const QByteArray localUfrag(ufrag);
    const QByteArray localPassword(password);
    g_free(ufrag);
    g_free(password);

    // Each component's lines, most preferred first.
    std::vector<std::vector<std::pair<guint32, QByteArray>>> lines(m_channels.size());
    for (std::size_t k = 0; k < m_channels.size(); ++k) {
        GSList *candidates = nice_agent_get_local_candidates(agent, m_stream, guint(k + 1));
        for (GSList *i = candidates; i; i = i->next) {
            auto *candidate = static_cast<NiceCandidate *>(i->data);
            gchar *sdp = nice_agent_generate_local_candidate_sdp(agent, candidate);
            if (sdp)
                lines[k].emplace_back(candidate->priority, QByteArray(sdp));
            g_free(sdp);
        }
        g_slist_free_full(candidates, reinterpret_cast<GDestroyNotify>(&nice_candidate_free));
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
    NiceAgent *agent = Glue::agent(this);
    // Every line is read before anything is handed to the agent, so a description that
    // is refused changes nothing.
    std::vector<GSList *> perComponent(m_channels.size(), nullptr);
    auto freeAll = [&perComponent] {
        for (GSList *&list : perComponent) {
            g_slist_free_full(list, reinterpret_cast<GDestroyNotify>(&nice_candidate_free));
            list = nullptr;
        }
    };
    for (const QByteArray &line : remote.candidates()) {
        NiceCandidate *candidate = nice_agent_parse_remote_candidate_sdp(agent, m_stream, line.constData());
        if (!candidate || candidate->component_id < 1 || candidate->component_id > m_channels.size()) {
            if (candidate)
                nice_candidate_free(candidate);
            freeAll();
            return false;
        }
        // ICE over TCP is off here: such candidates are passed over, not held against
        // the description.
        if (candidate->transport != NICE_CANDIDATE_TRANSPORT_UDP) {
            nice_candidate_free(candidate);
            continue;
        }
        GSList *&list = perComponent[candidate->component_id - 1];
        list = g_slist_append(list, candidate);
    }
    for (GSList *list : perComponent) {
        if (!list) {
            freeAll();
            return false;
        }
    }
    if (!nice_agent_set_remote_credentials(agent, m_stream, remote.ufrag().constData(),
                                           remote.password().constData())) {
        freeAll();
        return false;
    }
    m_state = State::Checking;
    m_connectTimer.start(ConnectMs);
    for (std::size_t k = 0; k < perComponent.size(); ++k) {
        if (nice_agent_set_remote_candidates(agent, m_stream, guint(k + 1), perComponent[k]) <= 0) {
            freeAll();
            fail(QStringLiteral("the ICE agent took none of the peer's candidates for channel %1").arg(k + 1));
            return true;
        }
    }
    freeAll();
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
    if (on && !c.readable && c.io) {
        c.readable = g_pollable_input_stream_create_source(
            G_POLLABLE_INPUT_STREAM(g_io_stream_get_input_stream(c.io)), nullptr);
        g_source_set_callback(c.readable, G_SOURCE_FUNC(Glue::readable), &c, nullptr);
        g_source_attach(c.readable, nullptr);
    } else if (!on && c.readable) {
        g_source_destroy(c.readable);
        g_source_unref(c.readable);
        c.readable = nullptr;
    }
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

        GError *error = nullptr;
        const gssize n = nice_agent_recv_nonblocking(Glue::agent(this), m_stream, guint(c.id),
                                                     reinterpret_cast<guint8 *>(c.inbound.data()),
                                                     gsize(c.inbound.size()), nullptr, &error);
        if (n > 0) {
            c.inboundEnd = n;
            continue;
        }
        if (n == 0) {
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
        const bool wouldBlock = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
        const QString why = QString::fromUtf8(error ? error->message : "unknown error");
        g_clear_error(&error);
        if (wouldBlock) {
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
    NiceAgent *agent = Glue::agent(this);
    for (;;) {
        while (c.outboundAt < c.outboundEnd) {
            const gint want = gint(c.outboundEnd - c.outboundAt);
            const gint n = nice_agent_send(agent, m_stream, guint(c.id), guint(want), c.outbound.data() + c.outboundAt);
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
    if (c.io)
        g_output_stream_close(g_io_stream_get_output_stream(c.io), nullptr, nullptr);
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
    NiceAgent *agent = Glue::agent(this);
    Route route = Route::Direct;
    for (const auto &c : m_channels) {
        NiceCandidate *local = nullptr;
        NiceCandidate *remote = nullptr;
        if (!nice_agent_get_selected_pair(agent, m_stream, guint(c->id), &local, &remote))
            continue;
        for (const NiceCandidate *candidate : {local, remote}) {
            if (candidate->type == NICE_CANDIDATE_TYPE_RELAYED)
                route = Route::Relayed;
            else if (candidate->type != NICE_CANDIDATE_TYPE_HOST && route == Route::Direct)
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
            if (c->state == NICE_COMPONENT_STATE_FAILED) {
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
            NiceCandidate *local = nullptr;
            NiceCandidate *remote = nullptr;
            const bool connected =
                c->state == NICE_COMPONENT_STATE_CONNECTED || c->state == NICE_COMPONENT_STATE_READY;
            if (!connected || !c->writable ||
                !nice_agent_get_selected_pair(Glue::agent(this), m_stream, guint(c->id), &local, &remote))
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
    NiceAgent *agent = Glue::agent(this);
    if (agent)
        g_signal_handlers_disconnect_by_data(agent, this);
    for (auto &c : m_channels) {
        armReadable(*c, false);
        c->localReadable.reset();
        c->localWritable.reset();
        // The owners' sockets see their end of stream.
        closeFd(c->localFd);
        closeFd(c->peerFd);
        c->inboundAt = c->inboundEnd = c->outboundAt = c->outboundEnd = 0;
        // Closing the component's stream closes its pseudo-TCP, which tells the peer.
        if (c->io)
            g_object_unref(c->io);
        c->io = nullptr;
    }
    if (agent) {
        // The agent lets go of its relay allocations before it goes; the closing holds
        // its own reference and ends on the event loop. Nothing of the session is called
        // from it.
        if (m_closings) {
            m_closings->close(agent);
        } else {
            nice_agent_close_async(agent, nullptr, nullptr);
            g_object_unref(agent);
        }
        m_agent = nullptr;
    }
}
