#include "core/EndpointConnection.h"
#include "core/EndpointError.h"
#include "support/NetworkLab.h"
#include "support/SecureKit.h"

#include <QDir>
#include <QPointer>
#include <QScopeGuard>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <deque>
#include <optional>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// The encrypted way between two ends on loopback: the client of each channel tries the
// encrypted port first and the listener there hands the connection to that channel's
// listener; an older program is reached plain at once; bad input on the encrypted port is
// closed without keeping real callers out.
using namespace SecureKit;
using SecureKit::DescriptorServer;

namespace {

constexpr PeerChannel Channels[] = {PeerChannel::Control, PeerChannel::Media, PeerChannel::Message,
                                    PeerChannel::Chat};

// Passes connections to its port on to another, and can write into the stream towards it
// or spoil the next record going that way.
struct TamperingRelay
{
    QTcpServer server;
    QPointer<QTcpSocket> out;
    bool spoilNext = false;

    TamperingRelay(int port, int target)
    {
        if (!server.listen(QHostAddress::LocalHost, quint16(port)))
            qFatal("the relay could not listen on %d", port);
        QObject::connect(&server, &QTcpServer::newConnection, [this, target] {
            QTcpSocket *in = server.nextPendingConnection();
            out = new QTcpSocket(in);
            out->connectToHost(QHostAddress::LocalHost, quint16(target));
            QObject::connect(in, &QTcpSocket::readyRead, [this, in, to = out.data()] {
                QByteArray chunk = in->readAll();
                if (spoilNext && !chunk.isEmpty()) {
                    chunk[chunk.size() - 1] = char(chunk.back() ^ 0x55);
                    spoilNext = false;
                }
                to->write(chunk);
            });
            QObject::connect(out, &QTcpSocket::readyRead, [in, from = out.data()] { in->write(from->readAll()); });
            QObject::connect(in, &QTcpSocket::disconnected, out, [to = out.data()] { to->disconnectFromHost(); });
            QObject::connect(out, &QTcpSocket::disconnected, in, [in] { in->disconnectFromHost(); });
        });
    }
};

// Passes connections to its port on to another, each way after `delayMs`: half of a
// round trip of a long path.
struct DelayRelay
{
    QTcpServer server;

    DelayRelay(int port, int target, int delayMs)
    {
        if (!server.listen(QHostAddress::LocalHost, quint16(port)))
            qFatal("the relay could not listen on %d", port);
        QObject::connect(&server, &QTcpServer::newConnection, [this, target, delayMs] {
            QTcpSocket *in = server.nextPendingConnection();
            auto *out = new QTcpSocket(in);
            out->connectToHost(QHostAddress::LocalHost, quint16(target));
            const auto pipe = [delayMs](QTcpSocket *from, QTcpSocket *to) {
                QObject::connect(from, &QTcpSocket::readyRead, to, [from, to, delayMs] {
                    const QByteArray chunk = from->readAll();
                    QTimer::singleShot(delayMs, Qt::PreciseTimer, to, [to, chunk] { to->write(chunk); });
                });
                QObject::connect(from, &QTcpSocket::disconnected, to, [to, delayMs] {
                    QTimer::singleShot(delayMs, Qt::PreciseTimer, to, [to] { to->disconnectFromHost(); });
                });
            };
            pipe(in, out);
            pipe(out, in);
        });
    }
};

} // namespace

