// A caller and a callee on machines of their own; the caller calls by typing the callee's
// address. A callee that cannot be reached at all leaves the caller's window saying so;
// and 100 ms of round trip away, while a stranger floods the callee's encrypted port with
// half handshakes from 64 addresses, the call still comes up encrypted within seconds.

#include "tls/TlsSetup.h"
#include "support/NetworkLab.h"
#include "support/TestSupport.h"
#include "support/ZelmoProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <deque>
#include <list>
#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/netfilter_ipv4.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int StartMs = 30000;
constexpr int StepMs = 20000;
// What a caller waits at most for the call to come up while the flood runs.
constexpr int CallUpMs = 5000;
constexpr int HalfRoundTripMs = 50;
constexpr int FloodSources = 64;
// 300 half hellos a second: three every 10 ms.
constexpr int FloodTickMs = 10;
constexpr int FloodPerTick = 3;
// The flood's sockets open at once, at most; it waits when the callee holds more.
constexpr int FloodOpenAtMost = 2000;

const QString CallerAddress = QStringLiteral("192.0.2.10");
// The delaying relay's side towards the callee: a source of its own, like the caller's.
const QString PathAddress = QStringLiteral("192.0.2.11");
const QString CalleeAddress = QStringLiteral("192.0.2.20");
constexpr int CalleeBase = 2000;

QString floodAddress(int i)
{
    return QStringLiteral("192.0.2.%1").arg(100 + i % FloodSources);
}

// One direction of a relayed connection: what comes in goes out HalfRoundTripMs later,
// in order; the close follows the last bytes.
class DelayedPipe : public QObject
{
public:
    DelayedPipe(QTcpSocket *from, QTcpSocket *to) : QObject(from), m_to(to)
    {
        m_clock.start();
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &DelayedPipe::deliver);
        connect(from, &QTcpSocket::readyRead, this, [this, from] { queue(from->readAll(), false); });
        connect(from, &QTcpSocket::disconnected, this, [this] { queue({}, true); });
    }

private:
    void queue(const QByteArray &bytes, bool close)
    {
        m_due.push_back({m_clock.elapsed() + HalfRoundTripMs, bytes, close});
        if (!m_timer.isActive())
            m_timer.start(HalfRoundTripMs);
    }
    void deliver()
    {
        const qint64 now = m_clock.elapsed();
        while (!m_due.empty() && m_due.front().atMs <= now) {
            const Due due = std::move(m_due.front());
            m_due.pop_front();
            if (!m_to)
                continue;
            if (due.close)
                m_to->disconnectFromHost();
            else if (m_to->state() == QAbstractSocket::ConnectedState)
                m_to->write(due.bytes);
        }
        if (!m_due.empty())
            m_timer.start(int(qMax<qint64>(0, m_due.front().atMs - now)));
    }

    struct Due
    {
        qint64 atMs;
        QByteArray bytes;
        bool close;
    };
    QPointer<QTcpSocket> m_to;
    std::deque<Due> m_due;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

// The caller's machine's far side, on a thread of its own that lives on that machine's
// network (the scenario's own thread waits on the programs' answers meanwhile): the relay
// that puts half a round trip each way between the caller and the callee (nftables sends
// the caller's connections to it), and the stranger's flood of half client hellos.
class FarSide : public QThread
{
public:
    FarSide(QString machine, int relayPort) : m_machine(std::move(machine)), m_relayPort(relayPort) {}
    ~FarSide() override
    {
        quit();
        wait();
    }

    void startFlood() { m_flooding = true; }
    void stopFlood() { m_flooding = false; }

