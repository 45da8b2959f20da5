// Several zelmo-directory nodes sharing one Redis registry, each scenario with a Redis of
// its own on loopback: what one node's users see of the other's, user numbers handed out
// on both, a node that dies, a node that is full, and a Redis that restarts.

#include "server/DirectoryServer.h"
#include "support/NodeKit.h"
#include "support/RedisProcess.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QSet>

using namespace NodeKit;

class TestDirectoryNodes : public QObject
{
    Q_OBJECT

    std::unique_ptr<RedisProcess> m_redis;

private slots:
    void init()
    {
        if (RedisProcess::program().isEmpty())
            QSKIP("redis-server is not installed (scripts/deps.sh installs it): the shared registry is not tried");
        m_redis = std::make_unique<RedisProcess>();
        QString why;
        QVERIFY2(m_redis->start(TestSupport::portBlock(1), &why), qPrintable(why));
    }

    void cleanup() { m_redis.reset(); }

    void aLoginOnOneNodeIsListedAndFoundOnTheOther()
    {
        Node a(*m_redis, "Node A");
        Node b(*m_redis, "Node B");
        QTRY_VERIFY(a.sees(2) && b.sees(2));

        Client ann(a.dir());
        ann.send(login(5, "Ann", "ann@x.org"));
        // Her server list names both nodes that are up.
        QTRY_VERIFY(ann.received.endsWith("<ET>"));
        QVERIFY2(ann.received.startsWith("VCL;"), ann.received.constData());
        QVERIFY(ann.received.contains("127.0.0.1;" + QByteArray::number(a.dir()) + ";Node A;"));
        QVERIFY(ann.received.contains("127.0.0.1;" + QByteArray::number(b.dir()) + ";Node B;"));

        Client bob(b.dir());
        bob.send(login(6, "Bob", "bob@x.org", true, 2004));
        Client pat(b.pal());
        pat.send("LGN; 7;Pat;pat@x.org;Paris;;3;NO;NO;2.51;NO;NO;v1.2;2008;<ET>");

        // Bob's node lists Ann, who logged in first, then Bob; Pat is on line unlisted.
        QVERIFY(bob.askUntil("LS1<ET>", [](const QByteArray &answer) {
            return answer == "LS1;3;2;" + entry(5, "Ann") + entry(6, "Bob", 2004) + "<ET>";
        }));
        // Either node finds either user by e-mail.
        QCOMPARE(bob.ask("GEM;ANN@x.org;<ET>", "GER"), QByteArray("GER;ann@x.org;Ann;Here;127.0.0.1;2000;<ET>"));
        QCOMPARE(ann.ask("GEM;pat@x.org;<ET>", "GER"), QByteArray("GER;pat@x.org;Pat;Paris;127.0.0.1;2008;<ET>"));

        // Ann leaves: Bob's node stops listing her and cannot find her any more.
        ann.socket.disconnectFromHost();
        QVERIFY(bob.askUntil("LS1<ET>", [](const QByteArray &answer) {
            return answer == "LS1;2;1;" + entry(6, "Bob", 2004) + "<ET>";
        }));
        QCOMPARE(bob.ask("GEM;ann@x.org;<ET>", "GER"), QByteArray("GER;ann@x.org;;;0.0.0.0;0;<ET>"));
    }

    void numbersHandedOutOnBothNodesNeverCollide()
    {
        Node a(*m_redis, "Node A");
        Node b(*m_redis, "Node B");
        const auto clients = crowd(30, a.pal(), b.pal());
        for (const auto &c : clients)
            c->send("RSN;<ET>");
        QSet<int> numbers;
        for (const auto &c : clients) {
            QTRY_VERIFY(c->received.endsWith("<ET>"));
            QVERIFY2(c->received.startsWith("NSN;"), c->received.constData());
            numbers.insert(DirectoryProtocol::parseNewNumber(c->received.chopped(4)));
        }
        QCOMPARE(numbers.size(), 30);
        QCOMPARE(*std::min_element(numbers.begin(), numbers.end()), 1);
        QCOMPARE(*std::max_element(numbers.begin(), numbers.end()), 30);

        // The e-mail a number logs in with on one node is known to the other.
        clients[1]->send(login(2, "Two", "two@x.org"));
        QString email;
        QTRY_VERIFY_WITH_TIMEOUT(
            (a.server->registry().emailOf(2, [&](const QString &e) { email = e; }), email == "two@x.org"), 5000);
    }

    void aDeadNodesUsersLeaveWithinTheExpiry()
    {
        Node a(*m_redis, "Node A");
        // The node that dies is a process of its own, killed without a chance to leave.
        QTemporaryDir data;
        const int base = TestSupport::portBlock(2);
        QProcess b;
        b.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../zelmo-directory"),
                {QStringLiteral("--directory-port"), QString::number(base), QStringLiteral("--pal-port"),
                 QString::number(base + 1), QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                 QStringLiteral("--data"), data.path(), QStringLiteral("--registry"), m_redis->url(),
                 QStringLiteral("--expiry"), QString::number(ExpiryMs / 1000.0)});
        QVERIFY(b.waitForStarted());
        QByteArray out;
        QTRY_VERIFY((out += b.readAllStandardOutput()).contains("registry: Redis registry"));
        std::vector<std::unique_ptr<Client>> onB;
        for (int i = 0; i < 3; ++i) {
            onB.push_back(std::make_unique<Client>(base));
            onB.back()->send(login(10 + i, "B user", QByteArray("b" + QByteArray::number(i) + "@x.org").constData()));
        }
        Client ann(a.dir());
        ann.send(login(5, "Ann", "ann@x.org"));
        QVERIFY(ann.askUntil("LS1<ET>", [](const QByteArray &answer) { return answer.startsWith("LS1;4;4;"); }));

