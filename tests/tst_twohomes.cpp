// Two ZELMOs at home behind routers that forward nothing call each other, driven through
// their windows: Bob types Ann's e-mail address in the directory window and presses Enter,
// Ann takes the call. The call connects through the routers where both are cone routers,
// and through the relay on the internet where punching cannot work (a symmetric router on
// either side, or UDP blocked at one home); the homes share the same private addresses,
// so no home address ever serves. Either way both draw each other's pictures, read the
// same four words, and the main window says which way the call went; the relay carries
// nearly nothing for a punched call and the whole call for a relayed one, and never a
// clear text or picture. A relay that goes away ends a relayed call clearly on both sides.

#include "support/DirectoryProcess.h"
#include "support/HomesScene.h"
#include "support/NetworkLab.h"
#include "support/PacketCapture.h"
#include "support/TestSupport.h"
#include "support/TwoHomes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

using Kind = TwoHomes::Kind;

namespace {

constexpr int StepMs = HomesScene::StepMs;
// A call whose path is gone ends within this: consent to a path lapses at the latest 30 s
// after its last answer (RFC 7675), and the call's end follows.
constexpr int LossMs = 45000;
constexpr int WantedFrames = 30;

const QString Through = QStringLiteral("through the routers");
const QString Relayed = QStringLiteral("relayed");

// A punched call's media never touches the relay: what passes it is the connectivity
// checks, about 13 kB. A relayed call carries the whole call both ways: the pictures each
// side waits for alone make 120-200 kB in the coded formats, about 300 kB as JPEG.
constexpr qint64 RelayCarriedCallBytes = 48 * 1024;

// What must never show in the clear between the homes: the control channel's texts, the
// directory protocol's, the users' names, and a JPEG picture's start. Each is long enough
// that megabytes of ciphertext do not hold it by chance.
const QList<QByteArray> ClearTexts{"RQC;Bob Beta;", "RRS;YES;Ann Alpha;", "UIF;2.5;", "LS1<ET>", "Ann Alpha", "Bob Beta",
                                   QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10)};

} // namespace

