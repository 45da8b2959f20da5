#include "server/ConnectionPool.h"

#include "core/EndpointConnection.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include "tls/TlsContext.h"
#include "tls/TlsStream.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Listening sockets are told apart from connections by this bit of the epoll tag.
constexpr quint64 ListenerTag = quint64(1) << 63;
// Work done per wake-up before the rest of the event loop (timers, the registry) gets a
// turn: a flood on some connections must not starve the others' answers.
constexpr int EventsPerWake = 2048;
constexpr int BytesPerRead = 65536;
constexpr int AcceptsPerWake = 256;
constexpr int AcceptPauseMs = 1000;
constexpr int Backlog = 4096;
// Lines of one connection handed over before the next connection's turn. A few dozen
// cost well under a millisecond, so another client waits no longer than that per
// connection that floods.
constexpr int LinesPerTurn = 32;
// Every TLS record starts with its content type; a handshake's is 22.
constexpr char TlsHandshakeRecord = 0x16;
// Handshakes under way at once, beyond which the heap is trimmed once they are all over.
constexpr int TrimAfterHandshakes = 64;

QString addressText(const sockaddr_storage &a)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(a).sin_addr, text, sizeof text);
        return QString::fromLatin1(text);
    }
    if (a.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(a);
        // An IPv4 client of an IPv6 socket reads as dotted digits, as the list shows them.
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
            return QString::fromLatin1(text);
        }
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return QString::fromLatin1(text);
    }
    return {};
}

qint64 nowMs()
{
    return QDeadlineTimer::current().deadline();
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

ConnectionPool::ConnectionPool(Limits limits, QObject *parent)
    : QObject(parent)
    , m_limits(std::move(limits))
    , m_epoll(epoll_create1(EPOLL_CLOEXEC))
{
    if (m_limits.terminator.isEmpty())
        m_limits.terminator = "\n";
    if (m_epoll >= 0) {
        m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ConnectionPool::onReady);
    }
    m_sweep = new QTimer(this);
    m_sweep->setInterval(1000);
    connect(m_sweep, &QTimer::timeout, this, &ConnectionPool::sweepLingering);
    m_handshakeSweep = new QTimer(this);
    m_handshakeSweep->setSingleShot(true);
    connect(m_handshakeSweep, &QTimer::timeout, this, &ConnectionPool::sweepHandshakes);
    m_backlogTimer = new QTimer(this);
    m_backlogTimer->setSingleShot(true);
    m_backlogTimer->setInterval(0);
    connect(m_backlogTimer, &QTimer::timeout, this, &ConnectionPool::serveBacklog);
    m_resumeAccept = new QTimer(this);
    m_resumeAccept->setSingleShot(true);
    connect(m_resumeAccept, &QTimer::timeout, this, [this] {
        for (int index = 0; index < int(std::size(m_listeners)); ++index) {
            if (m_listeners[index].fd < 0)
                continue;
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = ListenerTag | quint64(index);
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listeners[index].fd, &ev);
        }
    });
}

ConnectionPool::~ConnectionPool()
{
    stopListening();
    for (quint32 i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].state != State::Free)
            release(i);
    }
    delete m_notifier;
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool ConnectionPool::listen(int channel, const QString &address, int port, QString *error)
{
    if (channel < 0 || channel >= EncryptedListeners) {
        if (error)
            *error = QStringLiteral("no room for another listening port");
        return false;
    }
    return openListener(channel, address, port, error);
}

bool ConnectionPool::listenEncrypted(int channel, const QString &address, int port, QString *error)
{
    if (channel < 0 || channel >= EncryptedListeners || !m_tls[channel]) {
        if (error)
            *error = QStringLiteral("no encryption set up for this channel");
        return false;
    }
    return openListener(channel + EncryptedListeners, address, port, error);
}