    std::atomic<bool> ready{false};
    std::atomic<bool> failed{false};
    std::atomic<int> opened{0};
    // Flood connections the callee took, and those it then closed.
    std::atomic<int> answered{0};
    std::atomic<int> cut{0};
    std::atomic<int> relayed{0};

protected:
    void run() override
    {
        const int target = ::open(qPrintable(QStringLiteral("/run/netns/") + m_machine), O_RDONLY | O_CLOEXEC);
        const bool entered = target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
        if (target >= 0)
            ::close(target);
        QTcpServer relay;
        if (!entered || !relay.listen(QHostAddress::Any, quint16(m_relayPort))) {
            failed = true;
            return;
        }
        QObject::connect(&relay, &QTcpServer::newConnection, &relay, [&relay, this] {
            while (QTcpSocket *in = relay.nextPendingConnection())
                pass(in);
        });
        std::list<std::unique_ptr<QTcpSocket>> flood;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
            flood.remove_if([](const auto &s) { return s->state() == QAbstractSocket::UnconnectedState; });
            if (!m_flooding || int(flood.size()) >= FloodOpenAtMost)
                return;
            for (int k = 0; k < FloodPerTick; ++k)
                flood.push_back(halfHello(opened++));
        });
        tick.start(FloodTickMs);
        ready = true;
        exec();
        flood.clear();
    }

private:
    // A connection that sends the start of a client hello (a record of 512 bytes of which
    // 31 come) and then nothing.
    std::unique_ptr<QTcpSocket> halfHello(int n)
    {
        auto s = std::make_unique<QTcpSocket>();
        QTcpSocket *raw = s.get();
        s->bind(QHostAddress(floodAddress(n)), 0);
        QObject::connect(raw, &QTcpSocket::connected, raw, [raw, this] {
            ++answered;
            raw->write(QByteArray::fromHex("1603010200010001fc0303") + QByteArray(20, '\x11'));
        });
        QObject::connect(raw, &QTcpSocket::disconnected, raw, [this] { ++cut; });
        s->connectToHost(QHostAddress(CalleeAddress), quint16(CalleeBase + PortPlan::EncryptedOffset));
        return s;
    }

    // A connection the caller opened to the callee goes on from the relay's own address to
    // where the caller meant it to go.
    void pass(QTcpSocket *in)
    {
        sockaddr_in meant{};
        socklen_t length = sizeof meant;
        if (::getsockopt(int(in->socketDescriptor()), SOL_IP, SO_ORIGINAL_DST, &meant, &length) != 0) {
            in->abort();
            in->deleteLater();
            return;
        }
        ++relayed;
        auto *out = new QTcpSocket(in);
        out->bind(QHostAddress(PathAddress), 0);
        // Both stay until the thread ends: a pipe may still hold what the other side sent
        // before it closed.
        new DelayedPipe(in, out);
        new DelayedPipe(out, in);
        QObject::connect(out, &QTcpSocket::errorOccurred, in, [in](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                in->disconnectFromHost();
        });
        out->connectToHost(QHostAddress(ntohl(meant.sin_addr.s_addr)), ntohs(meant.sin_port));
    }

    const QString m_machine;
    const int m_relayPort;
    std::atomic<bool> m_flooding{false};
};

} // namespace

class TestCallUnderFlood : public QObject
{
    Q_OBJECT

    std::unique_ptr<NetworkLab> m_lab;
    QTemporaryDir m_work;
    const QString m_binDir = QStringLiteral(ZELMO_BIN_DIR);

    // A profile that answers calls by itself (or not), with no directory server or router
    // to ask.
    QString profile(const QString &name, bool autoAccept)
    {
        return ZelmoProcess::writeProfile(m_work.filePath(name),
                                          {name, name.toLower() + QStringLiteral("@example.org"), QStringLiteral("127.0.0.1"),
                                           QStringLiteral("Here"), autoAccept, {}, QStringLiteral("[Router]\r\nAskRouter=False\r\n")});
    }

    bool start(ZelmoProcess &peer, const QString &machine, const QString &profilePath)
    {
        return peer.startOn(m_lab->on(machine), m_binDir, profilePath, StartMs);
    }

