#pragma once

// A bare TCP client: it says exactly the bytes a test gives it and keeps all it hears. A
// caller, a message sender or a directory client without a program behind it.

#include "support/TestSupport.h"


#include <algorithm>
#include <memory>
#include <vector>


struct RawClient
{
    QTcpSocket socket;
    QByteArray received;
    // The connection is over: the other side closed it, it broke, or it never came up.
    bool closed = false;

    // `from`: the loopback address it connects from (a listener holds few from one address).
    explicit RawClient(int port = 0, const QString &from = {})
    {
        if (!from.isEmpty())
            socket.bind(QHostAddress(from), 0);
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closed = true; });
        QObject::connect(&socket, &QTcpSocket::errorOccurred, [this] { closed = true; });
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
    // Waits for a whole answer of the directory servers starting with the command, takes
    // it off what was heard and returns it (with what came before it when `withEarlier`);
    // empty when none came.
    QByteArray answer(const QByteArray &command, int ms = 5000, bool withEarlier = false)
    {
        QByteArray found;
        (void)QTest::qWaitFor(
            [&] {
                const qsizetype at = received.indexOf(command + ';');
                const qsizetype end = at < 0 ? -1 : received.indexOf("<ET>", at);
                if (end < 0)
                    return false;
                found = withEarlier ? received.left(end + 4) : received.mid(at, end + 4 - at);
                received.remove(0, end + 4);
                return true;
            },
            ms);
        return found;
    }
    // Asks afresh, and returns all that came up to the end of the answer with the command.
    QByteArray ask(const QByteArray &question, const QByteArray &command, int ms = 5000)
    {
        received.clear();
        send(question);
        return answer(command, ms, true);
    }
    bool waitClosed(int ms = 5000)
    {
        return QTest::qWaitFor([&] { return closed; }, ms);
    }
    // Gone at once, without a goodbye.
    void drop() { socket.abort(); }
};

// How many of the clients the other side has closed.
inline int closedCount(const std::vector<std::unique_ptr<RawClient>> &clients)
{
    return int(std::count_if(clients.begin(), clients.end(), [](const auto &c) { return c->closed; }));
}

// `count` clients on the port, or in turn on the two ports when a second is given.
inline std::vector<std::unique_ptr<RawClient>> crowd(int count, int port, int otherPort = 0)
{
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < count; ++i)
        clients.push_back(std::make_unique<RawClient>(otherPort && i % 2 ? otherPort : port));
    return clients;
}

// An answer of the directory servers without its terminator (empty stays empty).
inline QByteArray body(const QByteArray &answer)
{
    return answer.endsWith("<ET>") ? answer.chopped(4) : answer;
}

// A stranger's connection is closed at once, before anything is sent to it.
inline bool turnedAway(int port)
{
    RawClient stranger(port);
    return stranger.waitConnected(3000) && stranger.waitClosed(3000) && stranger.received.isEmpty();
}

#include "call/ControlProtocol.h"

// A directory client's login line, written out as a ZELMO sends it.
inline QByteArray login(int number, const QByteArray &name, const QByteArray &email, bool listed = true,
                        int port = 2000)
{
    return "LGN; " + QByteArray::number(number) + ';' + name + ';' + email + ";Here;;0;YES;YES;2.51;"
           + (listed ? "YES" : "NO") + ";NO;v1.2;" + QByteArray::number(port) + ";<ET>";
}

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
    // The whole call up to the chat connection the callee has taken; the request tells a
    // 2.5 peer when announce25.
    template<typename Callee>
    bool callUpToChat(Callee &callee, bool announce25)
    {
        if (!request(callee.port))
            return false;
        if (announce25 && (!control.send(ControlProtocol::userInfo(true))
                           || !QTest::qWaitFor([&] { return callee.call().PeerIsV25; }, 5000)))
            return false;
        return openMedia(callee.port) && QTest::qWaitFor([&] { return callee.inCall(); }, 10000)
               && openChat(callee.port) && QTest::qWaitFor([&] { return callee->chat().ipdText().isConnected(1); }, 5000);
    }
};