bool ConnectionPool::openListener(int index, const QString &address, int port, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_epoll < 0)
        return fail(QStringLiteral("no room for another listening port"));
    if (m_listeners[index].fd >= 0)
        return fail(QStringLiteral("already listening"));
    sockaddr_storage a{};
    socklen_t length = 0;
    QHostAddress host(address.trimmed().isEmpty() ? QStringLiteral("0.0.0.0") : address.trimmed());
    if (host.isNull())
        return fail(QStringLiteral("not a numeric address: ") + address);
    bool isV4 = false;
    const quint32 v4 = host.toIPv4Address(&isV4);
    if (isV4) {
        auto &in = reinterpret_cast<sockaddr_in &>(a);
        in.sin_family = AF_INET;
        in.sin_port = htons(quint16(port));
        in.sin_addr.s_addr = htonl(v4);
        length = sizeof(sockaddr_in);
    } else {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(a);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(quint16(port));
        const Q_IPV6ADDR bytes = host.toIPv6Address();
        std::memcpy(&in6.sin6_addr, &bytes, sizeof bytes);
        length = sizeof(sockaddr_in6);
    }
    const int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(systemError(errno));
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), length) != 0 || ::listen(fd, Backlog) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(systemError(code));
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundLength);
    m_listeners[index].fd = fd;
    m_listeners[index].port = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in &>(bound).sin_port
                                                               : reinterpret_cast<sockaddr_in6 &>(bound).sin6_port);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = ListenerTag | quint64(index);
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    return true;
}

void ConnectionPool::acceptTls(int channel, std::shared_ptr<const TlsContext> context)
{
    if (channel >= 0 && channel < 8)
        m_tls[channel] = std::move(context);
}

QByteArray ConnectionPool::peerKey(Handle handle) const
{
    const Slot *s = slotOf(handle);
    return s ? s->peerKey : QByteArray();
}

bool ConnectionPool::isEncrypted(Handle handle) const
{
    const Slot *s = slotOf(handle);
    return s && s->tls;
}

int ConnectionPool::localPort(int channel) const
{
    return channel >= 0 && channel < EncryptedListeners ? m_listeners[channel].port : 0;
}

void ConnectionPool::stopListening()
{
    m_resumeAccept->stop();
    for (Listener &l : m_listeners) {
        if (l.fd >= 0) {
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, l.fd, nullptr);
            ::close(l.fd);
        }
        l.fd = -1;
    }
}

void ConnectionPool::closeAll()
{
    for (quint32 i = 0; i < m_slots.size(); ++i) {
        drop(i);
    }
}

ConnectionPool::Slot *ConnectionPool::slotOf(Handle handle)
{
    const quint32 index = quint32(handle & 0xffffffffu) - 1;
    if (index >= m_slots.size())
        return nullptr;
    Slot &s = m_slots[index];
    return s.state == State::Open && s.generation == quint32(handle >> 32) ? &s : nullptr;
}

const ConnectionPool::Slot *ConnectionPool::slotOf(Handle handle) const
{
    return const_cast<ConnectionPool *>(this)->slotOf(handle);
}

ConnectionPool::Handle ConnectionPool::handleOf(quint32 index) const
{
    return (quint64(m_slots[index].generation) << 32) | quint64(index + 1);
}

int ConnectionPool::channel(Handle handle) const
{
    const Slot *s = slotOf(handle);
    return s ? s->channel : -1;
}

QString ConnectionPool::peerAddress(Handle handle) const
{
    const quint32 index = quint32(handle & 0xffffffffu) - 1;
    if (index >= m_slots.size() || m_slots[index].generation != quint32(handle >> 32))
        return {};
    return m_slots[index].address;
}

QString ConnectionPool::localAddress(Handle handle) const
{
    const quint32 index = quint32(handle & 0xffffffffu) - 1;
    if (index >= m_slots.size() || m_slots[index].generation != quint32(handle >> 32))
        return {};
    return m_slots[index].localAddress;
}

QString ConnectionPool::sourceOf(const QString &address)
{
    return EndpointConnection::sourceOf(address);
}

int ConnectionPool::count(int channel) const
{
    return channel >= 0 && channel < 8 ? m_openByChannel[channel] : 0;
}

QVector<ConnectionPool::Handle> ConnectionPool::handles(int channel) const
{
    QVector<Handle> result;
    result.reserve(count(channel));
    for (quint32 i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].state == State::Open && m_slots[i].channel == channel)
            result.append(handleOf(i));
    }
    return result;
}

void ConnectionPool::watch(quint32 index, bool write)
{
    Slot &s = m_slots[index];
    if (s.wantsWrite == write)
        return;
    s.wantsWrite = write;
    epoll_event ev{};
    ev.events = (s.wantsRead ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u);
    ev.data.u64 = handleOf(index);
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, s.fd, &ev);
}

void ConnectionPool::watchRead(quint32 index, bool read)
{
    Slot &s = m_slots[index];
    if (s.wantsRead == read)
        return;
    s.wantsRead = read;
    epoll_event ev{};
    ev.events = (read ? EPOLLIN : 0u) | (s.wantsWrite ? EPOLLOUT : 0u);
    ev.data.u64 = handleOf(index);
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, s.fd, &ev);
}