class TestTwoHomes : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    int m_runs = 0;

    // One call's world and a recording of the internet machine's traffic.
    struct Scene
    {
        std::unique_ptr<HomesScene> world;
        PacketCapture capture;
        bool recording = false;
        ZelmoProcess &ann() { return world->ann; }
        ZelmoProcess &bob() { return world->bob; }
    };

    void setUp(Scene &s, Kind a, Kind b)
    {
        s.world = std::make_unique<HomesScene>(m_work.filePath(QStringLiteral("run-%1").arg(++m_runs)),
                                               QStringLiteral(ZELMO_BIN_DIR), QStringLiteral("homes"));
        QString why;
        // The logs are read (quitting both) only on a failure.
        if (!s.world->start(a, b, &why))
            QFAIL(qPrintable(why + s.world->quitAndReadLogs(5)));
        // Everything between the homes, and between them and the relay, passes the internet
        // machine; tcpdump records it there.
        s.recording = s.capture.start(s.world->homes().on(TwoHomes::Internet), QStringLiteral("ip and (udp or tcp)"),
                                      QDir(s.world->folder()).filePath(QStringLiteral("internet.pcap")), &why);
        if (!s.recording)
            qInfo("No recording of the traffic, so its check is left out: %s", qPrintable(why));
    }

    static void call(Scene &s, qint64 *setUpMs)
    {
        QString why;
        if (!s.world->call(setUpMs, &why))
            QFAIL(qPrintable(why + s.world->quitAndReadLogs(5)));
    }

    // Both draw the other's pictures, read the same four words, and say how the call went.
    static void expectCall(Scene &s, const QString &way)
    {
        for (ZelmoProcess *peer : {&s.ann(), &s.bob()}) {
            const qint64 drawn = peer->counterUntil(QStringLiteral("framesDrawn"), WantedFrames, StepMs);
            QVERIFY2(drawn >= WantedFrames, qPrintable(QStringLiteral("%1 drew %2 of the other's frames, wanted %3")
                                                           .arg(peer->name())
                                                           .arg(drawn)
                                                           .arg(WantedFrames)));
        }
        const auto fourWords = [](const QString &t) { return t.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() >= 4; };
        QString annCode;
        QString bobCode;
        QVERIFY2(s.ann().askUntil(QStringLiteral("text frmMain lblShortCode"), fourWords, StepMs, &annCode)
                     && s.bob().askUntil(QStringLiteral("text frmMain lblShortCode"), fourWords, StepMs, &bobCode),
                 qPrintable(QStringLiteral("no short code: Ann's window shows \"%1\", Bob's \"%2\"").arg(annCode, bobCode)));
        QCOMPARE(annCode, bobCode);
        for (ZelmoProcess *peer : {&s.ann(), &s.bob()}) {
            QString shown;
            QVERIFY2(peer->askUntil(QStringLiteral("text frmMain lblCallWay"), [&](const QString &t) { return t == way; },
                                    StepMs, &shown),
                     qPrintable(QStringLiteral("%1's main window says the call went \"%2\", not \"%3\"")
                                    .arg(peer->name(), shown, way)));
        }
    }

    // The recording holds no clear text in any flow between the homes or through the relay
    // (the directory server's own connections aside); the relay's flows' payload bytes in
    // *relayBytes.
    static void expectNoClearText(Scene &s, qint64 *relayBytes)
    {
        *relayBytes = -1;
        if (!s.recording)
            return;
        s.capture.stop();
        QList<PacketCapture::Flow> flows;
        QString why;
        QVERIFY2(s.capture.flows(&flows, &why), qPrintable(why));
        const QRegularExpression relayPort(QStringLiteral("%1:(\\d+)").arg(QRegularExpression::escape(TwoHomes::InternetAddress)));
        qint64 relayed = 0;
        qint64 checked = 0;
        for (const PacketCapture::Flow &flow : std::as_const(flows)) {
            bool toInternet = false;
            bool toRelay = false;
            for (auto it = relayPort.globalMatch(flow.key); it.hasNext();) {
                const int port = it.next().captured(1).toInt();
                toInternet = true;
                toRelay = toRelay || port == TurnRelay::Port
                          || (port >= TurnRelay::FirstRelayPort && port <= TurnRelay::LastRelayPort);
            }
            // The directory server's own connections speak its published protocol.
            if (toInternet && !toRelay)
                continue;
            if (toRelay)
                relayed += flow.payload.size();
            checked += flow.payload.size();
            for (const QByteArray &text : ClearTexts)
                QVERIFY2(!flow.payload.contains(text), qPrintable(QStringLiteral("\"%1\" passed in the clear in %2")
                                                                      .arg(QString::fromLatin1(text.toHex(' ')), flow.key)));
        }
        qInfo("The recording held %lld bytes between the homes and the relay, %lld of them the relay's", checked, relayed);
        *relayBytes = relayed;
    }

    static void expectRelayLetGo(Scene &s)
    {
        TurnRelay &relay = s.world->homes().relay();
        const QDeadlineTimer deadline(10000);
        TurnRelay::Usage usage = relay.usage();
        while (usage.closed < usage.allocations && !deadline.hasExpired()) {
            QThread::msleep(100);
            usage = relay.usage();
        }
        QVERIFY2(usage.allocations > 0 && usage.closed == usage.allocations,
                 qPrintable(QStringLiteral("both programs quit, and the relay still holds %1 of their %2 allocations")
                                .arg(usage.allocations - usage.closed)
                                .arg(usage.allocations)));
    }

    static void quitBoth(Scene &s)
    {
        QString why;
        QVERIFY2(s.world->quitBoth(&why), qPrintable(why));
    }