        b.kill();
        QVERIFY(b.waitForFinished(5000));
        QElapsedTimer sinceDeath;
        sinceDeath.start();
        // Its users stay until its expiry runs out ...
        QVERIFY(ann.askUntil("LS1<ET>", [](const QByteArray &answer) { return answer.startsWith("LS1;4;4;"); }, 500));
        // ... then leave for good ...
        QVERIFY(ann.askUntil(
            "LS1<ET>", [](const QByteArray &answer) { return answer == "LS1;1;1;" + entry(5, "Ann") + "<ET>"; },
            ExpiryMs + 3000));
        QVERIFY2(sinceDeath.elapsed() <= ExpiryMs + 1000, qPrintable(QString::number(sinceDeath.elapsed())));
        QCOMPARE(ann.ask("GEM;b1@x.org;<ET>", "GER"), QByteArray("GER;b1@x.org;;;0.0.0.0;0;<ET>"));
        // ... and the next report of the living node clears the dead one away.
        QTRY_VERIFY(a.sees(1));
    }

    void aFullNodeSendsTheNextLoginToTheLessLoadedNode()
    {
        Node a(*m_redis, "Node A", 1);
        Node b(*m_redis, "Node B", 10);
        Node c(*m_redis, "Node C", 10);
        Client ann(a.dir());
        ann.send(login(5, "Ann", "ann@x.org"));
        std::vector<std::unique_ptr<Client>> onB;
        for (int i = 0; i < 2; ++i) {
            onB.push_back(std::make_unique<Client>(b.dir()));
            onB.back()->send(login(20 + i, "B", "b@x.org"));
        }
        Client cid(c.dir());
        cid.send(login(30, "C", "c@x.org"));
        // Node A hears of the others' loads with their next reports.
        QTRY_VERIFY(a.sees(3, {1, 2, 1}));

        Client late(a.dir());
        late.send(login(6, "Late", "late@x.org"));
        QTRY_VERIFY(late.closed);
        QCOMPARE(late.received, "RDM;Redirect;127.0.0.1;" + QByteArray::number(c.dir()) + ";Node C;<ET>");
        Client latePal(a.pal());
        latePal.send(login(6, "Late", "late@x.org"));
        QTRY_VERIFY(latePal.closed);
        QCOMPARE(latePal.received, "BSY;127.0.0.1;" + QByteArray::number(c.pal()) + ";<ET>");
        QCOMPARE(a.server->users().online(), 1);
    }

    void theNodesRideOutARedisRestart()
    {
        Node a(*m_redis, "Node A");
        Node b(*m_redis, "Node B");
        Client ann(a.dir());
        ann.send(login(5, "Ann", "ann@x.org"));
        Client bob(b.dir());
        bob.send(login(6, "Bob", "bob@x.org"));
        QVERIFY(ann.askUntil("LS1<ET>", [](const QByteArray &answer) { return answer.startsWith("LS1;2;2;"); }));

        const int port = m_redis->port();
        m_redis->stop();
        // Each node answers from its own users meanwhile.
        QVERIFY(ann.askUntil("LS1<ET>", [](const QByteArray &answer) {
            return answer == "LS1;1;1;" + entry(5, "Ann") + "<ET>";
        }));
        QString why;
        QVERIFY2(m_redis->start(port, &why), qPrintable(why));
        // Back again, the nodes publish their users anew.
        QVERIFY(ann.askUntil(
            "LS1<ET>", [](const QByteArray &answer) { return answer.startsWith("LS1;2;2;"); }, 10000));
        QCOMPARE(bob.ask("GEM;ann@x.org;<ET>", "GER"), QByteArray("GER;ann@x.org;Ann;Here;127.0.0.1;2000;<ET>"));
    }

    void aRegistryThatCannotBeReachedStopsTheStart()
    {
        ServerConfig config;
        const int base = TestSupport::portBlock(3);
        config.directoryPort = base;
        config.palPort = base + 1;
        config.listenAddress = QStringLiteral("127.0.0.1");
        config.redis = RedisAddress::parse(QStringLiteral("redis://127.0.0.1:%1").arg(base + 2));
        DirectoryServer server(config);
        QString why;
        QVERIFY(!server.start(&why));
        QVERIFY2(why.startsWith(QStringLiteral("cannot reach the registry at redis://127.0.0.1:%1: ").arg(base + 2)),
                 qPrintable(why));
        // Nothing listens.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(base));
        QVERIFY(!probe.waitForConnected(1000));

        QCOMPARE(RedisAddress::parse(QStringLiteral("redis://db.example:7000/3"))->text(),
                 QStringLiteral("redis://db.example:7000/3"));
        QCOMPARE(RedisAddress::parse(QStringLiteral("redis://db.example"))->port, 6379);
        QVERIFY(!RedisAddress::parse(QStringLiteral("redis://db.example:0")));
        QVERIFY(RedisAddress::parse(QStringLiteral("redis://db.example:65535")));
        QVERIFY(!RedisAddress::parse(QStringLiteral("redis://db.example/x")));
        QVERIFY(!RedisAddress::parse(QStringLiteral("db.example:6379")));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryNodes)
#include "tst_directorynodes.moc"
