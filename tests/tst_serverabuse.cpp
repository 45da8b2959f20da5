// zelmo-directory under attack, one scenario per way in: a lookup flood, a Redis that
// loses its data, forged log lines, a log flood, numbers taken by the thousand, numbers
// reused past --max-users, a read-only data folder, one address taking every place, a
// stranger's deadline meeting the next client of its slot, long names, and stalled TLS
// handshakes by the thousand. Each runs the real server (in this process, or the
// executable where its memory or its mounts count) and a real Redis where the shared
// registry is at stake.

#include "tls/TlsContext.h"
#include "tls/TlsStream.h"
#include "server/DirectoryServer.h"
#include "server/RedisRegistry.h"
#include "server/SqliteStore.h"
#include "support/DirectoryKit.h"
#include "support/DirectoryProcess.h"
#include "support/RawClient.h"
#include "support/RedisProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Proto = DirectoryProtocol;
using DirectoryKit::Server;

namespace {

// A user number asked for on a connection of its own from the address; 0 when no answer came.
qint32 askNumber(int palPort, const QString &from)
{
    RawClient c(palPort, from);
    return Proto::parseNewNumber(body(c.ask("RSN;<ET>", "NSN")));
}

// The zelmo-directory executable on two ports of this test's, logging into `logDir`.
// `wrapper`: a command line the server runs under (its last word is followed by the
// server's own), for a private mount namespace.
bool startNode(DirectoryProcess &node, int *directoryPort, const QTemporaryDir &logDir, const QStringList &options,
               QString *why, const QStringList &wrapper = {})
{
    *directoryPort = TestSupport::portBlock(TestSupport::ServerPortSpan);
    // Freed memory is given back at once under the address sanitizer, whose default
    // quarantine would otherwise count as the server's (the server inherits this).
    if (!qgetenv("ASAN_OPTIONS").contains("quarantine_size_mb"))
        qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":quarantine_size_mb=1");
    return node.start(wrapper
                          + QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/../zelmo-directory"),
                                        QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                        QStringLiteral("--directory-port"), QString::number(*directoryPort),
                                        QStringLiteral("--pal-port"), QString::number(*directoryPort + 1),
                                        QStringLiteral("--stats-every"), QStringLiteral("0")}
                          + options,
                      logDir.filePath(QStringLiteral("directory.log")), 10000, why);
}

// The first flight of a TLS client, as a stranger who never goes on sends it.
QByteArray clientHello()
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends) != 0)
        return {};
    QByteArray hello;
    {
        QString why;
        const auto context = TlsContext::make(TlsContext::Side::Client, TlsSetup::Credentials(), {}, &why);
        TlsStream client(*context, ends[0]);
        client.handshake();
        char buffer[4096];
        const ssize_t n = ::recv(ends[1], buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            hello = QByteArray(buffer, n);
    }
    ::close(ends[0]);
    ::close(ends[1]);
    return hello;
}

// A connection from the loopback address that sends `bytes` and then nothing; -1 when it
// could not be made.
int stalledConnection(const char *from, int port, const QByteArray &bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(quint16(port));
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0
        || ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) != bytes.size()) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}


} // namespace

