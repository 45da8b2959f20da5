// What clients send to zelmo-directory: lines cut at "<ET>" within the server's line bound,
// each written on a real loopback connection to one of its ports from a handful of clients
// on both ports, some of which leave in between. After every line the server has read it
// before the next goes out, so the interleaving is the input's. The registry must stay
// consistent and bounded, every list that comes back must read back whole, and once
// everybody has left nobody may be on line.
//
// Input: a count n (1 to 16) and n choices, then the stream. Line i comes from the
// connection of choice i mod n: bit 0 the pal port, bits 1-2 the connection number - 1,
// bit 3 the connection leaves after the line. A connection the server closed (turned away,
// line too long) connects again for its next line.
#include "FuzzSupport.h"

#include "protocol/DirectoryProtocol.h"
#include "server/DirectoryServer.h"

#include <QCoreApplication>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <linux/tcp.h>
#include <memory>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Proto = DirectoryProtocol;

namespace {

constexpr int Connections = 4;
// Far beyond what the server needs on a loopback; only a hung server reaches it.
constexpr int SettleMs = 5000;

struct World
{
    std::unique_ptr<DirectoryServer> server;
};

World &world()
{
    FuzzSupport::application("fuzz_server");
    static World w;
    if (!w.server) {
        ServerConfig config;
        config.listenAddress = QStringLiteral("127.0.0.1");
        config.directoryPort = 0;
        config.palPort = 0;
        config.maxUsers = 5;
        config.notice = QStringLiteral("Welcome");
        config.servers = {{QStringLiteral("dir.example.org"), 2010, QStringLiteral("Another")}};
        config.redirect = Proto::ServerEntry{QStringLiteral("dir.example.org"), 2010, QStringLiteral("Another")};
        config.dataDir = FuzzSupport::scratchPath(QStringLiteral("server"));
        w.server = std::make_unique<DirectoryServer>(config);
        QString error;
        FuzzSupport::require(w.server->start(&error), "the server", error);
        // The server goes before the database library's own globals, which came into being
        // after this world did and would otherwise be gone when it closes its number store.
        std::atexit([] { w.server.reset(); });
    }
    return w;
}

// Runs the server's event loop until the condition holds.
template<typename Condition>
void settle(Condition done, const char *what)
{
    FuzzSupport::settle(done, "the server", what, SettleMs);
}

int portOf(int fd, bool peer)
{
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    const int r = peer ? getpeername(fd, reinterpret_cast<sockaddr *>(&a), &length)
                       : getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    if (r != 0 || a.ss_family != AF_INET)
        return -1;
    return ntohs(reinterpret_cast<const sockaddr_in &>(a).sin_port);
}

// Why a connection to the server's port failed: the error, whether the server still
// listens there and how full its queue is, and the descriptors the process holds.
void explainFailedConnect(int port, int error)
{
    std::fprintf(stderr, "connecting to 127.0.0.1:%d failed: %s (errno %d)\n", port, std::strerror(error), error);
    int descriptors = 0;
    bool listening = false;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            ++descriptors;
            const int candidate = std::atoi(entry->d_name);
            int accepting = 0;
            socklen_t length = sizeof accepting;
            if (portOf(candidate, false) != port
                || getsockopt(candidate, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) != 0 || !accepting)
                continue;
            listening = true;
            // For a listener the kernel reports its accept queue in these two fields.
            tcp_info info{};
            length = sizeof info;
            if (getsockopt(candidate, IPPROTO_TCP, TCP_INFO, &info, &length) == 0)
                std::fprintf(stderr, "the server listens on descriptor %d: state %u, %u waiting to be accepted of "
                                     "a backlog of %u\n",
                             candidate, unsigned(info.tcpi_state), info.tcpi_unacked, info.tcpi_sacked);
        }
        closedir(dir);
    }
    if (!listening)
        std::fprintf(stderr, "nothing in this process listens on port %d any more\n", port);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    std::fprintf(stderr, "%d descriptors open of a limit of %llu; the server holds %d connections\n", descriptors,
                 static_cast<unsigned long long>(files.rlim_cur), world().server->connectionCount());
    // The kernel's counts, machine-wide, of handshakes dropped at a full listening queue.
    QFile netstat(QStringLiteral("/proc/net/netstat"));
    if (netstat.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = netstat.readAll().split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
            if (!lines[i].startsWith("TcpExt:"))
                continue;
            const QList<QByteArray> names = lines[i].split(' ');
            const QList<QByteArray> values = lines[i + 1].split(' ');
            for (qsizetype k = 0; k < names.size() && k < values.size(); ++k) {
                if (names[k] == "ListenOverflows" || names[k] == "ListenDrops")
                    std::fprintf(stderr, "%s %s\n", names[k].constData(), values[k].constData());
            }
        }
    }
}

// One client: its socket, the server's end of the connection (the server runs in this
// process, so whether it has read everything can be asked of its socket), and what it
// has been sent so far that is not a whole message yet.
struct Client
{
    int fd = -1;
    int serverFd = -1;
    ino_t serverSocket = 0;
    int serverPort = 0;
    int localPort = 0;
    quint64 written = 0;
    QByteArray received;

    bool isOpen() const { return fd >= 0; }

    // Whether the server still holds its end of this connection. The socket's inode tells
    // it apart from whatever reuses the descriptor; its addresses are gone once reset.
    bool serverHolds() const
    {
        struct stat s{};
        return serverFd >= 0 && fstat(serverFd, &s) == 0 && S_ISSOCK(s.st_mode) && s.st_ino == serverSocket;
    }

