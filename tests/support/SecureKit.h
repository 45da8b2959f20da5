#pragma once

// The pieces of the encryption scenarios: one program's security over a profile folder of
// its own, the listeners it answers on, a relay that records every byte between two ends,
// and a relay that sits in the middle with a key of its own.

#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "secure/CallSecurity.h"
#include "secure/SecureDialer.h"
#include "secure/SecureListener.h"
#include "secure/SecurityService.h"
#include "tls/TlsSetup.h"
#include "support/TestSupport.h"

#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace SecureKit {

// One end's security, with the four channel listeners on a base port when it answers.
struct End
{
    QTemporaryDir dir;
    IPPort ippControl;
    IPDaemon ipdControl;
    IPDaemon ipdMedia;
    IPDaemon ipdMessage;
    IPDaemon ipdChat;
    QStringList log;
    std::unique_ptr<SecurityService> service;
    int base = 0;

    // Not `started`: the profile folder can be filled, and the service watched, before
    // service->start().
    explicit End(const QString &email, bool started = true)
    {
        service = std::make_unique<SecurityService>(SecurityService::Context{
            dir.path(), [email] { return email; }, [this](const QString &line) { log << line; }, ippControl,
            ipdControl});
        if (started)
            service->start();
    }

    IPDaemon &listener(PeerChannel channel)
    {
        IPDaemon *const byChannel[] = {&ipdControl, &ipdMedia, &ipdMessage, &ipdChat};
        return *byChannel[int(channel)];
    }

    // Answers plain on base .. base + 3 and encrypted on base + the offset.
    bool answer(int basePort)
    {
        base = basePort;
        for (const PeerChannel channel : {PeerChannel::Control, PeerChannel::Media, PeerChannel::Message,
                                          PeerChannel::Chat}) {
            IPDaemon &l = listener(channel);
            l.setLocalAddress(QStringLiteral("127.0.0.1"));
            l.setLocalPort(base + int(channel));
            if (l.setListening(true))
                return false;
            service->route(channel, l);
        }
        return !service->listen(base);
    }
    QByteArray key() const { return service->identity().fingerprint(); }
};

// A client endpoint of one channel that tries the encrypted way of `from` first.
struct Client
{
    IPPort port;
    QByteArray received;
    QList<int> statuses;

    // Connects at once to the channel's port of `base` when one is given.
    Client(End &from, PeerChannel channel, int base = 0)
    {
        port.setDialer(&from.service->dialer(), channel);
        QObject::connect(&port, &IPPort::dataIn, [this](const QByteArray &text) { received += text; });
        QObject::connect(&port, &IPPort::connected, [this](int status) { statuses << status; });
        if (base > 0)
            connectTo(base, channel);
    }
    void connectTo(int base, PeerChannel channel)
    {
        port.setRemoteAddress(QStringLiteral("127.0.0.1"));
        port.setRemotePort(base + int(channel));
        port.setConnected(true);
    }
    bool waitConnected() { return QTest::qWaitFor([this] { return !statuses.isEmpty(); }, 15000); }
};

// An older program's four ports, made of bare sockets: what comes on the control port is
// kept, connections to the others wait there to be looked at.
struct OlderProgram
{
    int base = TestSupport::portBlock();
    QTcpServer control;
    QTcpServer media;
    QTcpServer messages;
    QTcpServer chat;
    QPointer<QTcpSocket> controlIn;
    QByteArray heard;

    OlderProgram()
    {
        if (!control.listen(QHostAddress::LocalHost, quint16(base))
            || !media.listen(QHostAddress::LocalHost, quint16(base + 1))
            || !messages.listen(QHostAddress::LocalHost, quint16(base + 2))
            || !chat.listen(QHostAddress::LocalHost, quint16(base + 3)))
            qFatal("the older program could not listen");
        QObject::connect(&control, &QTcpServer::newConnection, [this] {
            controlIn = control.nextPendingConnection();
            QObject::connect(controlIn, &QTcpSocket::readyRead, [this] { heard += controlIn->readAll(); });
        });
    }
};

// Passes each connection made to its ports on to the same port - shift, keeping every
// byte that goes either way. It listens on the ports given.
struct RecordingRelay
{
    std::vector<std::unique_ptr<QTcpServer>> servers;
    QByteArray bytes;
    int connections = 0;

