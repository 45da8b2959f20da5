// Floods and faults on the control, media, quick-message, chat and encrypted ports: many held
// connections, a peer that drips one byte at a time, peers that reset in the middle of a
// message, a caller that closes its control connection and opens the media or chat at
// once. The program must keep its tick, its call, a bounded set of connections, and give
// every descriptor back.

#include "support/RunningProgram.h"
#include "call/ControlProtocol.h"
#include "chat/ChatProtocol.h"
#include "media/MediaStats.h"
#include "media/engine/TestPatternCamera.h"
#include "messages/QuickMessageProtocol.h"
#include "secure/CallSecurity.h"
#include "secure/SecureListener.h"
#include "secure/SecurityService.h"
#include "secure/TlsSetup.h"
#include "support/RawClient.h"
#include "support/SecureKit.h"

#include <sys/socket.h>

namespace {

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// Connections opened by a peer and held from its side until the flood goes.
struct Flood
{
    int port;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    // How long the longest-held connection stayed open before the other side closed it.
    qint64 longestHeldMs = 0;

    // Each connection sends `opening` once it is up, and then nothing more.
    void open(int count, const QByteArray &opening = {})
    {
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket *socket = sockets.back().get();
            auto since = std::make_shared<QElapsedTimer>();
            QObject::connect(socket, &QTcpSocket::connected, [socket, since, opening] {
                since->start();
                if (!opening.isEmpty())
                    socket->write(opening);
            });
            QObject::connect(socket, &QTcpSocket::stateChanged, [this, since](QAbstractSocket::SocketState state) {
                if (state == QAbstractSocket::UnconnectedState && since->isValid())
                    longestHeldMs = std::max(longestHeldMs, since->elapsed());
            });
            socket->connectToHost(QHostAddress::LocalHost, quint16(port));
        }
    }
    // Sockets that connected and were then closed by the other side.
    int turnedAway() const
    {
        return int(std::count_if(sockets.begin(), sockets.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::UnconnectedState;
        }));
    }
};

// The answer to a user-information message: the proof that the control port listens.
bool answers(int port)
{
    RawClient probe(port);
    // "UIF;2.5;True;" during a call with real-time chat, "UIF;2.5;False;" otherwise.
    return probe.send("UIF;2.4;False;")
           && QTest::qWaitFor([&] { return probe.received.size() >= 13 && probe.received.endsWith(';'); }, 10000)
           && probe.received.startsWith("UIF;2.5;");
}

