// Reachable from anywhere: a ZELMO at home behind a router running real router software
// asks it to forward its ports, shows where others reach it, is called from the internet
// and gives the ports back at its end.

#include "support/DirectoryProcess.h"
#include "support/HomeRouter.h"
#include "support/TestSupport.h"
#include "support/ZelmoProcess.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int StartMs = 30000;
constexpr int StepMs = 20000;

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
};

QTEST_MAIN(TestReachability)
#include "tst_reachability.moc"