    int findServerEnd() const
    {
        int found = -1;
        DIR *dir = opendir("/proc/self/fd");
        if (!dir)
            return -1;
        while (dirent *entry = readdir(dir)) {
            const int candidate = std::atoi(entry->d_name);
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || candidate == fd || candidate == dirfd(dir))
                continue;
            if (portOf(candidate, false) == serverPort && portOf(candidate, true) == localPort) {
                found = candidate;
                break;
            }
        }
        closedir(dir);
        return found;
    }

    void open(int port)
    {
        int error = 0;
        fd = FuzzSupport::connectLoopback(port, SettleMs, &error);
        if (error) {
            explainFailedConnect(port, error);
            FUZZ_CHECK(!"connected to the server");
        }
        serverPort = port;
        localPort = portOf(fd, false);
        written = 0;
        received.clear();
        settle([this] { return (serverFd = findServerEnd()) >= 0; }, "accept a connection");
        struct stat s{};
        FUZZ_CHECK(fstat(serverFd, &s) == 0);
        serverSocket = s.st_ino;
    }

    // Everything written has reached the server's socket and the server has read it (or
    // closed its end). Counted on the server's side: the client's acknowledgements may be
    // delayed.
    bool consumed() const
    {
        if (!serverHolds())
            return true;
        tcp_info info{};
        socklen_t length = sizeof info;
        if (getsockopt(serverFd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0
            || length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
            return false;
        int unread = 0;
        return info.tcpi_bytes_received == written && ioctl(serverFd, FIONREAD, &unread) == 0 && unread == 0;
    }

    // Writes the text and lets the server read it. False when the server closed the
    // connection meanwhile.
    bool write(const QByteArray &text)
    {
        for (qsizetype at = 0; at < text.size();) {
            const ssize_t w = ::send(fd, text.constData() + at, size_t(text.size() - at), MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            at += w;
            written += quint64(w);
        }
        // A reset by the server leaves nothing to wait for.
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0)
            return false;
        settle([this] { return consumed(); }, "read what a client wrote");
        return true;
    }

    // Takes what the server answered. False when it has closed its side.
    bool take()
    {
        char buffer[16384];
        for (;;) {
            const ssize_t r = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (r > 0) {
                received.append(buffer, r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            return r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }

    // Leaves at once, and waits until the server has let go of its end.
    void close()
    {
        // A reset rather than a farewell: nothing is left unread by then, and a run of
        // thousands of connections leaves no ports waiting out their time.
        const linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(fd);
        fd = -1;
        settle([this] { return !serverHolds(); }, "let a client go");
        serverFd = -1;
    }
};

void checkRegistry(DirectoryServer &server)
{
    UserRegistry &users = const_cast<UserRegistry &>(server.users());
    FUZZ_CHECK(server.connectionCount() <= 2 * Connections);
    FUZZ_CHECK(users.connections() <= server.connectionCount());
    FUZZ_CHECK(users.online() <= users.connections() && users.listed() <= users.connections());
    // The list the directory answers with says what the registry holds.
    const Proto::UserList list = Proto::parseUserList(users.listMessage(Proto::MaxEntries).message);
    FUZZ_CHECK(list.online == users.online() && list.listed == users.listed());
    FUZZ_CHECK(list.entries.size() == users.listed());
}

// The lists that came back read back whole: every listed user with bounded fields, a port
// to call and the address the user connected from.
void checkAnswers(Client &client)
{
    const QByteArray terminator(Proto::Terminator);
    qsizetype end;
    while ((end = client.received.indexOf(terminator)) >= 0) {
        const QByteArray message = client.received.left(end);
        client.received.remove(0, end + terminator.size());
        if (Proto::command(message) != "LS1")
            continue;
        const Proto::UserList list = Proto::parseUserList(message);
        // Only directory logins are listed, one entry per connection.
        FUZZ_CHECK(list.listed <= Connections);
        FUZZ_CHECK(list.entries.size() == list.listed);
        for (const Proto::UserEntry &e : list.entries) {
            FUZZ_CHECK(e.Name.size() <= DirectoryServer::MaxFieldChars);
            FUZZ_CHECK(e.Location.size() <= DirectoryServer::MaxFieldChars);
            FUZZ_CHECK(e.Comment.size() <= DirectoryServer::MaxFieldChars);
            FUZZ_CHECK(e.Port >= 1 && e.Port <= 65535);
            FUZZ_CHECK(e.Address == QLatin1String("127.0.0.1"));
        }
    }
    // Answers are short: what never ends is not an answer.
    FUZZ_CHECK(client.received.size() <= 64 * 1024);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    DirectoryServer &server = *w.server;
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    const std::vector<uint8_t> choices = input.takeMany(16);
    Client clients[2][Connections];
    const int ports[2] = {server.directoryPort(), server.palPort()};
    size_t line = 0;
    FuzzSupport::forEachLine(input.rest(), Proto::Terminator, DirectoryServer::MaxLineBytes,
                             DirectoryServer::MaxLineBytes, [&](QByteArray text, bool eol) {
        const uint8_t c = choices[line++ % choices.size()];
        const int channel = c & 1;
        Client &client = clients[channel][(c >> 1) & 3];
        if (!client.isOpen())
            client.open(ports[channel]);
        if (eol)
            text += Proto::Terminator;
        bool open = client.write(text) && client.take();
        checkAnswers(client);
        if (!open || (c & 8))
            client.close();
        checkRegistry(server);
    });

    // Everybody leaves: nobody is on line any more.
    for (auto &channel : clients) {
        for (Client &client : channel) {
            if (client.isOpen())
                client.close();
        }
    }
    const UserRegistry &users = server.users();
    FUZZ_CHECK(server.connectionCount() == 0);
    FUZZ_CHECK(users.connections() == 0 && users.online() == 0 && users.listed() == 0);
    FUZZ_CHECK(!users.findByEmail(QStringLiteral("ann@example.org")));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