void resetMidMessage(QTcpSocket &socket, const QByteArray &part)
{
    socket.write(part);
    socket.flush();
    const linger reset{1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    socket.abort();
}

} // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private slots:
    // Each port of a program in a call: what it holds of 500 connections, and how it shows
    // afterwards that it still serves.
    void fiveHundredConnectionsOnAPortLeaveTheCallAndTheTickGoing_data()
    {
        QTest::addColumn<int>("offset");
        // The most the program holds at once; those of the flood it holds are let go after
        // a while.
        QTest::addColumn<int>("held");
        QTest::newRow("control") << 0 << int(CallControl::MaxControlConnections);
        QTest::newRow("media") << 1 << 0;
        QTest::newRow("quick messages") << 2 << int(MessageService::MaxConnections);
        QTest::newRow("chat") << 3 << 0;
    }

    void fiveHundredConnectionsOnAPortLeaveTheCallAndTheTickGoing()
    {
        QFETCH(int, offset);
        QFETCH(int, held);
        RunningProgram ann(QStringLiteral("Ann"));
        RunningProgram bob(QStringLiteral("Bob"));
        bob.calls().setDeadlines(1500, 1500, 30000);
        MessageService &messages = bob->messages();
        messages.setIdleCloseTime(1500);
        IPDaemon *listeners[] = {&bob->ipdControl(), &bob->ipdMedia(), &messages.ipdMessage(), &bob->chat().ipdText()};
        IPDaemon &listener = *listeners[offset];
        int mostHeld = 0;
        connect(&listener, &IPDaemon::connected, this,
                [&] { mostHeld = std::max(mostHeld, int(listener.connectionIds().size())); });
        bob.settings().AutoAccept = true;
        QVERIFY(ann.callAndSeeFrames(bob));
        QTRY_VERIFY_WITH_TIMEOUT(ann->chat().isRealTime() && bob->chat().isRealTime(), 10000);
        QVERIFY(answers(bob.port));
        const int calls = int(listener.connectionIds().size());
        mostHeld = calls;
        const int descriptors = openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();
        TestSupport::TickWatch ticks(&bob->mediaTimer());
        const qint32 framesBefore = bob->mediaStats().framesReceived();
        qint64 peak = memory;
        {
            // In waves the size of the listening queue, so that the kernel takes every
            // connection at once rather than retrying some of them for many seconds.
            Flood flood{bob.port + offset, {}};
            for (int wave = 0; wave < 10; ++wave) {
                flood.open(50);
                // Beyond the few it serves, the program closes them as they come.
                QTRY_VERIFY_WITH_TIMEOUT(flood.turnedAway() >= int(flood.sockets.size()) - held, 20000);
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            // The call goes on meanwhile: frames keep coming and the tick keeps running.
            QTRY_VERIFY_WITH_TIMEOUT(bob->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count >= 5, 10000);
            QVERIFY(bob->ipdControl().isConnected(1));
            QVERIFY(bob.inCall());
            // Held connections that never speak are let go.
            QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), 500, 10000);
            peak = std::max(peak, TestSupport::residentKilobytes());
        }
        QVERIFY(mostHeld <= std::max(held, calls));
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        QVERIFY(bob.inCall());
        QVERIFY(answers(bob.port));
        QCOMPARE(int(listener.connectionIds().size()), calls);
        // The chat and the quick messages still serve.
        ann->chat().type(QStringLiteral("still here"));
        QTRY_VERIFY(bob->chat().conversation().text().endsWith(QStringLiteral("still here")));
        namespace QM = QuickMessageProtocol;
        RawClient sender(bob.port + 2);
        QVERIFY(sender.send(QM::request(1234)) && sender.waitFor(QM::accepted()));
        sender.send(QM::head({1234, QStringLiteral("Carol"), QString(), QString(), QString(), QStringLiteral("Hi")})
                    + QM::end());
        QTRY_COMPARE(messages.waitingCount(), 1);
        qInfo("500 connections: %d held at most, %d ticks, longest gap %lld ms, peak memory %lld kB over %lld kB",
              mostHeld, ticks.count, ticks.longestGap, peak - memory, memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void aStrangersIdleMessageConnectionsCannotKeepARealMessageOut()
    {
        namespace QM = QuickMessageProtocol;
        RunningProgram bob(QStringLiteral("Bob"));
        MessageService &messages = bob->messages();
        IPDaemon &listener = messages.ipdMessage();
        // A real message from a sender on 127.0.0.1, timed from its connect to its arrival.
        const auto deliver = [&](const QString &text) {
            QElapsedTimer took;
            took.start();
            const int before = messages.waitingCount();
            RawClient sender(bob.port + 2);
            if (!sender.send(QM::request(1234)) || !sender.waitFor(QM::accepted(), 5000))
                return qint64(-1);
            sender.send(QM::head({1234, QStringLiteral("Carol"), QString(), QString(), QString(), text}) + QM::end());
            if (!QTest::qWaitFor([&] { return messages.waitingCount() == before + 1; }, 5000))
                return qint64(-1);
            return took.elapsed();
        };
        using Idle = std::vector<std::unique_ptr<RawClient>>;
        const auto settled = [](const Idle &held) {
            return std::none_of(held.begin(), held.end(), [](const auto &c) {
                return c->socket.state() == QAbstractSocket::ConnectingState
                       || c->socket.state() == QAbstractSocket::HostLookupState;
            });
        };

        // Ten idle connections from one stranger: it holds a few, the sender gets through.
        Idle stranger;
        for (int i = 0; i < 10; ++i)
            stranger.push_back(std::make_unique<RawClient>(bob.port + 2, QStringLiteral("127.0.0.2")));
        QTRY_VERIFY(settled(stranger));
        QTRY_COMPARE(int(listener.connectionIds().size()), MessageService::MaxPerAddress);
        const qint64 first = deliver(QStringLiteral("Through the crowd"));
        QVERIFY(first >= 0);

        // Ten more from ten addresses take every other slot; once they have sat a few
        // seconds without a message head, the next sender takes the place of one.
        Idle crowd;
        for (int i = 0; i < 10; ++i)
            crowd.push_back(std::make_unique<RawClient>(bob.port + 2, QStringLiteral("127.0.1.%1").arg(i + 1)));
        QTRY_VERIFY(settled(crowd));
        QTest::qWait(MessageService::HeadWaitMs + 200);
        const qint64 second = deliver(QStringLiteral("Past the idle ones"));
        QVERIFY(second >= 0);
        qInfo("a message delivered in %lld ms beside ten idle connections from one address, in %lld ms beside the "
              "idle connections of eleven addresses",
              first, second);
        QVERIFY2(first < 1000 && second < 1000, "a real message waited a second or more");
        QCOMPARE(messages.waitingCount(), 2);
    }

    void aPeerThatSendsOneByteAtATimeIsLetGo()
    {
        RunningProgram bob(QStringLiteral("Bob"));
        QSignalSpy offers(&bob.calls(), &CallControl::callOffered);
        bob.calls().setDeadlines(1000, 1000, 1000);
        RawClient drip(bob.port);
        QVERIFY(drip.waitConnected());
        const QByteArray request = "RQC;Ann;Oslo;9:05;";
        int sent = 0;
        QTimer byte;
        connect(&byte, &QTimer::timeout, [&] {
            if (drip.connected())
                drip.send(request.mid(sent++ % request.size(), 1));
        });
        byte.start(100);
        // Each byte is a message of its own and none is a request: the connection stays
        // silent as far as the program is concerned, and is closed.
        QVERIFY(drip.waitClosed(10000));
        QVERIFY(sent >= 2);
        QVERIFY(offers.isEmpty());
        QVERIFY(bob->ipdControl().connectionIds().isEmpty());
        QVERIFY(answers(bob.port));
    }

    void peersThatResetMidMessageLeaveNothingBehind()
    {
        RunningProgram bob(QStringLiteral("Bob"));
        QSignalSpy offers(&bob.calls(), &CallControl::callOffered);
        QVERIFY(answers(bob.port));
        const int descriptors = openDescriptors();
        for (int i = 0; i < 50; ++i) {
            RawClient eve(bob.port);
            QVERIFY(eve.waitConnected());
            // A reset, not an orderly close.
            resetMidMessage(eve.socket, QByteArray("RQC;Eve;Nowh").left(1 + i % 12));
        }
        QTRY_VERIFY(bob->ipdControl().connectionIds().isEmpty());
        QTRY_VERIFY(openDescriptors() <= descriptors);
        QVERIFY(offers.isEmpty());
        // A real caller is offered the call afterwards.
        RunningProgram ann(QStringLiteral("Ann"));
        ann.call(bob);
        QTRY_COMPARE(offers.count(), 1);
    }

    // The caller closes its control connection and opens the chat (or media) connection at
    // once: both reach the program together, and the late one is turned away however the
    // two are ordered when they are handed over.
    void aChannelOpenedAfterTheControlConnectionClosedIsTurnedAway_data()
    {
        QTest::addColumn<bool>("chat");
        QTest::newRow("chat") << true;
        QTest::newRow("media") << false;
    }

    void aChannelOpenedAfterTheControlConnectionClosedIsTurnedAway()
    {
        QFETCH(bool, chat);
        RunningProgram bob(QStringLiteral("Bob"), {.autoAccept = true});
        IPDaemon &listener = chat ? bob->chat().ipdText() : bob->ipdMedia();
        QSignalSpy calls(&bob->mediaSession(), &MediaSession::inCallChanged);
        for (int round = 0; round < 20; ++round) {
            RawCaller eve;
            QVERIFY(eve.request(bob.port));
            eve.control.drop();
            RawClient &late = chat ? eve.chat : eve.media;
            QVERIFY(chat ? eve.openChat(bob.port) : eve.openMedia(bob.port));
            QVERIFY(late.waitClosed());
            QVERIFY(late.received.isEmpty());
            QVERIFY(listener.connectionIds().isEmpty());
            QTRY_VERIFY(!bob->ipdControl().isConnected(1));
            QVERIFY(!bob.call().callAcceptedOnControl);
            QCOMPARE(calls.count(), 0);
        }
        RawCaller eve;
        QVERIFY(eve.request(bob.port));
        if (!chat) {
            // With the control connection up the same caller gets its call.
            QVERIFY(eve.openMedia(bob.port));
            QTRY_VERIFY(bob.inCall());
            QCOMPARE(calls.count(), 1);
            return;
        }
        // A chat connection opened while the control connection is up is taken, and closed
        // as soon as the caller goes without the call having started.
        QVERIFY(eve.openChat(bob.port));
        QTRY_VERIFY(listener.isConnected(1));
        eve.control.drop();
        QVERIFY(eve.chat.waitClosed());
        QVERIFY(listener.connectionIds().isEmpty());
        QCOMPARE(bob.call().callState, CallState::Idle);
    }

    void fiveHundredConnectionsOnTheEncryptedPortLeaveTheEncryptedCallGoing()
    {
        RunningProgram ann(QStringLiteral("Ann"));
        RunningProgram bob(QStringLiteral("Bob"), {.autoAccept = true});
        QVERIFY(ann.callAndSeeFrames(bob));
        // The call and its frames come through the encrypted port.
        QVERIFY(bob->security().call().status().encrypted());
        QCOMPARE(bob->ipdMedia().connectionIds(), QList<int>{1});
        QVERIFY(bob->ipdMedia().security(1).encrypted());
        SecureListener &listener = bob->security().listener();
        const int descriptors = openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();

        TestSupport::TickWatch ticks(&bob->mediaTimer());
        int mostUnderway = 0;
        connect(&listener, &SecureListener::turnedAway, this,
                [&] { mostUnderway = std::max(mostUnderway, listener.handshakesUnderway() + 1); });
        const qint32 framesBefore = bob->mediaStats().framesReceived();
        qint64 peak = memory;
        {
            // Four kinds, all held open from this side: silence; half a client hello (a
            // record of 512 bytes of which 31 come); garbage inside a record that claims 16 kB;
            // and garbage that is no record at all.
            const QByteArray openings[] = {
                QByteArray(),
                QByteArray::fromHex("1603010200010001fc0303") + QByteArray(20, '\x11'),
                QByteArray("\x16\x03\x01\x40\x00", 5) + QByteArray(200, '\xa5'),
                QByteArray(300, '\x5a'),
            };
            Flood flood{bob.port + TlsSetup::PortOffset, {}};
            for (int wave = 0; wave < 10; ++wave) {
                for (int i = 0; i < 50; ++i)
                    flood.open(1, openings[i % 4]);
                // Beyond the few handshakes one address may have under way, the oldest go.
                QTRY_VERIFY_WITH_TIMEOUT(flood.turnedAway() >= int(flood.sockets.size())
                                             - SecureListener::MaxHandshakesPerAddress,
                                         20000);
                mostUnderway = std::max(mostUnderway, listener.handshakesUnderway());
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            QTRY_VERIFY_WITH_TIMEOUT(bob->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count >= 5, 10000);
            QVERIFY(bob->ipdControl().isConnected(1));
            QCOMPARE(bob->ipdMedia().connectionIds(), QList<int>{1});
            QCOMPARE(bob.call().callState, CallState::InCall);
            // The last ones, never finishing their handshakes, go at its time limit.
            QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), 500, SecureListener::HandshakeMs + 5000);
            QCOMPARE(listener.handshakesUnderway(), 0);
            QVERIFY2(flood.longestHeldMs < SecureListener::HandshakeMs + 2000,
                     qPrintable(QStringLiteral("a connection was held %1 ms").arg(flood.longestHeldMs)));
            peak = std::max(peak, TestSupport::residentKilobytes());
            qInfo("500 encrypted-port connections: longest held %lld ms", flood.longestHeldMs);
        }
        QVERIFY(mostUnderway <= SecureListener::MaxHandshakesPerAddress);
        QVERIFY(bob->security().call().status().encrypted());
        {
            // A real encrypted connection is served afterwards.
            SecureKit::End carol(QStringLiteral("carol@example.org"));
            SecureKit::Client control(carol, PeerChannel::Control);
            control.connectTo(bob.port, PeerChannel::Control);
            QVERIFY(control.waitConnected());
            QVERIFY(control.port.security().encrypted());
            control.port.setConnected(false);
        }
        QTRY_COMPARE(bob->ipdControl().connectionIds(), QList<int>{1});
        QCOMPARE(bob.call().callState, CallState::InCall);
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        listener.disconnect(this);
        qInfo("500 encrypted-port connections: %d handshakes under way at most, %d ticks, longest gap %lld ms, peak "
              "memory %lld kB over %lld kB",
              mostUnderway, ticks.count, ticks.longestGap, peak - memory, memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void aChatPeerDrippingOrResettingDoesNoHarm()
    {
        RunningProgram bob(QStringLiteral("Bob"), {.autoAccept = true});
        IPDaemon &chat = bob->chat().ipdText();
        RawCaller eve;
        QVERIFY(eve.request(bob.port));
        eve.control.send(ControlProtocol::userInfo(true));
        QTRY_VERIFY(bob.call().PeerIsV25);
        QVERIFY(eve.openMedia(bob.port));
        QTRY_VERIFY(bob.inCall());
        QVERIFY(eve.openChat(bob.port));
        QTRY_VERIFY(chat.isConnected(1));
        const auto conversation = [&] { return bob->chat().conversation().text(); };

        // One byte at a time: the characters come whole, the tick goes on meanwhile.
        const QByteArray typed =
            ChatProtocol::typed(U'h') + ChatProtocol::typed(U'\u00e9') + ChatProtocol::typed(U'!');
        QSignalSpy ticks(&bob->mediaTimer(), &QTimer::timeout);
        int sent = 0;
        QTimer drip;
        connect(&drip, &QTimer::timeout, [&] {
            if (sent < typed.size())
                eve.chat.send(typed.mid(sent++, 1));
        });
        drip.start(25);
        QTRY_VERIFY_WITH_TIMEOUT(conversation().endsWith(QStringLiteral("h\u00e9!")), 10000);
        QCOMPARE(sent, int(typed.size()));
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 10000);

        // A reset in the middle of a message: the half message is dropped, the call goes on,
        // and the caller may open its chat connection again.
        resetMidMessage(eve.chat.socket, "Tq");
        QTRY_VERIFY(chat.connectionIds().isEmpty());
        QVERIFY(conversation().endsWith(QStringLiteral("h\u00e9!")));
        QVERIFY(bob.inCall());
        QVERIFY(bob->ipdControl().isConnected(1));
        RawClient again(bob.port + 3);
        QTRY_VERIFY(chat.isConnected(1));
        again.send(ChatProtocol::typed(U'z'));
        QTRY_VERIFY(conversation().endsWith(QStringLiteral("h\u00e9!z")));
    }
};

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