class TestServerAbuse : public QObject
{
    Q_OBJECT

private slots:
    void aLookupFloodLeavesEveryoneElseServedAndMemoryFlat()
    {
        if (RedisProcess::program().isEmpty())
            QSKIP("redis-server is not installed (scripts/deps.sh installs it)");
        RedisProcess redis;
        QString why;
        QVERIFY2(redis.start(TestSupport::portBlock(1), &why), qPrintable(why));
        DirectoryProcess node;
        QTemporaryDir logDir;
        int directoryPort = 0;
        QVERIFY2(startNode(node, &directoryPort, logDir, {QStringLiteral("--registry"), redis.url()}, &why),
                 qPrintable(why));
        const qint64 pid = node.processId();
        RawClient ann(directoryPort);
        ann.send(login(5, "Ann", "ann@x.org") + "LS1<ET>");
        QVERIFY(!ann.answer("LS1").isEmpty());
        QTest::qWait(300);
        const qint64 memoryBefore = TestSupport::residentKilobytes(pid);

        // One client that never logs in asks 4000 lookups at a time, reading the answers.
        QTcpSocket flood;
        qint64 answered = 0;
        QByteArray floodIn;
        QByteArray batch;
        for (int i = 0; i < 4000; ++i)
            batch += "GEM;x@y;<ET>";
        connect(&flood, &QTcpSocket::readyRead, this, [&] {
            floodIn += flood.readAll();
            answered += floodIn.count("<ET>");
            floodIn = floodIn.mid(floodIn.lastIndexOf("<ET>") + 4);
        });
        connect(&flood, &QTcpSocket::bytesWritten, this, [&] {
            if (flood.bytesToWrite() == 0)
                flood.write(batch);
        });
        flood.connectToHost(QHostAddress::LocalHost, quint16(directoryPort));
        QVERIFY(flood.waitForConnected(5000));
        flood.write(batch);

        // Meanwhile a probe logs in and asks for the list, again and again.
        std::vector<double> times;
        int unanswered = 0;
        qint64 peak = memoryBefore;
        QElapsedTimer during;
        during.start();
        for (int n = 0; during.elapsed() < 6000; ++n) {
            // Waited for without the event loop, whose waits come in steps of 10 ms: the
            // flood's socket buffers keep the node busy meanwhile.
            QElapsedTimer took;
            took.start();
            QTcpSocket probe;
            probe.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
            probe.connectToHost(QHostAddress::LocalHost, quint16(directoryPort));
            QByteArray heard;
            if (probe.waitForConnected(2000)) {
                probe.write(login(100 + n, "Probe", "probe@x.org") + "LS1<ET>");
                while (!heard.contains("LS1;") || !heard.endsWith("<ET>")) {
                    if (took.elapsed() > 2000 || !probe.waitForReadyRead(int(2000 - took.elapsed())))
                        break;
                    heard += probe.readAll();
                }
            }
            if (heard.contains("LS1;") && heard.endsWith("<ET>"))
                times.push_back(double(took.nsecsElapsed()) / 1e6);
            else
                ++unanswered;
            probe.abort();
            peak = std::max(peak, TestSupport::residentKilobytes(pid));
            QTest::qWait(20);
        }
        flood.abort();
        QTest::qWait(500);
        const qint64 memoryAfter = TestSupport::residentKilobytes(pid);
        std::sort(times.begin(), times.end());
        const auto at = [&](double p) { return times.empty() ? 0.0 : times[size_t(p * double(times.size() - 1))]; };
        qInfo("lookup flood on a Redis node: %lld lookups answered; %d probes, %d unanswered, login and list "
              "median %.1f ms, 99th percentile %.1f ms, slowest %.1f ms; memory %lld kB before, %lld kB at most, "
              "%lld kB after",
              answered, int(times.size()) + unanswered, unanswered, at(0.5), at(0.99), times.empty() ? 0 : times.back(),
              memoryBefore, peak, memoryAfter);
        QCOMPARE(unanswered, 0);
        QVERIFY(answered > 1000);
        QVERIFY2(peak - memoryBefore < 20 * 1024, "the flood made the node's memory grow by 20 MB or more");
        // The figure against the 50 ms target is printed above; a probe held up for long
        // (the fault: several seconds) fails here.
        QVERIFY2(at(0.99) < 1000, "a probe waited a second or more behind the flood");
        QVERIFY(node.logged(QStringLiteral("unanswered")) == 0);
    }