    bool nft(const QString &machine, const QString &rules)
    {
        QString output;
        const bool ok = m_lab->run(machine, {QStringLiteral("nft"), QStringLiteral("-f"), QStringLiteral("-")}, &output,
                                   rules.toUtf8());
        if (!ok)
            qWarning("nft on %s: %s", qPrintable(machine), qPrintable(output));
        return ok;
    }

private slots:
    void initTestCase()
    {
        if (const QString why = NetworkLab::obstacle(); !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no machines to test on: ") + why));
        if (QStandardPaths::findExecutable(QStringLiteral("nft")).isEmpty())
            QSKIP("nft is not installed (scripts/deps.sh installs it)");
        TestSupport::useOwnRuntimeFolder(m_work.path());
    }

    void cleanupTestCase() { m_lab.reset(); }

    void aRealCallerGetsThroughAFloodOrIsToldItCouldNotConnect()
    {
        // The caller's machine holds the caller's address, the relay's and the flood's 64;
        // the callee's machine is at the other end of the cable.
        m_lab = std::make_unique<NetworkLab>(QStringLiteral("flood"));
        QString why;
        QVERIFY2(m_lab->addMachine(QStringLiteral("caller"), &why) && m_lab->addMachine(QStringLiteral("callee"), &why)
                     && m_lab->link(QStringLiteral("caller"), QStringLiteral("vcaller"),
                                    {CallerAddress + QStringLiteral("/24"), PathAddress + QStringLiteral("/24")},
                                    QStringLiteral("callee"), QStringLiteral("vcallee"),
                                    {CalleeAddress + QStringLiteral("/24")}, &why),
                 qPrintable(why));
        QByteArray addresses;
        for (int i = 0; i < FloodSources; ++i)
            addresses += QStringLiteral("addr add %1/24 dev vcaller\n").arg(floodAddress(i)).toLatin1();
        QVERIFY2(m_lab->run(QStringLiteral("caller"), {QStringLiteral("ip"), QStringLiteral("-batch"), QStringLiteral("-")},
                            &why, addresses),
                 qPrintable(why));
        ZelmoProcess callee(QStringLiteral("Cleo"));
        ZelmoProcess caller(QStringLiteral("Carl"));
        QVERIFY(start(callee, QStringLiteral("callee"), profile(QStringLiteral("Cleo"), true)));
        QVERIFY(start(caller, QStringLiteral("caller"), profile(QStringLiteral("Carl"), false)));
        QVERIFY(caller.ask(QStringLiteral("click frmMain cmdtoolbar1")));

        // The callee's machine drops everything from the caller, its encrypted port and its
        // plain ones alike: the caller waits its time and is told it could not connect,
        // not that the callee did not answer or was busy.
        QVERIFY(nft(QStringLiteral("callee"),
                    QStringLiteral("table ip hole {\n chain in {\n  type filter hook input priority 0; policy accept;\n"
                                   "  ip saddr %1 drop\n }\n}\n")
                        .arg(CallerAddress)));
        QElapsedTimer took;
        took.start();
        QVERIFY(caller.ask(QStringLiteral("type frmDirectory txtConnect ") + CalleeAddress + QStringLiteral("\\n")));
        const auto attemptOver = [](const QString &t) {
            return t == QLatin1String("could not connect") || t == QLatin1String("Did Not Answer")
                   || t == QLatin1String("Busy") || t == QLatin1String("Connection Response is NO");
        };
        QString status;
        QVERIFY2(caller.askUntil(QStringLiteral("text frmConStatus pnlConStatus"), attemptOver, 2 * StepMs, &status),
                 qPrintable(status));
        qInfo("an unreachable callee: \"%s\" after %lld ms", qPrintable(status), took.elapsed());
        QCOMPARE(status, QStringLiteral("could not connect"));
        QVERIFY(caller.ask(QStringLiteral("click frmConStatus cmdCancel")));
        QVERIFY(nft(QStringLiteral("callee"), QStringLiteral("delete table ip hole\n")));

        const int relayPort = TestSupport::portBlock();
        // From now on everything the caller sends the callee goes through the delaying relay.
        QVERIFY(nft(QStringLiteral("caller"),
                    QStringLiteral("table ip path {\n chain out {\n  type nat hook output priority -100; policy accept;\n"
                                   "  ip saddr %1 ip daddr %2 tcp dport { %3-%4, %5 } redirect to :%6\n }\n}\n")
                        .arg(CallerAddress, CalleeAddress)
                        .arg(CalleeBase)
                        .arg(CalleeBase + 3)
                        .arg(CalleeBase + PortPlan::EncryptedOffset)
                        .arg(relayPort)));
        FarSide far(m_lab->name(QStringLiteral("caller")), relayPort);
        far.start();
        QTRY_VERIFY(far.ready || far.failed);
        QVERIFY2(!far.failed, "the relay could not listen on the caller's machine");

        // The stranger floods until the callee's handshake places are all taken and it
        // has long been turning newcomers away.
        far.startFlood();
        QTRY_VERIFY2_WITH_TIMEOUT(far.answered - far.cut >= 32 && far.cut >= 600,
                                  qPrintable(QStringLiteral("the flood: %1 opened, %2 taken, %3 closed")
                                                 .arg(far.opened)
                                                 .arg(far.answered)
                                                 .arg(far.cut)),
                                  StepMs);

        // The caller's window still holds the callee's address: Enter again.
        QString typed;
        QVERIFY(caller.ask(QStringLiteral("text frmDirectory txtConnect"), &typed));
        QCOMPARE(typed, CalleeAddress);
        took.start();
        QVERIFY(caller.ask(QStringLiteral("type frmDirectory txtConnect \\n")));
        const auto inCall = [](const QString &caption) { return caption == QLatin1String("HangUp"); };
        QString button;
        const bool up = caller.askUntil(QStringLiteral("text frmMain lblcmd0"), inCall, StepMs, &button);
        const qint64 ms = took.elapsed();
        caller.ask(QStringLiteral("text frmConStatus pnlConStatus"), &status);
        qInfo("through a flood of %d half hellos (%d closed by the callee): the call came up after %lld ms", int(far.opened),
              int(far.cut), ms);
        QVERIFY2(up, qPrintable(QStringLiteral("no call: the caller's first button reads \"%1\", the progress \"%2\"")
                                    .arg(button, status)));
        QVERIFY2(ms < CallUpMs, qPrintable(QStringLiteral("the call came up after %1 ms").arg(ms)));
        QVERIFY(far.relayed > 0);

        // Encrypted: both windows show the same four words.
        const auto fourWords = [](const QString &t) {
            return !t.startsWith(QLatin1String("not encrypted")) && t.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() >= 4;
        };
        QString callerWords;
        QString calleeWords;
        QVERIFY2(caller.askUntil(QStringLiteral("text frmMain lblShortCode"), fourWords, StepMs, &callerWords)
                     && callee.askUntil(QStringLiteral("text frmMain lblShortCode"), fourWords, StepMs, &calleeWords),
                 qPrintable(QStringLiteral("not encrypted: the caller's window shows \"%1\", the callee's \"%2\"")
                                .arg(callerWords, calleeWords)));
        QCOMPARE(callerWords, calleeWords);
        far.stopFlood();

        QVERIFY(caller.ask(QStringLiteral("click frmMain cmdtoolbar0")));
        const auto idle = [](const QString &caption) { return caption == QLatin1String("Call"); };
        QVERIFY(caller.askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs));
        QVERIFY(callee.askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs));

        QVERIFY2(caller.quit(StepMs, &why), qPrintable(why));
        QVERIFY2(callee.quit(StepMs, &why), qPrintable(why));
    }
};

QTEST_MAIN(TestCallUnderFlood)
#include "tst_callunderflood.moc"
