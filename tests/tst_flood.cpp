// Floods and faults on the control, media, quick-message, chat and encrypted ports: many held
// connections, a peer that drips one byte at a time, peers that reset in the middle of a
// message, a caller that closes its control connection and opens the media or chat at
// once. The program must keep its tick, its call, a bounded set of connections, and give
// every descriptor back.

#include "support/RunningProgram.h"
#include "call/ControlProtocol.h"
#include "chat/ChatProtocol.h"
#include "media/MediaStats.h"
#include "media/picture/TestPatternCamera.h"
#include "messages/QuickMessageProtocol.h"
#include "secure/CallSecurity.h"
#include "tls/Identity.h"
#include "secure/SecureListener.h"
#include "secure/SecurityService.h"
#include "tls/TlsSetup.h"
#include "support/MessageKit.h"
#include "support/RawClient.h"
#include "support/SecureKit.h"


namespace {

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
        // What the flood's connections send once they are up, in turn (none: silence).
        QTest::addColumn<QList<QByteArray>>("openings");
        QTest::newRow("control") << 0 << int(CallControl::MaxControlConnections) << QList<QByteArray>{};
        QTest::newRow("media") << 1 << 0 << QList<QByteArray>{};
        QTest::newRow("quick messages") << 2 << int(MessageService::MaxConnections) << QList<QByteArray>{};
        QTest::newRow("chat") << 3 << 0 << QList<QByteArray>{};
        // Four kinds: silence; half a client hello (a record of 512 bytes of which 31 come);
        // garbage inside a record that claims 16 kB; and garbage that is no record at all.
        // Beyond the few handshakes one address may have under way, the oldest go.
        QTest::newRow("encrypted") << PortPlan::EncryptedOffset << SecureListener::MaxHandshakesPerAddress
                                   << QList<QByteArray>{QByteArray(),
                                                        QByteArray::fromHex("1603010200010001fc0303") + QByteArray(20, '\x11'),
                                                        QByteArray("\x16\x03\x01\x40\x00", 5) + QByteArray(200, '\xa5'),
                                                        QByteArray(300, '\x5a')};
    }

    void fiveHundredConnectionsOnAPortLeaveTheCallAndTheTickGoing()
    {
        QFETCH(int, offset);
        QFETCH(int, held);
        QFETCH(QList<QByteArray>, openings);
        const bool encrypted = offset == PortPlan::EncryptedOffset;
        RunningProgram ann(QStringLiteral("Ann"));
        RunningProgram bob(QStringLiteral("Bob"));
        bob.calls().setDeadlines(1500, 1500, 30000);
        MessageService &messages = bob->messages();
        messages.setIdleCloseTime(1500);
        bob.settings().AutoAccept = true;
        QVERIFY(ann.callAndSeeFrames(bob));
        QTRY_VERIFY_WITH_TIMEOUT(ann->chat().isRealTime() && bob->chat().isRealTime(), 10000);
        QVERIFY(answers(bob.port));
        // The call and its frames come through the encrypted port.
        QVERIFY(bob->security().call().status().encrypted());
        QCOMPARE(bob->parts().ipdMedia.connectionIds(), QList<int>{1});
        QVERIFY(bob->parts().ipdMedia.security(1).encrypted());

        // What the flooded port holds at most: connections, or handshakes under way.
        IPDaemon *listeners[] = {&bob->parts().ipdControl, &bob->parts().ipdMedia, &messages.ipdMessage(), &bob->chat().ipdText()};
        IPDaemon *listener = encrypted ? nullptr : listeners[offset];
        SecureListener &secure = bob->security().listener();
        const int calls = encrypted ? 0 : int(listener->connectionIds().size());
        int mostHeld = calls;
        if (encrypted)
            connect(&secure, &SecureListener::turnedAway, this,
                    [&] { mostHeld = std::max(mostHeld, secure.handshakesUnderway() + 1); });
        else
            connect(listener, &IPDaemon::connected, this,
                    [&] { mostHeld = std::max(mostHeld, int(listener->connectionIds().size())); });
        const int descriptors = TestSupport::openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();
        TestSupport::TickWatch ticks(&bob->parts().mediaTimer);
        const qint32 framesBefore = bob->parts().mediaStats.framesReceived();
        qint64 peak = memory;
        qint64 longestHeld = 0;
        {
            // In waves the size of the listening queue, so that the kernel takes every
            // connection at once rather than retrying some of them for many seconds.
            Flood flood{bob.port + offset, {}};
            for (int wave = 0; wave < 10; ++wave) {
                for (int i = 0; i < 50; ++i)
                    flood.open(1, openings.value(i % std::max(1, int(openings.size()))));
                // Beyond the few it serves, the program closes them as they come.
                QTRY_VERIFY_WITH_TIMEOUT(flood.turnedAway() >= int(flood.sockets.size()) - held, 20000);
                if (encrypted)
                    mostHeld = std::max(mostHeld, secure.handshakesUnderway());
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            // The call goes on meanwhile: frames keep coming and the tick keeps running.
            QTRY_VERIFY_WITH_TIMEOUT(bob->parts().mediaStats.framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count >= 5, 10000);
            QVERIFY(bob->parts().ipdControl.isConnected(1));
            QCOMPARE(bob->parts().ipdMedia.connectionIds(), QList<int>{1});
            QCOMPARE(bob.call().callState, CallState::InCall);
            // Held connections that never speak, or never finish their handshakes, are let go.
            QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), 500, SecureListener::HandshakeMs + 5000);
            QCOMPARE(secure.handshakesUnderway(), 0);
            longestHeld = flood.longestHeldMs;
            if (encrypted)
                QVERIFY2(longestHeld < SecureListener::HandshakeMs + 2000,
                         qPrintable(QStringLiteral("a connection was held %1 ms").arg(longestHeld)));
            peak = std::max(peak, TestSupport::residentKilobytes());
        }
        QVERIFY(mostHeld <= std::max(held, calls));
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::openDescriptors() <= descriptors, 10000);
        QVERIFY(bob.inCall());
        QVERIFY(bob->security().call().status().encrypted());
        QVERIFY(answers(bob.port));
        if (listener)
            QCOMPARE(int(listener->connectionIds().size()), calls);
        {
            // A real encrypted connection is served afterwards.
            SecureKit::End carol(QStringLiteral("carol@example.org"));
            SecureKit::Client control(carol, PeerChannel::Control, bob.port);
            QVERIFY(control.waitConnected());
            QVERIFY(control.port.security().encrypted());
            control.port.setConnected(false);
        }
        QTRY_COMPARE(bob->parts().ipdControl.connectionIds(), QList<int>{1});
        // The chat and the quick messages still serve.
        ann->chat().type(QStringLiteral("still here"));
        QTRY_VERIFY(bob->chat().conversation().text().endsWith(QStringLiteral("still here")));
        QVERIFY(MessageKit::sendWhole(bob.port + 2, 1234, "Hi", "Carol"));
        QTRY_COMPARE(messages.waitingCount(), 1);
        secure.disconnect(this);
        qInfo("500 connections: %d held at most, longest held %lld ms, %d ticks, longest gap %lld ms, peak memory "
              "%lld kB over %lld kB",
              mostHeld, longestHeld, ticks.count, ticks.longestGap, peak - memory, memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    // Seven silent control connections from one stranger, reopened as they are closed:
    // it holds a few, and a real caller from elsewhere is offered its call, not "busy".
    void aStrangersIdleControlConnectionsDoNotMakeTheProgramBusy()
    {
        RunningProgram bob(QStringLiteral("Bob"));
        IPDaemon &listener = bob->parts().ipdControl;
        QSignalSpy offers(&bob.calls(), &CallControl::callOffered);
        std::vector<std::unique_ptr<RawClient>> stranger;
        for (int i = 0; i < 7; ++i)
            stranger.push_back(std::make_unique<RawClient>(bob.port, QStringLiteral("127.0.0.2")));
        QTRY_VERIFY(std::all_of(stranger.begin(), stranger.end(), [](const auto &c) {
            return c->connected() || c->closed;
        }));
        QTRY_COMPARE(int(listener.connectionIds().size()), CallControl::MaxControlPerSource);
        // A real caller asks within a round trip; the stranger's first connection has sat
        // longer than that.
        QTest::qWait(CallControl::SilentGraceMs + 200);
        QElapsedTimer took;
        took.start();
        RawClient caller(bob.port, QStringLiteral("127.0.0.3"));
        QVERIFY(caller.send("RQC;Ann;Oslo;9:05;"));
        QTRY_COMPARE(offers.count(), 1);
        qInfo("a real call offered %lld ms after its connection, beside the idle connections of a stranger",
              took.elapsed());
        QVERIFY(!caller.received.contains(ControlProtocol::busy()));
        QCOMPARE(listener.remoteAddress(1), QStringLiteral("127.0.0.3"));
    }

    // The same on the encrypted port: a stranger's finished handshakes that then say
    // nothing hold no more places than plain ones, and a real encrypted caller from
    // elsewhere is offered its call.
    void aStrangersIdleEncryptedControlConnectionsDoNotMakeTheProgramBusy()
    {
        RunningProgram bob(QStringLiteral("Bob"));
        IPDaemon &listener = bob->parts().ipdControl;
        QSignalSpy offers(&bob.calls(), &CallControl::callOffered);
        const auto encrypted = [&](const char *from, Identity &key) {
            auto socket = std::make_unique<QSslSocket>();
            socket->bind(QHostAddress(QString::fromLatin1(from)), 0);
            socket->setSslConfiguration(TlsSetup::configuration(key.credentials(QStringLiteral("x@example.org")),
                                                                {PeerChannel::Control}));
            QObject::connect(socket.get(), &QSslSocket::sslErrors, socket.get(),
                             [s = socket.get()] { s->ignoreSslErrors(); });
            socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(bob.port + PortPlan::EncryptedOffset));
            return socket;
        };
        QTemporaryDir keys;
        Identity strangerKey;
        Identity callerKey;
        QVERIFY(!strangerKey.create(keys.filePath(QStringLiteral("stranger.key"))));
        QVERIFY(!callerKey.create(keys.filePath(QStringLiteral("caller.key"))));
        std::vector<std::unique_ptr<QSslSocket>> stranger;
        for (int i = 0; i < 7; ++i)
            stranger.push_back(encrypted("127.0.0.2", strangerKey));
        QTRY_VERIFY(std::count_if(stranger.begin(), stranger.end(), [](const auto &s) { return s->isEncrypted(); })
                    >= CallControl::MaxControlPerSource);
        QTRY_COMPARE(int(listener.connectionIds().size()), CallControl::MaxControlPerSource);
        QTest::qWait(CallControl::SilentGraceMs + 200);
        auto caller = encrypted("127.0.0.3", callerKey);
        QTRY_VERIFY(caller->isEncrypted());
        caller->write("RQC;Ann;Oslo;9:05;");
        QTRY_COMPARE(offers.count(), 1);
        QVERIFY(!caller->readAll().contains(ControlProtocol::busy()));
        QCOMPARE(listener.remoteAddress(1), QStringLiteral("127.0.0.3"));
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
        QVERIFY(bob->parts().ipdControl.connectionIds().isEmpty());
        QVERIFY(answers(bob.port));
    }

    void peersThatResetMidMessageLeaveNothingBehind()
    {
        RunningProgram bob(QStringLiteral("Bob"));
        QSignalSpy offers(&bob.calls(), &CallControl::callOffered);
        QVERIFY(answers(bob.port));
        const int descriptors = TestSupport::openDescriptors();
        for (int i = 0; i < 50; ++i) {
            RawClient eve(bob.port);
            QVERIFY(eve.resetAfter(QByteArray("RQC;Eve;Nowh").left(1 + i % 12)));
        }
        QTRY_VERIFY(bob->parts().ipdControl.connectionIds().isEmpty());
        QTRY_VERIFY(TestSupport::openDescriptors() <= descriptors);
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
        IPDaemon &listener = chat ? bob->chat().ipdText() : bob->parts().ipdMedia;
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
            QTRY_VERIFY(!bob->parts().ipdControl.isConnected(1));
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

    void aChatPeerDrippingOrResettingDoesNoHarm()
    {
        RunningProgram bob(QStringLiteral("Bob"), {.autoAccept = true});
        IPDaemon &chat = bob->chat().ipdText();
        RawCaller eve;
        QVERIFY(eve.callUpToChat(bob, true));
        const auto conversation = [&] { return bob->chat().conversation().text(); };

        // One byte at a time: the characters come whole, the tick goes on meanwhile.
        const QByteArray typed =
            ChatProtocol::typed(U'h') + ChatProtocol::typed(U'\u00e9') + ChatProtocol::typed(U'!');
        QSignalSpy ticks(&bob->parts().mediaTimer, &QTimer::timeout);
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
        QVERIFY(eve.chat.resetAfter("Tq"));
        QTRY_VERIFY(chat.connectionIds().isEmpty());
        QVERIFY(conversation().endsWith(QStringLiteral("h\u00e9!")));
        QVERIFY(bob.inCall());
        QVERIFY(bob->parts().ipdControl.isConnected(1));
        RawClient again(bob.port + 3);
        QTRY_VERIFY(chat.isConnected(1));
        again.send(ChatProtocol::typed(U'z'));
        QTRY_VERIFY(conversation().endsWith(QStringLiteral("h\u00e9!z")));
    }
};

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