    // Strangers from a hundred addresses each open a TLS handshake and never finish it,
    // 3000 at a time, three times over: the node's memory stays bounded and does not grow
    // from round to round.
    void stalledHalfHandshakesHoldBoundedMemory()
    {
        if (TestSupport::UnderAddressSanitizer)
            QSKIP("the address sanitizer keeps freed memory aside, so the node's figures say nothing here");
        if (!TestSupport::enoughDescriptors(3500))
            QSKIP("this process may not open the 3500 descriptors the flood needs");
        const QByteArray hello = clientHello();
        QVERIFY(hello.size() > 100 && hello.at(0) == 0x16);
        DirectoryProcess node;
        QTemporaryDir logDir;
        int directoryPort = 0;
        QString why;
        QVERIFY2(startNode(node, &directoryPort, logDir, {QStringLiteral("--max-users"), QStringLiteral("5000")}, &why),
                 qPrintable(why));
        const qint64 pid = node.processId();
        const int encryptedPort = directoryPort + PortPlan::EncryptedOffset;
        RawClient ann(directoryPort);
        ann.send(login(5, "Ann", "ann@x.org") + "LS1<ET>");
        QVERIFY(!ann.answer("LS1").isEmpty());
        const qint64 before = TestSupport::residentKilobytes(pid);
        QList<qint64> peaks;
        QList<qint64> afters;
        for (int round = 0; round < 3; ++round) {
            std::vector<int> flood;
            qint64 peak = 0;
            for (int i = 0; i < 3000; ++i) {
                const QByteArray from = "127.0.1." + QByteArray::number(1 + i % 100);
                const int fd = stalledConnection(from.constData(), encryptedPort, hello);
                if (fd >= 0)
                    flood.push_back(fd);
                if (i % 100 == 99) {
                    // The node takes its turn at the hellos.
                    QTest::qWait(20);
                    peak = std::max(peak, TestSupport::residentKilobytes(pid));
                }
            }
            QTest::qWait(1000);
            peak = std::max(peak, TestSupport::residentKilobytes(pid));
            for (const int fd : flood)
                ::close(fd);
            QTest::qWait(1500);
            peaks << peak;
            afters << TestSupport::residentKilobytes(pid);
        }
        qInfo("3000 stalled half handshakes from 100 addresses, three rounds: node memory %lld kB before, at most "
              "%lld / %lld / %lld kB, after each round %lld / %lld / %lld kB",
              before, peaks[0], peaks[1], peaks[2], afters[0], afters[1], afters[2]);
        // Served all the while.
        RawClient probe(directoryPort);
        probe.send(login(6, "Probe", "probe@x.org") + "LS1<ET>");
        QVERIFY(!probe.answer("LS1").isEmpty());
        // About 45 kB each would be 130 MB; what they held goes back once they are over.
        QVERIFY2(*std::max_element(peaks.begin(), peaks.end()) - before < 40 * 1024,
                 "stalled handshakes held 40 MB or more");
        QVERIFY2(afters[2] - before < 6 * 1024, "the memory of the stalled handshakes was not given back");
    }

    void aNodeKeepsItsIdWhenRedisLosesItsData()
    {
        if (RedisProcess::program().isEmpty())
            QSKIP("redis-server is not installed (scripts/deps.sh installs it)");
        auto redis = std::make_unique<RedisProcess>();
        const int redisPort = TestSupport::portBlock(1);
        QString why;
        QVERIFY2(redis->start(redisPort, &why), qPrintable(why));
        ServerConfig config;
        config.redis = RedisAddress::parse(redis->url());
        config.expiryMs = 2000;
        config.statsIntervalMs = 0;
        Server a(config);
        RawClient ann(a.directoryPort());
        ann.send(login(5, "Ann", "ann@x.org") + "LS1<ET>");
        QVERIFY(!ann.answer("LS1").isEmpty());

        // Redis restarts without its data, and a new node starts at once.
        redis = std::make_unique<RedisProcess>();
        QVERIFY2(redis->start(redisPort, &why), qPrintable(why));
        Server b(config);
        const auto idOf = [](Server &s) { return static_cast<RedisRegistry &>(s.server->registry()).nodeId(); };

        // Ann is found on the new node, and stays found: the nodes hold different ids.
        RawClient bob(b.directoryPort());
        bob.send(login(6, "Bob", "bob@x.org") + "LS1<ET>");
        QVERIFY(!bob.answer("LS1").isEmpty());
        QElapsedTimer stable;
        QVERIFY(QTest::qWaitFor(
            [&] {
                bob.send("GEM;ann@x.org;<ET>");
                const QByteArray found = bob.answer("GER", 2000);
                if (!found.contains(";Ann;"))
                    stable.invalidate();
                else if (!stable.isValid())
                    stable.start();
                return stable.isValid() && stable.elapsed() > 3 * config.expiryMs;
            },
            20000));
        QVERIFY2(idOf(a) != idOf(b), qPrintable(idOf(a)));
        bob.send("LS1<ET>");
        QVERIFY(bob.answer("LS1").contains(";Ann;"));
    }

