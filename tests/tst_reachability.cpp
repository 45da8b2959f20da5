// Reachable from anywhere: a ZELMO at home behind a router running real router software
// asks it to forward its ports, shows where others reach it, is called from the internet
// and gives the ports back at its end; one where the router cannot help says why; and
// two ZELMOs joined by IPv6 alone call each other.

#include "support/DirectoryProcess.h"
#include "support/HomeRouter.h"
#include "support/NetworkLab.h"
#include "support/TestSupport.h"
#include "support/ZelmoProcess.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int StartMs = 30000;
constexpr int StepMs = 20000;
// What a user waits at most to learn that others cannot call.
constexpr int VerdictMs = 8000;

const QString Outside = HomeRouter::OutsideAddress;

bool contains(const QString &text, const QString &part)
{
    return text.contains(part, Qt::CaseInsensitive);
}

} // namespace

class TestReachability : public QObject
{
    Q_OBJECT

    std::unique_ptr<HomeRouter> m_net;
    std::unique_ptr<DirectoryProcess> m_directory;
    QTemporaryDir m_work;
    const QString m_binDir = QStringLiteral(ZELMO_BIN_DIR);
    int m_runs = 0;

    // A profile of its own: the user, the directory server on the internet, whether calls
    // are taken at once, and the router settings (none: the defaults).
    QString profile(const QString &name, bool autoAccept, const QString &routerSettings = QString())
    {
        return ZelmoProcess::writeProfile(m_work.filePath(QStringLiteral("%1-%2").arg(name).arg(++m_runs)),
                                          {name, name.toLower() + QStringLiteral("@example.org"), HomeRouter::InternetAddress,
                                           QStringLiteral("Here"), autoAccept, {}, routerSettings});
    }

    bool start(ZelmoProcess &peer, const QStringList &where, const QString &profilePath,
               const QStringList &more = QStringList())
    {
        return peer.startOn(where, m_binDir, profilePath, StartMs, nullptr, more);
    }
    bool startAt(ZelmoProcess &peer, HomeRouter::Machine machine, const QString &profilePath,
                 const QStringList &more = QStringList())
    {
        return start(peer, {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), m_net->name(machine)},
                     profilePath, more);
    }

    static bool lineSays(ZelmoProcess &peer, const QStringList &parts, int timeoutMs, QString *line)
    {
        return peer.askUntil(
            QStringLiteral("text frmMain lblReach"),
            [&](const QString &text) {
                return std::all_of(parts.begin(), parts.end(), [&](const QString &p) { return contains(text, p); });
            },
            timeoutMs, line);
    }

    // Both show "HangUp" and draw the other's pictures.
    static void expectCallWithVideo(ZelmoProcess &a, ZelmoProcess &b)
    {
        const auto inCall = [](const QString &caption) { return caption == QLatin1String("HangUp"); };
        QVERIFY2(a.askUntil(QStringLiteral("text frmMain lblcmd0"), inCall, StepMs),
                 qPrintable(a.name() + a.activity() + b.activity()));
        QVERIFY2(b.askUntil(QStringLiteral("text frmMain lblcmd0"), inCall, StepMs),
                 qPrintable(b.name() + a.activity() + b.activity()));
        for (ZelmoProcess *peer : {&a, &b}) {
            const auto drawn = [](const QString &c) { return !c.contains(QLatin1String("framesDrawn=0 ")); };
            QVERIFY2(peer->askUntil(QStringLiteral("counters"), drawn, StepMs), qPrintable(peer->name()));
        }
    }

    void startRouter(HomeRouter::Protocols protocols)
    {
        QString why;
        QVERIFY2(m_net->startRouter(protocols, m_work.path(), &why), qPrintable(why));
    }

