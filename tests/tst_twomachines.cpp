// Two machines made of network namespaces, where loopback can no longer hide a wrong
// address: the companion server on the first answers each client with addresses that
// client can reach (also across two nodes sharing a registry), and two ZELMOs, one on
// each machine, find each other through the directory, see each other's pals on line,
// call by e-mail and leave a quick message, driven through their windows.

#include "protocol/DirectoryProtocol.h"
#include "server/DirectoryServer.h"
#include "support/DirectoryProcess.h"
#include "support/RawClient.h"
#include "support/RedisProcess.h"
#include "support/TestSupport.h"
#include "support/TwoMachines.h"
#include "support/ZelmoProcess.h"

#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <tuple>

namespace Proto = DirectoryProtocol;
using Machine = TwoMachines::Machine;

namespace {

constexpr int StartMs = 30000;
constexpr int StepMs = 20000;

const QString HostA = TwoMachines::address(TwoMachines::A);
const QString HostB = TwoMachines::address(TwoMachines::B);
const QString Loopback = QStringLiteral("127.0.0.1");

// A bare client of the server on one of the machines, writing the protocol itself.
struct Client : RawClient
{
    Client(const TwoMachines &machines, Machine machine, const QString &host, int port)
    {
        machines.onMachine(machine, [&] { socket.connectToHost(host, quint16(port)); });
        if (!waitConnected())
            qFatal("could not reach %s:%d from machine %d", qPrintable(host), port, int(machine));
    }
    // The answer with that command to the question, without its terminator; empty when
    // none came.
    QByteArray ask(const QByteArray &question, const QByteArray &command)
    {
        received.clear();
        send(question);
        const QByteArray whole = answer(command);
        return whole.isEmpty() ? whole : whole.chopped(4);
    }
    // Where the list says each user is: "name=address", in the list's order.
    QString list()
    {
        QStringList where;
        for (const Proto::UserEntry &e : Proto::parseUserList(ask(Proto::listRequest(), "LS1")).entries)
            where << e.Name + QLatin1Char('=') + e.Address;
        return where.join(QLatin1Char(' '));
    }
    QString lookUp(const QString &email) { return Proto::parseEmailAnswer(ask(Proto::emailLookup(email), "GER")).address; }
};

QByteArray login(qint32 number, const QString &name)
{
    return Proto::login({.userNumber = number, .name = name, .email = name.toLower() + QStringLiteral("@example.org"),
                         .location = QStringLiteral("Here"), .video = true, .audio = true, .listed = true,
                         .port = 2000});
}

QString seen(std::initializer_list<std::pair<QString, QString>> pairs)
{
    QStringList where;
    for (const auto &[name, address] : pairs)
        where << name + QLatin1Char('=') + address;
    return where.join(QLatin1Char(' '));
}

// A node of the companion server in this process, listening on the machine's every
// address on the usual ports.
std::unique_ptr<DirectoryServer> startNode(const TwoMachines &machines, Machine machine, ServerConfig config)
{
    std::unique_ptr<DirectoryServer> node;
    machines.onMachine(machine, [&] {
        node = std::make_unique<DirectoryServer>(std::move(config));
        QString why;
        if (!node->start(&why))
            qFatal("the node did not start: %s", qPrintable(why));
    });
    return node;
}

// A node leaves its shared registry from its own machine.
void stopNode(const TwoMachines &machines, Machine machine, std::unique_ptr<DirectoryServer> &node)
{
    machines.onMachine(machine, [&] { node.reset(); });
}

} // namespace

class TestTwoMachines : public QObject
{
    Q_OBJECT

    std::unique_ptr<TwoMachines> m_machines;
    QString m_binDir = QStringLiteral(ZELMO_BIN_DIR);

private slots:
    void initTestCase()
    {
        m_machines = std::make_unique<TwoMachines>(QStringLiteral("tst"));
        QString why;
        if (!m_machines->create(&why))
            QSKIP(qPrintable(QStringLiteral("no two machines to test on: ") + why));
    }