private slots:
    void initTestCase()
    {
        if (const QString obstacle = NetworkLab::obstacle(); !obstacle.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no network namespaces to make homes of: ") + obstacle));
        TestSupport::useOwnRuntimeFolder(m_work.path());
    }

    void aCallFindsItsWayBetweenTwoHomes_data()
    {
        QTest::addColumn<Kind>("annHome");
        QTest::addColumn<Kind>("bobHome");
        QTest::addColumn<QString>("way");
        QTest::newRow("cone-cone") << Kind::Cone << Kind::Cone << Through;
        // A cone router lets in only the address and port its home wrote to; a symmetric
        // one sends from a new port to every destination, one nobody could learn.
        QTest::newRow("cone-symmetric") << Kind::Cone << Kind::Symmetric << Relayed;
        // Ann's home lets only TCP out: she reaches the relay over TCP.
        QTest::newRow("UDP blocked-cone") << Kind::UdpBlocked << Kind::Cone << Relayed;
    }

    void aCallFindsItsWayBetweenTwoHomes()
    {
        QFETCH(Kind, annHome);
        QFETCH(Kind, bobHome);
        QFETCH(QString, way);
        Scene s;
        setUp(s, annHome, bobHome);
        if (QTest::currentTestFailed())
            return;
        qint64 setUpMs = 0;
        call(s, &setUpMs);
        if (QTest::currentTestFailed())
            return;
        qInfo("%s: %lld ms from Bob's Enter until both were in the call (%s)", QTest::currentDataTag(), setUpMs,
              qPrintable(way));
        expectCall(s, way);
        if (QTest::currentTestFailed())
            return;

        // Bob hangs up; both programs end.
        QVERIFY(s.bob().ask(QStringLiteral("click frmMain cmdtoolbar0")));
        const auto idle = [](const QString &caption) { return caption == QLatin1String("Call"); };
        QVERIFY2(s.ann().askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs), "Ann's call did not end");
        QVERIFY2(s.bob().askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs), "Bob's call did not end");
        quitBoth(s);
        // Programs that quit leave nothing on the relay: each told it to let go of its
        // allocations before it ended, rather than leaving them to time out.
        expectRelayLetGo(s);
        // What passed the relay, as the internet machine saw it.
        qint64 recorded = 0;
        expectNoClearText(s, &recorded);
        if (QTest::currentTestFailed())
            return;
        if (recorded < 0)
            QSKIP("no recording of the traffic: what the relay carried is not judged");
        if (way == Relayed)
            QVERIFY2(recorded >= RelayCarriedCallBytes,
                     qPrintable(QStringLiteral("a relayed call, and only %1 bytes went to and from the relay").arg(recorded)));
        else
            QVERIFY2(recorded < RelayCarriedCallBytes,
                     qPrintable(QStringLiteral("a call through the routers, and %1 bytes went to and from the relay").arg(recorded)));
        QVERIFY(s.world->directory().stop(StepMs));
    }

    void aRelayThatGoesAwayEndsTheCallClearly()
    {
        Scene s;
        setUp(s, Kind::Symmetric, Kind::Symmetric);
        if (QTest::currentTestFailed())
            return;
        qint64 setUpMs = 0;
        call(s, &setUpMs);
        if (QTest::currentTestFailed())
            return;
        expectCall(s, Relayed);
        if (QTest::currentTestFailed())
            return;
        // The relay dies without a word; nothing else can carry this call.
        s.world->homes().relay().kill();
        QElapsedTimer clock;
        clock.start();
        const auto idle = [](const QString &caption) { return caption == QLatin1String("Call"); };
        QString annButton;
        QString bobButton;
        const bool annEnded = s.ann().askUntil(QStringLiteral("text frmMain lblcmd0"), idle, LossMs, &annButton);
        const bool bobEnded = s.bob().askUntil(QStringLiteral("text frmMain lblcmd0"), idle, LossMs, &bobButton);
        QVERIFY2(annEnded && bobEnded,
                 qPrintable(QStringLiteral("%1 s after the relay went away the call goes on: Ann's first button reads "
                                           "\"%2\", Bob's \"%3\"")
                                .arg(LossMs / 1000)
                                .arg(annButton, bobButton)));
        qInfo("Both calls ended %lld ms after the relay went away", clock.elapsed());
        // Each says so in its log, naming the lost way rather than ending in silence. The
        // programs write their logs when they end.
        quitBoth(s);
        for (const auto &[name, path] : {std::pair{QStringLiteral("Ann"), s.world->annProfile()}, std::pair{QStringLiteral("Bob"), s.world->bobProfile()}}) {
            const QStringList lines = DirectoryProcess::fileLines(path + QStringLiteral("/zelmo.log"));
            const bool clear = std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
                return line.contains(QLatin1String("The path of the call broke"));
            });
            QVERIFY2(clear, qPrintable(QStringLiteral("%1's log says nothing of the lost path:\n%2").arg(name, lines.join(QLatin1Char('\n')))));
        }
        QVERIFY(s.world->directory().stop(StepMs));
    }
};

QTEST_MAIN(TestTwoHomes)
#include "tst_twohomes.moc"
