// zelmo-directory against bare sockets: what it answers, what it keeps across a restart,
// and how it copes with clients that misbehave. Every case runs twice: on the embedded
// SQLite registry and on a Redis registry of its own.

#include "server/DirectoryServer.h"
#include "support/DirectoryKit.h"
#include "support/RawClient.h"
#include "support/RedisProcess.h"
#include "support/TestSupport.h"

#include <QProcess>

namespace {

// Whether the running case uses the shared (Redis) registry.
bool sharedRegistry()
{
    QFETCH_GLOBAL(bool, shared);
    return shared;
}

// Waits for a registry answer that may come later.
template<typename T, typename Ask>
T answerOf(Ask ask)
{
    std::optional<T> answer;
    ask([&](const T &value) { answer = value; });
    if (!QTest::qWaitFor([&] { return answer.has_value(); }, 5000))
        qWarning("the registry did not answer");
    return answer.value_or(T{});
}

// The running case's own Redis, up before the server that uses it.
struct SharedRegistry
{
    std::unique_ptr<RedisProcess> redis;

    ServerConfig onIt(ServerConfig config)
    {
        if (!sharedRegistry())
            return config;
        redis = std::make_unique<RedisProcess>();
        QString why;
        if (!redis->start(TestSupport::portBlock(1), &why))
            qFatal("%s", qPrintable(why));
        config.redis = RedisAddress::parse(redis->url());
        return config;
    }
};

struct Fixture : SharedRegistry, DirectoryKit::Server
{
    explicit Fixture(ServerConfig c = {}) : Server(onIt(std::move(c))) {}
    QString emailOf(qint32 number)
    {
        return answerOf<QString>([&](auto done) { server->registry().emailOf(number, done); });
    }
    qint64 issuedCount()
    {
        return answerOf<qint64>([&](auto done) { server->registry().issuedCount(done); });
    }
    void restart()
    {
        server.reset();
        start();
    }
};

} // namespace

class TestDirectoryServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::newRow("sqlite") << false;
        QTest::newRow("redis") << true;
    }

    void init()
    {
        QFETCH_GLOBAL(bool, shared);
        if (shared && RedisProcess::program().isEmpty())
            QSKIP("redis-server is not installed (scripts/deps.sh installs it): the Redis registry is not tried");
    }

    void numbersAreNeverHandedOutTwice()
    {
        Fixture f;
        {
            RawClient a(f.config.palPort);
            a.send("RSN;<ET>RSN;<ET>");
            QTRY_COMPARE(a.received, QByteArray("NSN;1;<ET>"));
            a.send(login(1, "Ann", "ANN@x.org"));
            RawClient b(f.config.palPort);
            QCOMPARE(b.ask("RSN;<ET>", "NSN"), QByteArray("NSN;2;<ET>"));
            QTRY_COMPARE(f.emailOf(1), QStringLiteral("ann@x.org"));
        }
        f.restart();
        RawClient c(f.config.palPort);
        QCOMPARE(c.ask("RSN;<ET>", "NSN"), QByteArray("NSN;3;<ET>"));
        QCOMPARE(f.emailOf(1), QStringLiteral("ann@x.org"));
        QCOMPARE(f.issuedCount(), 3);
    }

    void directoryAnswersInOrder()
    {
        ServerConfig config;
        config.notice = QStringLiteral("Hello; world");
        config.servers = {{QStringLiteral("dir2.example"), 2020, QStringLiteral("Second")}};
        Fixture f(config);
        RawClient pal(f.config.palPort);
        pal.send("LGN; 7;Pat;pat@x.org;Paris;;3;NO;NO;2.51;NO;NO;v1.2;2004;<ET>");
        RawClient ann(f.config.directoryPort);
        // The list is only for users who logged in.
        ann.send("LS1<ET>INT<ET>");
        QTRY_COMPARE(ann.received, QByteArray("INT;Hello world;<ET>"));
        ann.received.clear();
        ann.send(login(5, "Ann", "ann@x.org") + "LS1<ET>GEM;PAT@x.org;<ET>GEM;nobody@x.org;<ET>");
        QTRY_VERIFY(ann.received.endsWith("GER;nobody@x.org;;;0.0.0.0;0;<ET>"));
        // The operator's servers come first; a shared registry may add this node itself,
        // once its first report is in.
        const QByteArray servers = ann.received.left(ann.received.indexOf("<ET>") + 4);
        const QByteArray self = "127.0.0.1;" + QByteArray::number(f.config.directoryPort) + ";ZELMO directory;";
        QVERIFY2(servers == "VCL;dir2.example;2020;Second;<ET>"
                     || (sharedRegistry() && servers == "VCL;dir2.example;2020;Second;" + self + "<ET>"),
                 servers.constData());
        QCOMPARE(ann.received.mid(servers.size()), QByteArray("LS1;2;1;5;Ann;Here;127.0.0.1;;0;YES;YES;1;2000;<ET>"
                                          "GER;pat@x.org;Pat;Paris;127.0.0.1;2004;<ET>"
                                          "GER;nobody@x.org;;;0.0.0.0;0;<ET>"));
        // Answers keep the order of the questions, also where the registry answers later.
        ann.received.clear();
        ann.send("LS1<ET>INT<ET>GEM;ann@x.org;<ET>INT<ET>");
        QTRY_VERIFY(ann.received.count("<ET>") == 4);
        QCOMPARE(ann.received, QByteArray("LS1;2;1;5;Ann;Here;127.0.0.1;;0;YES;YES;1;2000;<ET>"
                                          "INT;Hello world;<ET>"
                                          "GER;ann@x.org;Ann;Here;127.0.0.1;2000;<ET>"
                                          "INT;Hello world;<ET>"));
        // A message that comes in many small pieces is one message.
        ann.received.clear();
        for (const char *piece : {"G", "EM;pa", "t@x.org;<", "E", "T>"}) {
            ann.send(piece);
            ann.socket.flush();
            QTest::qWait(5);
        }
        QTRY_COMPARE(ann.received, QByteArray("GER;pat@x.org;Pat;Paris;127.0.0.1;2004;<ET>"));
        // A user leaves the list when the connection closes.
        pal.socket.disconnectFromHost();
        QTRY_COMPARE(f.server->users().online(), 1);
        QCOMPARE(ann.ask("LS1<ET>", "LS1"), QByteArray("LS1;1;1;5;Ann;Here;127.0.0.1;;0;YES;YES;1;2000;<ET>"));
        // An operator notice reaches every directory user.
        ann.received.clear();
        f.server->broadcast(QStringLiteral("Going down at noon"));
        QTRY_COMPARE(ann.received, QByteArray("MSG;Going down at noon;<ET>"));
    }

    void aLoginChangesOnlyItsOwnEntry()
    {
        Fixture f;
        RawClient ann(f.config.directoryPort);
        RawClient mallory(f.config.directoryPort);
        ann.send(login(5, "Ann", "ann@x.org"));
        QTRY_COMPARE(f.server->users().listed(), 1);
        mallory.send(login(5, "Mallory", "ann@x.org", true, 2008));
        mallory.send(login(5, "Mallory", "ann@x.org", true, 2012));
        QTRY_COMPARE(f.server->users().listed(), 2);
        // A shared registry hears of the second login a moment after the node does.
        QByteArray list;
        QTRY_VERIFY((list = ann.ask("LS1<ET>", "LS1")).contains("5;Mallory;Here;127.0.0.1;;0;YES;YES;1;2012;"));
        QVERIFY(list.contains("5;Ann;Here;127.0.0.1;;0;YES;YES;1;2000;"));
        QVERIFY(!list.contains("2008"));
        // One user number on line twice still counts as one user.
        QVERIFY(list.mid(list.indexOf("LS1;")).startsWith("LS1;1;2;"));
    }

    void fullServersTurnLoginsAway()
    {
        ServerConfig config;
        config.maxUsers = 2;
        config.redirect = DirectoryProtocol::ServerEntry{QStringLiteral("dir2.example"), 2020, QStringLiteral("Two")};
        Fixture f(config);
        RawClient a(f.config.directoryPort);
        RawClient b(f.config.palPort);
        a.send(login(1, "A", "a@x.org"));
        b.send(login(2, "B", "b@x.org"));
        QTRY_COMPARE(f.server->users().online(), 2);
        // The same user on the other port is no new user.
        RawClient a2(f.config.palPort);
        a2.send(login(1, "A", "a@x.org"));
        QTRY_COMPARE(f.server->users().connections(), 3);
        RawClient c(f.config.directoryPort);
        c.send(login(3, "C", "c@x.org"));
        QTRY_VERIFY(c.closed);
        QCOMPARE(c.received, QByteArray("RDM;Redirect;dir2.example;2020;Two;<ET>"));
        RawClient d(f.config.palPort);
        d.send(login(4, "D", "d@x.org"));
        QTRY_VERIFY(d.closed);
        // Its pal port is taken to lie as far from its directory port as here.
        QCOMPARE(d.received, QByteArray("BSY;dir2.example;2021;<ET>"));
        QCOMPARE(f.server->users().online(), 2);
    }

    void badInputIsDroppedNotFatal()
    {
        Fixture f;
        RawClient endless(f.config.directoryPort);
        endless.send(QByteArray(DirectoryServer::MaxLineBytes + 100, 'x'));
        QTRY_VERIFY(endless.closed);
        // A line of exactly the longest length is taken, even when its terminator comes in a
        // read of its own; one byte more is not.
        for (const int extra : {0, 1}) {
            QByteArray line = login(5, "Edge", "edge@x.org").chopped(4);
            line.insert(line.indexOf(";Here;") + 6, QByteArray(DirectoryServer::MaxLineBytes + extra - line.size(), 'c'));
            RawClient edge(f.config.directoryPort);
            edge.send(line);
            edge.socket.flush();
            QCoreApplication::processEvents();
            edge.send("<ET>LS1<ET>");
            QTRY_VERIFY(extra ? edge.closed : edge.received.contains(";Edge;"));
        }

        RawClient garbage(f.config.directoryPort);
        QByteArray noise;
        for (int i = 0; i < 3000; ++i)
            noise.append(char((i * 37) % 256));
        garbage.send(noise.replace("<ET>", "") + "<ET>LGN<ET>LGN;;;;<ET>GEM<ET>XYZ;1;2;<ET>LGN;abc;" + QByteArray(60, ';')
                     + "<ET>");
        // The server is still there for everyone.
        RawClient check(f.config.palPort);
        check.send(login(9, "Check", "check@x.org"));
        QTRY_COMPARE(f.server->users().connections(), 2);
        QVERIFY(!garbage.closed);

        // Long fields are cut; a port that is no port becomes 2000.
        RawClient big(f.config.directoryPort);
        big.send("LGN; 3;" + QByteArray(500, 'N') + ";e@x;L;C;0;YES;YES;2.51;YES;NO;v1.2;99999;<ET>LS1<ET>");
        // The login's own answer may come first: wait for the whole list.
        QTRY_VERIFY(big.received.contains("LS1;") && big.received.endsWith("<ET>"));
        QVERIFY(big.received.contains(";" + QByteArray(DirectoryServer::MaxFieldChars, 'N') + ";L;127.0.0.1;C;0;YES;YES;1;2000;"));

        // A client that asks and never reads is dropped once its answers pile up.
        const auto fillers = crowd(40, f.config.directoryPort);
        for (size_t i = 0; i < fillers.size(); ++i)
            fillers[i]->send(login(100 + int(i), "Filler with a longish name", "filler@x.org"));
        QTRY_COMPARE(f.server->users().listed(), 41);
        RawClient greedy(f.config.directoryPort);
        greedy.socket.setReadBufferSize(1);
        QObject::disconnect(&greedy.socket, &QTcpSocket::readyRead, nullptr, nullptr);
        greedy.send(login(200, "G", "g@x.org"));
        QTRY_VERIFY(f.server->users().findByEmail(QStringLiteral("g@x.org")));
        QByteArray asks;
        for (int i = 0; i < 20000; ++i)
            asks += "LS1<ET>";
        greedy.send(asks);
        QTRY_VERIFY_WITH_TIMEOUT(!f.server->users().findByEmail(QStringLiteral("g@x.org")), 20000);
        // Everyone else is still served.
        check.received.clear();
        check.send("GEM;check@x.org;<ET>");
        QTRY_VERIFY(check.received.startsWith("GER;check@x.org;Check;"));
    }

    void theExecutableTakesItsOptionsReportsAndStopsOnTerm()
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../zelmo-directory");
        QTemporaryDir data;
        const int base = TestSupport::portBlock(TestSupport::ServerPortSpan);
        RedisProcess redis;
        QStringList where{QStringLiteral("--data"), data.path()};
        if (sharedRegistry()) {
            QString why;
            QVERIFY2(redis.start(base + 2, &why), qPrintable(why));
            where = QStringList{QStringLiteral("--registry"), redis.url()};
        }
        const auto stats = [&] {
            QProcess reader;
            reader.start(program, QStringList{QStringLiteral("--stats")} + where);
            reader.waitForFinished(5000);
            return reader.exitCode() == 0 ? reader.readAllStandardOutput() : reader.readAllStandardError();
        };
        QProcess server;
        server.start(program, QStringList{QStringLiteral("--directory-port"), QString::number(base),
                                          QStringLiteral("--pal-port"), QString::number(base + 1),
                                          QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                          QStringLiteral("--notice"), QStringLiteral("Hi"),
                                          QStringLiteral("--expiry"), QStringLiteral("1"),
                                          QStringLiteral("--stats-every"), QStringLiteral("0.2")}
                                  + where);
        QVERIFY(server.waitForStarted());
        QByteArray out;
        QTRY_VERIFY((out += server.readAllStandardOutput()).contains("listening on 127.0.0.1"));
        // It says how many connections it can hold, and where its registry is.
        QTRY_VERIFY((out += server.readAllStandardOutput()).contains("registry: "));
        QVERIFY2(out.contains("connections (open-file limit "), out.constData());
        QVERIFY(out.contains(sharedRegistry() ? "registry: Redis registry at redis://127.0.0.1:"
                                              : "registry: SQLite registry "));
        RawClient pal(base + 1);
        QCOMPARE(pal.ask("RSN;<ET>", "NSN"), QByteArray("NSN;1;<ET>"));
        QTRY_VERIFY((out += server.readAllStandardOutput()).contains("new user number 1"));
        // A line the operator types is a notice to everyone; an empty one is none.
        server.write("\n  Back at six  \n");
        QTRY_VERIFY((out += server.readAllStandardOutput()).contains("connections: Back at six\n"));
        QVERIFY(!out.contains("connections: \n"));
        pal.send(login(1, "Ann", "ann@x.org"));
        // The figures come by themselves, and on request from another process.
        QTRY_VERIFY((out += server.readAllStandardOutput()).contains("stats: 1 users on line (0 listed), 1 connections"));
        QTRY_VERIFY_WITH_TIMEOUT(stats().contains(": 1 users (0 listed) of at most 10000, 1 connections"), 10000);
        QVERIFY(stats().startsWith("1 node in "));
        server.terminate();
        QVERIFY(server.waitForFinished(5000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);
        // A node that stops leaves the registry.
        QCOMPARE(stats().left(7), QByteArray("0 nodes"));
        if (!sharedRegistry())
            QVERIFY(QFile::exists(data.filePath(QStringLiteral("users.sqlite"))));

        QProcess bad;
        bad.start(program, {QStringLiteral("--server"), QStringLiteral("nohost")});
        QVERIFY(bad.waitForFinished(5000));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--server wants HOST:PORT:DESCRIPTION"));
        bad.start(program, {QStringLiteral("--registry"), QStringLiteral("http://example.org")});
        QVERIFY(bad.waitForFinished(5000));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--registry wants redis://HOST[:PORT][/DB]"));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryServer)
#include "tst_directoryserver.moc"