    void cleanupTestCase() { m_machines.reset(); }

    void theServerAnswersAddressesEachClientCanReach_data()
    {
        QTest::addColumn<QString>("advertised");
        QTest::addColumn<QString>("reachedAt");
        // Clients elsewhere are given the address they reached the server at ...
        QTest::newRow("as reached") << QString() << HostA;
        // ... or the one the operator says it is reached at (a router's, say) ...
        QTest::newRow("advertised") << QStringLiteral("198.51.100.10") << QStringLiteral("198.51.100.10");
        // ... but never a loopback address, advertised or not.
        QTest::newRow("advertised loopback") << Loopback << HostA;
    }

    void theServerAnswersAddressesEachClientCanReach()
    {
        QFETCH(QString, advertised);
        QFETCH(QString, reachedAt);
        QTemporaryDir data;
        ServerConfig config;
        config.dataDir = data.path();
        config.statsIntervalMs = 0;
        if (!advertised.isEmpty())
            config.advertise = Proto::ServerEntry{advertised, 2010, QStringLiteral("Oslo")};
        auto node = startNode(*m_machines, TwoMachines::A, config);

        // Ann on the server's machine reaches it over loopback; Bob comes from machine B.
        Client ann(*m_machines, TwoMachines::A, Loopback, 2010);
        Client bob(*m_machines, TwoMachines::B, HostA, 2010);
        ann.send(login(11, QStringLiteral("Ann")));
        bob.send(login(12, QStringLiteral("Bob")));
        QTRY_COMPARE(node->users().listed(), 2);

        QCOMPARE(bob.list(), seen({{QStringLiteral("Ann"), reachedAt}, {QStringLiteral("Bob"), HostB}}));
        QCOMPARE(bob.lookUp(QStringLiteral("ann@example.org")), reachedAt);
        // A client on the server's machine reaches loopback as it is.
        QCOMPARE(ann.list(), seen({{QStringLiteral("Ann"), Loopback}, {QStringLiteral("Bob"), HostB}}));
        QCOMPARE(ann.lookUp(QStringLiteral("ann@example.org")), Loopback);

        // The pal server answers alike, also to a client that has not logged in there.
        Client bobPal(*m_machines, TwoMachines::B, HostA, 2015);
        QCOMPARE(bobPal.lookUp(QStringLiteral("ann@example.org")), reachedAt);
        Client annPal(*m_machines, TwoMachines::A, Loopback, 2015);
        QCOMPARE(annPal.lookUp(QStringLiteral("bob@example.org")), HostB);
    }