private slots:
    void initTestCase()
    {
        m_net = std::make_unique<HomeRouter>(QStringLiteral("reach"));
        QString why;
        if (!m_net->create(&why))
            QSKIP(qPrintable(QStringLiteral("no home network to test on: ") + why));
        TestSupport::useOwnRuntimeFolder(m_work.path());
        m_directory = std::make_unique<DirectoryProcess>();
        QVERIFY2(m_directory->start(m_net->command(HomeRouter::Internet, m_binDir + QStringLiteral("/zelmo-directory"),
                                                   {QStringLiteral("--data"), m_work.filePath(QStringLiteral("data")),
                                                    QStringLiteral("--stats-every"), QStringLiteral("0")}),
                                    m_work.filePath(QStringLiteral("directory.log")), StartMs, &why),
                 qPrintable(why));
    }

    void cleanupTestCase()
    {
        m_directory.reset();
        m_net.reset();
    }

    void cleanup() { m_net->stopRouter(); }

    void theRouterForwardsThePortsWhileTheProgramRuns_data()
    {
        QTest::addColumn<bool>("upnp");
        // UPnP first; a router that speaks only NAT-PMP is asked that way, and the end
        // comes by SIGTERM, as when the session ends.
        QTest::newRow("UPnP") << true;
        QTest::newRow("NAT-PMP") << false;
    }

    void theRouterForwardsThePortsWhileTheProgramRuns()
    {
        QFETCH(bool, upnp);
        startRouter({upnp, true});
        ZelmoProcess home(QStringLiteral("Hana"));
        const QString homeProfile = profile(QStringLiteral("Hana"), true);
        QVERIFY(startAt(home, HomeRouter::Home, homeProfile));
        QString line;
        QVERIFY2(lineSays(home, {QStringLiteral("Others can call you at ") + Outside + QStringLiteral(":2000"),
                                 QStringLiteral("(reachable from the internet)")},
                          StepMs, &line),
                 qPrintable(line));
        const QString rules = m_net->forwardingRules();
        for (int port : {2000, 2001, 2002, 2003, 2016})
            QVERIFY2(rules.contains(QStringLiteral("dport %1 ").arg(port)), qPrintable(rules));
        if (!qEnvironmentVariableIsEmpty("ZELMO_REACH_SHOT"))
            home.ask(QStringLiteral("grab frmMain - ") + qEnvironmentVariable("ZELMO_REACH_SHOT"));

        // Someone on the internet calls the router's address and is answered from home.
        ZelmoProcess caller(QStringLiteral("Ivo"));
        QVERIFY(startAt(caller, HomeRouter::Internet, profile(QStringLiteral("Ivo"), false), {Outside}));
        expectCallWithVideo(home, caller);
        QString why;
        QVERIFY2(caller.quit(StepMs, &why), qPrintable(why));

        if (upnp)
            QVERIFY2(home.quit(StepMs, &why), qPrintable(why));
        else
            QVERIFY(home.terminate(StepMs));
        QVERIFY2(!m_net->forwardingRules().contains(QLatin1String("dport 2000 ")), qPrintable(m_net->forwardingRules()));
        const QByteArray log = TestSupport::readBytes(homeProfile + QStringLiteral("/zelmo.log"));
        QVERIFY(log.contains((upnp ? "UPnP: ports 2000 forwarded" : "NAT-PMP: ports 2000 forwarded")));
    }

    void aTakenPortMovesTheBlockAndTheDirectoryFollows()
    {
        startRouter({true, false});
        // Another machine at home holds the outside port 2000 already.
        QString output;
        QVERIFY2(m_net->run(HomeRouter::Home,
                            {QStringLiteral("upnpc"), QStringLiteral("-a"), HomeRouter::OtherHomeAddress,
                             QStringLiteral("2000"), QStringLiteral("2000"), QStringLiteral("TCP")},
                            &output),
                 qPrintable(output));
        ZelmoProcess home(QStringLiteral("Hugo"));
        QVERIFY(startAt(home, HomeRouter::Home, profile(QStringLiteral("Hugo"), true)));
        QVERIFY(home.ask(QStringLiteral("click frmMain cmdtoolbar1")));
        QString line;
        QVERIFY2(lineSays(home, {Outside + QStringLiteral(":2004")}, StepMs, &line), qPrintable(line));

        ZelmoProcess caller(QStringLiteral("Ines"));
        QVERIFY(startAt(caller, HomeRouter::Internet, profile(QStringLiteral("Ines"), false)));
        QVERIFY(caller.ask(QStringLiteral("click frmMain cmdtoolbar1")));
        QString where;
        const auto listedAtNewPort = [&] {
            caller.ask(QStringLiteral("click frmDirectory cmdRefresh"));
            return caller.askUntil(QStringLiteral("tip frmDirectory lstGlobal Hugo"),
                                   [](const QString &t) { return t.endsWith(QLatin1String(":2004")); }, 3000, &where);
        };
        QTRY_VERIFY2_WITH_TIMEOUT(listedAtNewPort(), qPrintable(where), StepMs);
        QCOMPARE(where, Outside + QStringLiteral(":2004"));
        QVERIFY(caller.ask(QStringLiteral("activate frmDirectory lstGlobal Hugo")));
        expectCallWithVideo(home, caller);
        QString why;
        QVERIFY2(caller.quit(StepMs, &why), qPrintable(why));
        QVERIFY2(home.quit(StepMs, &why), qPrintable(why));
        // Only the other machine's mapping stays.
        QVERIFY(!m_net->forwardingRules().contains(QLatin1String("dport 2004 ")));
        QVERIFY(m_net->forwardingRules().contains(QLatin1String("dport 2000 ")));
    }

    void withoutForwardingTheWindowSaysWhyAndCallsOutWork_data()
    {
        QTest::addColumn<bool>("routerRuns");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("reason");
        QTest::newRow("requests off") << true << QStringLiteral("[Router]\r\nAskRouter=False\r\n")
                                      << QStringLiteral("Router requests are off");
        QTest::newRow("no router") << false << QString() << QStringLiteral("No router answered");
    }

    void withoutForwardingTheWindowSaysWhyAndCallsOutWork()
    {
        QFETCH(bool, routerRuns);
        QFETCH(QString, settings);
        QFETCH(QString, reason);
        if (routerRuns)
            startRouter({true, true});
        ZelmoProcess home(QStringLiteral("Hedi"));
        QVERIFY(startAt(home, HomeRouter::Home, profile(QStringLiteral("Hedi"), false, settings)));
        QString line;
        QVERIFY2(lineSays(home, {QStringLiteral("Not reachable"), reason, QStringLiteral("forward TCP 2000-2003 and 2016 to ")
                                                                           + HomeRouter::HomeAddress},
                          VerdictMs, &line),
                 qPrintable(line));
        // The directory server's check from outside agrees, and never says reachable.
        QVERIFY2(lineSays(home, {QStringLiteral("could not connect to ") + Outside + QStringLiteral(":2000")}, StepMs,
                          &line),
                 qPrintable(line));
        QVERIFY(!m_net->forwardingRules().contains(QLatin1String("dport")));

        ZelmoProcess callee(QStringLiteral("Iris"));
        QVERIFY(startAt(callee, HomeRouter::Internet, profile(QStringLiteral("Iris"), true)));
        QVERIFY(home.ask(QStringLiteral("click frmMain cmdtoolbar1")));
        QVERIFY(home.ask(QStringLiteral("type frmDirectory txtConnect ") + HomeRouter::InternetAddress + QStringLiteral("\\n")));
        expectCallWithVideo(home, callee);
        QString why;
        QVERIFY2(home.quit(StepMs, &why), qPrintable(why));
        QVERIFY2(callee.quit(StepMs, &why), qPrintable(why));
    }

    // The line says only what the directory server's check proved: a server beside the
    // program, or in the same home, connects back to addresses the internet cannot.
    void theLineSaysWhatTheCheckProved_data()
    {
        QTest::addColumn<QString>("directoryAddress");
        QTest::addColumn<bool>("onTheServersMachine");
        QTest::addColumn<QString>("says");
        QTest::newRow("same computer") << QStringLiteral("127.0.0.1") << true
                                       << QStringLiteral("Only programs on this computer use this directory server");
        QTest::newRow("same private network") << QStringLiteral("192.168.1.20") << false
                                              << QStringLiteral("Others on this network can call you at 192.168.1.10:2000");
        QTest::newRow("public address") << QStringLiteral("203.0.113.20") << false
                                        << QStringLiteral("Others can call you at 203.0.113.10:2000 (reachable from the internet)");
    }

    void theLineSaysWhatTheCheckProved()
    {
        QFETCH(QString, directoryAddress);
        QFETCH(bool, onTheServersMachine);
        QFETCH(QString, says);
        // Two machines on one cable carrying a home's private network and public addresses.
        NetworkLab lab(QStringLiteral("scope"));
        QString why;
        QVERIFY2(lab.addMachine(QStringLiteral("user"), &why) && lab.addMachine(QStringLiteral("server"), &why)
                     && lab.link(QStringLiteral("user"), QStringLiteral("eth0"),
                                 {QStringLiteral("192.168.1.10/24"), QStringLiteral("203.0.113.10/24")},
                                 QStringLiteral("server"), QStringLiteral("eth0"),
                                 {QStringLiteral("192.168.1.20/24"), QStringLiteral("203.0.113.20/24")}, &why),
                 qPrintable(why));
        DirectoryProcess directory;
        QVERIFY2(directory.start(lab.command(QStringLiteral("server"), m_binDir + QStringLiteral("/zelmo-directory"),
                                             {QStringLiteral("--data"), m_work.filePath(QStringLiteral("scope-data")),
                                              QStringLiteral("--stats-every"), QStringLiteral("0")}),
                                 m_work.filePath(QStringLiteral("scope-directory.log")), StartMs, &why),
                 qPrintable(why));
        const QString path = profile(QStringLiteral("Sami"), false, QStringLiteral("[Router]\r\nAskRouter=False\r\n"));
        TestSupport::writeBytes(path + QStringLiteral("/zelmo.ini"),
                                TestSupport::readBytes(path + QStringLiteral("/zelmo.ini"))
                                    .replace(HomeRouter::InternetAddress.toUtf8(), directoryAddress.toUtf8()));
        ZelmoProcess user(QStringLiteral("Sami"));
        QVERIFY(start(user,
                      {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                       lab.name(onTheServersMachine ? QStringLiteral("server") : QStringLiteral("user"))},
                      path));
        QString line;
        QVERIFY2(lineSays(user, {says}, StepMs, &line), qPrintable(line));
        // Never a loopback address offered as the way others call, nor "the internet" where
        // the server saw a private address.
        QVERIFY2(!line.contains(QLatin1String("127.0.0.1")), qPrintable(line));
        if (!directoryAddress.startsWith(QLatin1String("203.")))
            QVERIFY2(!line.contains(QLatin1String("internet")), qPrintable(line));
        QVERIFY2(user.quit(StepMs, &why), qPrintable(why));
        QVERIFY(directory.stop(StepMs));
    }

    void aRouterThatAnswersGarbageGetsAClearLine()
    {
        // A bare socket poses as the router's description: a cut, malformed answer.
        QTcpServer fake;
        m_net->lab().onMachine(HomeRouter::key(HomeRouter::Router),
                               [&] { QVERIFY(fake.listen(QHostAddress(HomeRouter::InsideAddress), 0)); });
        int asked = 0;
        connect(&fake, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *socket = fake.nextPendingConnection()) {
                ++asked;
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<?xml version=\"1.0\"?><root><device><se");
                    socket->disconnectFromHost();
                });
            }
        });
        const QString settings = QStringLiteral("[Router]\r\nRouterAddress=http://%1:%2/rootDesc.xml\r\n")
                                     .arg(HomeRouter::InsideAddress)
                                     .arg(fake.serverPort());
        ZelmoProcess home(QStringLiteral("Hans"));
        QVERIFY(startAt(home, HomeRouter::Home, profile(QStringLiteral("Hans"), false, settings)));
        // Polled with the event loop running, so the fake router answers meanwhile.
        QString line;
        QTRY_VERIFY2_WITH_TIMEOUT(home.ask(QStringLiteral("text frmMain lblReach"), &line)
                                      && contains(line, QStringLiteral("made no sense")),
                                  qPrintable(line), StepMs);
        // The request reached the fake router (its connection may be taken only now, with
        // the event loop running again).
        QTRY_VERIFY(asked > 0);
        QVERIFY(!contains(line, QStringLiteral("Others can call you")));
        QString why;
        QVERIFY2(home.quit(StepMs, &why), qPrintable(why));
    }

    void twoProgramsCallOverIPv6Alone()
    {
        NetworkLab six(QStringLiteral("reach6"));
        QString why;
        QVERIFY2(six.addMachine(QStringLiteral("a"), &why) && six.addMachine(QStringLiteral("b"), &why)
                     && six.link(QStringLiteral("a"), QStringLiteral("v6a"), {QStringLiteral("2001:db8::10/64")},
                                 QStringLiteral("b"), QStringLiteral("v6b"), {QStringLiteral("2001:db8::20/64")}, &why),
                 qPrintable(why));
        const auto on = [&](const QString &machine) {
            return QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), six.name(machine)};
        };
        ZelmoProcess ada(QStringLiteral("Ada"));
        ZelmoProcess ben(QStringLiteral("Ben"));
        QVERIFY(start(ada, on(QStringLiteral("a")), profile(QStringLiteral("Ada"), true)));
        // No router anywhere: the line offers the global IPv6 address instead.
        QString line;
        QVERIFY2(lineSays(ada, {QStringLiteral("[2001:db8::10]:2000")}, VerdictMs, &line), qPrintable(line));
        QVERIFY(start(ben, on(QStringLiteral("b")), profile(QStringLiteral("Ben"), false), {QStringLiteral("[2001:db8::10]")}));
        expectCallWithVideo(ada, ben);
        QVERIFY2(ben.quit(StepMs, &why), qPrintable(why));
        QVERIFY2(ada.quit(StepMs, &why), qPrintable(why));
    }
};

QTEST_MAIN(TestReachability)
#include "tst_reachability.moc"
