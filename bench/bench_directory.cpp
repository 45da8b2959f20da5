// zelmo-directory at scale. Starts one node (or several sharing a registry, with a Redis
// server of its own when asked), logs in N simulated clients on loopback, each with its own
// connection as real clients keep it, spread over the nodes; then, while all of them stay
// connected, has 100 of them ask for the user list ("LS1") and look up e-mails ("GEM") of
// users on other nodes. Prints logins a second, median and 99th-percentile answer times,
// each node's resident memory, and a last line with the figures beside their targets.
//
//   bench_directory [--clients N] [--nodes K] [--registry sqlite|redis|redis://HOST:PORT]
//                   [--in-flight W] [--askers A] [--rounds R] [--logs DIR] [--tls]
//
// With --tls the same run follows over TLS (each client a TLS socket showing a key), so
// both sets of figures come from one invocation on the same machine.
//
// The clients are plain non-blocking sockets on one epoll set, so the load generator costs
// the two cores as little as possible, each from a loopback address of its own; the nodes
// are the real zelmo-directory executable.

#include "core/Fields.h"
#include "directory/DirectoryProtocol.h"
#include "secure/Identity.h"
#include "secure/TlsContext.h"
#include "secure/TlsSetup.h"
#include "secure/TlsStream.h"
#include "support/RedisProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Proto = DirectoryProtocol;

namespace {

constexpr double LoginTarget = 2000;  // logins a second
constexpr double ListTargetMs = 50;   // median "LS1" time

qint64 statusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool canConnect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

// One simulated client: a socket, what has arrived, and what it waits for.
struct Client
{
    int fd = -1;
    int node = 0;
    QByteArray in;
    QByteArray out;
    qint64 askedAt = 0; // ns on the bench clock when the pending question went out
    bool connecting = false;
    bool closed = false;
    // With --tls: the client's TLS connection on fd, once connected.
    std::unique_ptr<TlsStream> tls;
};

// All clients on one epoll set. A handler gets each whole message (without "<ET>").
class Swarm
{
public:
    using Handler = std::function<void(int index, const QByteArray &message)>;

    // Over TLS every client shows `own` as its key, with the rules of real clients of this
    // version: what they cost the server, handshake and key check included. The clients
    // share one TLS set-up and stay on this epoll set, so the load generator's own cost
    // does not grow with the number of connections.
    explicit Swarm(const TlsSetup::Credentials *own = nullptr)
        : m_epoll(epoll_create1(0))
    {
        if (own) {
            QString why;
            m_tls = TlsContext::make(TlsContext::Side::Client, *own, {}, &why);
            if (!m_tls)
                std::fprintf(stderr, "bench_directory: no TLS set-up: %s\n", qPrintable(why));
        }
        m_clock.start();
    }
    ~Swarm()
    {
        for (Client &c : m_clients) {
            c.tls.reset();
            if (c.fd >= 0)
                ::close(c.fd);
        }
        ::close(m_epoll);
    }

    void resize(int n) { m_clients.resize(size_t(n)); }
    Client &at(int i) { return m_clients[size_t(i)]; }
    int size() const { return int(m_clients.size()); }
    qint64 now() const { return m_clock.nsecsElapsed(); }
    void setHandler(Handler h) { m_handler = std::move(h); }
    void setOnClose(std::function<void(int)> f) { m_onClose = std::move(f); }

