// The two homes the calls behind routers are tried in behave as they claim: a cone router
// shows one inside port as the same outside port to every destination, a symmetric one a
// new port to each, a UDP-blocked one lets no UDP out; nothing from the internet reaches
// a home unasked; two homes punch through cone routers and not through a symmetric one;
// and the relay on the internet allocates for good credentials only, over UDP and, from a
// home where UDP is blocked, over TCP.

#include "support/NetworkLab.h"
#include "support/TestSupport.h"
#include "support/TwoHomes.h"

#include <QNetworkDatagram>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>

using Kind = TwoHomes::Kind;
using Machine = TwoHomes::Machine;

namespace {

constexpr int StepMs = 10000;

// A UDP socket on one of the machines; an echo answers every datagram with where it came
// from, as a STUN server does, and every socket keeps what it received.
struct Udp
{
    QUdpSocket socket;
    QList<QNetworkDatagram> received;
    bool echo = false;

    Udp(const TwoHomes &homes, Machine machine, const QString &address, int port, bool echoes = false)
        : echo(echoes)
    {
        bool bound = false;
        homes.onMachine(machine, [&] { bound = socket.bind(QHostAddress(address), quint16(port)); });
        if (!bound)
            qFatal("cannot take UDP %s:%d on %s: %s", qPrintable(address), port, qPrintable(TwoHomes::key(machine)),
                   qPrintable(socket.errorString()));
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = socket.receiveDatagram();
                received << d;
                if (echo)
                    socket.writeDatagram(
                        QStringLiteral("%1:%2").arg(d.senderAddress().toString()).arg(d.senderPort()).toLatin1(),
                        d.senderAddress(), quint16(d.senderPort()));
            }
        });
    }
    void send(const QString &address, int port, const QByteArray &bytes = "probe")
    {
        socket.writeDatagram(bytes, QHostAddress(address), quint16(port));
    }
    // The payloads received so far.
    QStringList texts() const
    {
        QStringList all;
        for (const QNetworkDatagram &d : received)
            all << QString::fromLatin1(d.data());
        return all;
    }
};

// The address and port an echo saw: where the router put the home's socket.
QString seenAs(Udp &home, int answers)
{
    if (!QTest::qWaitFor([&] { return home.received.size() >= answers; }, StepMs))
        return QString();
    return QString::fromLatin1(home.received.at(answers - 1).data());
}