void ConnectionPool::pauseReading(Handle handle)
{
    Slot *s = slotOf(handle);
    if (!s || s->paused)
        return;
    s->paused = true;
    watchRead(quint32(handle & 0xffffffffu) - 1, false);
}

void ConnectionPool::resumeReading(Handle handle)
{
    Slot *s = slotOf(handle);
    if (!s || !s->paused)
        return;
    s->paused = false;
    // Lines read before the pause go first; reading resumes once they are handed over.
    queue(quint32(handle & 0xffffffffu) - 1);
}

void ConnectionPool::queue(quint32 index)
{
    Slot &s = m_slots[index];
    if (!s.queued) {
        s.queued = true;
        m_backlog.push_back(handleOf(index));
    }
    if (!m_backlogTimer->isActive())
        m_backlogTimer->start();
}

void ConnectionPool::serveBacklog()
{
    // One turn for each connection waiting now; those that still have lines go to the
    // back, after the connections whose input came in meanwhile.
    for (size_t n = m_backlog.size(); n > 0 && !m_backlog.empty(); --n) {
        const Handle handle = m_backlog.front();
        m_backlog.pop_front();
        Slot *s = slotOf(handle);
        if (!s)
            continue;
        s->queued = false;
        const quint32 index = quint32(handle & 0xffffffffu) - 1;
        if (s->paused)
            continue;
        if (!deliver(index)) {
            if (Slot *still = slotOf(handle); still && !still->paused)
                queue(index);
            continue;
        }
        watchRead(index, true);
        // A TLS record read before the pause may still hold lines the kernel no longer
        // reports.
        if (m_slots[index].tls && m_slots[index].tls->isSecured())
            readFrom(index);
    }
    if (!m_backlog.empty() && !m_backlogTimer->isActive())
        m_backlogTimer->start();
}

bool ConnectionPool::send(Handle handle, const QByteArray &text)
{
    Slot *s = slotOf(handle);
    if (!s)
        return false;
    if (text.isEmpty())
        return true;
    const quint32 index = quint32(handle & 0xffffffffu) - 1;
    qsizetype sent = 0;
    // Answers to an encrypted connection wait until its handshake is done.
    if (s->outputPos == s->output.size() && (!s->tls || s->tls->isSecured())) {
        // Nothing is waiting: most answers go straight to the kernel without a copy.
        const ssize_t w = transmit(*s, text.constData(), size_t(text.size()));
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            drop(index);
            return false;
        }
        sent = qMax<ssize_t>(w, 0);
        if (sent == text.size())
            return true;
        s->output.clear();
        s->outputPos = 0;
    }
    s->output.append(text.constData() + sent, text.size() - sent);
    if (s->output.size() - s->outputPos > m_limits.maxPendingOutput) {
        // A client that lets this much pile up unread is not reading at all.
        drop(index);
        return false;
    }
    watch(index, true);
    return true;
}

void ConnectionPool::close(Handle handle)
{
    Slot *s = slotOf(handle);
    if (!s)
        return;
    const quint32 index = quint32(handle & 0xffffffffu) - 1;
    if (s->tls && !s->tls->isSecured()) {
        // Still shaking hands: there is nothing to say goodbye with.
        drop(index);
        return;
    }
    s->state = State::Flushing;
    s->input = QByteArray();
    s->lingerUntil = nowMs() + LingerMs;
    --m_open;
    --m_openByChannel[s->channel];
    ++m_lingering;
    if (!m_sweep->isActive())
        m_sweep->start();
    if (s->outputPos == s->output.size())
        finishClose(index);
    emit closed(handle, m_slots[index].channel);
}

void ConnectionPool::finishClose(quint32 index)
{
    // Everything queued has reached the kernel: the close is announced to the peer, and
    // what it still sends is read and dropped until it closes too, so that no reset
    // destroys the last answer on its way.
    Slot &s = m_slots[index];
    s.state = State::Draining;
    s.output = QByteArray();
    s.outputPos = 0;
    if (s.tls)
        s.tls->shutdown();
    ::shutdown(s.fd, SHUT_WR);
    s.paused = false;
    watch(index, false);
    watchRead(index, true);
}

void ConnectionPool::drop(quint32 index)
{
    const Handle handle = handleOf(index);
    const bool wasOpen = m_slots[index].state == State::Open;
    const int channel = m_slots[index].channel;
    release(index);
    if (wasOpen)
        emit closed(handle, channel);
}