class TestSecureTransport : public QObject
{
    Q_OBJECT

private slots:
    void everyChannelReachesItsListenerEncrypted()
    {
        End ann(QStringLiteral("ann@example.org"));
        End bob(QStringLiteral("bob@example.org"));
        QVERIFY(bob.answer(TestSupport::portBlock()));
        for (const PeerChannel channel : Channels) {
            Client client(ann, channel);
            IPDaemon &listener = bob.listener(channel);
            QByteArray arrived;
            const auto got = connect(&listener, &IPDaemon::dataIn, this,
                                     [&](int, const QByteArray &text) { arrived += text; });
            client.connectTo(bob.base, channel);
            QVERIFY(client.waitConnected());
            QCOMPARE(client.statuses, QList<int>{0});
            const ChannelSecurity seen = client.port.security();
            QVERIFY(seen.encrypted());
            QCOMPARE(seen.peerKey, bob.key());
            QCOMPARE(seen.ownKey, ann.key());
            QCOMPARE(seen.peerEmail, QStringLiteral("bob@example.org"));

            QTRY_COMPARE(listener.connectionIds(), QList<int>{1});
            const ChannelSecurity heard = listener.security(1);
            QCOMPARE(heard.peerKey, ann.key());
            QCOMPARE(heard.ownKey, bob.key());
            QCOMPARE(heard.peerEmail, QStringLiteral("ann@example.org"));
            QCOMPARE(listener.remoteAddress(1), QStringLiteral("127.0.0.1"));

            // The clear text goes both ways unchanged.
            client.port.sendData("RQC;Ann;Oslo;9:05;");
            QTRY_COMPARE(arrived, QByteArray("RQC;Ann;Oslo;9:05;"));
            listener.sendData(1, "RRS;NO;");
            QTRY_COMPARE(client.received, QByteArray("RRS;NO;"));
            client.port.setConnected(false);
            QTRY_VERIFY(listener.connectionIds().isEmpty());
            disconnect(got);
        }
    }

