#include "core/DescriptorLines.h"
#include "core/EndpointError.h"
#include "support/RunningProgram.h"

#include <QRandomGenerator>

#include <unistd.h>


namespace {

QByteArrayList texts(const QSignalSpy &spy, int textArg)
{
    QByteArrayList list;
    for (const QList<QVariant> &event : spy)
        list.append(event.at(textArg).toByteArray());
    return list;
}

bool listenOn(IPDaemon &daemon, int tcpPort, const QByteArray &lineEnd = {})
{
    daemon.setDefaultLineEnd(lineEnd);
    return !daemon.setLocalPort(tcpPort) && !daemon.setListening(true);
}

bool startConnect(IPPort &port, int tcpPort)
{
    return !port.setRemoteAddress(QStringLiteral("127.0.0.1")) && !port.setRemotePort(tcpPort) && !port.setConnected(true);
}

bool waitConnected(IPPort &port, int tcpPort)
{
    QSignalSpy connected(&port, &IPPort::connected);
    return startConnect(port, tcpPort) && connected.wait(5000) && connected.first().at(0).toInt() == 0;
}

bool rawConnect(QTcpSocket &raw, int tcpPort)
{
    raw.connectToHost(QHostAddress::LocalHost, quint16(tcpPort));
    return raw.waitForConnected(5000);
}

// The connection a caller that is already connected made to the server.
QTcpSocket *acceptOn(QTcpServer &server)
{
    if (!server.hasPendingConnections())
        server.waitForNewConnection(5000);
    return server.nextPendingConnection();
}

// The lines a spy's pieces make: pieces put together until one says EOL. `fits` turns
// false when a piece is larger than `limit`.
QByteArrayList joinedLines(const QSignalSpy &spy, int textArg, int limit, bool *fits)
{
    QByteArrayList lines{QByteArray()};
    for (const QList<QVariant> &event : spy) {
        const QByteArray text = event.at(textArg).toByteArray();
        *fits = *fits && text.size() <= limit;
        lines.last() += text;
        if (event.at(textArg + 1).toBool())
            lines.append(QByteArray());
    }
    lines.removeLast();
    return lines;
}

} // namespace

