#pragma once

// The pieces of the directory scenarios: a companion server on this test's ports, a bare
// server that records what a client sends, and one ZELMO program pointed at them.

#include "secure/DirectoryDialer.h"
#include "secure/SecurityService.h"
#include "tls/TlsSetup.h"
#include "support/Windows.h"
#include "server/DirectoryServer.h"

#include <QElapsedTimer>


namespace DirectoryKit {

// zelmo-directory in this process, on two ports of this test's own.
struct Server
{
    QTemporaryDir data;
    ServerConfig config;
    // Before the server, which still logs its last logouts while it goes.
    QStringList log;
    std::unique_ptr<DirectoryServer> server;

    explicit Server(ServerConfig c = {}, const QString &dataDir = {})
        : config(std::move(c))
    {
        // Each port's encrypted port too (PortPlan::EncryptedOffset above it).
        const int base = TestSupport::portBlock(TestSupport::ServerPortSpan);
        config.directoryPort = base;
        config.palPort = base + 1;
        config.listenAddress = QStringLiteral("127.0.0.1");
        config.dataDir = dataDir.isEmpty() ? data.path() : dataDir;
        start();
    }
    void start()
    {
        server = std::make_unique<DirectoryServer>(config);
        QObject::connect(server.get(), &DirectoryServer::logLine, [this](const QString &line) { log << line; });
        QString error;
        if (!server->start(&error))
            qFatal("the directory server did not start: %s", qPrintable(error));
    }
    int directoryPort() const { return config.directoryPort; }
    int palPort() const { return config.palPort; }
    int logged(const QString &part) const { return int(log.filter(part).size()); }
};

// What a server of the published protocol does with a client that opens with TLS: it
// cannot read it and hangs up. True when the client did (and was hung up on).
inline bool hangUpOnTls(QTcpSocket *client)
{
    if (client->peek(1) != QByteArray(1, 0x16))
        return false;
    client->abort();
    return true;
}

// A bare server of the published protocol: accepts one client at a time and keeps every
// byte it sent. A client that opens with TLS is hung up on, as a server that cannot read
// it would end up doing; that connection is neither counted nor recorded.
struct RawServer
{
    QTcpServer listener;
    QPointer<QTcpSocket> client;
    QByteArray received;
    int connections = 0;
    int tlsHellos = 0;
    // From the first connection (TLS or not) to the first published byte.
    QElapsedTimer sinceFirstConnection;
    qint64 firstBytesAfterMs = -1;

    RawServer()
    {
        // Nothing listens on the port's encrypted port, as with a server of the published
        // protocol.
        if (!listener.listen(QHostAddress::LocalHost, quint16(TestSupport::portBlock(TestSupport::BareServerPortSpan))))
            qFatal("a bare server could not listen");
        QObject::connect(&listener, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = listener.nextPendingConnection()) {
                if (!sinceFirstConnection.isValid())
                    sinceFirstConnection.start();
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                    if (s->property("tls").toBool())
                        return;
                    if (s != client && hangUpOnTls(s)) {
                        ++tlsHellos;
                        s->setProperty("tls", true);
                        return;
                    }
                    if (s != client) {
                        ++connections;
                        client = s;
                    }
                    if (firstBytesAfterMs < 0)
                        firstBytesAfterMs = sinceFirstConnection.elapsed();
                    received += s->readAll();
                });
            }
        });
    }
    int port() const { return listener.serverPort(); }
    void send(const QByteArray &bytes)
    {
        if (client)
            client->write(bytes);
    }
    void drop()
    {
        if (client)
            client->disconnectFromHost();
    }
};

// One ZELMO with its windows, pointed at the given servers; a user number of its own when
// one is given.
struct User : RunningProgram
{
    User(const QString &name, int directoryPort, int palPort, const QString &profile = {}, qint32 userNumber = 0)
        : RunningProgram(name, options(name, profile, palPort))
    {
        if (userNumber > 0)
            TestSupport::writeBytes(folder + QStringLiteral("/zelmo.num"), QByteArray::number(userNumber) + "\r\n");
        start();
        settings().DirAddress = QStringLiteral("127.0.0.1");
        settings().DirPort = qint16(quint16(directoryPort));
    }
    static Options options(const QString &name, const QString &profile, int palPort)
    {
        Options o;
        o.palPort = palPort;
        o.windows = true;
        o.testDevices = false;
        o.location = QStringLiteral("Room ") + name;
        o.email = name + QStringLiteral("@Example.org");
        o.profile = profile;
        o.start = false;
        return o;
    }
    DirectoryService &directory() { return program->directory(); }
    PalService &pals() { return program->pals(); }
    frmDirectory *window() { return windowOf<frmDirectory>(); }
    template<typename T>
    T *find(const char *name)
    {
        return window()->findChild<T *>(QString::fromLatin1(name));
    }
    // The directory window, opened as the toolbar opens it.
    void openDirectory() { main()->toolbarClicked(1); }
};

} // namespace DirectoryKit
