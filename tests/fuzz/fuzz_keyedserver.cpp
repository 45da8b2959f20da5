// zelmo-directory with clients that log in over TLS with one of three keys, over TLS without
// a key, or plain, and clients that open with a TLS record and then send raw bytes. Lines
// cut at "<ET>" go out from the client each choice names. Whatever they send, an e-mail
// that a key owns is on line only on that key's logins, the server never holds more
// connections than there are clients, and it lets every one go once its client leaves.
//
// Input: a count n (1 to 8) and n choices, then the stream. Line i comes from the client of
// choice i mod n: bits 0-1 how it connects (plain, TLS without a key, TLS with key
// (bits 2-3) mod 3, raw after a TLS record's first byte), bit 4 the pal port, bit 5 the
// client leaves after the line.
#include "FuzzSupport.h"

#include "protocol/DirectoryProtocol.h"
#include "tls/Identity.h"
#include "tls/TlsSetup.h"
#include "server/DirectoryServer.h"
#include "server/SqliteStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QSslSocket>

#include <cstdlib>
#include <map>
#include <memory>

namespace Proto = DirectoryProtocol;

namespace {

constexpr int SettleMs = 5000;
constexpr int Keys = 3;

struct World
{
    std::unique_ptr<DirectoryServer> server;
    Identity keys[Keys];
    std::unique_ptr<SqliteStore> store = std::make_unique<SqliteStore>();
};

World &world()
{
    FuzzSupport::application("fuzz_keyedserver");
    static World w;
    if (!w.server) {
        const QString data = FuzzSupport::scratchPath(QStringLiteral("keyedserver"));
        QDir(data).removeRecursively();
        QDir().mkpath(data);
        for (int k = 0; k < Keys; ++k)
            FUZZ_CHECK(!w.keys[k].create(QDir(data).filePath(QStringLiteral("client%1.key").arg(k))));
        ServerConfig config;
        config.listenAddress = QStringLiteral("127.0.0.1");
        config.directoryPort = 0;
        config.palPort = 0;
        config.maxUsers = 8;
        config.statsIntervalMs = 0;
        config.dataDir = data;
        w.server = std::make_unique<DirectoryServer>(config);
        QString error;
        FuzzSupport::require(w.server->start(&error), "the server", error);
        FUZZ_CHECK(w.store->open(data, &error));
        // Before Qt's own statics go: the store's connection is registered with them.
        std::atexit([] {
            w.server.reset();
            w.store.reset();
        });
    }
    return w;
}

template<typename Condition>
void settle(Condition done, const char *what)
{
    FuzzSupport::settle(done, "the server", what, SettleMs);
}

// Lets the server, in this process, read and answer what went out.
void turn()
{
    for (int i = 0; i < 8; ++i)
        QCoreApplication::processEvents();
}

struct Client
{
    std::unique_ptr<QSslSocket> socket;
    bool raw = false;

    bool isOpen() const { return socket && socket->state() == QAbstractSocket::ConnectedState; }

    void open(World &w, uint8_t choice)
    {
        socket = std::make_unique<QSslSocket>();
        const int port = (choice & 16) ? w.server->palPort() : w.server->directoryPort();
        const int kind = choice & 3;
        raw = kind == 3;
        if (kind == 0 || raw) {
            socket->connectToHost(QHostAddress::LocalHost, quint16(port));
            settle([this] { return socket->state() != QAbstractSocket::ConnectingState
                                   && socket->state() != QAbstractSocket::HostLookupState; },
                   "take a connection");
            if (raw && isOpen())
                socket->write(QByteArray(1, 0x16));
            return;
        }
        TlsSetup::Credentials own;
        if (kind == 2)
            own = w.keys[((choice >> 2) & 3) % Keys].credentials(QString());
        socket->setSslConfiguration(TlsSetup::configuration(own, {}));
        QObject::connect(socket.get(), &QSslSocket::sslErrors, socket.get(), [s = socket.get()] { s->ignoreSslErrors(); });
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
        settle([this] { return socket->isEncrypted() || socket->state() == QAbstractSocket::UnconnectedState; },
               "finish a TLS handshake");
    }

    void write(const QByteArray &text)
    {
        socket->write(text);
        settle([this] { return !isOpen() || (socket->bytesToWrite() == 0 && socket->encryptedBytesToWrite() == 0); },
               "take what a client wrote");
        turn();
        socket->readAll();
        // Answers are short: what never ends is not an answer.
        FUZZ_CHECK(socket->bytesAvailable() <= 64 * 1024);
    }

    void close()
    {
        if (socket)
            socket->abort();
        socket.reset();
    }
};

// An e-mail a key owns is on line only on logins that proved that key.
void checkOwners(World &w)
{
    const QHash<QString, QByteArray> owners = w.store->owners();
    w.server->users().forEach([&](UserRegistry::Key, const UserRegistry::User &user) {
        if (!user.email.isEmpty() && owners.contains(QStringLiteral("e:") + user.email))
            FUZZ_CHECK(user.entry.Keyed);
        if (!user.entry.Keyed && user.entry.UserNumber > 0)
            FUZZ_CHECK(!owners.contains(QStringLiteral("n:") + QString::number(user.entry.UserNumber))
                       || user.email.isEmpty());
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    const std::vector<uint8_t> choices = input.takeMany(8);
    std::map<uint8_t, Client> clients;
    size_t line = 0;
    FuzzSupport::forEachLine(input.rest(), Proto::Terminator, DirectoryServer::MaxLineBytes,
                             DirectoryServer::MaxLineBytes, [&](const QByteArray &text, bool eol) {
        const uint8_t c = choices[line++ % choices.size()];
        Client &client = clients[c & 31];
        if (!client.isOpen())
            client.open(w, c);
        if (client.isOpen())
            client.write(eol ? text + Proto::Terminator : text);
        if (c & 32)
            client.close();
        FUZZ_CHECK(w.server->connectionCount() <= int(clients.size()));
        checkOwners(w);
    });

    for (auto &[choice, client] : clients)
        client.close();
    settle([&] { return w.server->connectionCount() == 0; }, "let every client go");
    FUZZ_CHECK(w.server->users().connections() == 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