    // Starts a non-blocking connect; the text goes out once connected.
    bool open(int i, int port, const QByteArray &first)
    {
        Client &c = at(i);
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c.fd < 0)
            return false;
        const int one = 1;
        setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // Each user from an address of its own, as on the Internet (127.1.0.1 and on): a
        // node limits what one address may hold.
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl((127u << 24) | (1u << 16) | (quint32(i / 250) << 8) | quint32(i % 250 + 1));
        if (::bind(c.fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
            ::close(c.fd);
            c.fd = -1;
            return false;
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int r = ::connect(c.fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        if (r < 0 && errno != EINPROGRESS) {
            ::close(c.fd);
            c.fd = -1;
            return false;
        }
        c.connecting = r < 0;
        c.out = first;
        epoll_event ev{};
        ev.events = EPOLLIN | (c.connecting ? EPOLLOUT : 0u);
        ev.data.u32 = quint32(i);
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &ev);
        if (!c.connecting)
            connected(i);
        return true;
    }

    void send(int i, const QByteArray &text)
    {
        Client &c = at(i);
        c.out += text;
        if (!c.connecting)
            flush(i);
    }

    // Handles what is ready, waiting at most timeoutMs for something to happen.
    void pump(int timeoutMs)
    {
        epoll_event events[256];
        const int n = epoll_wait(m_epoll, events, 256, timeoutMs);
        for (int k = 0; k < n; ++k) {
            const int i = int(events[k].data.u32);
            Client &c = at(i);
            if (c.fd < 0)
                continue;
            if (c.connecting && (events[k].events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
                int err = 0;
                socklen_t len = sizeof err;
                getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err != 0) {
                    drop(i);
                    continue;
                }
                c.connecting = false;
                connected(i);
                if (c.fd < 0)
                    continue;
            } else if (events[k].events & EPOLLOUT) {
                flush(i);
            }
            if (events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                readFrom(i);
        }
    }

    // Pumps until done() holds or the time runs out.
    bool runUntil(const std::function<bool()> &done, int ms, const std::function<void()> &step = {})
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms)
                return false;
            if (step)
                step();
            pump(5);
        }
        return true;
    }

private:
    void connected(int i)
    {
        Client &c = at(i);
        if (m_tls)
            c.tls = std::make_unique<TlsStream>(*m_tls, c.fd);
        flush(i);
    }

    // Goes on with the handshake; false when the client is gone.
    bool shakeHands(int i)
    {
        Client &c = at(i);
        if (!c.tls || c.tls->handshake())
            return true;
        if (c.tls->hasFailed() || c.tls->isClosed()) {
            drop(i);
            return false;
        }
        return true;
    }

    void flush(int i)
    {
        Client &c = at(i);
        if (!shakeHands(i))
            return;
        const bool shaking = c.tls && !c.tls->isSecured();
        while (!shaking && !c.out.isEmpty()) {
            const ssize_t w = c.tls ? c.tls->write(c.out.constData(), size_t(c.out.size()))
                                    : ::send(c.fd, c.out.constData(), size_t(c.out.size()), MSG_NOSIGNAL);
            if (w <= 0)
                break;
            c.out.remove(0, w);
        }
        const bool wantsWrite = shaking ? c.tls->need() == TlsStream::Need::Write : !c.out.isEmpty();
        epoll_event ev{};
        ev.events = EPOLLIN | (wantsWrite ? EPOLLOUT : 0u);
        ev.data.u32 = quint32(i);
        epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &ev);
    }

    void readFrom(int i)
    {
        Client &c = at(i);
        if (c.tls && !c.tls->isSecured()) {
            // The login goes out as soon as the handshake is done.
            flush(i);
            if (c.fd < 0 || !c.tls->isSecured())
                return;
        }
        char buffer[65536];
        for (;;) {
            const ssize_t r = c.tls ? c.tls->read(buffer, sizeof buffer) : ::recv(c.fd, buffer, sizeof buffer, 0);
            if (r > 0) {
                c.in.append(buffer, r);
                continue;
            }
            if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                deliver(i);
                drop(i);
                return;
            }
            break;
        }
        deliver(i);
    }

    void deliver(int i)
    {
        Client &c = at(i);
        qsizetype start = 0;
        qsizetype end;
        while ((end = c.in.indexOf(Proto::Terminator, start)) >= 0) {
            const QByteArray message = c.in.mid(start, end - start);
            start = end + 4;
            if (m_handler)
                m_handler(i, message);
        }
        c.in.remove(0, start);
    }

    void drop(int i)
    {
        Client &c = at(i);
        c.tls.reset();
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
        ::close(c.fd);
        c.fd = -1;
        c.closed = true;
        if (m_onClose)
            m_onClose(i);
    }

    int m_epoll;
    std::vector<Client> m_clients;
    Handler m_handler;
    std::function<void(int)> m_onClose;
    QElapsedTimer m_clock;
    std::unique_ptr<TlsContext> m_tls;
};