void ConnectionPool::release(quint32 index)
{
    Slot &s = m_slots[index];
    if (s.state == State::Free)
        return;
    if (s.state == State::Open) {
        --m_open;
        --m_openByChannel[s.channel];
    } else {
        --m_lingering;
    }
    endHandshake(s);
    s.tls.reset();
    if (s.fd >= 0) {
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, s.fd, nullptr);
        ::close(s.fd);
    }
    s.fd = -1;
    s.sniffed = false;
    s.encryptedPort = false;
    s.peerKey.clear();
    s.state = State::Free;
    if (const auto it = m_perSource.find(s.source); it != m_perSource.end() && --it.value() <= 0)
        m_perSource.erase(it);
    s.source.clear();
    ++s.generation;
    s.wantsWrite = false;
    s.input = QByteArray();
    s.output = QByteArray();
    s.outputPos = 0;
    m_free.push_back(index);
}

void ConnectionPool::onReady()
{
    epoll_event events[256];
    int handled = 0;
    while (handled < EventsPerWake) {
        const int n = epoll_wait(m_epoll, events, 256, 0);
        if (n <= 0)
            return;
        for (int k = 0; k < n; ++k) {
            const quint64 tag = events[k].data.u64;
            if (tag & ListenerTag) {
                acceptOn(int(tag & 15));
                continue;
            }
            const quint32 index = quint32(tag & 0xffffffffu) - 1;
            // An event of a connection that has since gone (and its slot perhaps reused).
            if (index >= m_slots.size() || m_slots[index].generation != quint32(tag >> 32)
                || m_slots[index].state == State::Free)
                continue;
            if (events[k].events & EPOLLOUT) {
                if (m_slots[index].tls && !m_slots[index].tls->isSecured())
                    shakeHands(index);
                else
                    flush(index);
            }
            if (m_slots[index].state != State::Free && m_slots[index].generation == quint32(tag >> 32)
                && (events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                readFrom(index);
        }
        handled += n;
        if (n < 256)
            return;
    }
}

void ConnectionPool::acceptOn(int listener)
{
    const int channel = listener % EncryptedListeners;
    const bool encryptedPort = listener >= EncryptedListeners;
    const int listenFd = m_listeners[listener].fd;
    for (int k = 0; k < AcceptsPerWake && listenFd >= 0; ++k) {
        sockaddr_storage a{};
        socklen_t length = sizeof a;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr *>(&a), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                pauseAccepting();
            return;
        }
        const QString address = addressText(a);
        if (m_open + m_lingering >= m_limits.maxConnections) {
            ::close(fd);
            emit refused(channel, address, Refusal::Full);
            continue;
        }
        const QString source = sourceOf(address);
        int &fromSource = m_perSource[source];
        if (m_limits.maxPerSource > 0 && fromSource >= m_limits.maxPerSource) {
            ::close(fd);
            emit refused(channel, address, Refusal::SourceFull);
            continue;
        }
        ++fromSource;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        quint32 index;
        if (!m_free.empty()) {
            index = m_free.back();
            m_free.pop_back();
        } else {
            index = quint32(m_slots.size());
            m_slots.emplace_back();
        }
        Slot &s = m_slots[index];
        s.fd = fd;
        s.state = State::Open;
        s.channel = quint8(channel);
        s.encryptedPort = encryptedPort;
        s.wantsWrite = false;
        s.wantsRead = true;
        s.paused = false;
        s.queued = false;
        s.address = address;
        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        const QString localText = getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLength) == 0
                                ? addressText(local)
                                : QString();
        if (localText != m_lastLocalAddress)
            m_lastLocalAddress = localText;
        s.localAddress = m_lastLocalAddress;
        s.source = source;
        ++m_open;
        ++m_openByChannel[channel];
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = handleOf(index);
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
        emit opened(handleOf(index));
    }
}

void ConnectionPool::pauseAccepting()
{
    // Out of descriptors: accepting again at once would spin; the kernel keeps the
    // waiting clients in the backlog meanwhile.
    for (const Listener &l : m_listeners) {
        if (l.fd >= 0)
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, l.fd, nullptr);
    }
    m_resumeAccept->start(AcceptPauseMs);
}