    void nodesOnTwoMachinesGiveEachOthersUsersReachableAddresses()
    {
        if (RedisProcess::program().isEmpty())
            QSKIP("redis-server is not installed");
        // The shared registry lives on machine A, where node 1 runs; node 2 runs on B.
        RedisProcess redis;
        QString why;
        m_machines->onMachine(TwoMachines::A, [&] { redis.start(0, &why, HostA); });
        QVERIFY2(redis.isRunning(), qPrintable(why));
        QTemporaryDir data1;
        QTemporaryDir data2;
        const auto nodeConfig = [&](const QTemporaryDir &data, const QString &host) {
            ServerConfig config;
            config.dataDir = data.path();
            config.redis = RedisAddress::parse(redis.url());
            config.advertise = Proto::ServerEntry{host, 2010, host};
            config.expiryMs = 2000;
            config.statsIntervalMs = 0;
            return config;
        };
        auto node1 = startNode(*m_machines, TwoMachines::A, nodeConfig(data1, HostA));
        auto node2 = startNode(*m_machines, TwoMachines::B, nodeConfig(data2, HostB));

        // Each logs in to the node on their own machine, over loopback.
        Client ann(*m_machines, TwoMachines::A, Loopback, 2010);
        Client bob(*m_machines, TwoMachines::B, Loopback, 2010);
        ann.send(login(21, QStringLiteral("Ann")));
        bob.send(login(22, QStringLiteral("Bob")));

        // Each node gives the other's user as that node's host, its own as it is.
        QTRY_COMPARE_WITH_TIMEOUT(ann.list(), seen({{QStringLiteral("Ann"), Loopback}, {QStringLiteral("Bob"), HostB}}),
                                  StepMs);
        QTRY_COMPARE_WITH_TIMEOUT(bob.list(), seen({{QStringLiteral("Ann"), HostA}, {QStringLiteral("Bob"), Loopback}}),
                                  StepMs);
        QCOMPARE(ann.lookUp(QStringLiteral("bob@example.org")), HostB);
        QCOMPARE(bob.lookUp(QStringLiteral("ann@example.org")), HostA);

        // A client on machine B asking node 1 gets no loopback address at all.
        Client cid(*m_machines, TwoMachines::B, HostA, 2010);
        cid.send(login(23, QStringLiteral("Cid")));
        QTRY_COMPARE_WITH_TIMEOUT(cid.list(),
                                  seen({{QStringLiteral("Ann"), HostA}, {QStringLiteral("Bob"), HostB},
                                        {QStringLiteral("Cid"), HostB}}),
                                  StepMs);
        QCOMPARE(cid.lookUp(QStringLiteral("bob@example.org")), HostB);

        stopNode(*m_machines, TwoMachines::B, node2);
        stopNode(*m_machines, TwoMachines::A, node1);
    }