struct Node
{
    std::unique_ptr<QProcess> process;
    int directoryPort = 0;
    qint64 rssStart = 0;
    qint64 rssLoaded = 0;
    QString log;
};

QString emailOf(int i)
{
    return QStringLiteral("user%1@example.org").arg(i);
}

// One run: fresh nodes, every client logging in, then the questions; prints its lines and
// whether the targets were met.
struct Setup
{
    int count;
    int nodeCount;
    QString registryChoice;
    int inFlight;
    int askerCount;
    int rounds;
    QString logDir;
};

bool run(const Setup &setup, bool tls)
{
    const int count = setup.count;
    const int nodeCount = setup.nodeCount;
    const QString &registryChoice = setup.registryChoice;
    const int inFlight = setup.inFlight;
    const int askerCount = setup.askerCount;
    const int rounds = setup.rounds;
    const char *mode = tls ? "TLS" : "plain";
    QTemporaryDir work;
    RedisProcess redis;
    QString registryUrl;
    if (registryChoice == QLatin1String("redis")) {
        QString why;
        if (!redis.start(0, &why)) {
            std::fprintf(stderr, "bench_directory: %s\n", qPrintable(why));
            return false;
        }
        registryUrl = redis.url();
    } else if (registryChoice.startsWith(QLatin1String("redis://"))) {
        registryUrl = registryChoice;
    } else if (registryChoice != QLatin1String("sqlite")) {
        std::fprintf(stderr, "bench_directory: unknown registry %s\n", qPrintable(registryChoice));
        return false;
    }

    // The nodes, each on ports of its own, each allowed all the clients.
    std::vector<Node> nodes(static_cast<size_t>(nodeCount));
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../zelmo-directory");
    for (int n = 0; n < nodeCount; ++n) {
        Node &node = nodes[size_t(n)];
        node.directoryPort = freePort();
        int palPort = freePort();
        while (palPort == node.directoryPort)
            palPort = freePort();
        const QString data = work.filePath(QStringLiteral("node%1").arg(n + 1));
        QDir().mkpath(data);
        const QString logDir = !setup.logDir.isEmpty() ? setup.logDir : work.path();
        QDir().mkpath(logDir);
        node.log = QDir(logDir).filePath(QStringLiteral("node%1-%2.log").arg(n + 1).arg(QLatin1String(mode)));
        QStringList args{QStringLiteral("--directory-port"), QString::number(node.directoryPort),
                         QStringLiteral("--pal-port"),       QString::number(palPort),
                         QStringLiteral("--listen"),         QStringLiteral("127.0.0.1"),
                         QStringLiteral("--data"),           data,
                         QStringLiteral("--max-users"),      QString::number(count + 10)};
        if (!registryUrl.isEmpty())
            args << QStringLiteral("--registry") << registryUrl << QStringLiteral("--advertise")
                 << QStringLiteral("127.0.0.1:%1:Node %2").arg(node.directoryPort).arg(n + 1);
        node.process = std::make_unique<QProcess>();
        node.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The log goes to a file, as an operator would keep it.
        node.process->setStandardOutputFile(node.log);
        node.process->start(program, args);
        if (!node.process->waitForStarted()) {
            std::fprintf(stderr, "bench_directory: zelmo-directory did not start\n");
            return false;
        }
    }
    for (Node &node : nodes) {
        QElapsedTimer t;
        t.start();
        while (!canConnect(node.directoryPort)) {
            if (t.elapsed() > 10000 || node.process->state() != QProcess::Running) {
                std::fprintf(stderr, "bench_directory: a node did not come up\n");
                return false;
            }
            QThread::msleep(20);
        }
    }
    QThread::msleep(300);
    for (Node &node : nodes)
        node.rssStart = statusKb(node.process->processId(), "VmRSS:");

    // Over TLS all clients show one key (making ten thousand would take longer than the
    // run): each login still binds its own e-mail and number to it.
    Identity key;
    if (tls && key.create(work.filePath(QStringLiteral("client.key")))) {
        std::fprintf(stderr, "bench_directory: no client key could be made\n");
        return false;
    }
    const TlsSetup::Credentials own = tls ? key.credentials(QString()) : TlsSetup::Credentials();
    Swarm swarm(tls ? &own : nullptr);
    swarm.resize(count);
    const auto portOf = [&](int i) { return nodes[size_t(i % nodeCount)].directoryPort; };

    // ---- Logins: W under way at a time, each a connect, "LGN" and "INT" until the notice.
    int started = 0;
    int loggedIn = 0;
    int turnedAway = 0;
    std::vector<char> done(size_t(count), 0);
    swarm.setHandler([&](int i, const QByteArray &message) {
        const QByteArray command = Proto::command(message);
        if (!done[size_t(i)] && command == "INT") {
            done[size_t(i)] = 1;
            ++loggedIn;
        } else if (!done[size_t(i)] && (command == "RDM" || command == "BSY")) {
            done[size_t(i)] = 2;
            ++turnedAway;
        }
    });
    swarm.setOnClose([&](int i) {
        if (!done[size_t(i)]) {
            done[size_t(i)] = 2;
            ++turnedAway;
        }
    });
    QElapsedTimer clock;
    clock.start();
    const bool allIn = swarm.runUntil([&] { return loggedIn + turnedAway >= count; }, 300000, [&] {
        while (started < count && started - loggedIn - turnedAway < inFlight) {
            const int i = started++;
            const QByteArray login =
                Proto::login({.userNumber = i + 1, .name = QStringLiteral("User %1").arg(i), .email = emailOf(i),
                              .location = QStringLiteral("Somewhere"),
                              .comment = QStringLiteral("A comment of ordinary length"), .video = i % 2 != 0,
                              .audio = true, .listed = true, .port = 2000 + 4 * (i % 8)});
            if (!swarm.open(i, portOf(i), login + Proto::noticeRequest())) {
                done[size_t(i)] = 2;
                ++turnedAway;
            }
        }
    });
    const double loginSeconds = clock.nsecsElapsed() / 1e9;
    const double loginRate = loggedIn / loginSeconds;

    // A node answers a login at once and publishes it on its way to the shared registry:
    // the last client's node is asked until the list counts everyone.
    qint64 listedNow = 0;
    bool asking = false;
    swarm.setHandler([&](int, const QByteArray &message) {
        if (Proto::command(message) == "LS1") {
            listedNow = Fields::leadingNumber(Fields::getField(message, 3));
            asking = false;
        }
    });
    const int watcher = count - 1;
    const bool allListed = swarm.runUntil([&] { return listedNow >= loggedIn; }, 60000, [&] {
        if (!asking && swarm.at(watcher).fd >= 0) {
            asking = true;
            swarm.send(watcher, Proto::listRequest());
        }
    });
    const double listedSeconds = clock.nsecsElapsed() / 1e9;
    for (Node &node : nodes)
        node.rssLoaded = statusKb(node.process->processId(), "VmRSS:");

    // ---- Questions: A clients spread over the swarm, all asking at once, R rounds each.
    std::vector<int> askers;
    for (int k = 0; k < askerCount; ++k)
        askers.push_back(int(qint64(k) * count / askerCount));
    std::vector<double> listMs;
    std::vector<double> lookupMs;
    qint64 listedSeen = -1;
    qint64 onlineSeen = -1;
    int entriesSeen = -1;
    int found = 0;
    int waiting = 0;
    swarm.setHandler([&](int i, const QByteArray &message) {
        Client &c = swarm.at(i);
        if (c.askedAt == 0)
            return;
        const QByteArray command = Proto::command(message);
        const double ms = (swarm.now() - c.askedAt) / 1e6;
        if (command == "LS1") {
            // Only the counts: decoding 500 entries here would delay the next answer's clock.
            onlineSeen = Fields::leadingNumber(Fields::getField(message, 2));
            listedSeen = Fields::leadingNumber(Fields::getField(message, 3));
            entriesSeen = (Fields::countFields(message) - 3) / 10;
            listMs.push_back(ms);
        } else if (command == "GER") {
            found += Proto::parseEmailAnswer(message).found() ? 1 : 0;
            lookupMs.push_back(ms);
        } else {
            return;
        }
        c.askedAt = 0;
        --waiting;
    });
    swarm.setOnClose([&](int i) {
        if (swarm.at(i).askedAt != 0) {
            swarm.at(i).askedAt = 0;
            --waiting;
        }
    });
    bool answered = true;
    const auto ask = [&](const std::function<QByteArray(int)> &question) {
        for (int i : askers) {
            if (swarm.at(i).fd < 0)
                continue;
            swarm.at(i).askedAt = swarm.now();
            ++waiting;
            swarm.send(i, question(i));
        }
        answered = swarm.runUntil([&] { return waiting == 0; }, 60000) && answered;
    };
    for (int r = 0; r < rounds; ++r)
        ask([](int) { return Proto::listRequest(); });
    // Each looks up a user on the next node (on the same one when there is only one).
    for (int r = 0; r < rounds; ++r)
        ask([&](int i) { return Proto::emailLookup(emailOf((i + 1 + r * 7) % count)); });

    for (Node &node : nodes)
        node.rssLoaded = qMax(node.rssLoaded, statusKb(node.process->processId(), "VmRSS:"));
    std::vector<qint64> peaks;
    for (Node &node : nodes)
        peaks.push_back(statusKb(node.process->processId(), "VmHWM:"));
    const qint64 redisRss = redis.isRunning() ? statusKb(redis.processId(), "VmRSS:") : -1;
    for (Node &node : nodes) {
        node.process->terminate();
        node.process->waitForFinished(10000);
    }

    const QString registryName = registryUrl.isEmpty() ? QStringLiteral("SQLite registry")
                                                       : QStringLiteral("Redis registry at ") + registryUrl;
    std::printf("zelmo-directory at scale, %s: %d clients on loopback, each with its own connection, %d node%s, %s\n",
                mode, count, nodeCount, nodeCount > 1 ? "s" : "", qPrintable(registryName));
    std::printf("  logins:   %d in %.2f s, %.0f logins/s (%d under way at a time)%s\n", loggedIn, loginSeconds,
                loginRate, inFlight,
                allIn && turnedAway == 0 ? "" : qPrintable(QStringLiteral("; %1 TURNED AWAY OR LOST").arg(turnedAway)));
    std::printf("  shared:   %s after %.2f s from the first login (%.0f logins/s into the registry)\n",
                allListed ? qPrintable(QStringLiteral("all %1 listed").arg(loggedIn))
                          : qPrintable(QStringLiteral("ONLY %1 OF %2 LISTED").arg(listedNow).arg(loggedIn)),
                listedSeconds, loggedIn / listedSeconds);
    std::printf("  LS1:      %zu answers to %d clients asking at once, median %.1f ms, 99th percentile %.1f ms; "
                "%d entries, %lld users listed, %lld on line\n",
                listMs.size(), askerCount, percentile(listMs, 0.5), percentile(listMs, 0.99), entriesSeen,
                listedSeen, onlineSeen);
    std::printf("  GEM:      %zu answers, median %.1f ms, 99th percentile %.1f ms; %d found%s\n", lookupMs.size(),
                percentile(lookupMs, 0.5), percentile(lookupMs, 0.99), found,
                nodeCount > 1 ? ", each on another node than the asker's" : "");
    qint64 growth = 0;
    for (int n = 0; n < nodeCount; ++n) {
        const Node &node = nodes[size_t(n)];
        const int users = count / nodeCount + (n < count % nodeCount ? 1 : 0);
        growth += node.rssLoaded - node.rssStart;
        std::printf("  node %d:   %d users; memory %lld kB at start, %lld kB with all on line (%.1f kB per user), "
                    "peak %lld kB\n",
                    n + 1, users, node.rssStart, node.rssLoaded, double(node.rssLoaded - node.rssStart) / users,
                    peaks[size_t(n)]);
    }
    if (redisRss >= 0)
        std::printf("  redis:    %lld kB resident with all on line\n", redisRss);
    if (!answered)
        std::printf("  SOME QUESTIONS WENT UNANSWERED\n");
    const double listMedian = percentile(listMs, 0.5);
    const bool loginsMet = allIn && turnedAway == 0 && allListed && loginRate > LoginTarget;
    const bool listMet = answered && !listMs.empty() && listMedian < ListTargetMs;
    std::printf("targets (%s): logins/s %.0f > %.0f %s; LS1 median %.0f ms < %.0f %s; memory %.1f KB per user\n", mode, loginRate,
                LoginTarget, loginsMet ? "met" : "NOT met", listMedian, ListTargetMs, listMet ? "met" : "NOT met",
                double(growth) / count);
    return loginsMet && listMet;
}


} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Load benchmark for zelmo-directory."));
    parser.addHelpOption();
    const QCommandLineOption clientsOption(QStringLiteral("clients"), QStringLiteral("Clients (default 10000)."),
                                           QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption nodesOption(QStringLiteral("nodes"), QStringLiteral("Nodes (default 1)."),
                                         QStringLiteral("K"), QStringLiteral("1"));
    const QCommandLineOption registryOption(
        QStringLiteral("registry"),
        QStringLiteral("sqlite (default, one node only), redis (a Redis server of the benchmark's own) "
                       "or redis://HOST:PORT."),
        QStringLiteral("REGISTRY"), QStringLiteral("sqlite"));
    const QCommandLineOption inFlightOption(QStringLiteral("in-flight"),
                                            QStringLiteral("Logins under way at once (default 200)."),
                                            QStringLiteral("W"), QStringLiteral("200"));
    const QCommandLineOption askersOption(QStringLiteral("askers"),
                                          QStringLiteral("Clients that ask for lists and e-mails (default 100)."),
                                          QStringLiteral("A"), QStringLiteral("100"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Rounds of questions, all askers at once (default 10)."),
                                          QStringLiteral("R"), QStringLiteral("10"));
    const QCommandLineOption logsOption(QStringLiteral("logs"),
                                        QStringLiteral("Keep each node's output in this folder (node1.log, ...)."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption tlsOption(QStringLiteral("tls"),
                                       QStringLiteral("After the plain run, the same over TLS, each client with a key."));
    parser.addOptions(
        {clientsOption, nodesOption, registryOption, inFlightOption, askersOption, roundsOption, logsOption, tlsOption});
    parser.process(app);
    const int count = qMax(1, parser.value(clientsOption).toInt());
    const int nodeCount = qBound(1, parser.value(nodesOption).toInt(), 16);
    const QString registryChoice = parser.value(registryOption);
    const int inFlight = qMax(1, parser.value(inFlightOption).toInt());
    const int askerCount = qBound(1, parser.value(askersOption).toInt(), count);
    const int rounds = qMax(1, parser.value(roundsOption).toInt());
    if (nodeCount > 1 && registryChoice == QLatin1String("sqlite")) {
        std::fprintf(stderr, "bench_directory: several nodes need a shared registry: --registry redis\n");
        return 2;
    }

    // One socket per client here.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    if (rlim_t(count) + 64 > files.rlim_cur) {
        std::fprintf(stderr, "bench_directory: the open-file limit (%llu) is too low for %d clients\n",
                     static_cast<unsigned long long>(files.rlim_cur), count);
        return 2;
    }

    Setup setup{count, nodeCount, registryChoice, inFlight, askerCount, rounds,
                parser.isSet(logsOption) ? parser.value(logsOption) : QString()};
    bool met = run(setup, false);
    if (parser.isSet(tlsOption))
        met = run(setup, true) && met;
    return met ? 0 : 1;
}
