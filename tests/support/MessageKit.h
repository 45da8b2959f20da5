#pragma once

// The pieces of the quick-message scenarios: a program with test devices, a relay that
// keeps the bytes going each way between a sender and a listener, and a bare sender.

#include "core/SoundPlayer.h"
#include "directory/DirectoryService.h"
#include "messages/MessageService.h"
#include "messages/QuickMessageProtocol.h"
#include "support/TestSupport.h"
#include "ui/Program.h"
#include "ui/frmMain.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace MessageKit {

// One ZELMO with its own profile and ports, test camera and sound, and a user number.
struct Party
{
    QTemporaryDir dir;
    std::unique_ptr<Program> program;
    int port = 0;

    explicit Party(const QString &name, qint32 userNumber = -1)
    {
        port = TestSupport::portBlock();
        program = std::make_unique<Program>(ProgramOptions{port, dir.path(), {}, true});
        program->start();
        program->sounds().setMuted(true);
        // No pal server anywhere near: a port of this block nobody listens on.
        program->directory().setPalServer(QStringLiteral("127.0.0.1"), port + 19);
        Settings &s = program->settings();
        s.Name = name;
        s.Location = QStringLiteral("Room ") + name;
        s.EMail = name + QStringLiteral("@example.org");
        program->state().userNumber = userNumber;
    }
    MessageService &messages() { return program->messages(); }
    ProgramState &state() { return program->state(); }
    int messagePort() const { return port + 2; }
    template<typename T>
    T *find(const char *name)
    {
        return program->mainWindow()->findChild<T *>(QString::fromLatin1(name));
    }
};

// Sits between a sender and a listener: a sender told to reach base() reaches the
// listener, and every byte passing either way is kept.
struct Relay
{
    QTcpServer listener;
    QPointer<QTcpSocket> fromSender;
    QPointer<QTcpSocket> toListener;
    QByteArray toReceiver; // what the sender sent
    QByteArray toSender;   // what the listener answered
    bool listenerClosed = false;
    bool senderClosed = false;

    explicit Relay(int listenerPort)
    {
        // The sender adds 2 to the base port it is given.
        const int block = TestSupport::portBlock(3);
        if (!listener.listen(QHostAddress::LocalHost, quint16(block + 2)))
            qFatal("the relay could not listen");
        QObject::connect(&listener, &QTcpServer::newConnection, [this, listenerPort] {
            fromSender = listener.nextPendingConnection();
            toListener = new QTcpSocket(&listener);
            QTcpSocket *a = fromSender;
            QTcpSocket *b = toListener;
            QObject::connect(a, &QTcpSocket::readyRead, [this, a, b] {
                const QByteArray bytes = a->readAll();
                toReceiver += bytes;
                b->write(bytes);
            });
            QObject::connect(b, &QTcpSocket::readyRead, [this, a, b] {
                const QByteArray bytes = b->readAll();
                toSender += bytes;
                a->write(bytes);
            });
            QObject::connect(b, &QTcpSocket::disconnected, [this, a] {
                listenerClosed = true;
                a->disconnectFromHost();
            });
            QObject::connect(a, &QTcpSocket::disconnected, [this, b] {
                senderClosed = true;
                b->disconnectFromHost();
            });
            b->connectToHost(QHostAddress::LocalHost, quint16(listenerPort));
        });
    }
    int base() const { return listener.serverPort() - 2; }
};

// A sender without a program: one socket to a listener and everything it hears.
struct RawSender
{
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray heard;
    bool closed = false;

    // `from`: the loopback address it sends from (a listener holds few from one address).
    explicit RawSender(int port, const QString &from = QStringLiteral("127.0.0.1"))
    {
        QObject::connect(socket.get(), &QTcpSocket::readyRead, [this] { heard += socket->readAll(); });
        QObject::connect(socket.get(), &QTcpSocket::disconnected, [this] { closed = true; });
        socket->bind(QHostAddress(from), 0);
        socket->connectToHost(QHostAddress::LocalHost, quint16(port));
    }
    bool connected() const { return socket->state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray &bytes) { socket->write(bytes); }
    void drop() { socket->abort(); }
};

// A whole text-only message from a bare sender, as a ZELMO sends it; false when the
// listener did not take it.
inline bool sendWhole(int port, qint32 number, const QByteArray &text, const QByteArray &name = "Raw",
                      const QByteArray &email = "raw@x.org")
{
    RawSender s(port);
    if (!QTest::qWaitFor([&] { return s.connected() || s.closed; }, 5000) || s.closed)
        return false;
    s.send("MSR;" + QByteArray::number(number) + ";<E>");
    if (!QTest::qWaitFor([&] { return s.heard == "MRA;<E>" || s.closed; }, 5000) || s.closed)
        return false;
    s.send("MSB;" + QuickMessageProtocol::paddedNumber(number) + ';' + name + ';' + email + ";Lab;now;" + text
           + ";<E>");
    if (!QTest::qWaitFor([&] { return s.heard.size() == 14 || s.closed; }, 5000))
        return false;
    s.send("MSE;<E>");
    return QTest::qWaitFor([&] { return s.closed; }, 5000);
}

} // namespace MessageKit