    // holdMs: each connection is taken at once but passed on only after this long, as a
    // slow line or a busy server would.
    RecordingRelay(const QList<int> &ports, int shift, int holdMs = 0)
    {
        for (const int port : ports) {
            auto server = std::make_unique<QTcpServer>();
            if (!server->listen(QHostAddress::LocalHost, quint16(port)))
                qFatal("the relay could not listen on %d", port);
            QTcpServer *s = server.get();
            QObject::connect(s, &QTcpServer::newConnection, [this, s, port, shift, holdMs] {
                while (QTcpSocket *in = s->nextPendingConnection()) {
                    ++connections;
                    QTimer::singleShot(holdMs, in, [this, in, port, shift] {
                        auto *out = new QTcpSocket(in);
                        out->connectToHost(QHostAddress::LocalHost, quint16(port - shift));
                        pipe(in, out);
                        pipe(out, in);
                        // What came while the connection was held.
                        if (in->bytesAvailable() > 0) {
                            const QByteArray held = in->readAll();
                            bytes += held;
                            out->write(held);
                        }
                    });
                }
            });
            servers.push_back(std::move(server));
        }
    }

    void pipe(QTcpSocket *from, QTcpSocket *to)
    {
        QObject::connect(from, &QTcpSocket::readyRead, [this, from, to] {
            const QByteArray chunk = from->readAll();
            bytes += chunk;
            to->write(chunk);
        });
        QObject::connect(from, &QTcpSocket::disconnected, to, [to] { to->disconnectFromHost(); });
    }
};

// A listener that hands each new connection over as a bare descriptor.
class DescriptorServer : public QTcpServer
{
public:
    std::function<void(qintptr)> onIncoming;

protected:
    void incomingConnection(qintptr descriptor) override { onIncoming(descriptor); }
};

// Sits in the middle of encrypted connections with a key of its own: it answers the caller
// claiming the callee's e-mail address and calls the callee claiming the caller's, and
// passes the clear text on.
struct MiddleRelay
{
    End self;
    DescriptorServer server;
    int target = 0;
    QByteArray clearText;

    MiddleRelay(const QString &callerEmail, const QString &calleeEmail, int relayBase, int targetBase)
        : self(calleeEmail)
        , target(targetBase + PortPlan::EncryptedOffset)
    {
        if (!server.listen(QHostAddress::LocalHost, quint16(relayBase + PortPlan::EncryptedOffset)))
            qFatal("the middle relay could not listen");
        const TlsSetup::Credentials asCallee = self.service->identity().credentials(calleeEmail);
        const TlsSetup::Credentials asCaller = self.service->identity().credentials(callerEmail);
        server.onIncoming = [this, asCallee, asCaller](qintptr descriptor) {
            auto *in = new QSslSocket(&server);
            in->setSocketDescriptor(descriptor);
            in->setSslConfiguration(TlsSetup::configuration(
                asCallee, {PeerChannel::Control, PeerChannel::Media, PeerChannel::Message, PeerChannel::Chat}));
            QObject::connect(in, &QSslSocket::encrypted, [this, in, asCaller] {
                const PeerChannel channel = TlsSetup::agreedChannel(*in).value_or(PeerChannel::Control);
                auto *out = new QSslSocket(in);
                out->setSslConfiguration(TlsSetup::configuration(asCaller, {channel}));
                QObject::connect(out, &QSslSocket::encrypted, [this, in, out] {
                    const auto forward = [this](QSslSocket *from, QSslSocket *to) {
                        const QByteArray bytes = from->readAll();
                        clearText += bytes;
                        to->write(bytes);
                    };
                    forward(in, out);
                    QObject::connect(in, &QSslSocket::readyRead, [in, out, forward] { forward(in, out); });
                    QObject::connect(out, &QSslSocket::readyRead, [in, out, forward] { forward(out, in); });
                });
                QObject::connect(in, &QSslSocket::disconnected, out, [out] { out->disconnectFromHost(); });
                QObject::connect(out, &QSslSocket::disconnected, in, [in] { in->disconnectFromHost(); });
                out->connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(target));
            });
            in->startServerEncryption();
        };
    }
};

} // namespace SecureKit