void ConnectionPool::readFrom(quint32 index)
{
    const Handle handle = handleOf(index);
    char buffer[16384];
    if (Slot &s = m_slots[index]; s.state == State::Open && !s.sniffed && m_tls[s.channel]) {
        const ssize_t r = ::recv(s.fd, buffer, 1, MSG_PEEK | MSG_DONTWAIT);
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        s.sniffed = true;
        if (s.encryptedPort || (r == 1 && buffer[0] == TlsHandshakeRecord)) {
            startTls(index);
            return;
        }
    }
    if (Slot &s = m_slots[index]; s.state == State::Open && s.tls && !s.tls->isSecured()) {
        shakeHands(index);
        return;
    }
    int budget = BytesPerRead;
    while (budget > 0) {
        Slot &s = m_slots[index];
        if (s.state == State::Open && (s.paused || s.queued)) {
            // Told only of a hang-up or an error: what it still sent waits in its socket.
            const ssize_t r = ::recv(s.fd, buffer, 1, MSG_PEEK | MSG_DONTWAIT);
            if (r > 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)))
                return;
        }
        const ssize_t r = receive(s, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (r <= 0) {
            // The peer closed or the connection failed. Complete lines were handed over
            // as they came; an unterminated rest is no message.
            drop(index);
            return;
        }
        budget -= int(r);
        if (s.state != State::Open)
            continue; // lingering: what arrives now is dropped
        s.input.append(buffer, r);
        if (!deliver(index)) {
            // Lines are left for a later turn (or the connection paused or went): nothing
            // more is read until they are handed over.
            if (Slot *still = slotOf(handle)) {
                watchRead(index, false);
                if (!still->paused)
                    queue(index);
            }
            return;
        }
    }
}

bool ConnectionPool::deliver(quint32 index)
{
    const Handle handle = handleOf(index);
    const qsizetype termLength = m_limits.terminator.size();
    qsizetype start = 0;
    bool done = true;
    for (int lines = 0;; ++lines) {
        Slot &cur = m_slots[index];
        const qsizetype end = cur.input.indexOf(m_limits.terminator, start);
        if (end < 0)
            break;
        if (lines >= LinesPerTurn || cur.paused) {
            done = false;
            break;
        }
        const qsizetype length = end - start;
        if (length > lineBound(cur)) {
            emit lineTooLong(handle);
            return false;
        }
        const QByteArray text = cur.input.mid(start, length);
        start = end + termLength;
        emit line(handle, text);
        // The handler may have closed this connection.
        if (m_slots[index].state != State::Open || m_slots[index].generation != quint32(handle >> 32))
            return false;
    }
    Slot &after = m_slots[index];
    if (start > 0)
        after.input.remove(0, start);
    if (done && after.input.size() > lineBound(after) + termLength - 1) {
        emit lineTooLong(handle);
        return false;
    }
    return done;
}

int ConnectionPool::lineBound(const Slot &s) const
{
    return s.tls && m_limits.maxEncryptedLineBytes > 0 ? m_limits.maxEncryptedLineBytes : m_limits.maxLineBytes;
}

void ConnectionPool::flush(quint32 index)
{
    Slot &s = m_slots[index];
    while (s.outputPos < s.output.size()) {
        const ssize_t w = transmit(s, s.output.constData() + s.outputPos, size_t(s.output.size() - s.outputPos));
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (w <= 0) {
            drop(index);
            return;
        }
        s.outputPos += w;
    }
    if (s.outputPos < s.output.size()) {
        // Keep the buffer from holding what has gone out long ago.
        if (s.outputPos > 65536 && s.outputPos * 2 > s.output.size()) {
            s.output.remove(0, s.outputPos);
            s.outputPos = 0;
        }
        return;
    }
    s.output = QByteArray();
    s.outputPos = 0;
    if (s.state == State::Flushing)
        finishClose(index);
    else
        watch(index, false);
}

void ConnectionPool::sweepLingering()
{
    const qint64 now = nowMs();
    for (quint32 i = 0; i < m_slots.size() && m_lingering > 0; ++i) {
        const Slot &s = m_slots[i];
        if ((s.state == State::Flushing || s.state == State::Draining) && s.lingerUntil <= now)
            release(i);
    }
    if (m_lingering == 0)
        m_sweep->stop();
}

void ConnectionPool::startTls(quint32 index)
{
    const Handle handle = handleOf(index);
    if (!roomForHandshake(m_slots[index].source)) {
        const int channel = m_slots[index].channel;
        release(index);
        emit tlsFailed(handle, QStringLiteral("too many handshakes under way"));
        emit closed(handle, channel);
        return;
    }
    Slot &s = m_slots[index];
    s.tls = std::make_unique<TlsStream>(*m_tls[s.channel], s.fd);
    s.handshaking = true;
    m_handshakePeak = std::max(m_handshakePeak, ++m_handshakeCount);
    ++m_handshakesBySource[s.source];
    const qint64 now = nowMs();
    m_handshaking.emplace_back(handle, now);
    if (!m_handshakeSweep->isActive())
        m_handshakeSweep->start(m_limits.handshakeMs);
    shakeHands(index);
}