// The packets a router's drop rule for UDP counted.
qint64 droppedUdp(const TwoHomes &homes, Machine router)
{
    const QString rules = homes.rules(router);
    static const QRegularExpression counter(QStringLiteral("udp counter packets (\\d+)"));
    const QRegularExpressionMatch m = counter.match(rules);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace

class TestTwoHomesNetwork : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;

    // Two homes of these kinds.
    static std::unique_ptr<TwoHomes> make(Kind a, Kind b, QString *why)
    {
        auto homes = std::make_unique<TwoHomes>(QStringLiteral("net"));
        return homes->create(a, b, why) ? std::move(homes) : nullptr;
    }

private slots:
    void initTestCase()
    {
        if (const QString obstacle = NetworkLab::obstacle(); !obstacle.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no network namespaces to make homes of: ") + obstacle));
    }

    void eachRouterMapsAsItsKindSays_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("cone") << Kind::Cone;
        QTest::newRow("symmetric") << Kind::Symmetric;
    }

    void eachRouterMapsAsItsKindSays()
    {
        QFETCH(Kind, kind);
        QString why;
        auto homes = make(kind, Kind::Cone, &why);
        QVERIFY2(homes, qPrintable(why));
        const int ports = TestSupport::portBlock(4);
        // One home socket asks three echoes on the internet where they see it.
        Udp home(*homes, TwoHomes::HomeA, TwoHomes::HomeAddress, ports);
        std::vector<std::unique_ptr<Udp>> echoes;
        QStringList seen;
        for (int i = 1; i <= 3; ++i) {
            echoes.push_back(std::make_unique<Udp>(*homes, TwoHomes::Internet, TwoHomes::InternetAddress, ports + i, true));
            home.send(TwoHomes::InternetAddress, ports + i);
            seen << seenAs(home, i);
            QVERIFY2(!seen.last().isEmpty(), qPrintable(QStringLiteral("echo %1 did not answer").arg(i)));
            QVERIFY2(seen.last().startsWith(TwoHomes::OutsideA + QLatin1Char(':')), qPrintable(seen.last()));
        }
        const QSet<QString> distinct(seen.cbegin(), seen.cend());
        if (kind == Kind::Cone) {
            // Plain masquerade keeps the home's port for every destination.
            QCOMPARE(seen, QStringList(3, TwoHomes::OutsideA + QLatin1Char(':') + QString::number(ports)));
        } else {
            // A random port for each destination: two of three alike would be a 1 in 64000
            // chance, all three alike is no symmetric router.
            QVERIFY2(distinct.size() >= 2, qPrintable(seen.join(QLatin1Char(' '))));
        }
        qInfo("%s router: the echoes saw %s", qPrintable(TwoHomes::kindName(kind)), qPrintable(seen.join(QLatin1Char(' '))));
    }

    void aBlockedRouterLetsNoUdpOut()
    {
        QString why;
        auto homes = make(Kind::UdpBlocked, Kind::Cone, &why);
        QVERIFY2(homes, qPrintable(why));
        const int ports = TestSupport::portBlock(4);
        Udp echo(*homes, TwoHomes::Internet, TwoHomes::InternetAddress, ports, true);
        Udp blocked(*homes, TwoHomes::HomeA, TwoHomes::HomeAddress, ports + 1);
        Udp open(*homes, TwoHomes::HomeB, TwoHomes::HomeAddress, ports + 1);
        blocked.send(TwoHomes::InternetAddress, ports);
        // The router counts what it drops; the other home's probe passes meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(droppedUdp(*homes, TwoHomes::RouterA) >= 1, StepMs);
        open.send(TwoHomes::InternetAddress, ports);
        QCOMPARE(seenAs(open, 1), TwoHomes::OutsideB + QLatin1Char(':') + QString::number(ports + 1));
        QCOMPARE(echo.received.size(), 1);
        QVERIFY(blocked.received.isEmpty());

        // TCP still leaves the home.
        QTcpServer server;
        homes->onMachine(TwoHomes::Internet, [&] { QVERIFY(server.listen(QHostAddress(TwoHomes::InternetAddress), quint16(ports + 2))); });
        QTcpSocket client;
        homes->onMachine(TwoHomes::HomeA, [&] { client.connectToHost(TwoHomes::InternetAddress, quint16(ports + 2)); });
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), StepMs);
        QCOMPARE(server.nextPendingConnection()->peerAddress().toString(), TwoHomes::OutsideA);
    }

    void nothingReachesAHomeUnasked_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("cone") << Kind::Cone;
        QTest::newRow("symmetric") << Kind::Symmetric;
    }

    void nothingReachesAHomeUnasked()
    {
        QFETCH(Kind, kind);
        QString why;
        auto homes = make(kind, Kind::Cone, &why);
        QVERIFY2(homes, qPrintable(why));
        const int ports = TestSupport::portBlock(4);
        Udp home(*homes, TwoHomes::HomeA, TwoHomes::HomeAddress, ports);
        Udp echo(*homes, TwoHomes::Internet, TwoHomes::InternetAddress, ports + 1, true);
        Udp stranger(*homes, TwoHomes::Internet, TwoHomes::InternetAddress, ports + 2);
        // The home asks the echo: its router now translates for that one destination.
        home.send(TwoHomes::InternetAddress, ports + 1);
        const QString mapped = seenAs(home, 1);
        QVERIFY(!mapped.isEmpty());
        const int outsidePort = mapped.section(QLatin1Char(':'), 1).toInt();
        // A stranger writes to that outside port, and to the home's own address as if the
        // internet routed there; only then does the echo write again.
        QString output;
        QVERIFY2(homes->run(TwoHomes::Internet,
                            {QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("add"),
                             QStringLiteral("192.168.1.0/24"), QStringLiteral("via"), TwoHomes::OutsideA},
                            &output),
                 qPrintable(output));
        stranger.send(TwoHomes::OutsideA, outsidePort, "stranger");
        stranger.send(TwoHomes::HomeAddress, ports, "stranger");
        echo.send(TwoHomes::OutsideA, outsidePort, "echo again");
        QTRY_VERIFY_WITH_TIMEOUT(home.texts().contains(QStringLiteral("echo again")), StepMs);
        // The stranger's packets went first the same way: they would be here by now.
        QVERIFY2(!home.texts().contains(QStringLiteral("stranger")), qPrintable(home.texts().join(QLatin1Char(' '))));
    }

    // What the calls can hope for: each home learns where the echo sees it (as a STUN
    // server tells) and writes to where the echo sees the other.
    void punchingThroughTheRouters_data()
    {
        QTest::addColumn<Kind>("a");
        QTest::addColumn<Kind>("b");
        QTest::addColumn<bool>("through");
        QTest::newRow("cone-cone") << Kind::Cone << Kind::Cone << true;
        // Linux lets an answer in only from the very address and port the home wrote to;
        // the symmetric side's packets come from a port nobody learned.
        QTest::newRow("cone-symmetric") << Kind::Cone << Kind::Symmetric << false;
        QTest::newRow("symmetric-symmetric") << Kind::Symmetric << Kind::Symmetric << false;
    }

    void punchingThroughTheRouters()
    {
        QFETCH(Kind, a);
        QFETCH(Kind, b);
        QFETCH(bool, through);
        QString why;
        auto homes = make(a, b, &why);
        QVERIFY2(homes, qPrintable(why));
        const int ports = TestSupport::portBlock(4);
        Udp echo(*homes, TwoHomes::Internet, TwoHomes::InternetAddress, ports, true);
        Udp ann(*homes, TwoHomes::HomeA, TwoHomes::HomeAddress, ports + 1);
        Udp bob(*homes, TwoHomes::HomeB, TwoHomes::HomeAddress, ports + 1);
        ann.send(TwoHomes::InternetAddress, ports);
        bob.send(TwoHomes::InternetAddress, ports);
        const QString annSeen = seenAs(ann, 1);
        const QString bobSeen = seenAs(bob, 1);
        QVERIFY(!annSeen.isEmpty() && !bobSeen.isEmpty());
        const auto hostOf = [](const QString &s) { return s.section(QLatin1Char(':'), 0, 0); };
        const auto portOf = [](const QString &s) { return s.section(QLatin1Char(':'), 1).toInt(); };
        // A few rounds each way, as connectivity checks go.
        const auto arrived = [](const Udp &u) {
            return std::count_if(u.received.cbegin(), u.received.cend(),
                                 [](const QNetworkDatagram &d) { return d.data() == "punch"; });
        };
        for (int round = 0; round < 5 && (arrived(ann) == 0 || arrived(bob) == 0); ++round) {
            ann.send(hostOf(bobSeen), portOf(bobSeen), "punch");
            bob.send(hostOf(annSeen), portOf(annSeen), "punch");
            (void)QTest::qWaitFor([&] { return arrived(ann) > 0 && arrived(bob) > 0; }, 300);
        }
        qInfo("%s and %s: Ann got %d, Bob %d", qPrintable(TwoHomes::kindName(a)), qPrintable(TwoHomes::kindName(b)),
              int(arrived(ann)), int(arrived(bob)));
        QCOMPARE(arrived(ann) > 0 && arrived(bob) > 0, through);
    }

    void theRelayAllocatesForGoodCredentialsOnly_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("UDP from a cone home") << Kind::Cone;
        QTest::newRow("TCP from a UDP-blocked home") << Kind::UdpBlocked;
    }

    void theRelayAllocatesForGoodCredentialsOnly()
    {
        QFETCH(Kind, kind);
        QString why;
        auto homes = make(kind, Kind::Cone, &why);
        QVERIFY2(homes, qPrintable(why));
        if (!homes->startRelay(m_work.path(), &why))
            QSKIP(qPrintable(QStringLiteral("no relay to test: ") + why));
        TurnRelay &relay = homes->relay();
        // turnutils_uclient comes with the relay: two allocations that send to each other.
        const auto client = [&](const QString &secret) {
            QStringList command{QStringLiteral("turnutils_uclient"), QStringLiteral("-y"), QStringLiteral("-n"),
                                QStringLiteral("10"), QStringLiteral("-l"), QStringLiteral("400"),
                                QStringLiteral("-u"), QStringLiteral("ann"), QStringLiteral("-W"), secret};
            if (kind == Kind::UdpBlocked)
                command << QStringLiteral("-t");
            command << TwoHomes::InternetAddress;
            QString output;
            const bool ok = homes->run(TwoHomes::HomeA, command, &output);
            return std::pair{ok, output};
        };
        const auto [good, goodSaid] = client(relay.secret());
        QVERIFY2(good, qPrintable(goodSaid.right(2000) + QStringLiteral("\nthe relay's log:\n") + relay.logTail()));
        // Both allocations end with the client, and say how much they carried.
        QTRY_VERIFY2_WITH_TIMEOUT(relay.usage().closed >= 2, qPrintable(relay.logTail()), StepMs);
        const TurnRelay::Usage used = relay.usage();
        QVERIFY2(used.allocations >= 2, qPrintable(relay.logTail()));
        QCOMPARE(used.refusals, 0);
        // 2 x 10 messages of 400 bytes, each counted leaving one allocation and reaching the other.
        QVERIFY2(used.relayedBytes >= 2 * 2 * 10 * 400, qPrintable(QString::number(used.relayedBytes)));
        // The relay saw the router's address, not the home's.
        QVERIFY2(relay.logTail(400).contains(QStringLiteral("remote ") + TwoHomes::OutsideA + QLatin1Char(':')),
                 qPrintable(relay.logTail()));

        const auto [bad, badSaid] = client(QStringLiteral("not-") + relay.secret());
        QVERIFY2(!bad, qPrintable(badSaid.right(2000)));
        const TurnRelay::Usage after = relay.usage();
        QCOMPARE(after.allocations, used.allocations);
        QVERIFY2(after.refusals >= 1, qPrintable(relay.logTail()));
    }
};

QTEST_MAIN(TestTwoHomesNetwork)
#include "tst_twohomesnetwork.moc"