class TestEndpoints : public QObject
{
    Q_OBJECT

private slots:
    void linesComeOutWholeHoweverTheStreamIsSplit()
    {
        const int tcpPort = TestSupport::portBlock();
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, quint16(tcpPort + 1)));
        IPPort port;
        port.setLineEnd("<ET>");
        QSignalSpy portIn(&port, &IPPort::dataIn);
        QVERIFY(waitConnected(port, tcpPort + 1));
        QTcpSocket *toPort = acceptOn(server);
        IPDaemon daemon;
        QVERIFY(listenOn(daemon, tcpPort));
        QSignalSpy daemonIn(&daemon, &IPDaemon::dataIn);
        // The listener picks its terminator once connected; the caller's first lines are
        // on their way before that.
        connect(&daemon, &IPDaemon::connected, this, [&](int id) { daemon.setLineEnd(id, "<E>"); });
        QTcpSocket toDaemon;
        QVERIFY(rawConnect(toDaemon, tcpPort));

        // Random lines made of terminator parts and bytes that are no text, sent in random
        // segments and read through random input buffer sizes, each way: each side cuts at
        // its own terminator only, the pieces of each line put together give the line, and
        // none is larger than the buffer.
        auto *rng = QRandomGenerator::global();
        const QByteArray alphabet[] = {"a", "<", "E", ">", "T", "<E", QByteArray("\xff\0\r\n", 4)};
        for (int round = 0; round < 60; ++round) {
            const bool toListener = round % 2 == 0;
            const QByteArray terminator = toListener ? "<E>" : "<ET>";
            QSignalSpy &in = toListener ? daemonIn : portIn;
            QTcpSocket &sender = toListener ? toDaemon : *toPort;
            const int limit = 1 + rng->bounded(9);
            toListener ? daemon.setInputBufferSize(limit) : port.setInputBufferSize(limit);
            QByteArray stream;
            QByteArrayList lines;
            for (int l = 0; l < 12; ++l) {
                QByteArray line;
                for (const int length = rng->bounded(3 * limit); line.size() < length;)
                    line += alphabet[rng->bounded(7)];
                // No terminator inside, and no half of one that the next completes.
                while ((line + terminator).indexOf(terminator) != line.size())
                    line.chop(1);
                lines.append(line);
                stream += line + terminator;
            }
            in.clear();
            for (qsizetype at = 0; at < stream.size(); at += sender.write(stream.mid(at, 1 + rng->bounded(7)))) {
                sender.flush();
                QCoreApplication::processEvents();
            }
            bool fits = true;
            QTRY_COMPARE(joinedLines(in, toListener ? 1 : 0, limit, &fits), lines);
            QVERIFY(fits);
        }
    }

    void anEndlessLineArrivesInBoundedPieces()
    {
        const int tcpPort = TestSupport::portBlock();
        IPDaemon daemon;
        daemon.setInputBufferSize(1024);
        QVERIFY(listenOn(daemon, tcpPort, "<E>"));
        QSignalSpy in(&daemon, &IPDaemon::dataIn);
        QTcpSocket raw;
        QVERIFY(rawConnect(raw, tcpPort));
        // All but a buffer's worth is handed on at once, marked as not the end of the line.
        const qint64 flood = 1 << 20;
        for (int i = 0; i < 16; ++i)
            raw.write(QByteArray(flood / 16, 'z'));
        qint64 delivered = 0;
        bool withinBounds = true;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (; !in.isEmpty(); in.removeFirst()) {
                    const QByteArray text = in.first().at(1).toByteArray();
                    withinBounds = withinBounds && text.size() <= 1024 && !in.first().at(2).toBool();
                    delivered += text.size();
                }
                return delivered >= flood - 1024 - 2;
            }(),
            20000);
        QVERIFY(withinBounds);
        raw.write("<E>");
        QTRY_COMPARE(in.count(), 1);
        QCOMPARE(delivered + in.first().at(1).toByteArray().size(), flood);
        QVERIFY(in.first().at(2).toBool());

        // Without a terminator each read is one event, never larger than the buffer.
        in.clear();
        daemon.setInputBufferSize(16);
        daemon.setLineEnd(1, QByteArray());
        raw.write(QByteArray(60, 'w') + "<E>");
        QTRY_COMPARE(texts(in, 1).join(), QByteArray(60, 'w') + "<E>");
        for (const auto &event : in)
            QVERIFY(event.at(1).toByteArray().size() <= 16);

        // Lines read from a descriptor (standard input, a pipe): an overlong one comes out as
        // its first bytes, marked cut, and the next line whole.
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        DescriptorLines lines(ends[0], 100);
        QSignalSpy read(&lines, &DescriptorLines::lineRead);
        const QByteArray overlong = QByteArray(300, 'x') + "\nnext\n";
        QCOMPARE(::write(ends[1], overlong.constData(), size_t(overlong.size())), ssize_t(overlong.size()));
        QTRY_COMPARE(read.count(), 2);
        QCOMPARE(read.at(0), QVariantList({QByteArray(100, 'x'), true}));
        QCOMPARE(read.at(1), QVariantList({QByteArray("next"), false}));
        ::close(ends[1]);
        ::close(ends[0]);
    }

    void closesAreReportedAndLaterSendsDropped()
    {
        const int tcpPort = TestSupport::portBlock();
        IPDaemon daemon;
        QVERIFY(listenOn(daemon, tcpPort));
        QSignalSpy daemonGone(&daemon, &IPDaemon::disconnected);
        QSignalSpy daemonIn(&daemon, &IPDaemon::dataIn);
        IPPort port;
        QSignalSpy portGone(&port, &IPPort::disconnected);
        QSignalSpy portIn(&port, &IPPort::dataIn);
        port.sendData("idle");
        QCOMPARE(port.sentCount(), qint64(0));
        QVERIFY(startConnect(port, tcpPort));
        port.sendData("early");
        QCOMPARE(port.sentCount(), qint64(0));
        QTRY_VERIFY(port.isConnected() && daemon.isConnected(1));

        // A local close is reported at once and drops later sends, yet what was queued
        // before still reaches the peer, who hears of the close from the event loop.
        QByteArray big(1 << 20, 'q');
        big[big.size() - 1] = 'E';
        daemon.sendData(1, big);
        QCOMPARE(daemon.sentCount(1), qint64(big.size()));
        daemon.closeConnection(1);
        QCOMPARE(daemonGone.count(), 1);
        QCOMPARE(portGone.count(), 0);
        daemon.sendData(1, "late");
        QCOMPARE(daemon.sentCount(1), qint64(0));
        QTRY_VERIFY_WITH_TIMEOUT(portGone.count() == 1, 20000);
        QCOMPARE(texts(portIn, 0).join(), big);
        QVERIFY(!port.isConnected());
        QCOMPARE(port.remoteAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(port.remotePort(), tcpPort);

        // The same from the caller's side.
        QVERIFY(waitConnected(port, tcpPort));
        QTRY_VERIFY(daemon.isConnected(1));
        port.sendData("one");
        port.setConnected(false);
        QCOMPARE(portGone.count(), 2);
        port.sendData("late");
        QCOMPARE(port.sentCount(), qint64(0));
        QVERIFY(daemonGone.wait(5000));
        QCOMPARE(daemonGone.last().at(0).toInt(), 1);
        QCOMPARE(texts(daemonIn, 1), QByteArrayList{"one"});
        QCOMPARE(daemon.remoteAddress(1), QStringLiteral("127.0.0.1"));

        // Nothing connected, nothing to report.
        port.setConnected(false);
        daemon.closeConnection(1);
        daemon.closeConnection(99);
        QCOMPARE(portGone.count(), 2);
        QCOMPARE(daemonGone.count(), 2);
    }

    void connectionIdsAreLowestFreeAndReusedUntilTheStackGoesOff()
    {
        const int tcpPort = TestSupport::portBlock();
        IPDaemon daemon;
        QVERIFY(listenOn(daemon, tcpPort));
        QSignalSpy requests(&daemon, &IPDaemon::connectionRequest);
        QSignalSpy accepted(&daemon, &IPDaemon::connected);
        QSignalSpy gone(&daemon, &IPDaemon::disconnected);
        // The first caller is turned away: it costs no number and raises no Connected.
        bool turnAway = true;
        connect(&daemon, &IPDaemon::connectionRequest, this, [&](const QString &, bool *accept) {
            *accept = !std::exchange(turnAway, false);
        });
        IPPort refused;
        QSignalSpy refusedUp(&refused, &IPPort::connected);
        QSignalSpy refusedGone(&refused, &IPPort::disconnected);
        QVERIFY(startConnect(refused, tcpPort));
        // The caller may see its connection fail or open and close at once.
        QTRY_VERIFY(refusedGone.count() == 1
                    || (refusedUp.count() == 1 && refusedUp.first().at(0).toInt() != 0));
        QCOMPARE(requests.count(), 1);
        QCOMPARE(accepted.count(), 0);

        IPPort a, b, c;
        QSignalSpy cGone(&c, &IPPort::disconnected);
        QVERIFY(waitConnected(a, tcpPort));
        QTRY_COMPARE(accepted.count(), 1);
        QVERIFY(waitConnected(b, tcpPort));
        QTRY_COMPARE(daemon.connectionIds(), (QList<int>{1, 2}));
        a.setConnected(false);
        QVERIFY(gone.wait(5000));
        QCOMPARE(gone.first().at(0).toInt(), 1);
        QCOMPARE(daemon.connectionIds(), QList<int>{2});
        QVERIFY(waitConnected(c, tcpPort));
        QTRY_COMPARE(daemon.connectionIds(), (QList<int>{1, 2}));
        QCOMPARE(accepted.last().at(0).toInt(), 1);

        // The stack switched off closes a caller's connection and refuses to connect; on
        // the listening side it closes every connection and the listener.
        QVERIFY(!b.setStackOn(false));
        QVERIFY(!b.isConnected() && b.setConnected(true));
        QVERIFY(!daemon.setStackOn(false));
        QTRY_COMPARE(gone.count(), 3);
        QVERIFY(daemon.connectionIds().isEmpty() && !daemon.isListening() && daemon.setListening(true));
        QVERIFY(cGone.wait(5000));
    }

    void everyConnectAttemptEndsInOneEvent()
    {
        const int tcpPort = TestSupport::portBlock();
        // Neither succeeds nor is refused.
        auto stalled = std::make_unique<TestSupport::SilentPort>(tcpPort + 1);
        QVERIFY(stalled->isSilent());

        IPPort port;
        port.setConnectTimeout(300);
        QSignalSpy connected(&port, &IPPort::connected);
        QVERIFY(startConnect(port, tcpPort));
        QVERIFY(connected.wait(5000));
        QCOMPARE(connected.last().at(0).toInt(), EndpointError::ConnectionRefused);
        QVERIFY(!connected.last().at(1).toString().isEmpty());
        QVERIFY(!port.isConnected());

        // Abandoned at once: silent. Then a stalled one runs into the time-out.
        port.setRemotePort(tcpPort + 1);
        QVERIFY(!port.setConnected(true));
        QVERIFY(!port.setConnected(false));
        QVERIFY(!port.setConnected(true));
        QVERIFY(connected.wait(5000));
        QCOMPARE(connected.count(), 2);
        QCOMPARE(connected.last().at(0).toInt(), EndpointError::TimedOut);
        stalled.reset();

        // With the stalled listener gone the same port refuses, and that is event three.
        QVERIFY(!port.setConnected(true));
        QVERIFY(connected.wait(5000));
        QCOMPARE(connected.count(), 3);
        QCOMPARE(connected.last().at(0).toInt(), EndpointError::ConnectionRefused);
    }

    void handlersMayCloseOrDeleteMidBuffer()
    {
        const int tcpPort = TestSupport::portBlock();
        IPDaemon daemon;
        QVERIFY(listenOn(daemon, tcpPort, "<E>"));
        QByteArrayList seen;
        QSignalSpy gone(&daemon, &IPDaemon::disconnected);
        connect(&daemon, &IPDaemon::dataIn, this, [&](int id, const QByteArray &text) {
            seen.append(text);
            daemon.closeConnection(id);
        });
        QTcpSocket raw;
        QSignalSpy rawGone(&raw, &QAbstractSocket::disconnected);
        QVERIFY(rawConnect(raw, tcpPort));
        raw.write("MSB;a;<E>MSE;<E>MSR;<E>");
        QVERIFY(rawGone.wait(5000));
        QCOMPARE(seen, QByteArrayList{"MSB;a;"});
        QCOMPARE(gone.count(), 1);

        // A caller deleted inside DataIn, and one deleted inside Disconnected as a window
        // that goes with its connection does.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, quint16(tcpPort + 1)));
        auto *deleter = new IPPort;
        int deleterSeen = 0;
        connect(deleter, &IPPort::dataIn, this, [&] {
            ++deleterSeen;
            delete deleter;
        });
        deleter->setLineEnd("<ET>");
        QVERIFY(waitConnected(*deleter, tcpPort + 1));
        QTcpSocket *peer = acceptOn(server);
        QSignalSpy peerGone(peer, &QAbstractSocket::disconnected);
        peer->write("NTC;x;<ET>NTC;y;<ET>NTC;z;<ET>");
        QVERIFY(peerGone.wait(5000));
        QCOMPARE(deleterSeen, 1);

        QPointer<IPPort> window(new IPPort);
        connect(window, &IPPort::disconnected, this, [&] { delete window; });
        QVERIFY(waitConnected(*window, tcpPort + 1));
        acceptOn(server)->abort();
        QTRY_VERIFY(!window);

        // A listener deleted inside DataIn.
        auto *listener = new IPDaemon;
        QVERIFY(listenOn(*listener, tcpPort + 2, "<E>"));
        connect(listener, &IPDaemon::dataIn, this, [&] { delete listener; });
        QTcpSocket raw2;
        QSignalSpy raw2Gone(&raw2, &QAbstractSocket::disconnected);
        QVERIFY(rawConnect(raw2, tcpPort + 2));
        raw2.write("A<E>B<E>");
        QVERIFY(raw2Gone.wait(5000));
    }

    void aPeerThatDoesNotReadGetsNothingMoreQueued()
    {
        const int tcpPort = TestSupport::portBlock();
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, quint16(tcpPort)));
        IPPort port;
        port.setOutputBufferSize(16384);
        QSignalSpy ready(&port, &IPPort::readyToSend);
        QVERIFY(waitConnected(port, tcpPort));
        QTcpSocket *peer = acceptOn(server);
        peer->setReadBufferSize(4096); // takes nothing more from the kernel until told

        QByteArray sent;
        for (int i = 0; i < 8000; ++i) {
            const QByteArray chunk(8192, char('a' + i % 26));
            port.sendData(chunk);
            if (port.sentCount() == 0)
                break;
            QCOMPARE(port.sentCount(), qint64(chunk.size()));
            sent += chunk;
            QCoreApplication::processEvents();
        }
        QCOMPARE(port.sentCount(), qint64(0));
        QVERIFY(port.isConnected());

        ready.clear();
        peer->setReadBufferSize(0);
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll()).size() >= sent.size(), 20000);
        QCOMPARE(received, sent);
        QTRY_VERIFY(!ready.isEmpty());
        port.sendData("more");
        QCOMPARE(port.sentCount(), qint64(4));
    }

    // Addresses and ports are checked; a taken port is reported and the next one works.
    void addressesAndPortsAreChecked()
    {
        IPPort port;
        QSignalSpy connected(&port, &IPPort::connected);
        for (const QString &blank : {QString(), QStringLiteral("   "), QStringLiteral("no-such-host.invalid")}) {
            const EndpointError e = port.setRemoteAddress(blank);
            QVERIFY(e.code == EndpointError::HostNotFound || e.code == EndpointError::NoNetwork);
            QVERIFY(!e.description.isEmpty());
        }
        port.setRemotePort(2000);
        QVERIFY(port.setConnected(true)); // no address to go to
        QCOMPARE(connected.count(), 0);

        QVERIFY(!port.setRemoteAddress(QStringLiteral("::ffff:127.0.0.1")));
        QCOMPARE(port.remoteAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(port.setRemotePort(0).code, EndpointError::InvalidArgument);
        QCOMPARE(port.setRemotePort(65536).code, EndpointError::InvalidArgument);
        QCOMPARE(port.remotePort(), 2000);

        const int tcpPort = TestSupport::portBlock();
        IPDaemon first, second;
        QVERIFY(listenOn(first, tcpPort));
        second.setLocalPort(tcpPort);
        const EndpointError taken = second.setListening(true);
        QCOMPARE(taken.code, 25049);
        QVERIFY(!taken.description.isEmpty());
        QVERIFY(!second.isListening());
        QVERIFY(listenOn(second, tcpPort + 4));
        QCOMPARE(second.setLocalPort(70000).code, EndpointError::InvalidArgument);
    }
};

QTEST_GUILESS_MAIN(TestEndpoints)
#include "tst_endpoints.moc"