bool ConnectionPool::roomForHandshake(const QString &source)
{
    // The oldest handshake still under way that `pick` allows, closed.
    const auto closeOldest = [this](const auto &pick) {
        for (const auto &[handle, since] : m_handshaking) {
            const Slot *s = slotOf(handle);
            if (!s || !s->handshaking || !pick(*s, since))
                continue;
            // Copied: the release may empty the list.
            const Handle oldest = handle;
            const quint32 index = quint32(s - m_slots.data());
            const int channel = s->channel;
            release(index);
            emit tlsFailed(oldest, QStringLiteral("too many handshakes under way"));
            emit closed(oldest, channel);
            return true;
        }
        return false;
    };
    if (m_limits.maxHandshakesPerSource > 0 && m_handshakesBySource.value(source) >= m_limits.maxHandshakesPerSource)
        return closeOldest([&source](const Slot &s, qint64) { return s.source == source; });
    if (m_limits.maxHandshakes > 0 && m_handshakeCount >= m_limits.maxHandshakes) {
        const qint64 old = nowMs() - MinHandshakeAgeMs;
        return closeOldest([old](const Slot &, qint64 since) { return since <= old; });
    }
    return true;
}

void ConnectionPool::endHandshake(Slot &s)
{
    if (!s.handshaking)
        return;
    s.handshaking = false;
    --m_handshakeCount;
    if (const auto it = m_handshakesBySource.find(s.source); it != m_handshakesBySource.end() && --it.value() <= 0)
        m_handshakesBySource.erase(it);
    if (m_handshakeCount == 0) {
        m_handshaking.clear();
        // After a flood of handshakes the heap is full of their freed state: it goes back
        // to the system rather than stay with the process.
        if (m_handshakePeak >= TrimAfterHandshakes)
            malloc_trim(0);
        m_handshakePeak = 0;
    }
}

void ConnectionPool::sweepHandshakes()
{
    const qint64 now = nowMs();
    while (!m_handshaking.empty()) {
        const auto [handle, since] = m_handshaking.front();
        const Slot *s = slotOf(handle);
        if (s && s->handshaking && now - since < m_limits.handshakeMs) {
            m_handshakeSweep->start(int(m_limits.handshakeMs - (now - since)));
            return;
        }
        m_handshaking.pop_front();
        if (!s || !s->handshaking)
            continue;
        const quint32 index = quint32(s - m_slots.data());
        const int channel = s->channel;
        release(index);
        emit tlsFailed(handle, QStringLiteral("the handshake took too long"));
        emit closed(handle, channel);
    }
}

void ConnectionPool::shakeHands(quint32 index)
{
    const Handle handle = handleOf(index);
    Slot &s = m_slots[index];
    if (s.tls->handshake()) {
        endHandshake(s);
        s.peerKey = s.tls->peerKey();
        emit secured(handle);
        if (!slotOf(handle))
            return;
        // Answers queued meanwhile go out, and lines that came with the handshake are read.
        watch(index, m_slots[index].outputPos < m_slots[index].output.size());
        readFrom(index);
        return;
    }
    if (s.tls->hasFailed() || s.tls->isClosed()) {
        const QString why = s.tls->failure();
        const int channel = s.channel;
        release(index);
        if (!why.isEmpty())
            emit tlsFailed(handle, why);
        emit closed(handle, channel);
        return;
    }
    watch(index, s.tls->need() == TlsStream::Need::Write);
}

ssize_t ConnectionPool::receive(Slot &s, char *buffer, size_t size)
{
    // A closing connection's input is dropped unread: no need to decrypt it.
    if (s.tls && s.state == State::Open) {
        const ssize_t r = s.tls->read(buffer, size);
        if (r < 0 && s.tls->need() == TlsStream::Need::Write)
            watch(quint32(&s - m_slots.data()), true);
        return r;
    }
    return ::recv(s.fd, buffer, size, 0);
}

ssize_t ConnectionPool::transmit(Slot &s, const char *data, size_t size)
{
    if (s.tls)
        return s.tls->write(data, size);
    return ::send(s.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}