    void twoProgramsFindCallAndWriteEachOther()
    {
        QTemporaryDir work;
        QVERIFY(work.isValid());
        TestSupport::useOwnRuntimeFolder(work.path());

        // The server and Ann on machine A, where Ann's directory server is "localhost" as
        // on any machine that runs the server; Bob on machine B names machine A.
        DirectoryProcess directory;
        QString why;
        QVERIFY2(directory.start(m_machines->command(TwoMachines::A, m_binDir + QStringLiteral("/zelmo-directory"),
                                                     {QStringLiteral("--data"), work.filePath(QStringLiteral("data")),
                                                      QStringLiteral("--stats-every"), QStringLiteral("0")}),
                                 work.filePath(QStringLiteral("directory.log")), StartMs, &why),
                 qPrintable(why));
        const QString annProfile = ZelmoProcess::writeProfile(
            work.filePath(QStringLiteral("ann")), {QStringLiteral("Ann Alpha"), QStringLiteral("ann@example.org"),
                                                   QStringLiteral("localhost"), QStringLiteral("Oslo"), false,
                                                   QStringLiteral("bob@example.org"), {}});
        const QString bobProfile = ZelmoProcess::writeProfile(
            work.filePath(QStringLiteral("bob")), {QStringLiteral("Bob Beta"), QStringLiteral("bob@example.org"), HostA,
                                                   QStringLiteral("Lima"), false, QStringLiteral("ann@example.org"), {}});
        ZelmoProcess ann(QStringLiteral("Ann"));
        ZelmoProcess bob(QStringLiteral("Bob"));
        const auto startOn = [&](ZelmoProcess &peer, Machine machine, const QString &profilePath) {
            return peer.startOn(m_machines->on(machine), m_binDir, profilePath, StartMs);
        };
        QVERIFY(startOn(ann, TwoMachines::A, annProfile));
        QVERIFY(startOn(bob, TwoMachines::B, bobProfile));

        // Each got a user number from the pal server on machine A.
        const auto number = [](const QString &profilePath) {
            return TestSupport::readBytes(profilePath + QStringLiteral("/zelmo.num")).trimmed().toInt();
        };
        QTRY_VERIFY_WITH_TIMEOUT(number(annProfile) >= Proto::FirstUserNumber, StepMs);
        QTRY_VERIFY_WITH_TIMEOUT(number(bobProfile) >= Proto::FirstUserNumber, StepMs);
        QVERIFY(number(annProfile) != number(bobProfile));

        // Both open the directory; each sees the other listed where the other really is.
        QVERIFY(ann.ask(QStringLiteral("click frmMain cmdtoolbar1")));
        QVERIFY(bob.ask(QStringLiteral("click frmMain cmdtoolbar1")));
        const auto listsBoth = [](const QString &rows) {
            return rows.contains(QLatin1String("Ann Alpha")) && rows.contains(QLatin1String("Bob Beta"));
        };
        const std::tuple<ZelmoProcess *, QString, QString> sides[] = {{&ann, QStringLiteral("Bob Beta"), HostB},
                                                                      {&bob, QStringLiteral("Ann Alpha"), HostA}};
        for (const auto &[peer, other, host] : sides) {
            QString rows;
            // A list that came before the other logged in is brought up to date by Refresh, as
            // often as a person would press it: the other opens the directory a moment later.
            bool listed = peer->askUntil(QStringLiteral("text frmDirectory lstGlobal"), listsBoth, 3000, &rows);
            for (int round = 0; round < 5 && !listed; ++round) {
                peer->ask(QStringLiteral("click frmDirectory cmdRefresh"));
                listed = peer->askUntil(QStringLiteral("text frmDirectory lstGlobal"), listsBoth, 4000, &rows);
            }
            QVERIFY2(listed, qPrintable(peer->name() + QStringLiteral("'s directory: ") + rows));
            QString where;
            QVERIFY(peer->ask(QStringLiteral("tip frmDirectory lstGlobal ") + other, &where));
            QCOMPARE(where, host + QStringLiteral(":2000"));
        }

        // Each sees the other on line as a pal, at the same address.
        for (const auto &[peer, other, host] : sides) {
            QString rows;
            bool online = false;
            for (int round = 0; round < 5 && !online; ++round) {
                peer->ask(QStringLiteral("click frmDirectory cmdRefresh"));
                online = peer->askUntil(QStringLiteral("text frmDirectory lstOnline"),
                                        [name = other](const QString &r) { return r.contains(name); }, 4000, &rows);
            }
            QVERIFY2(online, qPrintable(peer->name() + QStringLiteral("'s pals on line: ") + rows));
            QString where;
            QVERIFY(peer->ask(QStringLiteral("tip frmDirectory lstOnline ") + other, &where));
            QCOMPARE(where, host + QStringLiteral(":2000"));
        }

        // Bob types Ann's e-mail address and presses Enter; Ann is asked and takes the call.
        QVERIFY(bob.ask(QStringLiteral("type frmDirectory txtConnect ann@example.org\\n")));
        QString caller;
        QVERIFY(ann.askUntil(QStringLiteral("text frmCallIn pnlUserName"), [](const QString &t) { return !t.isEmpty(); },
                             StepMs, &caller));
        QCOMPARE(caller, QStringLiteral("Bob Beta"));
        QVERIFY(ann.ask(QStringLiteral("click frmCallIn cmdCallYes")));
        const auto inCall = [](const QString &caption) { return caption == QLatin1String("HangUp"); };
        QVERIFY(ann.askUntil(QStringLiteral("text frmMain lblcmd0"), inCall, StepMs));
        QVERIFY(bob.askUntil(QStringLiteral("text frmMain lblcmd0"), inCall, StepMs));

        // Picture and sound move to datagrams; then machine A's datagrams stop reaching B.
        // Bob, hearing nothing, goes back to the connection and says so; Ann goes back at
        // once on his word, so what she says while talking reaches him.
        const auto logShows = [](ZelmoProcess &peer, const QString &line) {
            return peer.askUntil(QStringLiteral("text frmLog lstActivity"),
                                 [line](const QString &rows) { return rows.contains(line); }, StepMs);
        };
        QVERIFY(ann.ask(QStringLiteral("trigger Menu_ViewLog")));
        QVERIFY(bob.ask(QStringLiteral("trigger Menu_ViewLog")));
        const QString moved = QStringLiteral("Picture and sound go over encrypted datagrams");
        QVERIFY(logShows(ann, moved) && logShows(bob, moved));
        const auto nft = [&](const QStringList &arguments) {
            const QStringList line = m_machines->command(TwoMachines::A, QStringLiteral("nft"), arguments);
            return QProcess::execute(line.first(), line.mid(1)) == 0;
        };
        QVERIFY(nft({QStringLiteral("add table inet cut")}));
        QVERIFY(nft({QStringLiteral("add chain inet cut out { type filter hook output priority 0; }")}));
        QVERIFY(nft({QStringLiteral("add rule inet cut out meta l4proto udp drop")}));
        const qint64 heard = bob.counter(QStringLiteral("speakerBlocks"));
        QVERIFY(ann.ask(QStringLiteral("press frmMain cmdtoolbar4")));
        QVERIFY(logShows(bob, QStringLiteral("Datagrams stopped: picture and sound go back to the connection")));
        QVERIFY(logShows(ann, QStringLiteral("The other side stopped getting datagrams")));
        QVERIFY(bob.counterUntil(QStringLiteral("speakerBlocks"), heard + 10, StepMs) >= heard + 10);
        QVERIFY(ann.ask(QStringLiteral("release frmMain cmdtoolbar4")));
        QVERIFY(nft({QStringLiteral("delete table inet cut")}));

        QVERIFY(bob.ask(QStringLiteral("click frmMain cmdtoolbar0")));
        const auto idle = [](const QString &caption) { return caption == QLatin1String("Call"); };
        QVERIFY(ann.askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs));
        QVERIFY(bob.askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs));

        // Bob leaves Ann a quick message from the directory list.
        const auto shown = [](const QString &window) {
            return [window](const QString &windows) { return windows.split(QLatin1Char(' ')).contains(window); };
        };
        QString answer;
        QVERIFY(bob.ask(QStringLiteral("windows"), &answer));
        QVERIFY(bob.ask(shown(QStringLiteral("frmDirectory"))(answer) ? QStringLiteral("click frmDirectory cmdRefresh")
                                                                      : QStringLiteral("click frmMain cmdtoolbar1")));
        QVERIFY(bob.askUntil(QStringLiteral("text frmDirectory barStatusPanel2"),
                             [](const QString &t) { return t == QLatin1String("Select User for Connection"); }, StepMs));
        QVERIFY(bob.ask(QStringLiteral("select frmDirectory lstGlobal Ann Alpha")));
        QVERIFY(bob.ask(QStringLiteral("click frmDirectory cmdSendMsg")));
        QVERIFY(bob.askUntil(QStringLiteral("windows"), shown(QStringLiteral("frmMsgOut")), StepMs));
        QVERIFY(bob.ask(QStringLiteral("type frmMsgOut txtMessageOut Bob here, from the other machine.")));
        QVERIFY(bob.ask(QStringLiteral("click frmMsgOut cmdSend")));
        QVERIFY(ann.askUntil(QStringLiteral("counters"),
                             [](const QString &c) { return c.contains(QLatin1String("messagesReceived=1")); }, StepMs,
                             &answer));
        QVERIFY(ann.ask(QStringLiteral("doubleclick frmMain imgMsgIn")));
        QVERIFY(ann.askUntil(QStringLiteral("text frmMsgIn txtMessageIn"),
                             [](const QString &t) { return t.contains(QLatin1String("from the other machine")); },
                             StepMs));

        QVERIFY2(ann.quit(StepMs, &why), qPrintable(why));
        QVERIFY2(bob.quit(StepMs, &why), qPrintable(why));
        QVERIFY(directory.stop(StepMs));
        // What each program logged names the other machine.
        QVERIFY(TestSupport::readBytes(annProfile + QStringLiteral("/zelmo.log")).contains(HostB.toLatin1()));
        QVERIFY(TestSupport::readBytes(bobProfile + QStringLiteral("/zelmo.log")).contains(HostA.toLatin1()));
    }
};

QTEST_MAIN(TestTwoMachines)
#include "tst_twomachines.moc"
