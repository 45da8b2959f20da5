#pragma once

// The pieces of the scenarios with zelmo-directory nodes: a node in this process (on a
// shared Redis), a bare client that asks until the answer suits, one that logs in over TLS
// with a key of its own, and such a key.

#include "protocol/DirectoryProtocol.h"
#include "tls/Identity.h"
#include "tls/TlsSetup.h"
#include "server/DirectoryServer.h"
#include "support/RawClient.h"
#include "support/RedisProcess.h"
#include "support/TestSupport.h"

#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace NodeKit {

inline constexpr int ExpiryMs = 2000;

// A directory client that can ask again and again.
struct Client : RawClient
{
    using RawClient::RawClient;
    // Asks again until the answer satisfies the test (the other node's change travels
    // through Redis on a connection of its own). Other messages that come meanwhile are
    // passed over.
    template<typename Check>
    bool askUntil(const QByteArray &question, Check check, int ms = 5000)
    {
        // An e-mail lookup is answered by "GER", the others by their own command.
        const QByteArray command = (question.startsWith("GEM") ? QByteArray("GER") : question.left(3)) + ';';
        received.clear();
        int asked = 0;
        QByteArray last;
        const bool ok = QTest::qWaitFor(
            [&] {
                send(question);
                ++asked;
                if (!QTest::qWaitFor([&] { return received.count(command) >= asked && received.endsWith("<ET>"); },
                                     2000))
                    return false;
                last = received.mid(received.lastIndexOf(command));
                last = last.left(last.indexOf("<ET>") + 4);
                return check(last);
            },
            ms);
        if (!ok)
            qWarning("last answer: %s", last.constData());
        received.clear();
        return ok;
    }
};

inline QByteArray entry(int number, const char *name, int port = 2000)
{
    return QByteArray::number(number) + ';' + name + ";Here;127.0.0.1;;0;YES;YES;1;" + QByteArray::number(port) + ';';
}

// One node in this process.
struct Node
{
    QTemporaryDir data;
    ServerConfig config;
    std::unique_ptr<DirectoryServer> server;

    Node(const RedisProcess &redis, const char *name, int maxUsers = 100)
    {
        const int base = TestSupport::portBlock(TestSupport::ServerPortSpan);
        config.directoryPort = base;
        config.palPort = base + 1;
        config.listenAddress = QStringLiteral("127.0.0.1");
        config.dataDir = data.path();
        config.redis = RedisAddress::parse(redis.url());
        config.advertise = DirectoryProtocol::ServerEntry{QStringLiteral("127.0.0.1"), base, QString::fromLatin1(name)};
        config.expiryMs = ExpiryMs;
        config.maxUsers = maxUsers;
        config.statsIntervalMs = 0;
        // Every client of these scenarios comes from one address.
        config.numberBurst = 1000;
        server = std::make_unique<DirectoryServer>(config);
        QString why;
        if (!server->start(&why))
            qFatal("%s", qPrintable(why));
    }
    int dir() const { return config.directoryPort; }
    int pal() const { return config.palPort; }
    // Whether this node's last report saw `count` nodes up, with these users on them.
    bool sees(int count, std::initializer_list<int> users = {}) const
    {
        const QVector<NodeInfo> nodes = server->registry().nodes();
        if (nodes.size() != count)
            return false;
        int total = 0;
        for (const NodeInfo &n : nodes)
            total += n.users;
        int wanted = 0;
        for (int u : users)
            wanted += u;
        return users.size() == 0 || total == wanted;
    }
};


// A client over TLS showing the key of `key` (none: no certificate).
struct KeyedClient
{
    QSslSocket socket;
    QByteArray received;

    explicit KeyedClient(int port, const Identity *key = nullptr)
    {
        QObject::connect(&socket, &QSslSocket::readyRead, [this] { received += socket.readAll(); });
        socket.setSslConfiguration(
            TlsSetup::configuration(key ? key->credentials(QString()) : TlsSetup::Credentials(), {}));
        QObject::connect(&socket, &QSslSocket::sslErrors, [this] { socket.ignoreSslErrors(); });
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
        // The node may run in this process: its loop turns while the handshake goes on.
        if (!QTest::qWaitFor([this] { return socket.isEncrypted(); }, 5000))
            qFatal("no TLS with the node: %s", qPrintable(socket.errorString()));
    }
    void send(const QByteArray &bytes) { socket.write(bytes); }
};

// A user number asked for over TLS with the key (none: plain), as a program asks on its
// pal connection; 0 when none came.
inline int numberFor(int palPort, const Identity *key)
{
    if (!key)
        return DirectoryProtocol::parseNewNumber(body(RawClient(palPort).ask("RSN;<ET>", "NSN")));
    KeyedClient asker(palPort, key);
    asker.send("RSN;<ET>");
    if (!QTest::qWaitFor([&] { return asker.received.contains("<ET>"); }, 5000))
        return 0;
    return DirectoryProtocol::parseNewNumber(body(asker.received.mid(asker.received.indexOf("NSN;"))));
}

// A key of its own in a folder of its own.
struct Key
{
    QTemporaryDir dir;
    Identity identity;

    Key()
    {
        if (identity.create(dir.filePath(Identity::FileName)))
            qFatal("no key could be made");
    }
};

} // namespace NodeKit
