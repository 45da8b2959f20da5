#pragma once

// A bare TCP client: it says exactly the bytes a test gives it and keeps all it hears. A
// caller, a message sender or a directory client without a program behind it.

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

struct RawClient
{
    QTcpSocket socket;
    QByteArray received;
    // The other side closed the connection (or it broke).
    bool closed = false;

    explicit RawClient(int port = 0)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closed = true; });
        if (port > 0)
            connectTo(port);
    }
    void connectTo(int port) { socket.connectToHost(QHostAddress::LocalHost, quint16(port)); }
    bool connected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    bool waitConnected(int ms = 5000) { return connected() || socket.waitForConnected(ms); }
    // Written at once; false when the connection never came up.
    bool send(const QByteArray &bytes)
    {
        if (!waitConnected())
            return false;
        socket.write(bytes);
        socket.flush();
        return true;
    }
    bool waitFor(const QByteArray &part, int ms = 10000)
    {
        return QTest::qWaitFor([&] { return received.contains(part); }, ms);
    }
    bool waitClosed(int ms = 5000)
    {
        return QTest::qWaitFor([&] { return closed || socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    // Gone at once, without a goodbye.
    void drop() { socket.abort(); }
};

#include "call/ControlProtocol.h"

#include <QTime>

// A caller made of three bare clients: it asks for the call on the control channel and
// opens the media and chat connections when a scenario says, keeping what comes back.
struct RawCaller
{
    RawClient control;
    RawClient media;
    RawClient chat;

    // The request, up to the callee's acceptance (it accepts by itself, or the test answers).
    bool request(int port)
    {
        control.connectTo(port);
        return control.send(ControlProtocol::request(QStringLiteral("Eve"), QStringLiteral("Evetown"), QTime(9, 5)))
               && control.waitFor("RRS;YES;");
    }
    // The kernel takes these connections whatever the program will make of them.
    bool openMedia(int port)
    {
        media.connectTo(port + 1);
        return media.waitConnected();
    }
    bool openChat(int port)
    {
        chat.connectTo(port + 3);
        return chat.waitConnected();
    }
};