    // An older program: the channel's port, and nothing on the encrypted one, or a port
    // there that drops every connection request without a word.
    void olderProgramGetsThePlainBytesAtOnce_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("channel");
        QTest::newRow("refused encrypted port, control") << false << int(PeerChannel::Control);
        QTest::newRow("silent encrypted port, messages") << true << int(PeerChannel::Message);
    }

    void olderProgramGetsThePlainBytesAtOnce()
    {
        QFETCH(bool, silent);
        QFETCH(int, channel);
        End ann(QStringLiteral("ann@example.org"));
        const int base = TestSupport::portBlock();
        QTcpServer older;
        QVERIFY(older.listen(QHostAddress::LocalHost, quint16(base + channel)));
        QByteArray arrived;
        connect(&older, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *s = older.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [&arrived, s] { arrived += s->readAll(); });
        });
        std::optional<TestSupport::SilentPort> dropping;
        if (silent)
            QVERIFY(dropping.emplace(base + PortPlan::EncryptedOffset).isSilent());
        Client client(ann, PeerChannel(channel));
        QElapsedTimer took;
        took.start();
        client.connectTo(base, PeerChannel(channel));
        QVERIFY(client.waitConnected());
        QCOMPARE(client.statuses, QList<int>{0});
        QVERIFY(!client.port.security().encrypted());
        if (!silent)
            QVERIFY(!client.port.security().fellBack);
        client.port.sendData("RQC;Ann;Oslo;9:05;");
        QTRY_COMPARE(arrived, QByteArray("RQC;Ann;Oslo;9:05;"));
        qInfo("plain connection after a %s encrypted port: %lld ms", silent ? "silent" : "refused", took.elapsed());
    }

    void callChannelsGoTheWayTheControlConnectionWent()
    {
        End ann(QStringLiteral("ann@example.org"));
        End bob(QStringLiteral("bob@example.org"));
        QVERIFY(bob.answer(TestSupport::portBlock()));
        bob.service->guardCallChannel(bob.ipdMedia);
        Client control(ann, PeerChannel::Control, bob.base);
        QVERIFY(control.waitConnected());
        QVERIFY(control.port.security().encrypted());

        // The media connection goes to the same key.
        Client media(ann, PeerChannel::Media, bob.base);
        QVERIFY(media.waitConnected());
        QCOMPARE(media.port.security().peerKey, bob.key());
        // Another key, even from the caller's address, does not join the call's media.
        End eve(QStringLiteral("eve@example.org"));
        QSignalSpy handed(&bob.service->listener(), &SecureListener::handedOver);
        Client intruder(eve, PeerChannel::Media, bob.base);
        QTRY_VERIFY(!handed.isEmpty());
        QCOMPARE(bob.ipdMedia.connectionIds().size(), 1);

        // Another key on the encrypted port now (a relay took it over): no chat connection,
        // encrypted or plain.
        End mallory(QStringLiteral("bob@example.org"));
        bob.service->listener().close();
        QVERIFY(mallory.answer(TestSupport::portBlock()));
        SecureListener taken([&mallory] { return mallory.service->identity().credentials(QString()); });
        taken.route(PeerChannel::Chat, bob.ipdChat);
        QVERIFY(!taken.listen(bob.base + PortPlan::EncryptedOffset));
        Client chat(ann, PeerChannel::Chat, bob.base);
        QVERIFY(chat.waitConnected());
        QCOMPARE(chat.statuses, QList<int>{EndpointError::SocketError});
        QVERIFY(bob.ipdChat.connectionIds().isEmpty());
    }

    void plainControlConnectionKeepsTheCallPlain()
    {
        End ann(QStringLiteral("ann@example.org"));
        // An older program answers the control connection; the encrypted port is refused.
        OlderProgram older;
        const int base = older.base;
        Client control(ann, PeerChannel::Control, base);
        QVERIFY(control.waitConnected());
        QVERIFY(!control.port.security().encrypted());
        // Whatever listens on the encrypted port by now, the media goes plain like the call.
        End other(QStringLiteral("other@example.org"));
        QVERIFY(!other.service->listen(base));
        QSignalSpy handed(&other.service->listener(), &SecureListener::handedOver);
        Client media(ann, PeerChannel::Media, base);
        QVERIFY(media.waitConnected());
        QVERIFY(!media.port.security().encrypted());
        QVERIFY(older.media.hasPendingConnections() || older.media.waitForNewConnection(5000));
        QCOMPARE(handed.count(), 0);
    }

    void onlyEncryptedCallsPlaceNoPlainCallButMessagesStillGo()
    {
        End ann(QStringLiteral("ann@example.org"));
        ann.service->setOnlyEncrypted(true);
        OlderProgram older;
        const int base = older.base;
        QSignalSpy refused(&ann.service->dialer(), &SecureDialer::plainCallRefused);
        QSignalSpy told(ann.service.get(), &SecurityService::notice);
        Client control(ann, PeerChannel::Control, base);
        QVERIFY(control.waitConnected());
        QCOMPARE(control.statuses, QList<int>{EndpointError::NotEncrypted});
        QCOMPARE(refused.count(), 1);
        QCOMPARE(told.count(), 1);
        QVERIFY(told[0][0].toString().contains(QStringLiteral("only encrypted calls are allowed")));
        // Not a byte, not even a connection, reached the older program's control port.
        QVERIFY(!older.control.hasPendingConnections());
        QTest::qWait(100);
        QVERIFY(!older.controlIn && !older.control.hasPendingConnections());

        Client message(ann, PeerChannel::Message, base);
        QVERIFY(message.waitConnected());
        QCOMPARE(message.statuses, QList<int>{0});

        // The setting is kept in a file of its own.
        End again(QStringLiteral("ann@example.org"));
        QVERIFY(!again.service->onlyEncrypted());
        SecuritySettings stored;
        stored.load(ann.service->path(SecuritySettings::FileName));
        QVERIFY(stored.OnlyEncrypted);
    }

    void aPeerThatStopsReadingLeavesItsBacklogCountedAsWaiting()
    {
        End ann(QStringLiteral("ann@example.org"));
        End bob(QStringLiteral("bob@example.org"));
        // Bob's side finishes the handshake and then reads nothing more: its socket lets go
        // of the connection, which a second descriptor keeps open.
        DescriptorServer stalled;
        const int base = TestSupport::portBlock();
        QVERIFY(stalled.listen(QHostAddress::LocalHost, quint16(base + PortPlan::EncryptedOffset)));
        // A small receive window, as a slow reader's would be, so that the sender feels it soon.
        const int window = 8192;
        ::setsockopt(int(stalled.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
        int held = -1;
        stalled.onIncoming = [&](qintptr descriptor) {
            auto *far = new QSslSocket(&stalled);
            far->setSocketDescriptor(descriptor);
            far->setSslConfiguration(
                TlsSetup::configuration(bob.service->identity().credentials(QString()), {PeerChannel::Media}));
            connect(far, &QSslSocket::encrypted, this, [&held, far] {
                held = ::dup(int(far->socketDescriptor()));
                far->abort();
            });
            far->startServerEncryption();
        };
        auto closeHeld = qScopeGuard([&held] {
            if (held >= 0)
                ::close(held);
        });
        Client media(ann, PeerChannel::Media, base);
        QVERIFY(media.waitConnected());
        QVERIFY(media.port.security().encrypted());
        // The far side lets go only once its handshake is done, which may come after this
        // side's; whatever it read before that would be counted nowhere.
        QTRY_VERIFY(held >= 0);
        media.port.setOutputBufferSize(16384);

        // The sender offers packets as the media loop does.
        const QByteArray packet(4000, 'v');
        qint64 accepted = 0;
        for (int tick = 0; tick < 200; ++tick) {
            media.port.sendData(packet);
            accepted += media.port.sentCount();
            QTest::qWait(2);
        }
        QVERIFY(media.port.isConnected());
        // Only what the far side's system holds has left; everything else still waits here,
        // before or after encryption, and counts as waiting for the media loop's pacer.
        int atFar = 0;
        QVERIFY(held >= 0);
        ::ioctl(held, FIONREAD, &atFar);
        const qint64 waiting = media.port.pendingOutput();
        qInfo("accepted %lld bytes, %lld waiting here, %d at the far side", accepted, waiting, atFar);
        QVERIFY(accepted >= 200 * 4000 / 2);
        QVERIFY2(waiting + atFar >= accepted,
                 qPrintable(QStringLiteral("%1 + %2 < %3").arg(waiting).arg(atFar).arg(accepted)));
    }

    // Garbage written into an encrypted stream, or a record whose check value is wrong:
    // the connection ends at once, and nothing of the spoiled record is handed on.
    void aBrokenRecordEndsTheConnectionAtOnce()
    {
        End ann(QStringLiteral("ann@example.org"));
        End bob(QStringLiteral("bob@example.org"));
        QVERIFY(bob.answer(TestSupport::portBlock()));
        const int relayBase = TestSupport::portBlock();
        QByteArray arrived;
        connect(&bob.ipdControl, &IPDaemon::dataIn, this, [&](int, const QByteArray &text) { arrived += text; });
        for (const bool garbage : {true, false}) {
            TamperingRelay relay(relayBase + PortPlan::EncryptedOffset, bob.base + PortPlan::EncryptedOffset);
            Client control(ann, PeerChannel::Control, relayBase);
            QVERIFY(control.waitConnected());
            QVERIFY(control.port.security().encrypted());
            QTRY_COMPARE(bob.ipdControl.connectionIds().size(), 1);
            QElapsedTimer took;
            took.start();
            if (garbage) {
                relay.out->write(QByteArray(64, '\xa5'));
            } else {
                relay.spoilNext = true;
                control.port.sendData("RQC;Ann;Oslo;9:05;");
            }
            QTRY_VERIFY_WITH_TIMEOUT(bob.ipdControl.connectionIds().isEmpty(), 2000);
            qInfo("%s: closed after %lld ms", garbage ? "garbage" : "a wrong check value", took.elapsed());
            QVERIFY(arrived.isEmpty());
        }
    }

    // Addresses of one IPv6 /64 are one subscriber's: together they hold no more handshake
    // places than one address does. On a machine of its own, where the whole /64 is local.
    void oneIPv6SubnetCountsAsOneAddress()
    {
        QCOMPARE(EndpointConnection::sourceOf(QStringLiteral("2001:db8:1:2::a")),
                 EndpointConnection::sourceOf(QStringLiteral("2001:db8:1:2:ffff::9")));
        QVERIFY(EndpointConnection::sourceOf(QStringLiteral("2001:db8:1:3::a"))
                != EndpointConnection::sourceOf(QStringLiteral("2001:db8:1:2::a")));
        QCOMPARE(EndpointConnection::sourceOf(QStringLiteral("192.0.2.7")), QStringLiteral("192.0.2.7"));
        if (const QString why = NetworkLab::obstacle(); !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no machine to test on: ") + why));
        NetworkLab lab(QStringLiteral("six"));
        QString why;
        QVERIFY2(lab.addMachine(QStringLiteral("m"), &why), qPrintable(why));
        QByteArray addresses;
        for (int i = 1; i <= 20; ++i)
            addresses += QStringLiteral("addr add 2001:db8:1:2::%1/64 dev lo nodad\n").arg(i, 0, 16).toLatin1();
        QVERIFY2(lab.run(QStringLiteral("m"), {QStringLiteral("ip"), QStringLiteral("-batch"), QStringLiteral("-")},
                         &why, addresses),
                 qPrintable(why));
        End bob(QStringLiteral("bob@example.org"));
        bob.service->route(PeerChannel::Control, bob.ipdControl);
        SecureListener &listener = bob.service->listener();
        const int port = TestSupport::portBlock();
        std::vector<std::unique_ptr<QTcpSocket>> half;
        QVERIFY(lab.onMachine(QStringLiteral("m"), [&] {
            QVERIFY(!bob.service->listen(port - PortPlan::EncryptedOffset));
            // Twenty addresses of one /64, each opening a handshake that never goes on.
            for (int i = 1; i <= 20; ++i) {
                half.push_back(std::make_unique<QTcpSocket>());
                QVERIFY(half.back()->bind(QHostAddress(QStringLiteral("2001:db8:1:2::%1").arg(i, 0, 16)), 0));
                half.back()->connectToHost(QHostAddress(QStringLiteral("2001:db8:1:2::1")), quint16(port));
            }
        }));
        QSignalSpy turnedAway(&listener, &SecureListener::turnedAway);
        QTRY_COMPARE(turnedAway.count() + listener.handshakesUnderway(), 20);
        QCOMPARE(listener.handshakesUnderway(), SecureListener::MaxHandshakesPerAddress);
        QCOMPARE(turnedAway.last().at(1).toString(), QStringLiteral("too many handshakes from one address"));
        half.clear();
        bob.service->shutdown();
    }

    // 300 half hellos a second from 64 addresses, each left to hang; a real caller 100 ms
    // of round trip away still gets its encrypted call through.
    void aFloodOfHalfHandshakesKeepsNoRealCallerOut()
    {
        End ann(QStringLiteral("ann@example.org"));
        End bob(QStringLiteral("bob@example.org"));
        QVERIFY(bob.answer(TestSupport::portBlock()));
        const int securePort = bob.base + PortPlan::EncryptedOffset;
        const int relayBase = TestSupport::portBlock();
        DelayRelay path(relayBase + PortPlan::EncryptedOffset, securePort, 50);
        std::deque<std::unique_ptr<QTcpSocket>> half;
        int opened = 0;
        QTimer flood;
        flood.setInterval(10);
        connect(&flood, &QTimer::timeout, this, [&] {
            for (int k = 0; k < 3; ++k) {
                auto s = std::make_unique<QTcpSocket>();
                s->bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(1 + opened++ % 64)), 0);
                QTcpSocket *raw = s.get();
                connect(raw, &QTcpSocket::connected, raw, [raw] {
                    raw->write(QByteArray::fromHex("1603010200010001fc0303") + QByteArray(20, '\x11'));
                });
                raw->connectToHost(QHostAddress::LocalHost, quint16(securePort));
                half.push_back(std::move(s));
            }
            while (!half.empty() && half.front()->state() == QAbstractSocket::UnconnectedState)
                half.pop_front();
        });
        flood.start();
        SecureListener &listener = bob.service->listener();
        QSignalSpy turnedAway(&listener, &SecureListener::turnedAway);
        QTRY_COMPARE_WITH_TIMEOUT(listener.handshakesUnderway(), SecureListener::MaxHandshakes, 5000);
        // The flood has been going a few seconds: hundreds of hellos have been turned away.
        QTRY_VERIFY_WITH_TIMEOUT(turnedAway.count() >= 600, 15000);

        QElapsedTimer took;
        took.start();
        Client control(ann, PeerChannel::Control, relayBase);
        QVERIFY(control.waitConnected());
        const qint64 ms = took.elapsed();
        qInfo("a real encrypted call through a flood of %d half hellos: connected after %lld ms", opened, ms);
        QCOMPARE(control.statuses, QList<int>{0});
        QVERIFY(control.port.security().encrypted());
        QVERIFY(ms < 5000);
        QTRY_COMPARE(bob.ipdControl.connectionIds().size(), 1);
        flood.stop();
        QVERIFY(listener.handshakesUnderway() <= SecureListener::MaxHandshakes);
        half.clear();
    }

    void badInputOnTheEncryptedPortIsClosedAndRealCallersGetThrough()
    {
        End ann(QStringLiteral("ann@example.org"));
        End bob(QStringLiteral("bob@example.org"));
        QVERIFY(bob.answer(TestSupport::portBlock()));
        SecureListener &listener = bob.service->listener();
        listener.setHandshakeTime(1500);
        const int securePort = bob.base + PortPlan::EncryptedOffset;
        const int descriptors = TestSupport::openDescriptors();
        QSignalSpy turnedAway(&listener, &SecureListener::turnedAway);
        QSignalSpy handedOver(&listener, &SecureListener::handedOver);

        std::vector<std::unique_ptr<QTcpSocket>> bad;
        const auto open = [&](const QByteArray &bytes) {
            bad.push_back(std::make_unique<QTcpSocket>());
            bad.back()->connectToHost(QHostAddress::LocalHost, quint16(securePort));
            QVERIFY(bad.back()->waitForConnected(3000));
            if (!bytes.isEmpty()) {
                bad.back()->write(bytes);
                bad.back()->flush();
            }
        };
        // A plain request on the wrong port, garbage after a handshake's first byte, half a
        // handshake that never goes on, and a connection that says nothing at all.
        open("RQC;Ann;Oslo;9:05;");
        open(QByteArray("\x16", 1) + QByteArray(300, '\xa5'));
        open(QByteArray::fromHex("1603010200010001fc0303") + QByteArray(20, '\x11'));
        open(QByteArray());
        // The first two go as soon as the TLS layer gives up on them.
        QTRY_VERIFY_WITH_TIMEOUT(turnedAway.count() >= 2, 1000);

        // Meanwhile a real caller gets through.
        Client control(ann, PeerChannel::Control, bob.base);
        QVERIFY(control.waitConnected());
        QVERIFY(control.port.security().encrypted());
        QTRY_COMPARE(bob.ipdControl.connectionIds().size(), 1);

        // The half handshake and the silent one are closed after the time limit.
        QTRY_COMPARE_WITH_TIMEOUT(turnedAway.count(), 4, 5000);
        QCOMPARE(listener.handshakesUnderway(), 0);
        QCOMPARE(handedOver.count(), 1);
        for (const auto &s : bad)
            QTRY_COMPARE(s->state(), QAbstractSocket::UnconnectedState);

        // A flood beyond every bound: the newest are served, the oldest go.
        bad.clear();
        for (int i = 0; i < SecureListener::MaxHandshakes * 3; ++i) {
            bad.push_back(std::make_unique<QTcpSocket>());
            bad.back()->connectToHost(QHostAddress::LocalHost, quint16(securePort));
        }
        QTRY_VERIFY(std::all_of(bad.begin(), bad.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::ConnectedState || s->state() == QAbstractSocket::UnconnectedState;
        }));
        QVERIFY(listener.handshakesUnderway() <= SecureListener::MaxHandshakesPerAddress);
        Client message(ann, PeerChannel::Message, bob.base);
        QVERIFY(message.waitConnected());
        QVERIFY(message.port.security().encrypted());
        QTRY_COMPARE(bob.ipdMessage.connectionIds().size(), 1);
        QVERIFY(listener.isListening());

        bad.clear();
        control.port.setConnected(false);
        message.port.setConnected(false);
        QTRY_COMPARE_WITH_TIMEOUT(listener.handshakesUnderway(), 0, 5000);
        QTRY_COMPARE(TestSupport::openDescriptors(), descriptors);
    }
};

QTEST_MAIN(TestSecureTransport)
#include "tst_securetransport.moc"