    void peerTextReachesTheLogAsOneCleanLine()
    {
        ServerConfig config;
        config.verbose = true;
        Server server(config);
        const QByteArray forged = "Eve\r\n2026-12-07 03:00:00 logout directory #1 \x1b[2J\x1b]0 owned\x07";
        RawClient eve(server.directoryPort());
        eve.send(login(5, forged, "eve@x.org"));
        eve.send("GEM;mallory\r\n2026-12-07 03:00:01 login\x1b[31m;<ET>");
        QVERIFY(!eve.answer("GER").isEmpty());
        // A NUL: what follows it stays in the line.
        RawClient nul(server.palPort());
        nul.send(QByteArray("GEM;before", 10) + QByteArray(1, '\0') + "after@x.org;<ET>");
        QVERIFY(!nul.answer("GER").isEmpty());
        eve.socket.disconnectFromHost();
        QTRY_COMPARE(server.log.filter(QRegularExpression(QStringLiteral("^logout "))).size(), 1);

        for (const QString &line : std::as_const(server.log)) {
            for (const QChar c : line)
                QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7f, qPrintable(line));
        }
        QCOMPARE(server.logged(QStringLiteral("2026-12-07 03:00:00 logout directory")), 2);
        QVERIFY(server.log.filter(QStringLiteral("login ")).first().contains(QStringLiteral("Eve  2026-12-07")));
        QCOMPARE(server.logged(QStringLiteral("mallory  2026-12-07 03:00:01 login [31m")), 1);
        QCOMPARE(server.logged(QStringLiteral("before after@x.org")), 1);
    }

    void lookupsAreCountedNotLoggedAndRepeatsAreSummedUp()
    {
        Server server;
        server.server->setLoginDeadline(300);
        server.server->setSummaryPeriod(1500);
        RawClient asker(server.directoryPort());
        asker.send(login(5, "Ann", "ann@x.org"));
        QTRY_COMPARE(server.server->users().online(), 1);
        QByteArray batch;
        for (int i = 0; i < 1000; ++i)
            batch += "GEM;nobody@x.org;<ET>";
        qint64 answers = 0;
        for (int round = 0; round < 10; ++round) {
            asker.send(batch);
            QVERIFY(QTest::qWaitFor([&] { return asker.received.count("GER;") >= 1000; }, 10000));
            answers += asker.received.count("GER;");
            asker.received.clear();
        }
        QCOMPARE(answers, qint64(10000));
        QCOMPARE(server.server->counters().lookups, quint64(10000));
        qsizetype bytes = 0;
        for (const QString &line : std::as_const(server.log))
            bytes += line.size() + 1;
        qInfo("10000 lookups: %lld bytes of log", qlonglong(bytes));
        QVERIFY2(bytes < 1000, qPrintable(server.log.join('\n')));
        QVERIFY(server.server->statsLine().contains(QStringLiteral("lookups/s")));

        // Thirty connections that never log in: a few lines, then one that sums up the rest.
        const auto silent = crowd(30, server.directoryPort());
        QTRY_COMPARE_WITH_TIMEOUT(closedCount(silent), 30, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(server.logged(QStringLiteral("more like \"dropped: no login\" from 127.0.0.1")) >= 1,
                                 5000);
        // Five a period at most, over at most two periods.
        QVERIFY(server.logged(QStringLiteral("dropped: no login")) - server.logged(QStringLiteral("more like")) <= 10);
    }

    void numbersAreRationedPerAddressAndNeverRunOutSilently()
    {
        ServerConfig config;
        config.numberBurst = 3;
        config.numbersPerMinute = 2;
        Server server(config);
        const auto ask = [&](const QString &from) { return askNumber(server.palPort(), from); };
        // Reconnecting for each number: three at once from one address, then none for now.
        QList<qint32> numbers;
        for (int i = 0; i < 8; ++i)
            numbers << ask(QStringLiteral("127.0.0.1"));
        QCOMPARE(numbers, (QList<qint32>{1, 2, 3, -1, -1, -1, -1, -1}));
        // Another address is served.
        QCOMPARE(ask(QStringLiteral("127.0.0.2")), 4);
        QVERIFY(server.logged(QStringLiteral("this address had its 3 at once and 2 a minute")) >= 1);
    }

    void usedUpNumbersAreSaidAndUnusedOnesReclaimed()
    {
        ServerConfig config;
        // Long enough that two questions in a row on a busy machine fall inside it.
        config.reclaimUnusedNumbersAfterMs = 5000;
        Server server(config);
        const auto ask = [&](const QString &from) { return askNumber(server.palPort(), from); };
        // A store that has handed out all but the last two numbers.
        server.server.reset();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("abuse-seed"));
            db.setDatabaseName(server.config.dataDir + QStringLiteral("/users.sqlite"));
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("DELETE FROM sqlite_sequence WHERE name = 'users'")));
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES ('users', 999998)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("abuse-seed"));
        server.start();
        const qint32 used = ask(QStringLiteral("127.0.0.3"));
        QCOMPARE(used, 999999);
        RawClient user(server.palPort(), QStringLiteral("127.0.0.3"));
        user.send(login(used, "Una", "una@x.org"));
        QTRY_COMPARE(server.server->users().online(), 1);
        QCOMPARE(ask(QStringLiteral("127.0.0.4")), 1000000);
        QCOMPARE(ask(QStringLiteral("127.0.0.5")), -1);
        QCOMPARE(server.logged(QStringLiteral("no user number to give: all 1000000 user numbers are taken")), 1);
        // The last one was never used for a login: after the reclaim time it goes again,
        // the one used for a login never does. Asked from one new address after another, as
        // each address has its own ration.
        qint32 again = -1;
        QString asker;
        for (int from = 10; again == -1 && from < 250; ++from) {
            QTest::qWait(100);
            asker = QStringLiteral("127.0.0.%1").arg(from);
            again = ask(asker);
        }
        QCOMPARE(again, 1000000);
        // Used at once, so that the next question finds it used however late it comes on
        // a busy machine (unused, it would be reclaimed again a second later).
        RawClient second(server.palPort(), asker);
        second.send(login(1000000, "Sven", "sven@x.org"));
        QTRY_COMPARE(server.server->users().online(), 2);
        QCOMPARE(ask(QStringLiteral("127.0.0.7")), -1);
    }

    void maxUsersCountsEveryEntryWhateverNumberItGives()
    {
        ServerConfig config;
        config.maxUsers = 5;
        Server server(config);
        const auto clients = crowd(20, server.directoryPort());
        for (size_t i = 0; i < clients.size(); ++i)
            clients[i]->send(login(1234, "Same" + QByteArray::number(int(i)), "same@x.org"));
        QTRY_COMPARE_WITH_TIMEOUT(closedCount(clients), 15, 10000);
        QCOMPARE(server.server->users().entries(false), 5);
        clients.front()->send("LS1<ET>");
        const Proto::UserList list = Proto::parseUserList(body(clients.front()->answer("LS1")));
        QCOMPARE(int(list.entries.size()), 5);
        // A user still holds a pal entry beside the directory one.
        RawClient pal(server.palPort());
        pal.send(login(1234, "Same0", "same@x.org"));
        QTRY_COMPARE(server.server->users().entries(true), 1);
    }

    void aReadOnlyDataFolderIsSaidAndHandsOutNoNumbers()
    {
        if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}) != 0)
            QSKIP("this test may not make a mount namespace of its own for a read-only data folder (it needs root)");
        QTemporaryDir data;
        {
            SqliteStore store;
            QVERIFY(store.open(data.path(), nullptr));
        }
        // The folder is read-only for the server alone, in a mount namespace of its own.
        DirectoryProcess node;
        QTemporaryDir logDir;
        int directoryPort = 0;
        QString why;
        const QString mount = QStringLiteral("mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" \"$0\" "
                                             "&& exec \"$@\"");
        QVERIFY2(startNode(node, &directoryPort, logDir, {QStringLiteral("--data"), data.path()}, &why,
                           {QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("--propagation"),
                            QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"), mount, data.path()}),
                 qPrintable(why));
        QCOMPARE(node.logged(QStringLiteral("cannot store user numbers in")), 1);
        QVERIFY(node.log().filter(QStringLiteral("cannot store user numbers in")).first().contains(data.path()));

        // Every asker is answered, without a number; the log says it once.
        for (int i = 0; i < 5; ++i) {
            RawClient c(directoryPort + 1, QStringLiteral("127.0.0.%1").arg(i + 2));
            c.send("RSN;<ET>");
            QCOMPARE(c.answer("NSN"), QByteArray("NSN;-1;<ET>"));
        }
        QTest::qWait(200);
        QCOMPARE(node.logged(QStringLiteral("no user number to give: ")), 1);
    }

    void oneAddressCannotTakeEveryPlace()
    {
        ServerConfig config;
        config.maxLoginsPerAddress = 10;
        Server server(config);
        const auto flood = crowd(100, server.directoryPort(), server.palPort());
        QTRY_COMPARE_WITH_TIMEOUT(closedCount(flood), 36, 10000);
        QCOMPARE(server.server->connectionCount(), 64);
        // Logins from the flooding address stop at its share.
        std::vector<RawClient *> held;
        for (const auto &c : flood) {
            if (!c->closed && held.size() < 12)
                held.push_back(c.get());
        }
        for (size_t i = 0; i < held.size(); ++i)
            held[i]->send(login(10 + int(i), "Flood", "flood@x.org"));
        QTRY_COMPARE(server.server->users().connections(), 10);
        QTRY_COMPARE(int(std::count_if(held.begin(), held.end(), [](const RawClient *c) { return c->closed; })), 2);
        QCOMPARE(server.logged(QStringLiteral("turned away: 10 logins from this address already")), 2);

        // Another address logs in and is served.
        RawClient ann(server.directoryPort(), QStringLiteral("127.0.0.2"));
        ann.send(login(5, "Ann", "ann@x.org") + "LS1<ET>");
        QVERIFY(ann.answer("LS1").contains(";Ann;"));
        QVERIFY(server.logged(QStringLiteral("64 connections from this address already")) <= 5);
    }

    void aStrangersLoginDeadlineSparesTheNextClientOfItsSlot()
    {
        Server server;
        server.server->setLoginDeadline(500);
        {
            RawClient stranger(server.directoryPort());
            QTRY_COMPARE(server.server->connectionCount(), 1);
        }
        QTRY_COMPARE(server.server->connectionCount(), 0);
        // The next client takes the slot the stranger left, and logs in.
        RawClient ann(server.directoryPort());
        ann.send(login(5, "Ann", "ann@x.org"));
        QTRY_COMPARE(server.server->users().online(), 1);
        // The stranger's deadline passes: Ann stays.
        QTest::qWait(800);
        QVERIFY(!ann.closed);
        ann.send("LS1<ET>");
        QVERIFY(ann.answer("LS1").contains(";Ann;"));
        QCOMPARE(server.logged(QStringLiteral("dropped: no login")), 0);
    }

    void aLongNameIsCutBetweenCharacters()
    {
        Server server;
        const QByteArray a63(63, 'a');
        RawClient ann(server.directoryPort());
        // A character beyond the basic plane, and a letter with its accent, across the cut.
        ann.send(login(5, a63 + "\xF0\x9F\x98\x80" + "b", "ann@x.org"));
        RawClient bob(server.directoryPort());
        bob.send(login(6, QByteArray(62, 'b') + "xe\xCC\x81" + "z", "bob@x.org"));
        QTRY_COMPARE(server.server->users().online(), 2);
        ann.send("LS1<ET>");
        const Proto::UserList list = Proto::parseUserList(body(ann.answer("LS1")));
        QCOMPARE(int(list.entries.size()), 2);
        QCOMPARE(list.entries[0].Name, QString::fromLatin1(a63));
        QCOMPARE(list.entries[1].Name, QString::fromLatin1(QByteArray(62, 'b') + "x"));
    }
};

QTEST_MAIN(TestServerAbuse)
#include "tst_serverabuse.moc"
